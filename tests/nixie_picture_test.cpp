// The digit picture missing, unreadable, then put in place: the tubes draw nothing
// and tell nobody until it opens, and keep it from then on. One test, because every
// case of a suite shares the suite's Resources folder and ctest runs cases side by side.
#include "nixie/nixie_canvas.h"
#include "tests/resources_folder.h"
#include "tests/window_fixture.h"

#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

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

} // namespace
