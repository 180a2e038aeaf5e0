// The process-information plugin over a real D-Bus: a private dbus-daemon stands
// in for the system bus and a small stand-in for logind's Manager answers Inhibit.
#include "framework/application.h"
#include "framework/process_info.h"
#include "tests/child_process.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ostream>

#include <cstdlib>

namespace {

using fw::Ref;
using testing_support::ChildRun;
using testing_support::Fact;
using testing_support::Login1StandIn;
using testing_support::PrivateBus;
using testing_support::RunChild;

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

TEST(ProcessInfo, IsNilOnABusWithoutLogind)
{
    PrivateBus bus;
    ChildRun run = RunChild([&] {
        StartOn(bus.Address());
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

TEST(ProcessInfo, ARefusedInhibitorRaisesWithLogindsMessage)
{
    PrivateBus bus;
    Login1StandIn logind(bus, "refuse");
    ChildRun run = RunChild([&] {
        StartOn(bus.Address());
        Ref<fw::NSProcessInfoPlugin> info = fw::NSProcessInfoPlugin::processInfo();
        if (!info)
            return 2;
        try {
            info->beginActivity(fw::ActivityUserInitiated, "Sync running");
            Fact("raised", "nothing");
        } catch (const fw::RuntimeException& e) {
            Fact("raised", std::string(e.ClassName()) + ": " + e.Message());
        }
        return 0;
    });
    ASSERT_TRUE(run.exited) << run.err;
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("raised"), "RuntimeException: the system refused to stay awake: Permission denied");
    EXPECT_EQ(logind.Log(), "Inhibit idle|Vantrope|Sync running|block\n");
}

} // namespace
