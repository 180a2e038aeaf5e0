// The main window's layout, its Open and Close, and the About box.
#include "app/app.h"
#include "app/startup.h"
#include "framework/msgbox.h"
#include "nixie/nixie_canvas.h"
#include "tests/window_fixture.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QWidget>

#include <limits>
#include <set>
#include <string>

namespace {

using fw::Integer;
using fw::Ref;

// How a control's text looks, for the popup, the labels and the check boxes.
struct Look {
    fw::Single textSize = 0; // 0: the platform's own size, the window's font
    bool bold = false;
    QRgb colour = qRgb(0, 0, 0); // a label's text colour
    Qt::Alignment align = Qt::AlignLeft | Qt::AlignTop; // a label's alignment
};

struct ControlRow {
    const char* name;
    const fw::ClassInfo& (*cls)();
    Integer index;
    Integer tabIndex;
    Integer left, top, width, height;
    const char* text; // a label's Text or a check box's Caption; nullptr for neither
    Look look = {};
};

constexpr Integer none = fw::Control::NoIndex;

const ControlRow rows[] = {
    { "serialPopup", &fw::PopupMenu::Lookup, none, 0, 20, 162, 230, 20, nullptr },
    { "Timer1", &fw::Timer::Lookup, none, -1, 0, 0, 0, 0, nullptr },
    { "StaticCPM", &fw::Label::Lookup, none, 1, 80, 20, 200, 76, "-", { .textSize = 32 } },
    { "StaticStatus", &fw::Label::Lookup, none, 2, 20, 217, 100, 20, "Not Open" },
    { "StaticSerialError", &fw::Label::Lookup, none, 3, 20, 194, 260, 20, "Serial Port Error: None" },
    { "StaticText3", &fw::Label::Lookup, none, 4, 27, 76, 34, 20, "CPM:" },
    { "StaticText2", &fw::Label::Lookup, none, 5, 20, 140, 100, 20, "Serial Port:" },
    { "StaticPortName", &fw::Label::Lookup, none, 6, 20, 241, 243, 20, "Untitled" },
    { "Canvas1", &NixieCanvas::Lookup, 0, 7, -63, 281, 100, 100, nullptr },
    { "Canvas1", &NixieCanvas::Lookup, 1, 8, 41, 281, 100, 100, nullptr },
    { "Canvas1", &NixieCanvas::Lookup, 2, 9, 153, 281, 100, 100, nullptr },
    { "Canvas1", &NixieCanvas::Lookup, 3, 10, 275, 281, 100, 100, nullptr },
    { "CheckBoxNixie", &fw::CheckBox::Lookup, none, 11, 20, 108, 140, 20, "Nixie Display" },
    { "CheckBoxBlankLeadingZeros", &fw::CheckBox::Lookup, none, 12, 134, 108, 156, 20,
        "Blank Leading Zeros" },
    { "Timer2", &fw::Timer::Lookup, none, -1, 0, 0, 0, 0, nullptr },
    { "CheckBoxClicks", &fw::CheckBox::Lookup, none, 13, 134, 133, 100, 20, "Clicks" },
};

// The text's size, weight, colour and alignment as the user sees them on the widget.
void ExpectLook(const ControlRow& row, const fw::Ref<fw::Object>& control, const QWidget& widget)
{
    const QFont font = widget.font();
    const int platformSize = QFontInfo(widget.parentWidget()->font()).pixelSize();
    EXPECT_EQ(QFontInfo(font).pixelSize(), row.look.textSize > 0 ? int(row.look.textSize) : platformSize);
    EXPECT_EQ(font.bold(), row.look.bold);
    EXPECT_FALSE(font.italic());
    EXPECT_FALSE(font.underline());
    if (control->Class().IsA(fw::Label::Lookup())) {
        const auto& label = static_cast<const QLabel&>(widget);
        EXPECT_EQ(label.palette().color(QPalette::WindowText).rgb(), row.look.colour);
        EXPECT_EQ(label.alignment(), row.look.align);
    }
}

// A window after CreateControls alone: no Open event has run yet.
Ref<class Window1> Created()
{
    auto w = fw::New<class Window1>();
    w->CreateControls();
    return w;
}

TEST(Layout, CreateControlsMakesTheSixteenControlsAsStored)
{
    auto w = Created();
    EXPECT_EQ(w->ControlCount(), 16);
    std::set<fw::Object*> distinct;
    for (const ControlRow& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + std::to_string(row.index));
        Ref<fw::Object> found
            = row.index == none ? w->ControlByName(row.name) : w->ControlByNameIndex(row.name, row.index);
        ASSERT_TRUE(found);
        EXPECT_EQ(&found->Class(), &row.cls());
        distinct.insert(found.get());
        if (row.cls().IsA(fw::Timer::Lookup()))
            continue;
        auto control = fw::RuntimeCheckCast<fw::RectControl>(found);
        EXPECT_EQ(control->Index(), row.index);
        EXPECT_EQ(control->TabIndex(), row.tabIndex);
        EXPECT_EQ(control->Left(), row.left);
        EXPECT_EQ(control->Top(), row.top);
        EXPECT_EQ(control->Width(), row.width);
        EXPECT_EQ(control->Height(), row.height);
        EXPECT_TRUE(control->Visible());
        const QRect g = control->Widget()->geometry();
        EXPECT_EQ(QRect(int(row.left), int(row.top), int(row.width), int(row.height)), g)
            << "the widget follows";
        if (found->Class().IsA(fw::TextControl::Lookup()))
            ExpectLook(row, found, *control->Widget());
        if (found->Class().IsA(fw::Label::Lookup())) {
            EXPECT_EQ(fw::RuntimeCheckCast<fw::Label>(found)->Text().ToStdString(), row.text);
        }
        if (found->Class().IsA(fw::CheckBox::Lookup())) {
            auto box = fw::RuntimeCheckCast<fw::CheckBox>(found);
            EXPECT_EQ(box->Caption().ToStdString(), row.text);
            EXPECT_FALSE(box->Value());
        }
    }
    EXPECT_EQ(distinct.size(), 16u);
    for (Integer i = 0; i < 4; ++i)
        EXPECT_EQ(w->Canvas1(i)->value, 0);
    EXPECT_EQ(w->serialPopup()->ListCount(), 0) << "rows come with the popup's Open";
    EXPECT_EQ(w->StaticCPM()->TextSize(), 32.0f);
    EXPECT_EQ(w->Timer1()->Period(), 1000);
    EXPECT_EQ(w->Timer2()->Period(), 50);
    EXPECT_EQ(w->Timer1()->Mode(), fw::Timer::ModeMultiple);
    EXPECT_TRUE(w->Timer2()->Active());
}

