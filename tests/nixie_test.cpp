// The tubes: SetNixies spreading a count over them, a tube drawing its cell of the
// digit picture, and the digit picture itself.
#include "nixie/nixie_canvas.h"
#include "tests/resources_folder.h"
#include "tests/window_fixture.h"

#include <QImage>
#include <QPainter>
#include <QWidget>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

using Digits = std::array<fw::Integer, 4>;
using testing_support::MakeWindow;

Digits Tubes(class Window1& w)
{
    Digits d {};
    for (fw::Integer i = 0; i < 4; ++i)
        d[static_cast<std::size_t>(i)] = w.Canvas1(i)->value;
    return d;
}

// ---- SetNixies --------------------------------------------------------------------

struct SpreadCase {
    const char* label;
    fw::Integer count;
    Digits plain; // Blank Leading Zeros not ticked
    Digits blanked; // ticked
};
void PrintTo(const SpreadCase& c, std::ostream* os)
{
    *os << c.label;
}

class SetNixies : public ::testing::TestWithParam<SpreadCase> { };

TEST_P(SetNixies, StoresTheDigitsBlankingLeadingZerosWhenTicked)
{
    const SpreadCase& c = GetParam();
    auto w = MakeWindow();
    w->CheckBoxBlankLeadingZeros()->SetValue(false);
    w->SetNixies(c.count);
    EXPECT_EQ(Tubes(*w), c.plain) << "not ticked";
    w->CheckBoxBlankLeadingZeros()->SetValue(true);
    w->SetNixies(c.count);
    EXPECT_EQ(Tubes(*w), c.blanked) << "ticked";
}

constexpr fw::Integer X = 10; // the unlit tube

INSTANTIATE_TEST_SUITE_P(Cases, SetNixies,
    ::testing::Values(SpreadCase { "Zero", 0, { 0, 0, 0, 0 }, { X, X, X, 0 } },
        SpreadCase { "OneDigit", 7, { 0, 0, 0, 7 }, { X, X, X, 7 } },
        SpreadCase { "TwoDigits", 42, { 0, 0, 4, 2 }, { X, X, 4, 2 } },
        SpreadCase { "Ten", 10, { 0, 0, 1, 0 }, { X, X, 1, 0 } },
        SpreadCase { "Hundred", 100, { 0, 1, 0, 0 }, { X, 1, 0, 0 } },
        SpreadCase { "HundredFive", 105, { 0, 1, 0, 5 }, { X, 1, 0, 5 } },
        SpreadCase { "ThousandFive", 1005, { 1, 0, 0, 5 }, { 1, 0, 0, 5 } },
        SpreadCase { "TrailingZeros", 2050, { 2, 0, 5, 0 }, { 2, 0, 5, 0 } },
        SpreadCase { "Thousand", 1000, { 1, 0, 0, 0 }, { 1, 0, 0, 0 } },
        SpreadCase { "FullScale", 9999, { 9, 9, 9, 9 }, { 9, 9, 9, 9 } },
        // Higher counts show full scale, never their last digits.
        SpreadCase { "TenThousand", 10000, { 9, 9, 9, 9 }, { 9, 9, 9, 9 } },
        SpreadCase { "TenThousandFiveHundred", 10500, { 9, 9, 9, 9 }, { 9, 9, 9, 9 } },
        SpreadCase { "TwelveThousand", 12345, { 9, 9, 9, 9 }, { 9, 9, 9, 9 } },
        SpreadCase { "Largest", std::numeric_limits<fw::Integer>::max(), { 9, 9, 9, 9 }, { 9, 9, 9, 9 } }),
    [](const auto& row) { return std::string(row.param.label); });

// A tube that notes, at each repaint request, which tube asked and what all four held.
class SpyTube : public NixieCanvas {
public:
    struct Request {
        fw::Integer tube;
        Digits values;
        friend bool operator==(const Request&, const Request&) = default;
    };

    SpyTube(class Window1& window, std::vector<Request>& log)
        : window_(window)
        , log_(log)
    {
    }
    void Invalidate(bool eraseBackground) override
    {
        log_.push_back({ Index(), Tubes(window_) });
        NixieCanvas::Invalidate(eraseBackground);
    }

private:
    class Window1& window_;
    std::vector<Request>& log_;
};

