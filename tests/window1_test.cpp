// The main window class: its state at creation, its class table, the single
// instance and the accessors of its controls and menu items.
#include "nixie/nixie_canvas.h"
#include "tests/window_fixture.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using fw::Ref;

TEST(Window1Class, NewWindowHoldsTheInitialState)
{
    auto w = fw::New<class Window1>();
    ASSERT_EQ(w->counts.size(), 101u) << "upper bound 100";
    for (fw::Integer c : w->counts)
        EXPECT_EQ(c, 0);
    EXPECT_TRUE(w->Serial1.IsNil());
    EXPECT_EQ(w->ourSerialPort, 0);
    EXPECT_EQ(w->secondcountsindex, 0);
    EXPECT_EQ(w->ignoreCountsTimer, 0);
    EXPECT_EQ(w->tempCountsSum, 0);
}

TEST(Window1Class, ClassTableAppendsOwnOperationsAfterWindowsInOrder)
{
    const fw::ClassInfo& info = Window1::Lookup();
    EXPECT_EQ(info.typeName, "Window1.Window1");
    EXPECT_EQ(info.base, &fw::Window::Lookup());
    const auto& base = fw::Window::Lookup().operations;
    const auto& ops = info.operations;
    ASSERT_EQ(base.size(), 36u);
    ASSERT_GT(ops.size(), base.size());
    for (std::size_t i = 0; i < base.size(); ++i)
        EXPECT_EQ(ops[i].name, base[i].name);
    const std::vector<std::string> own(
        { "Layout", "CreateControls", "CreateControls0", "serialPopup", "Timer1", "StaticCPM", "StaticStatus",
            "StaticSerialError", "StaticText3", "StaticText2", "StaticPortName", "Canvas1", "CheckBoxNixie",
            "CheckBoxBlankLeadingZeros", "Timer2", "CheckBoxClicks", "serialPopup_Change", "serialPopup_Open",
            "Timer1_Action", "StaticCPM_Open", "Timer2_Action", "EditMenu", "EditSelectAll", "UntitledMenu0",
            "EditClear", "EditPaste", "EditCopy", "EditCut", "UntitledMenu1", "EditUndo", "FileMenu",
            "FileQuit", "FileAboutVantrope", "AddMenuHandlers", "Event_Open", "Event_Close",
            "FileAboutVantrope_Action", "SetWindowsDTR", "ReadNewCounts", "SetNixies", "PlayClickSound" });
    ASSERT_EQ(ops.size(), base.size() + own.size());
    for (std::size_t i = 0; i < own.size(); ++i) {
        const fw::Operation& op = ops[base.size() + i];
        EXPECT_EQ(op.name, own[i]);
        if (op.name == "CreateControls0") {
            ASSERT_EQ(op.attributes.size(), 1u);
            EXPECT_EQ(op.attributes[0].name, "Hidden");
            EXPECT_EQ(op.attributes[0].value, "");
        } else {
            EXPECT_TRUE(op.attributes.empty()) << op.name;
        }
    }
    for (const char* event : { "Layout", "CreateControls", "AddMenuHandlers", "Open", "Close" })
        EXPECT_NE(info.FindHook(event), nullptr) << event;
}

TEST(Window1Class, ClassTableListsTheSixOwnPropertiesWithTheirTypes)
{
    std::vector<std::pair<std::string, std::string>> listed;
    for (const fw::PropertyEntry& p : Window1::Lookup().properties)
        listed.emplace_back(p.name, p.typeName);
    const std::vector<std::pair<std::string, std::string>> declared
        = { { "Serial1", "MySerial" }, { "ourSerialPort", "Integer" }, { "secondcountsindex", "Integer" },
              { "counts", "Integer()" }, { "ignoreCountsTimer", "Integer" }, { "tempCountsSum", "Integer" } };
    EXPECT_EQ(listed, declared);
}

TEST(Window1Class, TheAccessorMakesOneWindowAndReturnsItAgain)
{
    Ref<class Window1> first = Window1();
    Ref<class Window1> second = Window1();
    EXPECT_EQ(first, second);
    EXPECT_EQ(fw::GetImplicitWindow("Window1.Window1"), first);
}

TEST(Window1Class, Canvas1GivesFourDistinctTubesByIndex)
{
    auto w = testing_support::MakeWindow();
    std::set<NixieCanvas*> tubes;
    for (fw::Integer i = 0; i < 4; ++i) {
        Ref<NixieCanvas> tube = w->Canvas1(i);
        ASSERT_TRUE(tube);
        EXPECT_EQ(tube->Index(), i);
        EXPECT_EQ(tube->value, 0);
        tubes.insert(tube.get());
    }
    EXPECT_EQ(tubes.size(), 4u);
}

TEST(Window1Class, ControlAccessorsCheckTheClassTheyFind)
{
    auto w = fw::New<class Window1>();
    auto box = fw::RuntimeCheckCast<fw::CheckBox>(w->New(fw::CheckBox::Lookup()));
    w->AddControl("StaticCPM", box); // the wrong class under a label's name
    EXPECT_THROW(w->StaticCPM(), fw::IllegalCastException);
}

TEST(Window1Class, MenuItemAccessorsNeedAMenuBar)
{
    auto w = fw::New<class Window1>();
    using Accessor = std::function<void(class Window1&)>;
    const std::vector<Accessor> accessors = { [](auto& x) { x.EditMenu(); },
        [](auto& x) { x.EditSelectAll(); }, [](auto& x) { x.UntitledMenu0(); },
        [](auto& x) { x.EditClear(); }, [](auto& x) { x.EditPaste(); }, [](auto& x) { x.EditCopy(); },
        [](auto& x) { x.EditCut(); }, [](auto& x) { x.UntitledMenu1(); }, [](auto& x) { x.EditUndo(); },
        [](auto& x) { x.FileMenu(); }, [](auto& x) { x.FileQuit(); },
        [](auto& x) { x.FileAboutVantrope(); } };
    for (const Accessor& a : accessors)
        EXPECT_THROW(a(*w), fw::NilObjectException);
}

TEST(Window1Class, MenuItemAccessorsFindItemsBelowTheBar)
{
    auto w = fw::New<class Window1>();
    auto bar = fw::New<fw::MenuBar>();
    auto file = fw::New<fw::MenuItem>();
    file->SetName("FileMenu");
    auto quit = fw::New<fw::QuitMenuItem>();
    quit->SetName("FileQuit");
    auto about = fw::New<fw::AppleMenuItem>();
    about->SetName("FileAboutVantrope");
    bar->Append(file);
    file->Append(about);
    file->Append(quit);
    w->SetMenuBar(bar);
    EXPECT_EQ(w->FileMenu(), file);
    EXPECT_EQ(w->FileQuit(), quit);
    EXPECT_EQ(w->FileAboutVantrope(), about);
    EXPECT_TRUE(w->EditUndo().IsNil()) << "a name nothing carries finds nil";
}

class WatchedSerial : public MySerial {
public:
    explicit WatchedSerial(bool* closed)
        : closed_(closed)
    {
    }
    void Close() override { *closed_ = true; }

private:
    bool* closed_;
};

TEST(Window1Class, FinaliserReleasesTheSerialObjectWithoutClosingIt)
{
    bool closed = false;
    auto w = fw::New<class Window1>();
    auto serial = fw::New<WatchedSerial>(&closed);
    fw::WeakRef<WatchedSerial> weak(serial);
    w->Serial1 = serial;
    serial.Release();
    w.Release();
    EXPECT_TRUE(weak.Expired());
    EXPECT_FALSE(closed);
}

} // namespace