TEST(Layout, WindowIsAFixedThreeHundredSquareBelowItsMenuBar)
{
    Ref<class Window1> w = Window1();
    EXPECT_EQ(w->Title().ToStdString(), "Vantrope");
    EXPECT_FALSE(w->Resizeable());
    const QWidget* content = w->Content();
    EXPECT_EQ(content->size(), QSize(300, 300));
    const QWidget* top = w->Widget();
    EXPECT_EQ(top->minimumSize(), top->maximumSize()) << "the user cannot resize it";
    const Qt::WindowFlags flags = top->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowFullscreenButtonHint);
    ASSERT_NE(w->StoredValue("MacProcID"), nullptr) << "keys without a meaning here are kept";
}

TEST(Open, PutsTheTubesOverTheLabelHiddenAndShowsTheLabel)
{
    Ref<class Window1> w = Window1();
    for (Integer i = 0; i < 4; ++i) {
        auto tube = w->Canvas1(i);
        EXPECT_EQ(tube->Left(), 80 + 50 * i);
        EXPECT_EQ(tube->Top(), 20);
        EXPECT_EQ(tube->Width(), 50);
        EXPECT_EQ(tube->Height(), 82);
        EXPECT_FALSE(tube->Visible());
    }
    EXPECT_TRUE(w->StaticCPM()->Visible());
    EXPECT_EQ(w->StaticCPM()->Text().ToStdString(), "-");
    EXPECT_EQ(w->StaticCPM()->TextSize(), 72.0f);
}

// What a grabbed widget shows of its text: the box around every pixel that is not
// background, and the runs of dark columns: one per glyph for digits, which stand apart.
struct Ink {
    QRect box;
    int glyphs = 0;
};

