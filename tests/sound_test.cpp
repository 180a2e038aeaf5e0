// Folders and sounds: the program's Resources folder, opening WAV files, and
// playing them on a real SDL device (the disk driver, which writes its output to
// a file) or on none at all. The device opens once per process, so each case that
// opens it does so in a process of its own.
#include "framework/sound.h"
#include "tests/child_process.h"
#include "tests/disk_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using testing_support::DiskAudio;
using testing_support::InFreshProcess;

// The device opens in the background; this is only a guard against one that never settles.
constexpr int deviceWaitMs = 20000;

// A 10 ms tone at 30% of full scale: shorter than one device buffer, so two
// starts in different buffers never overlap.
std::vector<std::int16_t> Tone()
{
    std::vector<std::int16_t> samples(441);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(std::lround(
            0.3 * 32767 * std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(i) / 44100.0)));
    return samples;
}

// A folder of this process's own, gone after the test.
class TempFolder {
public:
    TempFolder()
        : path_(fs::temp_directory_path() / ("vantrope-sound-" + std::to_string(getpid())))
    {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& Path() const { return path_; }
    fw::Ref<fw::FolderItem> Item() const { return fw::New<fw::FolderItem>(path_.string()); }

private:
    fs::path path_;
};

TEST(BundleResources, NilWithoutTheFolderThenTheFolderWithItsChildren)
{
    const fs::path resources = testing_support::OwnResourcesFolder();
    fs::remove_all(resources);
    EXPECT_TRUE(fw::GetApplicationBundleResources().IsNil());

    fs::create_directories(resources);
    auto folder = fw::GetApplicationBundleResources();
    ASSERT_FALSE(folder.IsNil());
    EXPECT_EQ(folder->NativePath(), resources.string());
    auto child = folder->Child("Click3.wav");
    ASSERT_FALSE(child.IsNil()) << "a child need not exist yet";
    EXPECT_EQ(child->NativePath(), (resources / "Click3.wav").string());
    EXPECT_TRUE(child->OpenAsSound().IsNil());
    for (const char* name : { "", ".", "..", "../Click3.wav", "sub/Click3.wav" })
        EXPECT_TRUE(folder->Child(name).IsNil()) << '"' << name << '"';
    fs::remove_all(resources);
}

struct BadFile {
    const char* label;
    // Makes the item at the path, or leaves it missing.
    void (*make)(const fs::path& path);
};
void PrintTo(const BadFile& row, std::ostream* os)
{
    *os << row.label;
}

class OpenAsSoundBadFile : public ::testing::TestWithParam<BadFile> { };

TEST_P(OpenAsSoundBadFile, GivesNilWithoutRaising)
{
    TempFolder folder;
    testing_support::WriteWave(folder.Path() / "good.wav", Tone());
    GetParam().make(folder.Path() / "bad.wav");
    InFreshProcess([&] {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        // The device is open and a good file plays, so nil below is the file's doing.
        ASSERT_FALSE(folder.Item()->Child("good.wav")->OpenAsSound().IsNil());
        ASSERT_TRUE(fw::AudioDeviceOpened(deviceWaitMs));
        fw::Ref<fw::Sound> sound;
        EXPECT_NO_THROW(sound = folder.Item()->Child("bad.wav")->OpenAsSound());
        EXPECT_TRUE(sound.IsNil());
    });
}

void Truncate(const fs::path& path, std::uintmax_t keep)
{
    testing_support::WriteWave(path, Tone());
    fs::resize_file(path, keep);
}

INSTANTIATE_TEST_SUITE_P(Files, OpenAsSoundBadFile,
    ::testing::Values(BadFile { "Missing", [](const fs::path&) {} },
        BadFile { "Empty", [](const fs::path& p) { std::ofstream { p }; } },
        BadFile { "NotAWave", [](const fs::path& p) { std::ofstream { p } << "Geiger counter\n"; } },
        BadFile { "TruncatedHeader", [](const fs::path& p) { Truncate(p, 30); } },
        BadFile { "TruncatedSamples", [](const fs::path& p) { Truncate(p, 44 + 400); } },
        BadFile { "Directory", [](const fs::path& p) { fs::create_directory(p); } },
        // Opening a FIFO would wait for a writer that never comes.
        BadFile { "Fifo", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); } }),
    [](const auto& row) { return std::string(row.param.label); });