TEST(SetNixiesOrder, StoresAllFourDigitsBeforeAskingEachTubeToRepaint)
{
    auto w = fw::New<class Window1>();
    std::vector<SpyTube::Request> log;
    for (fw::Integer i = 0; i < 4; ++i) {
        auto tube = fw::New<SpyTube>(*w, log);
        tube->SetIndex(i);
        w->AddControl("Canvas1", tube);
    }
    w->AddControl("CheckBoxBlankLeadingZeros", fw::New<fw::CheckBox>());

    w->SetNixies(1234);
    w->SetNixies(5678);
    w->SetNixies(5678); // the same count again still repaints every tube
    std::vector<SpyTube::Request> expected;
    for (const Digits& d : { Digits { 1, 2, 3, 4 }, Digits { 5, 6, 7, 8 }, Digits { 5, 6, 7, 8 } })
        for (fw::Integer i = 0; i < 4; ++i)
            expected.push_back({ i, d });
    EXPECT_EQ(log, expected);
}

TEST(SetNixiesFullScale, ASecondCloseAboveFullScaleShowsNinesOnTheTubesAndTheWholeNumberAsText)
{
    auto w = MakeWindow();
    w->Serial1 = fw::New<testing_support::FeedSerial>();
    w->CheckBoxBlankLeadingZeros()->SetValue(true);
    w->tempCountsSum = 12345;
    w->Timer1_Action(nullptr);
    EXPECT_EQ(w->StaticCPM()->Text().ToStdString(), "12345");
    EXPECT_EQ(Tubes(*w), (Digits { 9, 9, 9, 9 }));
}

// ---- Drawing a tube -----------------------------------------------------------------

QImage DigitPicture()
{
    static const QImage picture(
        QString::fromStdString((testing_support::ResourcesFolder() / "nixies.jpg").string()));
    return picture;
}

QImage CellAt50x82(fw::Integer cell)
{
    return DigitPicture()
        .copy(static_cast<int>(cell) * 336, 0, 336, 549)
        .scaled(50, 82, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

// How far a drawing's top-left 50 x 82 pixels are from a cell, channel by channel.
struct Difference {
    int largest = 0;
    double mean = 0;
};
Difference Compare(const QImage& drawn, const QImage& cell)
{
    Difference d;
    double sum = 0;
    for (int y = 0; y < 82; ++y)
        for (int x = 0; x < 50; ++x) {
            const QRgb a = drawn.pixel(x, y), b = cell.pixel(x, y);
            for (int c :
                { qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b), qAlpha(a) - qAlpha(b) }) {
                d.largest = std::max(d.largest, std::abs(c));
                sum += std::abs(c);
            }
        }
    d.mean = sum / (4.0 * 50 * 82);
    return d;
}

// Shrunk by four in the decoder before it is averaged to 50 x 82, a cell was measured
// to differ from the averaging of its whole pixels by up to 20 in a channel and by
// 1.15 on average; a cell drawn from the wrong place, at the wrong scale or without
// averaging differs by far more.
constexpr int largestChange = 24;
constexpr double meanChange = 1.3;

testing::AssertionResult LooksLike(const QImage& drawn, const QImage& cell)
{
    const Difference d = Compare(drawn, cell);
    if (d.largest <= largestChange && d.mean <= meanChange)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "differs by up to " << d.largest << ", " << d.mean << " on average";
}

bool NothingDrawn(const QImage& image, int fromX = 0, int fromY = 0)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((x >= fromX || y >= fromY) && qAlpha(image.pixel(x, y)) != 0)
                return false;
    return true;
}

class TubePaint : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(DigitPicture().isNull()) << "the build puts nixies.jpg in place"; }

    fw::Ref<NixieCanvas> Tube(fw::Integer value, int width = 50, int height = 82)
    {
        auto tube = w->Canvas1(0);
        tube->SetWidth(width);
        tube->SetHeight(height);
        tube->value = value;
        return tube;
    }
    // Drawn by the tube's widget, as on the screen.
    static QImage Render(const fw::Ref<NixieCanvas>& tube)
    {
        return tube->Widget()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    }

    fw::Ref<class Window1> w = MakeWindow();
};

