// Drills on the whole program with Clicks ticked while a service that the audio
// device needs is wedged. Each run is a child process started through the entry
// point's own path, with a pseudo-terminal as the system's only port, and it ends
// as the program does, through the process's exit and its static destructors: the
// window must count and paint while the device waits, and the quit must not wait.
#include "app/startup.h"
#include "framework/application.h"
#include "framework/msgbox.h"
#include "framework/sound.h"
#include "monitor/window1.h"
#include "tests/child_process.h"
#include "tests/drill_watch.h"
#include "tests/pty_helper.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

namespace {

namespace fs = std::filesystem;
using testing_support::ChildRun;
using testing_support::Counted;
using testing_support::Fact;
using testing_support::FullBus;
using testing_support::PaintWatch;
using testing_support::PrivateBus;
using testing_support::PumpUntil;
using testing_support::RunChild;
using testing_support::SilentBus;
using testing_support::ThreadsWaitingIn;

using testing_support::childArgc;
using testing_support::childArgv;

// Long enough for any healthy run on a loaded machine; only a fault reaches it.
constexpr int patience = 30000;
constexpr fw::Integer pulses = 300;
const std::string nowhere = "unix:path=/nonexistent/vantrope-test-bus";

long long MonotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int Occurrences(const std::string& text, const std::string& word)
{
    int n = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

// A FIFO in place of the sound server's socket, opened by a reader that never reads:
// once the pipe is full, SDL's audio thread waits in its write for good.
class StuckSink {
public:
    StuckSink()
        : dir_(fs::temp_directory_path() / ("vantrope-sink-" + std::to_string(::getpid())))
    {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        if (::mkfifo(Path().c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo failed");
        reader_ = ::open(Path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    ~StuckSink()
    {
        ::close(reader_);
        fs::remove_all(dir_);
    }
    StuckSink(const StuckSink&) = delete;
    StuckSink& operator=(const StuckSink&) = delete;
    std::string Path() const { return (dir_ / "sink").string(); }
    // True once the pipe holds about all it can (64 KiB).
    bool Full() const
    {
        int queued = 0;
        return ::ioctl(reader_, FIONREAD, &queued) == 0 && queued >= 60 * 1024;
    }

private:
    fs::path dir_;
    int reader_ = -1;
};

enum class Wedge { SilentSystemBus, FullSystemBus, StuckSink };

struct ClickDrill {
    const char* label;
    Wedge wedge;
    const char* deviceOpen; // whether the device had opened by the quit
};
void PrintTo(const ClickDrill& d, std::ostream* os)
{
    *os << d.label;
}

class ClicksWhile : public ::testing::TestWithParam<ClickDrill> { };

TEST_P(ClicksWhile, TheWindowCountsAndPaintsAndTheQuitDoesNotWait)
{
    const ClickDrill& d = GetParam();
    std::unique_ptr<PrivateBus> session;
    std::unique_ptr<SilentBus> silent;
    std::unique_ptr<FullBus> full;
    std::unique_ptr<StuckSink> sink;
    std::string sessionAddress = nowhere, systemAddress = nowhere;
    switch (d.wedge) {
    case Wedge::SilentSystemBus:
        session = std::make_unique<PrivateBus>();
        silent = std::make_unique<SilentBus>();
        sessionAddress = session->Address();
        systemAddress = silent->Address();
        break;
    case Wedge::FullSystemBus:
        session = std::make_unique<PrivateBus>();
        full = std::make_unique<FullBus>();
        sessionAddress = session->Address();
        systemAddress = full->Address();
        break;
    case Wedge::StuckSink:
        sink = std::make_unique<StuckSink>();
        break;
    }
    // SDL's start reaches the system bus only through a session bus: the wedge is
    // there once both the inhibitor's call and SDL wait on it, or the pipe is full.
    auto wedged = [&] {
        switch (d.wedge) {
        case Wedge::SilentSystemBus:
            return Occurrences(silent->Log(), "accepted") >= 2;
        case Wedge::FullSystemBus:
            return ThreadsWaitingIn("unix_wait_for_peer") >= 2;
        case Wedge::StuckSink:
            return sink->Full();
        }
        return false;
    };

    ChildRun run = RunChild([&]() -> int {
        setenv("DBUS_SESSION_BUS_ADDRESS", sessionAddress.c_str(), 1);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", systemAddress.c_str(), 1);
        if (sink) {
            setenv("SDL_AUDIODRIVER", "disk", 1);
            setenv("SDL_DISKAUDIOFILE", sink->Path().c_str(), 1);
        } else {
            setenv("SDL_AUDIODRIVER", "dummy", 1);
        }
        fw::RuntimeInit(childArgc, childArgv);
        fw::SetMsgBoxHandler([](const fw::String& text) { Fact("box", text.ToStdString()); });
        testing_support::Pty pty;
        testing_support::ScopedPortList ports({ pty.Port() });
        PaintWatch paints;
        qApp->installEventFilter(&paints);

        QTimer::singleShot(0, [&] {
            auto w = Window1();
            w->serialPopup()->SetListIndex(1);
            w->CheckBoxClicks()->SetValue(true);
            if (!PumpUntil([&] { return w->ignoreCountsTimer == 0; }, patience))
                return fw::Quit(2);
            // The first click asks for the device.
            pty.Write("p");
            PumpUntil([&] { return Counted(*w) == 1; }, patience);
            Fact("wedged", PumpUntil(wedged, patience) ? "yes" : "no");
            const int paintsBefore = paints.paints;
            pty.Write(std::string(pulses, 'p'));
            PumpUntil([&] { return Counted(*w) == pulses + 1; }, patience);
            Fact("counted", Counted(*w) - 1);
            PumpUntil(
                [&] { return w->StaticCPM()->Text().ToStdString() == std::to_string(pulses + 1); }, patience);
            Fact("cpm", w->StaticCPM()->Text().ToStdString());
            Fact("painted", paints.paints > paintsBefore ? "yes" : "no");
            Fact("deviceOpen", fw::AudioDeviceOpened(0) ? "yes" : "no");
            Fact("quitAtNs", MonotonicNs());
            fw::Quit(0);
        });
        const int status = VantropeMain(childArgc, childArgv);
        std::fflush(stdout);
        // As main does when it returns: the static destructors run, the audio device's close among them.
        std::exit(status);
    });
    const long long endedNs = MonotonicNs();
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    const long long quitMs = (endedNs - std::stoll(run.Fact("quitAtNs"))) / 1000000;
    RecordProperty("quit_ms", std::to_string(quitMs));
    EXPECT_EQ(run.Fact("wedged"), "yes");
    EXPECT_EQ(run.Fact("counted"), std::to_string(pulses));
    EXPECT_EQ(run.Fact("cpm"), std::to_string(pulses + 1)) << "the primer and the pulses";
    EXPECT_EQ(run.Fact("painted"), "yes");
    EXPECT_EQ(run.Fact("deviceOpen"), d.deviceOpen);
    EXPECT_EQ(run.Fact("box"), "<unset>") << "nothing reported";
    EXPECT_EQ(run.err.find("Vantrope:"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Drills, ClicksWhile,
    ::testing::Values(
        // SDL's start waits on the system bus for good, holding libdbus's global bus
        // lock: the inhibitor's thread and Qt's own D-Bus thread wait on it at the end.
        ClickDrill { "ASessionBusAndASystemBusThatNeverAnswers", Wedge::SilentSystemBus, "no" },
        ClickDrill { "ASessionBusAndASystemBusWhoseListenQueueIsFull", Wedge::FullSystemBus, "no" },
        // The device opens and then stops taking samples; closing it joins SDL's audio thread.
        ClickDrill { "ASoundSinkThatStopsTakingSamples", Wedge::StuckSink, "yes" }),
    [](const auto& row) { return std::string(row.param.label); });

} // namespace