Ink InkOf(const QImage& image)
{
    const QRgb background = image.pixel(0, 0);
    Ink ink;
    bool inRun = false;
    for (int x = 0; x < image.width(); ++x) {
        bool dark = false;
        for (int y = 0; y < image.height(); ++y) {
            const QRgb pixel = image.pixel(x, y);
            if (pixel != background)
                ink.box |= QRect(x, y, 1, 1);
            dark = dark || qGray(pixel) < qGray(background) / 2;
        }
        if (dark && !inRun)
            ++ink.glyphs;
        inRun = dark;
    }
    return ink;
}

TEST(CPMLabel, ShowsEveryDigitOfEveryCountWhollyInsideTheLabel)
{
    Ref<class Window1> w = Window1();
    auto label = w->StaticCPM();
    const QRect inside = QRect(QPoint(0, 0), label->Widget()->size()).adjusted(1, 1, -1, -1);
    auto show = [&](Integer count) {
        label->SetText(fw::Str(count));
        return InkOf(label->Widget()->grab().toImage());
    };
    const Ink four = show(9999);
    EXPECT_GT(four.box.height(), 40) << "four digits keep the full size";
    Ink previous;
    std::size_t previousDigits = 0;
    for (Integer count : { Integer { 0 }, Integer { 9999 }, Integer { 10000 }, Integer { 99999 },
             Integer { 345600 }, Integer { 1048576 }, std::numeric_limits<Integer>::max() }) {
        const std::string text = std::to_string(count);
        SCOPED_TRACE(text);
        const Ink ink = show(count);
        EXPECT_TRUE(inside.contains(ink.box)) << "ink " << ink.box.x() << "," << ink.box.y() << " "
                                              << ink.box.width() << "x" << ink.box.height();
        EXPECT_EQ(ink.glyphs, static_cast<int>(text.size())) << "every digit is drawn";
        if (text.size() <= 4) {
            EXPECT_EQ(ink.box.height(), four.box.height()) << "up to four digits nothing changes";
        }
        if (text.size() > previousDigits && previousDigits > 0) {
            EXPECT_TRUE(ink.box.width() > previous.box.width() || ink.box.height() < previous.box.height())
                << "added digits widen the ink or shrink the text";
        }
        previous = ink;
        previousDigits = text.size();
    }
    EXPECT_EQ(label->TextSize(), 72.0f) << "the label keeps its own size";
    EXPECT_EQ(label->Widget()->geometry(), QRect(80, 20, 200, 76)) << "and its place";
}

TEST(Open, StaticCPMOpenWithoutALabelRaises)
{
    auto w = Created();
    EXPECT_THROW(w->StaticCPM_Open(nullptr), fw::NilObjectException);
}

} // namespace

namespace {

// The application object as the start-up makes it, for the window's menu bar and the About box.
void StartApplication()
{
    NewAppInstance();
}

std::vector<std::string> ShownBoxes(const std::function<void()>& action)
{
    std::vector<std::string> shown;
    const fw::MsgBoxHandler previous
        = fw::SetMsgBoxHandler([&](const fw::String& text) { shown.push_back(text.ToStdString()); });
    action();
    fw::SetMsgBoxHandler(previous);
    return shown;
}

TEST(MenuBar, TheWindowShowsTheApplicationsOwnBar)
{
    StartApplication();
    Ref<class Window1> w = Window1();
    ASSERT_TRUE(w->MenuBar());
    EXPECT_EQ(w->MenuBar(), App()->MenuBar());
    EXPECT_EQ(w->FileQuit(), App()->MenuBar()->Lookup("FileQuit"));
}

TEST(About, ShowsTheVersionEveryTimeAndReturnsFalse)
{
    StartApplication();
    Ref<class Window1> w = Window1();
    std::vector<bool> results;
    auto shown = ShownBoxes([&] {
        results.push_back(w->FileAboutVantrope_Action());
        results.push_back(w->FileAboutVantrope_Action());
        EXPECT_TRUE(w->HandleMenuItem("FileAboutVantrope")) << "the item is bound to the action";
    });
    EXPECT_EQ(shown, (std::vector<std::string> { "Vantrope 2.0.0", "Vantrope 2.0.0", "Vantrope 2.0.0" }));
    EXPECT_EQ(results, (std::vector<bool> { false, false }));

    App()->x_SetVersionData(2, 10, 0, 0, 3, "Vantrope 2.10.0", "2.10.0", "");
    EXPECT_EQ(
        ShownBoxes([&] { w->FileAboutVantrope_Action(); }), std::vector<std::string> { "Vantrope 2.10.0" })
        << "the text is built anew each time";
}

} // namespace