TEST(NoAudioDevice, EverySoundIsNil)
{
    TempFolder folder;
    testing_support::WriteWave(folder.Path() / "good.wav", Tone());
    InFreshProcess([&] {
        setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
        // The first sound asks for the device and does not wait for it: a sound it
        // gives stays silent.
        fw::Ref<fw::Sound> first = folder.Item()->Child("good.wav")->OpenAsSound();
        EXPECT_FALSE(fw::AudioDeviceOpened(deviceWaitMs));
        if (first) {
            EXPECT_NO_THROW(first->Play());
        }
        EXPECT_TRUE(folder.Item()->Child("good.wav")->OpenAsSound().IsNil());
        EXPECT_TRUE(folder.Item()->Child("good.wav")->OpenAsSound().IsNil());
    });
}

TEST(AudioDevice, OpeningItLeavesSigtermAndSigintAlone)
{
    TempFolder folder;
    testing_support::WriteWave(folder.Path() / "good.wav", Tone());
    InFreshProcess([&] {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        // SDL's own variable asks for its handlers; the framework overrides it.
        setenv("SDL_NO_SIGNAL_HANDLERS", "0", 1);
        struct sigaction termBefore {
        }, intBefore {}, termAfter {}, intAfter {};
        sigaction(SIGTERM, nullptr, &termBefore);
        sigaction(SIGINT, nullptr, &intBefore);

        ASSERT_FALSE(folder.Item()->Child("good.wav")->OpenAsSound().IsNil());
        ASSERT_TRUE(fw::AudioDeviceOpened(deviceWaitMs)) << "the device must be open";

        sigaction(SIGTERM, nullptr, &termAfter);
        sigaction(SIGINT, nullptr, &intAfter);
        EXPECT_EQ(termAfter.sa_handler, termBefore.sa_handler);
        EXPECT_EQ(intAfter.sa_handler, intBefore.sa_handler);
    });
}

class Playing : public ::testing::Test {
protected:
    void SetUp() override { testing_support::WriteWave(folder.Path() / "tone.wav", Tone()); }

    // Runs `body` in the case's own process, with the tone opened on the disk device.
    void WithTone(const std::function<void(fw::Ref<fw::Sound>&)>& body)
    {
        InFreshProcess([&] {
            fw::Ref<fw::Sound> sound = folder.Item()->Child("tone.wav")->OpenAsSound();
            ASSERT_FALSE(sound.IsNil());
            ASSERT_TRUE(fw::AudioDeviceOpened(deviceWaitMs));
            body(sound);
        });
    }

    DiskAudio audio;
    TempFolder folder;
};

TEST_F(Playing, PutsTheSoundsSamplesIntoTheOutput)
{
    WithTone([&](fw::Ref<fw::Sound>& sound) {
        const auto heard = audio.Listen([&] { sound->Play(); });
        ASSERT_FALSE(heard.empty());
        int peak = 0;
        for (std::int16_t s : heard)
            peak = std::max(peak, std::abs(int { s }));
        EXPECT_NEAR(peak, 0.3 * 32767, 0.02 * 32767);
        EXPECT_EQ(testing_support::CountClicks(heard), 1);
    });
}

TEST_F(Playing, ASecondPlayWhileTheFirstGoesOnAddsACopy)
{
    WithTone([&](fw::Ref<fw::Sound>& sound) {
        const double once = testing_support::Loudness(audio.Listen([&] { sound->Play(); }));
        ASSERT_GT(once, 0);
        const double twice = testing_support::Loudness(audio.Listen([&] {
            sound->Play();
            sound->Play();
        }));
        EXPECT_NEAR(twice / once, 2.0, 0.05);
    });
}

} // namespace
