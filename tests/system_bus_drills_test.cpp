// Drills on the whole program with a system bus that misbehaves, each run a child
// process started through the entry point's own path with a pseudo-terminal as the
// system's only port: the window must count while the Inhibit call is outstanding,
// take the inhibitor if it comes, and quit without waiting for the bus.
#include "app/app.h"
#include "app/startup.h"
#include "framework/application.h"
#include "framework/msgbox.h"
#include "monitor/window1.h"
#include "tests/child_process.h"
#include "tests/drill_watch.h"
#include "tests/pty_helper.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>

namespace {

using fw::Ref;
using testing_support::ChildRun;
using testing_support::Counted;
using testing_support::Fact;
using testing_support::FullBus;
using testing_support::Login1StandIn;
using testing_support::PaintWatch;
using testing_support::PrivateBus;
using testing_support::PumpUntil;
using testing_support::RunChild;
using testing_support::SilentBus;

using testing_support::childArgc;
using testing_support::childArgv;

// Long enough for any healthy run on a loaded machine; only a fault reaches it.
constexpr int patience = 30000;
constexpr fw::Integer pulses = 300;

bool IsPipe(int fd)
{
    struct stat st { };
    return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

bool Pending()
{
    Ref<class App> app = App();
    return app && app->SleepDisableHandle && app->SleepDisableHandle->Pending();
}

enum class Bus { Silent, Full, Logind };

struct BusDrill {
    const char* label;
    Bus bus;
    const char* logind; // the stand-in's mode
    bool busEndsMidCall; // the daemon goes away while Inhibit is outstanding
    const char* pendingWhileCounting;
    const char* inhibitor; // what the handle holds at the end: "pipe" or "none"
    const char* pendingAtQuit;
    const char* busLogAfter; // what the bus or logind log has once the program ended
};
void PrintTo(const BusDrill& d, std::ostream* os)
{
    *os << d.label;
}

class SystemBus : public ::testing::TestWithParam<BusDrill> { };

TEST_P(SystemBus, TheWindowCountsWhileTheCallIsOutstandingAndTheQuitDoesNotWait)
{
    const BusDrill& d = GetParam();
    std::unique_ptr<SilentBus> silent;
    std::unique_ptr<FullBus> full;
    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<Login1StandIn> logind;
    std::string address, log;
    switch (d.bus) {
    case Bus::Silent:
        silent = std::make_unique<SilentBus>();
        address = silent->Address();
        log = silent->LogPath();
        break;
    case Bus::Full:
        full = std::make_unique<FullBus>();
        address = full->Address();
        break;
    case Bus::Logind:
        bus = std::make_unique<PrivateBus>();
        logind = std::make_unique<Login1StandIn>(*bus, d.logind);
        address = bus->Address();
        log = logind->LogPath();
        break;
    }

    ChildRun run = RunChild([&] {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        fw::RuntimeInit(childArgc, childArgv);
        fw::SetMsgBoxHandler([](const fw::String& text) { Fact("box", text.ToStdString()); });
        testing_support::Pty pty;
        testing_support::ScopedPortList ports({ pty.Port() });
        PaintWatch paints;
        qApp->installEventFilter(&paints);
        const int threadsBefore = testing_support::Threads();
        static std::chrono::steady_clock::time_point quitAt;

        QTimer::singleShot(0, [&] {
            auto w = Window1();
            if (d.busEndsMidCall) {
                PumpUntil([&] { return testing_support::ReadFile(log).find("Inhibit") != std::string::npos; },
                    patience);
                bus->End();
                Fact("settledOnClose", PumpUntil([] { return !Pending(); }, patience) ? "yes" : "no");
            }
            w->serialPopup()->SetListIndex(1);
            if (!PumpUntil([&] { return w->ignoreCountsTimer == 0; }, patience))
                return fw::Quit(2);
            pty.Write(std::string(pulses, 'p'));
            PumpUntil([&] { return Counted(*w) == pulses; }, patience);
            Fact("pendingWhileCounting", Pending() ? "yes" : "no");
            Fact("counted", Counted(*w));
            Fact("cpmWhileCounting", w->StaticCPM()->Text().ToStdString());
            Fact("painted", paints.paints > 0 ? "yes" : "no");
            PumpUntil(
                [&] { return w->StaticCPM()->Text().ToStdString() == std::to_string(pulses); }, patience);
            Fact("cpm", w->StaticCPM()->Text().ToStdString());
            if (std::string(d.inhibitor) == "pipe")
                PumpUntil([] { return !Pending(); }, patience);
            const int fd = App()->SleepDisableHandle->InhibitorFd();
            Fact("inhibitor", IsPipe(fd) ? "pipe" : fd < 0 ? "none" : "other");
            Fact("pendingAtQuit", Pending() ? "yes" : "no");
            quitAt = std::chrono::steady_clock::now();
            fw::Quit(0);
        });
        const int status = VantropeMain(childArgc, childArgv);
        Fact("quitMs",
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - quitAt)
                .count());
        Fact("threadsLeft", testing_support::ThreadsLeft(threadsBefore));
        if (*d.busLogAfter)
            Fact("busLogAfter", testing_support::WaitForText(log, d.busLogAfter) ? "yes" : "no");
        return status;
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    RecordProperty("quit_ms", run.Fact("quitMs"));
    EXPECT_EQ(run.Fact("counted"), std::to_string(pulses));
    EXPECT_EQ(run.Fact("pendingWhileCounting"), d.pendingWhileCounting);
    EXPECT_EQ(run.Fact("cpmWhileCounting"), "0") << "the seconds' ticks ran";
    EXPECT_EQ(run.Fact("painted"), "yes");
    EXPECT_EQ(run.Fact("cpm"), std::to_string(pulses));
    EXPECT_EQ(run.Fact("inhibitor"), d.inhibitor);
    EXPECT_EQ(run.Fact("pendingAtQuit"), d.pendingAtQuit);
    if (d.busEndsMidCall) {
        EXPECT_EQ(run.Fact("settledOnClose"), "yes");
    }
    EXPECT_EQ(run.Fact("threadsLeft"), "0") << "the plugin's thread has ended";
    if (*d.busLogAfter) {
        EXPECT_EQ(run.Fact("busLogAfter"), "yes") << d.busLogAfter;
    }
    EXPECT_EQ(run.Fact("box"), "<unset>") << "nothing reported";
    EXPECT_EQ(run.err.find("Vantrope:"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("dbus["), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Drills, SystemBus,
    ::testing::Values(
        // The connection stays open and unanswered to the end; the quit closes it.
        BusDrill { "ASocketThatAcceptsAndNeverAnswers", Bus::Silent, nullptr, false, "yes", "none", "yes",
            "closed" },
        // The kernel holds the connect for as long as the queue stays full, which is
        // the whole run: a quit that waited on it would never end.
        BusDrill { "ABusWhoseListenQueueIsFull", Bus::Full, nullptr, false, "yes", "none", "yes", "" },
        BusDrill {
            "LogindAnswersAfterThreeSeconds", Bus::Logind, "late", false, "yes", "pipe", "no", "released" },
        BusDrill { "TheBusClosesTheConnectionMidCall", Bus::Logind, "silent", true, "no", "none", "no", "" }),
    [](const auto& row) { return std::string(row.param.label); });

} // namespace
