// Pictures opened from the Resources folder, and Graphics::DrawPicture on a QPainter.
#include "framework/drawing.h"
#include "tests/resources_folder.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QTransform>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <sys/stat.h>
#include <utility>

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
fw::Ref<fw::Picture> Open(const QImage& image, const char* format = "png")
{
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');
    name = name + "." + format;
    fs::create_directories(ResourcesFolder());
    EXPECT_TRUE(image.save(QString::fromStdString((ResourcesFolder() / name).string()), format, 90));
    return fw::Picture::OpenFromApp(fw::String(name));
}

struct OpenCase {
    const char* label;
    std::function<void()> prepare;
    const char* name;
    bool opens;
    QSize size { 4, 2 };
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
        EXPECT_EQ(picture->Width(), c.size.width());
        EXPECT_EQ(picture->Height(), c.size.height());
    }
}

void Save(const char* name, const char* format)
{
    fs::create_directories(ResourcesFolder());
    ASSERT_TRUE(Letters().save(QString::fromStdString((ResourcesFolder() / name).string()), format));
}

// Detail everywhere, so that damage anywhere in its JPEG shows, and every cell differs.
QImage Detailed(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 7 + y * 3) % 256, (x * x + y * 5) % 256, (x * y) % 256));
    return image;
}

std::string JpegBytes(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "JPEG", 90));
    return bytes.toStdString();
}

std::string Truncate(std::string bytes)
{
    return bytes.substr(0, bytes.size() / 2);
}

std::string AddNoise(std::string bytes)
{
    std::mt19937 random(7);
    for (std::size_t i = bytes.size() / 3; i < 2 * bytes.size() / 3; ++i)
        bytes[i] = static_cast<char>(random());
    return bytes;
}

// The frame header says 20000 x 20000 pixels.
std::string ClaimTooManyPixels(std::string bytes)
{
    const std::size_t frame = bytes.find("\xFF\xC0", 2, 2);
    EXPECT_NE(frame, std::string::npos);
    for (std::size_t i : { frame + 5, frame + 7 }) {
        bytes[i] = static_cast<char>(20000 >> 8);
        bytes[i + 1] = static_cast<char>(20000 & 0xFF);
    }
    return bytes;
}

void DamageJpeg(const char* name, std::string (*damage)(std::string))
{
    WriteFile(ResourcesFolder() / name, damage(JpegBytes(Detailed(256, 128))));
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
        // Nothing writes to it: opening it to read would wait for good.
        OpenCase { "Fifo",
            [] {
                fs::create_directories(ResourcesFolder());
                fs::remove(ResourcesFolder() / "open-fifo.jpg");
                ASSERT_EQ(::mkfifo((ResourcesFolder() / "open-fifo.jpg").c_str(), 0600), 0);
            },
            "open-fifo.jpg", false },
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
        OpenCase { "EmptyName", [] {}, "", false },
        OpenCase { "TruncatedJpeg", [] { DamageJpeg("open-truncated.jpg", Truncate); }, "open-truncated.jpg",
            true, { 256, 128 } },
        OpenCase { "JpegWithNoise", [] { DamageJpeg("open-noise.jpg", AddNoise); }, "open-noise.jpg", false },
        // Decoded whole it would pass the reader's allocation limit, as its pixels never could.
        OpenCase { "JpegClaimingTooManyPixels", [] { DamageJpeg("open-huge.jpg", ClaimTooManyPixels); },
            "open-huge.jpg", false }),
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

class ShrinkingAverages : public ::testing::TestWithParam<const char*> { };

