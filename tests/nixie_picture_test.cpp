// The digit picture missing, unreadable, then put in place: the tubes draw nothing
// and tell nobody until it opens, and keep it from then on. That is one test,
// because every case of a suite shares the suite's Resources folder and ctest runs
// cases side by side. And the picture as it ships: cell k shows the digit k.
#include "nixie/nixie_canvas.h"
#include "tests/resources_folder.h"
#include "tests/window_fixture.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testing_support::ResourcesFolder;

bool DrawsAnything(const fw::Ref<NixieCanvas>& tube)
{
    const QImage image = tube->Widget()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return true;
    return false;
}

TEST(DigitPictureMissing, TubesDrawNothingUntilThePictureOpensThenKeepIt)
{
    auto w = testing_support::MakeWindow();
    auto tube = w->Canvas1(2);
    tube->SetWidth(50);
    tube->SetHeight(82);
    tube->value = 4;
    const fs::path picture = ResourcesFolder() / "nixies.jpg";

    ::testing::internal::CaptureStderr();
    fs::remove_all(ResourcesFolder());
    EXPECT_FALSE(DrawsAnything(tube)) << "no Resources folder";
    fs::create_directories(ResourcesFolder());
    EXPECT_FALSE(DrawsAnything(tube)) << "no picture in it";
    std::ofstream(picture, std::ios::binary) << "GIF89a, or so it says\n";
    EXPECT_FALSE(DrawsAnything(tube)) << "a file that is not a picture";
    std::ofstream(picture, std::ios::binary | std::ios::trunc);
    EXPECT_FALSE(DrawsAnything(tube)) << "an empty file";
    EXPECT_TRUE(nixies().IsNil());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "nothing is reported";

    fs::copy_file(VANTROPE_DIGIT_PICTURE, picture, fs::copy_options::overwrite_existing);
    EXPECT_TRUE(DrawsAnything(tube)) << "tried again at the next paint";
    const fw::Ref<fw::Picture> opened = nixies();
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->Width(), 3696);

    fs::remove(picture);
    EXPECT_TRUE(DrawsAnything(tube)) << "the opened picture is kept";
    EXPECT_EQ(nixies(), opened) << "and shared, not opened again";
}

// ---- The digits as they ship ------------------------------------------------------

using Likeness = std::array<std::array<double, 10>, 10>; // [cell][digit]

// The anode's box, where a lit digit's light lies, compared in squares of 8 pixels.
const QRect digitArea(70, 104, 196, 300);
constexpr int square = 8;

// The share of each square's pixels that pass `on`.
std::vector<double> Squares(const QImage& image, const std::function<bool(QRgb)>& on)
{
    std::vector<double> shares;
    for (int top = digitArea.top(); top + square <= digitArea.bottom() + 1; top += square)
        for (int left = digitArea.left(); left + square <= digitArea.right() + 1; left += square) {
            int n = 0;
            for (int y = top; y < top + square; ++y)
                for (int x = left; x < left + square; ++x)
                    n += on(image.pixel(x, y));
            shares.push_back(n / double(square * square));
        }
    return shares;
}

// Normalised cross-correlation: 1 for the same pattern, about 0 for unrelated ones.
double Correlation(const std::vector<double>& a, const std::vector<double>& b)
{
    double meanA = 0, meanB = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        meanA += a[i] / static_cast<double>(a.size());
        meanB += b[i] / static_cast<double>(b.size());
    }
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ab += (a[i] - meanA) * (b[i] - meanB);
        aa += (a[i] - meanA) * (a[i] - meanA);
        bb += (b[i] - meanB) * (b[i] - meanB);
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// The digit in a plain font, filled, 240 pixels high, centred where the tube's digits stand.
std::vector<double> FontDigit(int digit)
{
    QImage image(336, 549, QImage::Format_RGB32);
    image.fill(Qt::black);
    QFont font("DejaVu Sans");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(100);
    QPainterPath path;
    path.addText(0, 0, font, QString::number(digit));
    const QRectF box = path.boundingRect();
    if (box.isEmpty())
        return {}; // no font to draw with
    QTransform place;
    place.translate(168, 252);
    place.scale(240 / box.height(), 240 / box.height());
    place.translate(-box.center().x(), -box.center().y());
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(place.map(path), Qt::white);
    painter.end();
    return Squares(image, [](QRgb p) { return qRed(p) > 127; });
}

// The pairing of the ten cells with the ten digits, one each, that is most alike in all:
// the digit for each cell.
std::array<int, 10> BestPairing(const Likeness& likeness)
{
    constexpr unsigned all = (1u << 10) - 1;
    std::vector<double> best(all + 1, -1e9);
    std::vector<int> last(all + 1, -1); // the digit given to the last cell paired
    best[0] = 0;
    for (unsigned used = 0; used < all; ++used) {
        const auto cell = static_cast<std::size_t>(std::popcount(used));
        for (int digit = 0; digit < 10; ++digit) {
            const unsigned next = used | (1u << digit);
            if (next != used && best[used] + likeness[cell][static_cast<std::size_t>(digit)] > best[next]) {
                best[next] = best[used] + likeness[cell][static_cast<std::size_t>(digit)];
                last[next] = digit;
            }
        }
    }
    std::array<int, 10> digits {};
    for (unsigned used = all; used != 0; used &= ~(1u << last[used]))
        digits[static_cast<std::size_t>(std::popcount(used) - 1)] = last[used];
    return digits;
}

TEST(DigitPictureAsShipped, CellKShowsTheDigitK)
{
    const QImage picture = QImage(VANTROPE_DIGIT_PICTURE).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(picture.size(), QSize(3696, 549));
    std::array<std::vector<double>, 10> font;
    for (std::size_t digit = 0; digit < 10; ++digit) {
        font[digit] = FontDigit(static_cast<int>(digit));
        ASSERT_FALSE(font[digit].empty()) << "no font draws the digit " << digit;
    }
    Likeness likeness {};
    std::ostringstream table;
    for (std::size_t cell = 0; cell < 10; ++cell) {
        // The orange of lit neon, as the tube shows it.
        const auto lit = Squares(picture.copy(static_cast<int>(cell) * 336, 0, 336, 549),
            [](QRgb p) { return qRed(p) > 200 && qRed(p) - qBlue(p) > 120; });
        table << "cell " << cell << ':';
        for (std::size_t digit = 0; digit < 10; ++digit) {
            likeness[cell][digit] = Correlation(lit, font[digit]);
            table << ' ' << std::lround(100 * likeness[cell][digit]);
        }
        table << '\n';
    }
    // The tube's digits are shapes of their own, so a cell may look more like another
    // digit of the font than like its own (a 3 with a flat top, like a 5); the order
    // shows in the pairing of all ten cells at once.
    EXPECT_EQ(BestPairing(likeness), (std::array<int, 10> { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9 }))
        << "likeness in %, cell against the font's digits 0 to 9:\n"
        << table.str();
}

} // namespace
