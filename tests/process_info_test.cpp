// The process-information plugin over a real D-Bus: a private dbus-daemon stands
// in for the system bus and a small stand-in for logind's Manager answers Inhibit;
// a bare socket that never answers stands in for a hung bus.
#include "framework/application.h"
#include "framework/process_info.h"
#include "tests/child_process.h"

#include <dbus/dbus.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <thread>

#include <cstdlib>

namespace {

using fw::Ref;
using testing_support::ChildRun;
using testing_support::Fact;
using testing_support::FullBus;
using testing_support::Login1StandIn;
using testing_support::PrivateBus;
using testing_support::RunChild;
using testing_support::SilentBus;

using testing_support::childArgc;
using testing_support::childArgv;

void StartOn(const std::string& systemBusAddress)
{
    setenv("DBUS_SYSTEM_BUS_ADDRESS", systemBusAddress.c_str(), 1);
    fw::RuntimeInit(childArgc, childArgv);
}

bool IsPipe(int fd)
{
    struct stat st { };
    return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

// Waits a while for the handle's Inhibit call to be answered or to fail; true when it was.
bool Settles(const Ref<fw::NSProcessInfoActivityPlugin>& handle)
{
    for (int i = 0; i < 2000 && handle->Pending(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !handle->Pending();
}

// Whether the program or libdbus said anything of its own on standard error.
bool Reported(const std::string& err)
{
    return err.find("Vantrope") != std::string::npos || err.find("dbus") != std::string::npos;
}

int Entries(const char* folder)
{
    int n = 0;
    if (DIR* dir = ::opendir(folder)) {
        while (::readdir(dir))
            ++n;
        ::closedir(dir);
    }
    return n;
}

TEST(ProcessInfo, IsNilWithoutASystemBus)
{
    PrivateBus bus; // only for a folder: nothing listens at the address below
    ChildRun run = RunChild([&] {
        StartOn("unix:path=" + bus.Path("nothing-here"));
        Fact("info", fw::NSProcessInfoPlugin::processInfo() ? "object" : "nil");
        return 0;
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.Fact("info"), "nil");
}

struct ActivityCase {
    const char* label;
    fw::Integer options;
    bool inhibits;
};
void PrintTo(const ActivityCase& c, std::ostream* os)
{
    *os << c.label;
}

class Activity : public ::testing::TestWithParam<ActivityCase> { };

TEST_P(Activity, TakesAnIdleInhibitorForTheIdleBitsAndReleasingItClosesIt)
{
    const ActivityCase& c = GetParam();
    PrivateBus bus;
    Login1StandIn logind(bus, "grant");
    ChildRun run = RunChild([&] {
        StartOn(bus.Address());
        Ref<fw::NSProcessInfoPlugin> info = fw::NSProcessInfoPlugin::processInfo();
        if (!info)
            return 2;
        Ref<fw::NSProcessInfoActivityPlugin> handle = info->beginActivity(c.options, "Sync running");
        Fact("settled", Settles(handle) ? "yes" : "no");
        const int fd = handle->InhibitorFd();
        Fact("heldPipe", IsPipe(fd) ? "yes" : "no");
        handle.Release();
        Fact("closed", ::fcntl(fd, F_GETFD) == -1 ? "yes" : "no");
        if (c.inhibits)
            Fact("released", testing_support::WaitForText(logind.LogPath(), "released") ? "yes" : "no");
        return 0;
    });
    ASSERT_TRUE(run.exited) << run.err;
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("settled"), "yes");
    if (c.inhibits) {
        EXPECT_EQ(logind.Log(), "Inhibit idle|Vantrope|Sync running|block\nreleased\n");
        EXPECT_EQ(run.Fact("heldPipe"), "yes");
        EXPECT_EQ(run.Fact("closed"), "yes");
        EXPECT_EQ(run.Fact("released"), "yes");
    } else {
        EXPECT_EQ(logind.Log(), "") << "nothing to inhibit, so no call";
        EXPECT_EQ(run.Fact("heldPipe"), "no");
    }
}

INSTANTIATE_TEST_SUITE_P(Options, Activity,
    ::testing::Values(ActivityCase { "UserInitiated", fw::ActivityUserInitiated, true },
        ActivityCase { "IdleDisplaySleepDisabled", fw::ActivityIdleDisplaySleepDisabled, true },
        ActivityCase { "UserInitiatedAllowingIdleSleep",
            fw::ActivityUserInitiated & ~fw::ActivityIdleSystemSleepDisabled, false },
        ActivityCase { "NoOptions", 0, false }),
    [](const auto& row) { return std::string(row.param.label); });

// Ways for logind to give no inhibitor: the handle comes back at once all the same,
// ends up without a descriptor, and nothing is raised.
struct RefusalCase {
    const char* label;
    const char* logind; // the stand-in's mode, or nullptr for a bus without logind
    const char* log;
};
void PrintTo(const RefusalCase& c, std::ostream* os)
{
    *os << c.label;
}

class NoInhibitor : public ::testing::TestWithParam<RefusalCase> { };

TEST_P(NoInhibitor, TheHandleEndsWithoutADescriptorAndNothingIsRaised)
{
    const RefusalCase& c = GetParam();
    PrivateBus bus;
    std::unique_ptr<Login1StandIn> logind;
    if (c.logind)
        logind = std::make_unique<Login1StandIn>(bus, c.logind);
    ChildRun run = RunChild([&] {
        StartOn(bus.Address());
        Ref<fw::NSProcessInfoPlugin> info = fw::NSProcessInfoPlugin::processInfo();
        if (!info)
            return 2;
        try {
            Ref<fw::NSProcessInfoActivityPlugin> handle
                = info->beginActivity(fw::ActivityUserInitiated, "Sync running");
            Fact("settled", Settles(handle) ? "yes" : "no");
            Fact("fd", handle->InhibitorFd());
            Fact("raised", "nothing");
        } catch (const std::exception& e) {
            Fact("raised", e.what());
        }
        return 0;
    });
    ASSERT_TRUE(run.exited) << run.err;
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("raised"), "nothing");
    EXPECT_EQ(run.Fact("settled"), "yes");
    EXPECT_EQ(run.Fact("fd"), "-1");
    if (logind) {
        EXPECT_EQ(logind->Log(), c.log);
    }
    EXPECT_FALSE(Reported(run.err)) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Logind, NoInhibitor,
    ::testing::Values(RefusalCase { "NotOnTheBus", nullptr, "" },
        RefusalCase { "Refuses", "refuse", "Inhibit idle|Vantrope|Sync running|block\n" }),
    [](const auto& row) { return std::string(row.param.label); });

TEST(ProcessInfo, AReasonThatIsNotUtf8GoesOutMendedInsteadOfEndingTheProcess)
{
    PrivateBus bus;
    Login1StandIn logind(bus, "grant");
    ChildRun run = RunChild([&] {
        StartOn(bus.Address());
        Ref<fw::NSProcessInfoActivityPlugin> handle = fw::NSProcessInfoPlugin::processInfo()->beginActivity(
            fw::ActivityUserInitiated, fw::String::FromBytes("Sync \xff running"));
        Fact("settled", Settles(handle) ? "yes" : "no");
        Fact("heldPipe", IsPipe(handle->InhibitorFd()) ? "yes" : "no");
        return 0;
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("heldPipe"), "yes");
    const std::string log = logind.Log();
    EXPECT_EQ(log.substr(0, log.find('\n')), "Inhibit idle|Vantrope|Sync \uFFFD running|block");
}

TEST(ProcessInfo, AnInhibitorGrantedAfterItsHandleWentIsClosedAtOnce)
{
    PrivateBus bus;
    Login1StandIn logind(bus, "late");
    ChildRun run = RunChild([&] {
        StartOn(bus.Address());
        Ref<fw::NSProcessInfoActivityPlugin> handle = fw::NSProcessInfoPlugin::processInfo()->beginActivity(
            fw::ActivityUserInitiated, "Sync running");
        Fact("called", testing_support::WaitForText(logind.LogPath(), "Inhibit") ? "yes" : "no");
        handle.Release();
        Fact("released", testing_support::WaitForText(logind.LogPath(), "released") ? "yes" : "no");
        fw::EndActivityCalls();
        return 0;
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.Fact("called"), "yes");
    EXPECT_EQ(run.Fact("released"), "yes") << "the late descriptor was closed as it came";
}

// True once one of the process's threads waits in the kernel for a Unix socket's
// listener to take its connect.
bool AThreadWaitsToConnect()
{
    for (int i = 0; i < 2000; ++i) {
        if (testing_support::ThreadsWaitingIn("unix_wait_for_peer") > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Whether the silent bus has accepted `count` connections, waiting a while for them.
bool Accepted(const SilentBus& bus, std::size_t count)
{
    for (int i = 0; i < 2000; ++i) {
        const std::string log = bus.Log();
        std::size_t seen = 0;
        for (std::size_t at = log.find("accepted"); at != std::string::npos;
             at = log.find("accepted", at + 1))
            ++seen;
        if (seen >= count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

enum class HungBus { Silent, Full };

struct HungBusCase {
    const char* label;
    HungBus bus;
};
void PrintTo(const HungBusCase& c, std::ostream* os)
{
    *os << c.label;
}

class EndingTheCalls : public ::testing::TestWithParam<HungBusCase> { };

TEST_P(EndingTheCalls, LeavesNoThreadDescriptorOrConnectionAndCanBeDoneAgain)
{
    const HungBusCase& c = GetParam();
    std::unique_ptr<SilentBus> silent;
    std::unique_ptr<FullBus> full;
    if (c.bus == HungBus::Silent)
        silent = std::make_unique<SilentBus>();
    else
        full = std::make_unique<FullBus>();
    auto reached = [&](std::size_t connections) {
        return silent ? Accepted(*silent, connections) : AThreadWaitsToConnect();
    };
    ChildRun run = RunChild([&] {
        StartOn(silent ? silent->Address() : full->Address());
        const int threads = testing_support::Threads();
        const int fds = Entries("/proc/self/fd");
        Ref<fw::NSProcessInfoActivityPlugin> handle = fw::NSProcessInfoPlugin::processInfo()->beginActivity(
            fw::ActivityUserInitiated, "Sync running");
        Fact("reached", reached(1) ? "yes" : "no");
        Fact("pendingBefore", handle->Pending() ? "yes" : "no");
        fw::EndActivityCalls();
        Fact("pendingAfter", handle->Pending() ? "yes" : "no");
        Fact("fd", handle->InhibitorFd());
        Fact("threadsLeft", testing_support::ThreadsLeft(threads));
        Fact("fdsLeft", Entries("/proc/self/fd") - fds);
        if (silent)
            Fact("closed", testing_support::WaitForText(silent->LogPath(), "closed") ? "yes" : "no");
        // A later activity starts the calls again, and they end again.
        Ref<fw::NSProcessInfoActivityPlugin> again = fw::NSProcessInfoPlugin::processInfo()->beginActivity(
            fw::ActivityUserInitiated, "Sync running");
        Fact("againPending", again->Pending() ? "yes" : "no");
        Fact("againReached", reached(2) ? "yes" : "no");
        fw::EndActivityCalls();
        Fact("againPendingAfter", again->Pending() ? "yes" : "no");
        Fact("againThreadsLeft", testing_support::ThreadsLeft(threads));
        return 0;
    });
    ASSERT_TRUE(run.exited) << run.err;
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("reached"), "yes");
    EXPECT_EQ(run.Fact("pendingBefore"), "yes") << "the bus never answers";
    EXPECT_EQ(run.Fact("pendingAfter"), "no");
    EXPECT_EQ(run.Fact("fd"), "-1");
    EXPECT_EQ(run.Fact("threadsLeft"), "0");
    EXPECT_EQ(run.Fact("fdsLeft"), "0");
    if (silent) {
        EXPECT_EQ(run.Fact("closed"), "yes");
    }
    EXPECT_EQ(run.Fact("againPending"), "yes");
    EXPECT_EQ(run.Fact("againReached"), "yes");
    EXPECT_EQ(run.Fact("againPendingAfter"), "no");
    EXPECT_EQ(run.Fact("againThreadsLeft"), "0");
    EXPECT_FALSE(Reported(run.err)) << run.err;
}

// Another user of libdbus (SDL, while the audio device opens) holds the library's
// global bus lock while its connection to a silent bus waits for Hello, so the
// plugin's thread cannot end its own connection: the end leaves it.
TEST(ProcessInfo, EndingTheCallsAgainAfterTheThreadWasLeftIsHarmless)
{
    SilentBus silent;
    ChildRun run = RunChild([&] {
        StartOn(silent.Address());
        std::thread([] {
            DBusError e;
            dbus_error_init(&e);
            dbus_bus_get_private(DBUS_BUS_SYSTEM, &e);
        }).detach();
        Fact("holderReached", Accepted(silent, 1) ? "yes" : "no");
        Ref<fw::NSProcessInfoActivityPlugin> handle = fw::NSProcessInfoPlugin::processInfo()->beginActivity(
            fw::ActivityUserInitiated, "Sync running");
        Fact("reached", Accepted(silent, 2) ? "yes" : "no");
        fw::EndActivityCalls(true);
        Fact("pendingAfter", handle->Pending() ? "yes" : "no");
        fw::EndActivityCalls(true);
        fw::EndActivityCalls();
        Fact("endedThrice", "yes");
        return 0; // the held threads wait on the bus until the child goes
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("holderReached"), "yes");
    EXPECT_EQ(run.Fact("reached"), "yes");
    EXPECT_EQ(run.Fact("endedThrice"), "yes");
}

INSTANTIATE_TEST_SUITE_P(HungBus, EndingTheCalls,
    ::testing::Values(HungBusCase { "ASocketThatAcceptsAndNeverAnswers", HungBus::Silent },
        // The connect itself waits, before libdbus has a socket to shut.
        HungBusCase { "ABusWhoseListenQueueIsFull", HungBus::Full }),
    [](const auto& row) { return std::string(row.param.label); });

} // namespace
