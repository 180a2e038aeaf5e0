// The click for a tick: the sound its count selects, each file tried once per
// run, and heard through SDL's disk driver. Every case runs in a process of its
// own (the five sounds and the audio device are once per run) and finds all five
// files in its Resources folder; the suite's cases run one at a time because some
// take files away.
#include "framework/sound.h"
#include "monitor/click_sounds.h"
#include "tests/child_process.h"
#include "tests/disk_audio.h"
#include "tests/window_fixture.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

namespace {

namespace fs = std::filesystem;
using testing_support::CountClicks;
using testing_support::DiskAudio;
using testing_support::InFreshProcess;
using testing_support::Loudness;

const char* const soundFiles[] = { "Click1a.wav", "Click2.wav", "Click3.wav", "Click4.wav", "Click5.wav" };

class ClickSounds : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(resources);
        for (const char* name : soundFiles)
            fs::copy_file(fs::path(VANTROPE_PROGRAM_RESOURCES) / name, resources / name,
                fs::copy_options::overwrite_existing);
        window = testing_support::MakeWindow();
    }

    // Opens the device and waits for it, without loading a click: a click played
    // while the device is still opening is silent.
    void OpenTheDevice()
    {
        fw::New<fw::FolderItem>((resources / soundFiles[0]).string())->OpenAsSound();
        ASSERT_TRUE(fw::AudioDeviceOpened(20000));
    }

    // What the window plays for the count.
    std::vector<std::int16_t> Hear(fw::Integer count)
    {
        return audio.Listen([&] { window->PlayClickSound(count); });
    }

    DiskAudio audio;
    const fs::path resources = testing_support::OwnResourcesFolder();
    fw::Ref<class Window1> window;
};

struct Choice {
    const char* label;
    fw::Integer count;
    int clicks; // what the chosen file holds: n clicks for n pulses, five for five or more
    fw::Ref<fw::Sound> (*sound)(); // the accessor of the sound it plays; none for no click
};
void PrintTo(const Choice& row, std::ostream* os)
{
    *os << row.label;
}

class ClickChoice : public ClickSounds, public ::testing::WithParamInterface<Choice> { };

TEST_P(ClickChoice, CountSelectsOneSoundAndPlaysItOnce)
{
    const Choice& c = GetParam();
    InFreshProcess([&] {
        OpenTheDevice();
        const auto heard = Hear(c.count);
        EXPECT_EQ(CountClicks(heard), c.clicks);
        if (c.sound) {
            // Two starts of it in the one tick would click as often, but twice as loud.
            const fw::Ref<fw::Sound> sound = c.sound();
            ASSERT_TRUE(sound);
            const double once = Loudness(audio.Listen([&] { sound->Play(); }));
            ASSERT_GT(once, 0);
            EXPECT_NEAR(Loudness(heard) / once, 1.0, 0.05) << "the tick's sound, played once";
        } else {
            // Had that call loaded a sound, it would still play with its file gone.
            for (const char* name : soundFiles)
                fs::remove(resources / name);
            for (fw::Integer count = 1; count <= 5; ++count)
                EXPECT_EQ(CountClicks(Hear(count)), 0) << "count " << count;
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Counts, ClickChoice,
    ::testing::Values(Choice { "Zero", 0, 0, nullptr }, Choice { "MinusOne", -1, 0, nullptr },
        Choice { "Lowest", LLONG_MIN, 0, nullptr }, Choice { "One", 1, 1, Click1a },
        Choice { "Two", 2, 2, Click2 }, Choice { "Three", 3, 3, Click3 }, Choice { "Four", 4, 4, Click4 },
        Choice { "Five", 5, 5, Click5 }, Choice { "Six", 6, 5, Click5 },
        Choice { "Highest", LLONG_MAX, 5, Click5 }),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(ClickSounds, AMissingFileIsSilentForTheWholeRunWhileTheOthersClick)
{
    InFreshProcess([&] {
        OpenTheDevice();
        fs::remove(resources / "Click3.wav");
        EXPECT_EQ(CountClicks(Hear(3)), 0);
        for (fw::Integer count : { 1, 2, 4, 5 })
            EXPECT_EQ(CountClicks(Hear(count)), count);

        fs::copy_file(fs::path(VANTROPE_PROGRAM_RESOURCES) / "Click3.wav", resources / "Click3.wav");
        EXPECT_EQ(CountClicks(Hear(3)), 0) << "the file is not tried again";
        EXPECT_TRUE(Click3().IsNil());
    });
}

TEST_F(ClickSounds, TheSameCountAgainPlaysTheSameSoundAgain)
{
    InFreshProcess([&] {
        OpenTheDevice();
        for (int tick = 0; tick < 3; ++tick)
            EXPECT_EQ(CountClicks(Hear(2)), 2) << "tick " << tick;
    });
}

TEST_F(ClickSounds, WithoutAnAudioDeviceTheSoundsAreNilAndTheCountingGoesOn)
{
    InFreshProcess([&] {
        setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
        auto popup = window->serialPopup();
        popup->DeleteAllRows();
        popup->AddRow("None");
        popup->AddRow("ttyTEST0");
        auto serial = fw::New<testing_support::FeedSerial>();
        window->Serial1 = serial;
        window->ourSerialPort = 0;
        window->ignoreCountsTimer = 0;
        window->tempCountsSum = 0;
        window->CheckBoxClicks()->SetValue(true);

        for (int pulses = 0; pulses <= 6; ++pulses) {
            serial->Feed(std::string(static_cast<std::size_t>(pulses), 'x'));
            EXPECT_NO_THROW(window->Timer2_Action(nullptr));
            if (pulses == 1) { // the first click asked for the device, which then fails
                EXPECT_FALSE(fw::AudioDeviceOpened(20000));
            }
        }
        EXPECT_EQ(window->tempCountsSum, 21);
        // The first sound came while the device was still opening, and stays silent.
        for (auto accessor : { Click2, Click3, Click4, Click5 })
            EXPECT_TRUE(accessor().IsNil());
    });
}

} // namespace
