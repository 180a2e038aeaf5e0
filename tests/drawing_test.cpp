// Pictures opened from the Resources folder, and Graphics::DrawPicture on a QPainter.
#include "framework/drawing.h"
#include "tests/resources_folder.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>

namespace {

namespace fs = std::filesystem;
using testing_support::ResourcesFolder;

void WriteFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Four by two pixels, each of its own colour; the letters name them in the tables below.
const char* const letters = "abcdefgh";
QRgb Colour(char letter)
{
    const int i = letter - 'a';
    return qRgb(30 * i + 10, 255 - 30 * i, (i % 2) * 200 + 20);
}
QImage Letters()
{
    QImage image(4, 2, QImage::Format_RGB32);
    for (int i = 0; i < 8; ++i)
        image.setPixel(i % 4, i / 4, Colour(letters[i]));
    return image;
}

// Saves the image under the running test's name, since the cases run side by side
// in processes of their own, and opens it as the program would.
fw::Ref<fw::Picture> Open(const QImage& image)
{
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');
    name += ".png";
    fs::create_directories(ResourcesFolder());
    EXPECT_TRUE(image.save(QString::fromStdString((ResourcesFolder() / name).string()), "PNG"));
    return fw::Picture::OpenFromApp(fw::String(name));
}

struct OpenCase {
    const char* label;
    std::function<void()> prepare;
    const char* name;
    bool opens;
};
void PrintTo(const OpenCase& c, std::ostream* os)
{
    *os << c.label;
}

class OpenFromApp : public ::testing::TestWithParam<OpenCase> { };

TEST_P(OpenFromApp, OpensPicturesOfTheResourcesFolderOnly)
{
    const OpenCase& c = GetParam();
    c.prepare();
    const fw::Ref<fw::Picture> picture = fw::Picture::OpenFromApp(c.name);
    ASSERT_EQ(bool(picture), c.opens);
    if (c.opens) {
        EXPECT_EQ(picture->Width(), 4);
        EXPECT_EQ(picture->Height(), 2);
    }
}

void Save(const char* name, const char* format)
{
    fs::create_directories(ResourcesFolder());
    ASSERT_TRUE(Letters().save(QString::fromStdString((ResourcesFolder() / name).string()), format));
}

INSTANTIATE_TEST_SUITE_P(Cases, OpenFromApp,
    ::testing::Values(OpenCase { "Png", [] { Save("open-png.png", "PNG"); }, "open-png.png", true },
        OpenCase { "Jpeg", [] { Save("open-jpeg.jpg", "JPEG"); }, "open-jpeg.jpg", true },
        OpenCase { "Missing", [] { fs::remove(ResourcesFolder() / "open-missing.jpg"); }, "open-missing.jpg",
            false },
        OpenCase {
            "Empty", [] { WriteFile(ResourcesFolder() / "open-empty.jpg", ""); }, "open-empty.jpg", false },
        OpenCase { "NotAPicture", [] { WriteFile(ResourcesFolder() / "open-text.jpg", "not a picture\n"); },
            "open-text.jpg", false },
        OpenCase { "Folder", [] { fs::create_directories(ResourcesFolder() / "open-folder.jpg"); },
            "open-folder.jpg", false },
        OpenCase { "PathOutOfTheFolder",
            [] {
                fs::create_directories(ResourcesFolder());
                ASSERT_TRUE(Letters().save(
                    QString::fromStdString((ResourcesFolder().parent_path() / "outside.png").string())));
            },
            "../outside.png", false },
        OpenCase { "PathIntoASubfolder",
            [] {
                fs::create_directories(ResourcesFolder() / "sub");
                ASSERT_TRUE(
                    Letters().save(QString::fromStdString((ResourcesFolder() / "sub/in.png").string())));
            },
            "sub/in.png", false },
        OpenCase { "EmptyName", [] {}, "", false }),
    [](const auto& row) { return std::string(row.param.label); });

// A 6 x 2 canvas, transparent until drawn on; its rows read as letters, '.' where nothing was drawn.
struct Canvas {
    QImage image { 6, 2, QImage::Format_ARGB32_Premultiplied };
    Canvas() { image.fill(Qt::transparent); }

    std::string Row(int y) const
    {
        std::string row;
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            char seen = '?';
            if (qAlpha(p) == 0)
                seen = '.';
            for (const char* l = letters; *l; ++l)
                if (p == Colour(*l))
                    seen = *l;
            row += seen;
        }
        return row;
    }
};