TEST_P(ShrinkingAverages, EveryPixelOfTheSource)
{
    // One lit column in every eight: a filter that samples only near each target
    // pixel's centre misses it and draws black, or draws it at full strength. A JPEG
    // is shrunk by four in its decoder first, which must keep the columns' share.
    QImage columns(64, 8, QImage::Format_RGB32);
    columns.fill(Qt::black);
    for (int x = 0; x < 64; x += 8)
        for (int y = 0; y < 8; ++y)
            columns.setPixel(x, y, qRgb(255, 255, 255));
    const auto picture = Open(columns, GetParam());
    ASSERT_TRUE(picture);

    Canvas canvas;
    Draw(canvas, picture, { 0, 0, 6, 2 }, { 0, 0, 48, 8 });
    for (int x = 0; x < 6; ++x)
        for (int y = 0; y < 2; ++y)
            EXPECT_NEAR(qGreen(canvas.image.pixel(x, y)), 255 / 8, 4) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Formats, ShrinkingAverages, ::testing::Values("png", "jpg"),
    [](const auto& row) { return std::string(row.param); });

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

// ---- Drawn as the whole picture would draw ----------------------------------------

// The reference: the picture decoded whole, and drawn from it shrunk with
// averaging when the source is whole pixels and the painter only scales, else drawn
// by the painter's smooth filter.
void DrawWhole(QPainter& painter, const QImage& image, const QRectF& to, const QRectF& from)
{
    const QRectF inside = from & QRectF(image.rect());
    if (inside.isEmpty())
        return;
    const double sx = to.width() / from.width(), sy = to.height() / from.height();
    const QRectF target(to.left() + (inside.left() - from.left()) * sx,
        to.top() + (inside.top() - from.top()) * sy, inside.width() * sx, inside.height() * sy);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QTransform& device = painter.deviceTransform();
    const QRect pixels = inside.toAlignedRect();
    const QSizeF onDevice = device.mapRect(target).size();
    const QSize shrunk(std::max(1, qRound(onDevice.width())), std::max(1, qRound(onDevice.height())));
    if (QRectF(pixels) == inside && device.type() <= QTransform::TxScale
        && (shrunk.width() < pixels.width() || shrunk.height() < pixels.height()))
        painter.drawImage(
            target, image.copy(pixels).scaled(shrunk, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    else
        painter.drawImage(target, image, inside);
    painter.restore();
}

// How far a drawing is from the reference, channel by channel over every pixel.
struct Difference {
    int largest = 0;
    double mean = 0;
};
Difference Compare(const QImage& drawn, const QImage& expected)
{
    Difference d;
    double sum = 0;
    int drawnOn = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x) {
            const QRgb a = drawn.pixel(x, y), b = expected.pixel(x, y);
            if (qAlpha(a) == 0 && qAlpha(b) == 0)
                continue;
            ++drawnOn;
            for (int c :
                { qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b), qAlpha(a) - qAlpha(b) }) {
                d.largest = std::max(d.largest, std::abs(c));
                sum += std::abs(c);
            }
        }
    // Over the pixels drawn on, where the reference or the drawing shows something.
    d.mean = drawnOn == 0 ? 0 : sum / (4.0 * drawnOn);
    return d;
}

struct WholeCase {
    const char* label;
    const char* format;
    QTransform painter;
    QRectF to, from;
};
void PrintTo(const WholeCase& c, std::ostream* os)
{
    *os << c.label;
}

class DrawnAsWhole : public ::testing::TestWithParam<WholeCase> { };

