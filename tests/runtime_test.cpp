// The run time: class tables, casts, stored properties, event binding, the
// main-thread rule, nil references and text.
#include "framework/application.h"
#include "framework/menu.h"
#include "framework/timer.h"
#include "framework/window.h"
#include "nixie/nixie_canvas.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <thread>

namespace {

using fw::Ref;

Ref<fw::Window> BareWindow()
{
    return fw::New<fw::Window>();
}

template <class T>
Ref<T> MakeControl(const Ref<fw::Window>& w)
{
    auto c = fw::RuntimeCheckCast<T>(w->New(T::Lookup()));
    if constexpr (std::is_base_of_v<fw::RectControl, T>)
        c->Constructor();
    return c;
}

TEST(Cast, TestsTheClassChain)
{
    auto w = BareWindow();
    Ref<fw::Object> canvas = MakeControl<NixieCanvas>(w);
    EXPECT_EQ(fw::RuntimeCheckCast<fw::Canvas>(canvas), canvas);
    EXPECT_EQ(fw::RuntimeCheckCast<fw::RectControl>(canvas), canvas);
    EXPECT_EQ(fw::RuntimeCheckCast<NixieCanvas>(canvas), canvas);
    EXPECT_THROW(fw::RuntimeCheckCast<fw::Label>(canvas), fw::IllegalCastException);
    EXPECT_THROW(fw::RuntimeCheckCast<fw::Timer>(canvas), fw::IllegalCastException);
    // A plain Canvas is not the program's tube.
    EXPECT_THROW(fw::RuntimeCheckCast<NixieCanvas>(Ref<fw::Object>(MakeControl<fw::Canvas>(w))),
        fw::IllegalCastException);
}

TEST(Cast, NilGivesNilAndUsingItRaises)
{
    Ref<fw::Label> label = fw::RuntimeCheckCast<fw::Label>(Ref<fw::Object>());
    EXPECT_TRUE(label.IsNil());
    EXPECT_THROW(label->SetText("x"), fw::NilObjectException);
}

TEST(ClassTable, SubclassKeepsItsBaseOperationsThenAppends)
{
    const auto& base = fw::Canvas::Lookup().operations;
    const auto& own = NixieCanvas::Lookup().operations;
    ASSERT_EQ(own.size(), base.size() + 1);
    for (std::size_t i = 0; i < base.size(); ++i)
        EXPECT_EQ(own[i].name, base[i].name);
    EXPECT_EQ(own.back().name, "Event_Paint");
    EXPECT_EQ(fw::FindClass("NixieCanvas"), &NixieCanvas::Lookup());
}

TEST(ClassTable, TheInitialisersRegisterEveryFrameworkClass)
{
    fw::RuntimePerformInitializers();
    for (const char* name : { "Object", "Application", "MenuItem", "MenuBar", "AppleMenuItem", "QuitMenuItem",
             "Control", "RectControl", "TextControl", "Label", "PopupMenu", "CheckBox", "Canvas", "Window",
             "Timer", "SerialPort", "_SystemClass", "Serial", "Picture", "FolderItem", "Sound" })
        EXPECT_NE(fw::FindClass(name), nullptr) << name;
}

TEST(StoredProperties, ReachFrameworkAndProgramPropertiesByName)
{
    auto w = BareWindow();
    auto tube = MakeControl<NixieCanvas>(w);
    fw::SetProperties(tube,
        { { "value", fw::Integer { 7 } }, { "Left", fw::Integer { 80 } }, { "Width", fw::Integer { 50 } },
            { "Visible", false }, { "DoubleBuffer", false }, { "Index", fw::Integer { 2 } } });
    EXPECT_EQ(tube->value, 7);
    EXPECT_EQ(tube->Left(), 80);
    EXPECT_EQ(tube->Width(), 50);
    EXPECT_FALSE(tube->Visible());
    EXPECT_EQ(tube->Index(), 2);
    ASSERT_NE(tube->StoredValue("DoubleBuffer"), nullptr) << "a key without effect is kept";
    EXPECT_EQ(std::get<bool>(*tube->StoredValue("DoubleBuffer")), false);
}

TEST(StoredProperties, UnknownKeyOrWrongTypeRaisesAfterTheEarlierValues)
{
    auto w = BareWindow();
    auto label = MakeControl<fw::Label>(w);
    EXPECT_THROW(fw::SetProperties(label, { { "Text", fw::String("kept") }, { "NoSuchKey", true } }),
        fw::KeyNotFoundException);
    EXPECT_EQ(label->Text().ToStdString(), "kept");
    EXPECT_THROW(fw::SetProperties(label, { { "TextSize", fw::Integer { 12 } } }), fw::TypeMismatchException);
    // A tube's own property is not a label's.
    EXPECT_THROW(fw::SetProperties(label, { { "value", fw::Integer { 1 } } }), fw::KeyNotFoundException);
}

class Receiver : public fw::Window {
public:
    int calls = 0;
    Ref<fw::Timer> sender;
    void Timer_Action(const Ref<fw::Timer>& t)
    {
        ++calls;
        sender = t;
    }
};

TEST(Events, ADelegateReceivesTheControlThatRaisedTheEvent)
{
    auto w = fw::New<Receiver>();
    auto timer = fw::RuntimeCheckCast<fw::Timer>(w->New(fw::Timer::Lookup()));
    fw::RuntimeAddEventHandler(timer, "Action", fw::RuntimeCreateDelegate(&Receiver::Timer_Action, w));
    timer->Fire();
    timer->Fire();
    EXPECT_EQ(w->calls, 2);
    EXPECT_EQ(w->sender, timer);
    EXPECT_THROW(
        fw::RuntimeAddEventHandler(timer, "Paint", fw::RuntimeCreateDelegate(&Receiver::Timer_Action, w)),
        fw::KeyNotFoundException);
}

TEST(Events, ADelegateDoesNotKeepItsWindowAlive)
{
    auto w = fw::New<Receiver>();
    fw::WeakRef<Receiver> weak(w);
    auto timer = fw::RuntimeCheckCast<fw::Timer>(w->New(fw::Timer::Lookup()));
    fw::RuntimeAddEventHandler(timer, "Action", fw::RuntimeCreateDelegate(&Receiver::Timer_Action, w));
    w.Release();
    EXPECT_TRUE(weak.Expired());
    EXPECT_THROW(timer->Fire(), fw::NilObjectException);
}

struct UiObjects {
    Ref<fw::Window> window;
    Ref<fw::Label> label;
    Ref<fw::PopupMenu> popup;
    Ref<fw::MenuItem> menu;
};

struct OffThreadCase {
    const char* label;
    std::function<void(const UiObjects&)> call;
};

class MainThreadRule : public ::testing::TestWithParam<OffThreadCase> { };

TEST_P(MainThreadRule, UserInterfaceMembersRaiseOffTheMainThread)
{
    UiObjects ui { BareWindow(), nullptr, nullptr, fw::New<fw::MenuItem>() };
    ui.label = MakeControl<fw::Label>(ui.window);
    ui.popup = MakeControl<fw::PopupMenu>(ui.window);
    bool raised = false;
    std::thread([&] {
        try {
            GetParam().call(ui);
        } catch (const fw::ThreadAccessingUIException&) {
            raised = true;
        }
    }).join();
    EXPECT_TRUE(raised);
}

INSTANTIATE_TEST_SUITE_P(Members, MainThreadRule,
    ::testing::Values(OffThreadCase { "LabelText", [](const UiObjects& ui) { ui.label->SetText("x"); } },
        OffThreadCase { "PopupListCount", [](const UiObjects& ui) { ui.popup->ListCount(); } },
        OffThreadCase { "ControlVisible", [](const UiObjects& ui) { ui.label->SetVisible(false); } },
        OffThreadCase { "WindowControlByName", [](const UiObjects& ui) { ui.window->ControlByName("x"); } },
        OffThreadCase { "WindowConstructor", [](const UiObjects& ui) { ui.window->Constructor(); } },
        OffThreadCase { "WindowMenuBar", [](const UiObjects& ui) { ui.window->MenuBar(); } },
        OffThreadCase { "MenuLookup", [](const UiObjects& ui) { ui.menu->Lookup(fw::String("FileQuit")); } }),
    [](const auto& row) { return std::string(row.param.label); });

TEST(Text, LenCountsBytesWithoutEncodingAndCharactersWithIt)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_EQ(fw::Len(fw::String::FromBytes(all)), 256);
    EXPECT_EQ(fw::Len(fw::String::FromBytes(std::string(1 << 20, '\x80'))), 1 << 20);
    EXPECT_EQ(fw::Len(fw::String("Zähler")), 6);
}

TEST(Text, StrIsPlainDecimal)
{
    struct Case {
        fw::Integer value;
        const char* text;
    } cases[] = { { 0, "0" }, { 7, "7" }, { -1, "-1" }, { 10000, "10000" },
        { LLONG_MAX, "9223372036854775807" }, { LLONG_MIN, "-9223372036854775808" } };
    for (const Case& c : cases)
        EXPECT_EQ(fw::Str(c.value).ToStdString(), c.text);
    EXPECT_EQ((fw::String("Vantrope ") + fw::Str(2) + ".").ToStdString(), "Vantrope 2.");
}

} // namespace