void Draw(Canvas& canvas, const fw::Ref<fw::Picture>& picture, const QRectF& to, const QRectF& from)
{
    QPainter painter(&canvas.image);
    fw::Graphics g(&painter, canvas.image.width(), canvas.image.height());
    g.DrawPicture(
        picture, to.x(), to.y(), to.width(), to.height(), from.x(), from.y(), from.width(), from.height());
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct DrawCase {
    const char* label;
    QRectF to, from;
    const char* row0;
    const char* row1;
};
void PrintTo(const DrawCase& c, std::ostream* os)
{
    *os << c.label;
}

class DrawPicture : public ::testing::TestWithParam<DrawCase> { };

TEST_P(DrawPicture, DrawsOnlyThePartOfTheSourceThatLiesOnThePicture)
{
    const DrawCase& c = GetParam();
    const auto picture = Open(Letters());
    ASSERT_TRUE(picture);
    Canvas canvas;
    Draw(canvas, picture, c.to, c.from);
    EXPECT_EQ(canvas.Row(0), c.row0);
    EXPECT_EQ(canvas.Row(1), c.row1);
}

INSTANTIATE_TEST_SUITE_P(Cases, DrawPicture,
    ::testing::Values(DrawCase { "Whole", { 1, 0, 4, 2 }, { 0, 0, 4, 2 }, ".abcd.", ".efgh." },
        DrawCase { "OnePixel", { 5, 1, 1, 1 }, { 2, 1, 1, 1 }, "......", ".....g" },
        DrawCase { "BeyondTheRightEdge", { 0, 0, 4, 2 }, { 2, 0, 4, 2 }, "cd....", "gh...." },
        DrawCase { "BeforeTheLeftEdge", { 0, 0, 4, 2 }, { -2, 0, 4, 2 }, "..ab..", "..ef.." },
        // '?': one pixel that blends all eight.
        DrawCase { "ShrunkBeyondTheRightEdge", { 0, 0, 2, 1 }, { 0, 0, 8, 2 }, "?.....", "......" },
        DrawCase { "BelowTheBottom", { 0, 0, 4, 2 }, { 0, 1, 4, 2 }, "efgh..", "......" },
        DrawCase { "WhollyOutside", { 0, 0, 4, 2 }, { 4, 0, 4, 2 }, "......", "......" },
        DrawCase { "EmptySource", { 0, 0, 4, 2 }, { 0, 0, 0, 2 }, "......", "......" },
        DrawCase { "NegativeDestination", { 4, 0, -4, 2 }, { 0, 0, 4, 2 }, "......", "......" },
        DrawCase { "NotANumber", { 0, 0, 4, 2 }, { nan, 0, 4, 2 }, "......", "......" }),
    [](const auto& row) { return std::string(row.param.label); });

TEST(DrawPictureScaling, ShrinkingAveragesEveryPixelOfTheSource)
{
    // One lit column in every eight: a filter that samples only near each target
    // pixel's centre misses it and draws black, or draws it at full strength.
    QImage columns(64, 8, QImage::Format_RGB32);
    columns.fill(Qt::black);
    for (int x = 0; x < 64; x += 8)
        for (int y = 0; y < 8; ++y)
            columns.setPixel(x, y, qRgb(255, 255, 255));
    const auto picture = Open(columns);
    ASSERT_TRUE(picture);

    Canvas canvas;
    Draw(canvas, picture, { 0, 0, 6, 2 }, { 0, 0, 48, 8 });
    for (int x = 0; x < 6; ++x)
        for (int y = 0; y < 2; ++y)
            EXPECT_NEAR(qGreen(canvas.image.pixel(x, y)), 255 / 8, 4) << x << "," << y;
}

TEST(DrawPictureScaling, EnlargingFillsTheWholeDestination)
{
    const auto picture = Open(Letters());
    ASSERT_TRUE(picture);
    QImage target(12, 6, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::transparent);
    QPainter painter(&target);
    fw::Graphics g(&painter, 12, 6);
    g.DrawPicture(picture, 2, 1, 8, 4, 0, 0, 4, 2);
    painter.end();
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 12; ++x)
            EXPECT_EQ(qAlpha(target.pixel(x, y)), (x >= 2 && x < 10 && y >= 1 && y < 5) ? 255 : 0)
                << x << "," << y;
    EXPECT_EQ(target.pixel(2, 1), Colour('a')) << "the corners keep their colours";
    EXPECT_EQ(target.pixel(9, 4), Colour('h'));
}

TEST(DrawPictureScaling, ANilPictureRaisesNilObjectException)
{
    Canvas canvas;
    EXPECT_THROW(
        Draw(canvas, fw::Ref<fw::Picture>(), { 0, 0, 4, 2 }, { 0, 0, 4, 2 }), fw::NilObjectException);
}

} // namespace