QImage Blank()
{
    QImage image(96, 96, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// The same draw through the layer and through the whole decoded picture.
std::pair<QImage, QImage> DrawnBothWays(const fw::Ref<fw::Picture>& picture, const QImage& whole,
    const QTransform& transform, const QRectF& to, const QRectF& from)
{
    QImage drawn = Blank(), expected = Blank();
    {
        QPainter painter(&drawn);
        painter.setTransform(transform);
        fw::Graphics g(&painter, drawn.width(), drawn.height());
        g.DrawPicture(picture, to.x(), to.y(), to.width(), to.height(), from.x(), from.y(), from.width(),
            from.height());
    }
    {
        QPainter painter(&expected);
        painter.setTransform(transform);
        DrawWhole(painter, whole, to, from);
    }
    return { drawn, expected };
}

TEST_P(DrawnAsWhole, EveryPixelIsAsTheWholePictureDrawsIt)
{
    const WholeCase& c = GetParam();
    const std::string name = std::string("whole-") + c.label + "." + c.format;
    fs::create_directories(ResourcesFolder());
    const QString path = QString::fromStdString((ResourcesFolder() / name).string());
    ASSERT_TRUE(Detailed(240, 120).save(path, c.format, 90));
    const QImage whole(path);
    const auto picture = fw::Picture::OpenFromApp(fw::String(name));
    ASSERT_TRUE(picture);

    const auto [drawn, expected] = DrawnBothWays(picture, whole, c.painter, c.to, c.from);
    EXPECT_EQ(Compare(drawn, expected).largest, 0);
    EXPECT_NE(drawn, Blank()) << "something is drawn";
}

INSTANTIATE_TEST_SUITE_P(Cases, DrawnAsWhole,
    ::testing::Values(WholeCase { "ACellShrunk", "jpg", {}, { 3, 2, 25, 41 }, { 48, 0, 48, 80 } },
        WholeCase { "ACellShrunkAsPng", "png", {}, { 3, 2, 25, 41 }, { 48, 0, 48, 80 } },
        WholeCase { "ShrunkOnAScaledPainter", "jpg", QTransform::fromScale(2, 1.5), { 1, 1, 25, 41 },
            { 48, 0, 48, 80 } },
        WholeCase { "ShrunkPartlyBeyondTheEdges", "jpg", {}, { 0, 0, 60, 30 }, { 200, 100, 80, 40 } },
        WholeCase { "EnlargedFromFractionalPixels", "jpg", {}, { 2, 3, 70, 50 }, { 100.5, 20.25, 14, 10 } },
        WholeCase { "EnlargedAsPng", "png", {}, { 2, 3, 70, 50 }, { 100.5, 20.25, 14, 10 } },
        WholeCase { "FractionalPixelsShrunk", "jpg", {}, { 5, 5, 20, 20 }, { 30.5, 10.5, 60, 60 } },
        WholeCase { "Rotated", "jpg", QTransform().translate(48, 0).rotate(30), { 0, 0, 40, 30 },
            { 50, 20, 80, 60 } },
        WholeCase { "Unscaled", "jpg", {}, { 7, 9, 40, 30 }, { 150, 70, 40, 30 } }),
    [](const auto& row) { return std::string(row.param.label); });

// ---- Shrunk by the decoder ----------------------------------------------------------

// Soft colours in a chequer of 16-pixel tiles with a one-pixel checkerboard in every
// other tile, on a picture whose sides are no multiple of eight. Shrunk by the JPEG
// decoder and then averaged, it draws close to the averaging of the whole pixels;
// drawn from the wrong place, at the wrong scale or without averaging (which shows
// the checkerboard's black or white, not its grey), it does not.
QImage Checkered(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int r = 128 + int(100 * std::sin(x / 9.0) * std::cos(y / 13.0));
            const int g = 128 + int(100 * std::sin((x + 2 * y) / 17.0));
            const int b = x * 255 / width;
            const int fine = (x + y) % 2 == 0 ? 240 : 20;
            image.setPixel(x, y, (x / 16 + y / 16) % 2 == 1 ? qRgb(fine, fine, fine) : qRgb(r, g, b));
        }
    return image;
}

struct DecoderCase {
    const char* label;
    bool grey;
    QTransform painter;
    QRectF to, from;
    // Just above what the decoder's shrinking was measured to change: the channel
    // that moved most, and the mean over the pixels drawn on.
    int largest;
    double mean;
};
void PrintTo(const DecoderCase& c, std::ostream* os)
{
    *os << c.label;
}

class ShrunkByTheDecoder : public ::testing::TestWithParam<DecoderCase> { };

TEST_P(ShrunkByTheDecoder, DrawsCloseToTheAveragedWholePicture)
{
    const DecoderCase& c = GetParam();
    const std::string name = std::string("decoder-") + c.label + ".jpg";
    fs::create_directories(ResourcesFolder());
    const QString path = QString::fromStdString((ResourcesFolder() / name).string());
    QImage source = Checkered(243, 163);
    if (c.grey)
        source = source.convertToFormat(QImage::Format_Grayscale8);
    ASSERT_TRUE(source.save(path, "JPEG", 90));
    const QImage whole(path);
    ASSERT_EQ(whole.isGrayscale(), c.grey);
    const auto picture = fw::Picture::OpenFromApp(fw::String(name));
    ASSERT_TRUE(picture);

    const auto [drawn, expected] = DrawnBothWays(picture, whole, c.painter, c.to, c.from);
    const Difference d = Compare(drawn, expected);
    EXPECT_LE(d.largest, c.largest);
    EXPECT_LE(d.mean, c.mean);
    EXPECT_NE(drawn, Blank()) << "something is drawn";
}

INSTANTIATE_TEST_SUITE_P(Cases, ShrunkByTheDecoder,
    ::testing::Values(
        // Averaged by three, the reference itself keeps some of the checkerboard, which the decoder drops.
        DecoderCase { "ByTwoFromTheMiddle", false, {}, { 10, 10, 30, 20 }, { 61, 37, 90, 60 }, 24, 6.0 },
        DecoderCase { "ByFour", false, {}, { 3, 2, 20, 30 }, { 84, 0, 84, 137 }, 12, 1.4 },
        DecoderCase {
            "ByFourFromUnalignedPixels", false, {}, { 10, 10, 20, 25 }, { 61, 37, 90, 118 }, 10, 1.6 },
        DecoderCase { "ByEight", false, {}, { 5, 5, 20, 15 }, { 40, 30, 170, 125 }, 12, 1.9 },
        DecoderCase { "ToTheFarEdges", false, {}, { 0, 0, 16, 16 }, { 163, 83, 80, 80 }, 14, 2.7 },
        DecoderCase { "PartlyBeyondTheEdges", false, {}, { 0, 0, 40, 40 }, { 200, 120, 100, 100 }, 20, 2.2 },
        DecoderCase { "OnAScaledPainter", false, QTransform::fromScale(2, 2), { 1, 1, 20, 20 },
            { 0, 0, 200, 160 }, 16, 1.7 },
        DecoderCase { "Grey", true, {}, { 3, 2, 20, 30 }, { 84, 0, 84, 137 }, 8, 1.2 }),
    [](const auto& row) { return std::string(row.param.label); });

// ---- Reusing what was shrunk --------------------------------------------------------

QImage DrawCell(const fw::Ref<fw::Picture>& picture, int cell, double scale = 1)
{
    QImage image = Blank();
    QPainter painter(&image);
    painter.scale(scale, scale);
    fw::Graphics g(&painter, image.width(), image.height());
    g.DrawPicture(picture, 0, 0, 20, 30, cell * 60.0, 0, 60, 120);
    return image;
}

TEST(DrawPictureReuse, ARepaintAtAnUnchangedSizeDrawsWhatWasShrunkBeforeAndAnotherSizeShrinksAgain)
{
    const auto picture = Open(Detailed(240, 120));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Decodes(), 0) << "opening decodes nothing for drawing";

    const QImage first = DrawCell(picture, 1);
    EXPECT_EQ(picture->Decodes(), 1);
    EXPECT_EQ(DrawCell(picture, 1), first);
    EXPECT_EQ(DrawCell(picture, 1), first);
    EXPECT_EQ(picture->Decodes(), 1) << "repaints at the same size decode nothing";

    const QImage other = DrawCell(picture, 2);
    EXPECT_NE(other, first);
    EXPECT_EQ(picture->Decodes(), 2) << "another cell is decoded";
    EXPECT_EQ(DrawCell(picture, 1), first);
    EXPECT_EQ(DrawCell(picture, 2), other);
    EXPECT_EQ(picture->Decodes(), 2) << "both cells are kept";

    // On a screen of twice the density the cell is shrunk to twice the pixels.
    const QImage dense = DrawCell(picture, 1, 2);
    EXPECT_EQ(picture->Decodes(), 3);
    QImage expected = Blank();
    {
        QPainter painter(&expected);
        painter.scale(2, 2);
        DrawWhole(painter, Detailed(240, 120), { 0, 0, 20, 30 }, { 60, 0, 60, 120 });
    }
    EXPECT_EQ(dense, expected);
}

} // namespace
