// The main window on the user's desktop: its texts read on dark colour schemes,
// and fit, whole and apart, at larger desktop fonts, as the rendered window shows.
#include "nixie/nixie_canvas.h"
#include "tests/window_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetricsF>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace {

using fw::Integer;
using fw::Ref;
using testing_support::MakeWindow;

const char* const labels[]
    = { "StaticCPM", "StaticStatus", "StaticSerialError", "StaticText3", "StaticText2", "StaticPortName" };

QWidget* WidgetOf(class Window1& w, const char* name)
{
    return fw::RuntimeCheckCast<fw::RectControl>(w.ControlByName(name))->Widget();
}

// ---- Colours ------------------------------------------------------------------------

double Luminance(QRgb c)
{
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double Contrast(QRgb a, QRgb b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// What the image shows inside `area`: the colour that covers most of it, which
// for a label is the window behind it, and the pixel that stands out most from it.
struct Shown {
    QRgb background = 0, text = 0;
};

Shown ShownIn(const QImage& image, const QRect& area)
{
    std::map<QRgb, int> count;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++count[image.pixel(x, y) | 0xFF000000u];
    Shown shown;
    int most = 0;
    for (const auto& [colour, n] : count)
        if (n > most) {
            most = n;
            shown.background = colour;
        }
    double best = 0;
    for (const auto& [colour, n] : count)
        if (const double c = Contrast(colour, shown.background); c > best) {
            best = c;
            shown.text = colour;
        }
    return shown;
}

struct PaletteCase {
    const char* name;
    bool dark;
    QRgb window, text; // ignored for the default
    QRgb textWithoutFocus = 0; // the scheme's text while another window has the focus; 0: the same
};
void PrintTo(const PaletteCase& c, std::ostream* os)
{
    *os << c.name;
}

// Sets the application's palette for one case, and puts the old one back after it.
class Palettes : public ::testing::TestWithParam<PaletteCase> {
protected:
    void SetUp() override
    {
        const PaletteCase& c = GetParam();
        if (!c.dark)
            return;
        QPalette palette = QApplication::palette();
        for (QPalette::ColorRole role : { QPalette::Window, QPalette::Button, QPalette::Base })
            palette.setColor(role, QColor::fromRgb(c.window));
        for (QPalette::ColorRole role : { QPalette::WindowText, QPalette::ButtonText, QPalette::Text }) {
            palette.setColor(role, QColor::fromRgb(c.text));
            if (c.textWithoutFocus)
                palette.setColor(QPalette::Inactive, role, QColor::fromRgb(c.textWithoutFocus));
        }
        QApplication::setPalette(palette);
    }
    void TearDown() override { QApplication::setPalette(saved_); }

private:
    const QPalette saved_ = QApplication::palette();
};

TEST_P(Palettes, EveryLabelReadsAgainstTheWindow)
{
    const PaletteCase& c = GetParam();
    auto w = MakeWindow();
    QWidget* top = w->Widget();
    const QRgb window = top->palette().color(QPalette::Window).rgb();
    for (const char* name : labels) {
        SCOPED_TRACE(name);
        auto label = fw::RuntimeCheckCast<fw::Label>(w->ControlByName(name));
        if (label->Text().IsEmpty())
            label->SetText("Serial Port Error: None");
        const QImage image = top->grab().toImage();
        QWidget* widget = label->Widget();
        const Shown shown = ShownIn(image, QRect(widget->mapTo(top, QPoint(0, 0)), widget->size()));
        EXPECT_EQ(shown.background, window) << "the label shows the window behind it";
        const double contrast = Contrast(shown.text, shown.background);
        EXPECT_GE(contrast, 4.5) << "text #" << std::hex << shown.text << " on #" << shown.background;
        if (!c.dark) {
            EXPECT_EQ(shown.text, qRgb(0, 0, 0)) << "the light scheme keeps its black text";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Palettes,
    ::testing::Values(PaletteCase { "Default", false, 0, 0 },
        PaletteCase { "DarkGrey", true, qRgb(0x35, 0x35, 0x35), qRgb(0xEE, 0xEE, 0xEC) },
        PaletteCase { "NearBlack", true, qRgb(0x22, 0x20, 0x20), qRgb(0xFF, 0xFF, 0xFF) },
        PaletteCase { "NavyWithAmberText", true, qRgb(0x10, 0x20, 0x40), qRgb(0xFF, 0xD0, 0x80) },
        // As Adwaita's dark scheme dims a window without focus, to 3.9:1.
        PaletteCase { "DimmedWithoutFocus", true, qRgb(0x35, 0x35, 0x35), qRgb(0xEE, 0xEE, 0xEC),
            qRgb(0x91, 0x91, 0x90) }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(TextColor, AColourOtherThanBlackIsDrawnAsGiven)
{
    const QPalette saved = QApplication::palette();
    QPalette dark = saved;
    dark.setColor(QPalette::Window, QColor(0x22, 0x20, 0x20));
    dark.setColor(QPalette::WindowText, Qt::white);
    QApplication::setPalette(dark);
    auto w = MakeWindow();
    auto label = w->StaticStatus();
    label->SetTextColor(fw::RGB(255, 0, 0));
    EXPECT_EQ(label->Widget()->palette().color(QPalette::WindowText).rgb(), qRgb(255, 0, 0));
    label->SetTextColor(fw::RGB(0, 0, 0));
    EXPECT_EQ(label->Widget()->palette().color(QPalette::WindowText).rgb(), qRgb(255, 255, 255))
        << "back to black is back to the scheme's text colour";
    QApplication::setPalette(saved);
}

// ---- Fonts --------------------------------------------------------------------------

struct FontCase {
    const char* name;
    const char* family; // nullptr: Qt's default font, untouched
    int points;
};
void PrintTo(const FontCase& c, std::ostream* os)
{
    *os << c.name;
}

// Sets the application's font for one case, and puts the old one back after it.
class Fonts : public ::testing::TestWithParam<FontCase> {
protected:
    void SetUp() override
    {
        if (GetParam().family)
            QApplication::setFont(QFont(GetParam().family, GetParam().points));
    }
    void TearDown() override { QApplication::setFont(saved_); }

private:
    const QFont saved_ = QApplication::font();
};

// The stored rectangles of what the window shows, the tubes where its Open puts them.
struct Placed {
    const char* name;
    Integer index;
    QRect rect;
};
const Placed placed[] = {
    { "serialPopup", fw::Control::NoIndex, { 20, 162, 230, 20 } },
    { "StaticCPM", fw::Control::NoIndex, { 80, 20, 200, 76 } },
    { "StaticStatus", fw::Control::NoIndex, { 20, 217, 100, 20 } },
    { "StaticSerialError", fw::Control::NoIndex, { 20, 194, 260, 20 } },
    { "StaticText3", fw::Control::NoIndex, { 27, 76, 34, 20 } },
    { "StaticText2", fw::Control::NoIndex, { 20, 140, 100, 20 } },
    { "StaticPortName", fw::Control::NoIndex, { 20, 241, 243, 20 } },
    { "Canvas1", 0, { 80, 20, 50, 82 } },
    { "Canvas1", 1, { 130, 20, 50, 82 } },
    { "Canvas1", 2, { 180, 20, 50, 82 } },
    { "Canvas1", 3, { 230, 20, 50, 82 } },
    { "CheckBoxNixie", fw::Control::NoIndex, { 20, 108, 140, 20 } },
    { "CheckBoxBlankLeadingZeros", fw::Control::NoIndex, { 134, 108, 156, 20 } },
    { "CheckBoxClicks", fw::Control::NoIndex, { 134, 133, 100, 20 } },
};

// Where one line of text in `font` lies when set in `room`, from its left edge
// and its top or its middle: across, its advance; down, its ink, which is what
// a label keeps inside its edges.
QRectF TextIn(const QString& text, const QFont& font, const QRectF& room, bool centred)
{
    const QFontMetricsF metrics(font);
    const QRectF ink = metrics.tightBoundingRect(text);
    const qreal baseline
        = room.top() + (centred ? (room.height() - metrics.height()) / 2 : 0) + metrics.ascent();
    const qreal right = std::max(metrics.horizontalAdvance(text), ink.right());
    return QRectF(QPointF(room.left() + std::min<qreal>(0, ink.left()), baseline + ink.top()),
        QPointF(room.left() + right, baseline + ink.bottom()));
}

std::string Describe(const QRectF& r)
{
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x"
        + std::to_string(r.height());
}

// A drawn control: the room its text is set in, the text's place, and what of the
// window the control takes, all in the window's pixels.
struct Drawn {
    std::string name;
    QRectF room, text, taken;
};

Drawn DrawnControl(QWidget* content, const char* name, QWidget* widget)
{
    const QPointF at = widget->mapTo(content, QPoint(0, 0));
    Drawn d { name, {}, {}, {} };
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        d.room = QRectF(label->contentsRect()).translated(at);
        d.text = TextIn(label->text(), label->font(), d.room, false);
        d.taken = d.text;
    } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        d.room
            = QRectF(box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box)).translated(at);
        d.text = TextIn(box->text(), box->font(), d.room, true);
        // The box and its caption, from the indicator on.
        d.taken = QRectF(QPointF(at.x(), d.room.top()), QPointF(d.text.right(), d.room.bottom()));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        d.room = QRectF(
            combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo))
                     .translated(at);
        d.text = TextIn(combo->currentText(), combo->font(), d.room, true);
        d.taken = QRectF(at, QSizeF(combo->size()));
    }
    return d;
}

TEST_P(Fonts, EveryTextIsWholeApartAndAtTheDesktopsSize)
{
    const FontCase& c = GetParam();
    auto w = MakeWindow();
    QWidget* content = w->Content();
    w->serialPopup()->AddRow("None");
    w->serialPopup()->SetListIndex(0);
    w->StaticCPM()->SetText("9999"); // four digits still at the full size
    w->StaticSerialError()->SetText("Serial Port Error: None");

    const double scale = w->Scale();
    if (!c.family) {
        EXPECT_EQ(scale, 1.0);
    } else {
        EXPECT_GT(scale, 1.0) << "a larger font grows the window";
    }
    const auto grown = [&](const QRect& r) {
        const int left = int(std::lround(r.left() * scale)), top = int(std::lround(r.top() * scale));
        return QRect(left, top, int(std::lround((r.left() + r.width()) * scale)) - left,
            int(std::lround((r.top() + r.height()) * scale)) - top);
    };
    EXPECT_EQ(QRect(QPoint(0, 0), content->size()), grown(QRect(0, 0, 300, 300)))
        << Describe(QRect(QPoint(0, 0), content->size()));
    for (const Placed& p : placed) {
        SCOPED_TRACE(std::string(p.name) + " " + std::to_string(p.index));
        auto control = fw::RuntimeCheckCast<fw::RectControl>(p.index == fw::Control::NoIndex
                ? w->ControlByName(p.name)
                : w->ControlByNameIndex(p.name, p.index));
        EXPECT_EQ(control->Left(), p.rect.left()) << "the program sees its own layout";
        EXPECT_EQ(control->Width(), p.rect.width());
        const QRect expected = c.family ? grown(p.rect) : p.rect;
        EXPECT_EQ(control->Widget()->geometry(), expected)
            << Describe(control->Widget()->geometry()) << " for " << Describe(expected);
    }
    const auto pixelSize = [](QWidget* widget) { return QFontInfo(widget->font()).pixelSize(); };
    EXPECT_EQ(pixelSize(w->serialPopup()->Widget()), int(std::lround(12 * scale)));
    EXPECT_EQ(pixelSize(w->StaticCPM()->Widget()), int(std::lround(72 * scale)));
    EXPECT_EQ(pixelSize(w->StaticStatus()->Widget()), QFontInfo(QApplication::font()).pixelSize())
        << "text of the platform's size is the desktop's font as it is";

    std::vector<Drawn> drawn;
    for (const char* name :
        { "serialPopup", "StaticCPM", "StaticStatus", "StaticSerialError", "StaticText3", "StaticText2",
            "StaticPortName", "CheckBoxNixie", "CheckBoxBlankLeadingZeros", "CheckBoxClicks" })
        drawn.push_back(DrawnControl(content, name, WidgetOf(*w, name)));
    const QRectF window(QPointF(0, 0), QSizeF(content->size()));
    for (const Drawn& d : drawn) {
        SCOPED_TRACE(d.name);
        EXPECT_TRUE(d.room.contains(d.text)) << "text " << Describe(d.text) << " room " << Describe(d.room);
        EXPECT_TRUE(window.contains(d.taken)) << "inside the window: " << Describe(d.taken);
    }
    for (std::size_t i = 0; i < drawn.size(); ++i)
        for (std::size_t j = i + 1; j < drawn.size(); ++j)
            EXPECT_FALSE(drawn[i].taken.intersects(drawn[j].taken))
                << drawn[i].name << " " << Describe(drawn[i].taken) << " meets " << drawn[j].name << " "
                << Describe(drawn[j].taken);
}

// The tube draws its digit over the whole of its grown rectangle.
TEST_P(Fonts, TheTubesDrawOverTheirWholeRectangle)
{
    auto w = MakeWindow();
    auto tube = w->Canvas1(1);
    tube->value = 8;
    tube->SetVisible(true);
    QWidget* widget = tube->Widget();
    QImage image(widget->size(), QImage::Format_RGB32);
    const QRgb unpainted = qRgb(0, 255, 0);
    image.fill(unpainted);
    widget->render(&image);
    QRect painted;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != unpainted)
                painted |= QRect(x, y, 1, 1);
    EXPECT_EQ(painted, image.rect()) << "painted " << Describe(painted) << " of " << Describe(image.rect());
}

INSTANTIATE_TEST_SUITE_P(Cases, Fonts,
    ::testing::Values(FontCase { "Default", nullptr, 0 }, FontCase { "DejaVuSans11", "DejaVu Sans", 11 },
        FontCase { "DejaVuSans12", "DejaVu Sans", 12 }, FontCase { "DejaVuSans14", "DejaVu Sans", 14 },
        FontCase { "Cantarell14", "Cantarell", 14 }),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