TEST_F(TubePaint, EachValueDrawsItsOwnCellScaledTo50x82)
{
    for (fw::Integer value = 0; value <= 10; ++value) {
        const QImage drawn = Render(Tube(value));
        ASSERT_EQ(drawn.size(), QSize(50, 82));
        for (fw::Integer cell = 0; cell <= 10; ++cell) {
            if (cell == value)
                EXPECT_TRUE(LooksLike(drawn, CellAt50x82(cell))) << "value " << value;
            else
                EXPECT_GT(Compare(drawn, CellAt50x82(cell)).largest, 40)
                    << "value " << value << " looks like cell " << cell;
        }
    }
}

TEST_F(TubePaint, ALargerTubeShowsTheCellInItsTopLeft50x82Only)
{
    const QImage drawn = Render(Tube(3, 100, 100));
    ASSERT_EQ(drawn.size(), QSize(100, 100));
    EXPECT_TRUE(LooksLike(drawn, CellAt50x82(3)));
    EXPECT_TRUE(NothingDrawn(drawn, 50, 82)) << "nothing right of or below the cell";
}

TEST_F(TubePaint, APaintOfPartOfTheTubeStillDrawsTheWholeCell)
{
    auto tube = Tube(7);
    QImage image(50, 82, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    fw::Graphics g(&painter, 50, 82);
    tube->Event_Paint(g, { fw::Rect { 40, 70, 10, 12 } });
    painter.end();
    EXPECT_TRUE(LooksLike(image.convertToFormat(QImage::Format_ARGB32), CellAt50x82(7)));
}

TEST_F(TubePaint, ARepaintAtTheSameSizeDrawsTheSameWithoutDecoding)
{
    auto tube = Tube(6);
    const QImage first = Render(tube);
    const fw::Integer decodes = nixies()->Decodes();
    EXPECT_GE(decodes, 1);
    for (int repaint = 0; repaint < 3; ++repaint)
        EXPECT_EQ(Render(tube), first);
    EXPECT_EQ(nixies()->Decodes(), decodes) << "the shrunk cell is drawn again";
}

TEST_F(TubePaint, AValueWithoutACellDrawsNothing)
{
    for (fw::Integer value : { fw::Integer { 11 }, fw::Integer { 12 }, fw::Integer { -1 },
             std::numeric_limits<fw::Integer>::max(), std::numeric_limits<fw::Integer>::min() })
        EXPECT_TRUE(NothingDrawn(Render(Tube(value)))) << "value " << value;
}

// ---- The digit picture --------------------------------------------------------------

TEST(DigitPicture, IsElevenCellsOf336x549)
{
    const auto picture = fw::Picture::OpenFromApp("nixies.jpg");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Width(), 3696);
    EXPECT_EQ(picture->Height(), 549);
}

// Pixels in the orange of lit neon.
int GlowingPixels(const QImage& cell)
{
    int glowing = 0;
    for (int y = 0; y < cell.height(); ++y)
        for (int x = 0; x < cell.width(); ++x) {
            const QRgb p = cell.pixel(x, y);
            glowing += qRed(p) > 200 && qRed(p) - qBlue(p) > 120;
        }
    return glowing;
}

TEST(DigitPicture, CellsDifferAndOnlyTheLastIsUnlit)
{
    std::vector<QImage> cells;
    for (int k = 0; k <= 10; ++k)
        cells.push_back(DigitPicture().copy(k * 336, 0, 336, 549));
    for (int k = 0; k <= 9; ++k)
        EXPECT_GT(GlowingPixels(cells[static_cast<std::size_t>(k)]), 2000) << "cell " << k << " is lit";
    EXPECT_EQ(GlowingPixels(cells[10]), 0) << "the last cell is the unlit tube";

    // Cells that differ only by JPEG noise would look alike on the tubes.
    for (std::size_t a = 0; a < cells.size(); ++a)
        for (std::size_t b = a + 1; b < cells.size(); ++b) {
            int different = 0;
            for (int y = 0; y < 549; ++y)
                for (int x = 0; x < 336; ++x)
                    different += std::abs(qRed(cells[a].pixel(x, y)) - qRed(cells[b].pixel(x, y))) > 64;
            EXPECT_GT(different, 1000) << "cells " << a << " and " << b;
        }
}

} // namespace
