// The start-up, run through the entry point's own path in a child process: the
// application object, the menu bar, the main window, the activity, the way out.
#include "app/app.h"
#include "app/menu_bar1.h"
#include "app/startup.h"
#include "framework/msgbox.h"
#include "framework/window.h"
#include "monitor/window1.h"
#include "tests/child_process.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace {

using fw::Ref;
using testing_support::ChildRun;
using testing_support::Fact;
using testing_support::Login1StandIn;
using testing_support::PrivateBus;
using testing_support::RunChild;

using testing_support::childArgc;
using testing_support::childArgv;

// Notes, when the first window's widget is made, whether the menu bar already stands.
class FirstWindowWatch : public QObject {
public:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (!seen_ && e->type() == QEvent::ChildAdded && qobject_cast<QMainWindow*>(o)) {
            seen_ = true;
            Ref<class App> app = App();
            const bool built
                = MenuBar1::implicitInstance && app && app->MenuBar() == MenuBar1::implicitInstance;
            Fact("menuBarBeforeWindow", built ? "yes" : "no");
        }
        return false;
    }

private:
    bool seen_ = false;
};

int MainWindows()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<QMainWindow*>(w) != nullptr;
    return n;
}

// Runs `step` in the loop once the application's activity is no longer waiting on logind.
void WhenSettled(std::function<void()> step)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, step = std::move(step)] {
        Ref<class App> app = App();
        if (!app || (app->SleepDisableHandle && app->SleepDisableHandle->Pending()))
            return;
        poll->deleteLater();
        poll->stop();
        step();
    });
    poll->start(10);
}

// Starts the run time as the entry point would, so that the test can post its
// probe first; the entry point's own RuntimeInit then finds it started.
void Prepare(const std::string& systemBusAddress)
{
    setenv("DBUS_SYSTEM_BUS_ADDRESS", systemBusAddress.c_str(), 1);
    fw::RuntimeInit(childArgc, childArgv);
    fw::SetMsgBoxHandler([](const fw::String& text) { Fact("box", text.ToStdString()); });
}

TEST(Startup, RunsToTheLoopAndQuitsWithStatusZero)
{
    PrivateBus bus; // only for a folder: no system bus at all
    ChildRun run = RunChild([&] {
        Prepare("unix:path=" + bus.Path("nothing-here"));
        FirstWindowWatch watch;
        qApp->installEventFilter(&watch);
        QTimer::singleShot(0, [] {
            Ref<class App> app = App();
            Fact("version",
                std::to_string(app->MajorVersion()) + "." + std::to_string(app->MinorVersion()) + "."
                    + std::to_string(app->BugVersion()) + " " + std::to_string(app->NonReleaseVersion()) + " "
                    + std::to_string(app->StageCode()) + " [" + app->LongVersion().ToStdString() + "] ["
                    + app->ShortVersion().ToStdString() + "] [" + app->PackageInfo().ToStdString() + "]");
            Fact("runtimeVersion", fw::RuntimeVersion() == 2019.011 ? "2019.011" : "other");
            Fact("hiDPI", fw::Application::SupportsHiDPI() ? "yes" : "no");
            Fact("handle", app->SleepDisableHandle ? "held" : "nil");
            Ref<fw::MenuBar> windowBar = Window1()->MenuBar();
            Fact("windowMenuBar", !windowBar ? "none" : windowBar == app->MenuBar() ? "same" : "other");
            Fact("windows", MainWindows());
            Ref<class Window1> first = Window1();
            LateStartup();
            Fact("secondLateStart",
                Window1() == first && MainWindows() == 1 ? "same window" : "another window");
            fw::Quit(0);
        });
        const int status = VantropeMain(childArgc, childArgv);
        Fact("appAfter", fw::GetAppObject() ? "kept" : "released");
        Fact("qtAfter", QCoreApplication::instance() ? "running" : "ended");
        return status;
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("version"), "2.0.0 0 3 [Vantrope 2.0.0] [2.0.0] []");
    EXPECT_EQ(run.Fact("runtimeVersion"), "2019.011");
    EXPECT_EQ(run.Fact("hiDPI"), "yes");
    EXPECT_EQ(run.Fact("menuBarBeforeWindow"), "yes");
    EXPECT_EQ(run.Fact("windowMenuBar"), "same") << "the window shows the application's own bar";
    EXPECT_EQ(run.Fact("windows"), "1");
    EXPECT_EQ(run.Fact("secondLateStart"), "same window");
    EXPECT_EQ(run.Fact("handle"), "nil") << "no system bus: no activity";
    EXPECT_EQ(run.Fact("box"), "<unset>") << "and nothing reported";
    EXPECT_EQ(run.err.find("Vantrope:"), std::string::npos) << run.err;
    EXPECT_EQ(run.Fact("appAfter"), "released");
    EXPECT_EQ(run.Fact("qtAfter"), "ended");
}

TEST(Startup, HoldsTheActivityForTheRunAndTheFinalisersReleaseIt)
{
    PrivateBus bus;
    Login1StandIn logind(bus, "grant");
    ChildRun run = RunChild([&] {
        Prepare(bus.Address());
        static int fd = -1;
        static ino_t inode = 0;
        // Two turns of the loop, so that the handle is seen held while the program runs.
        WhenSettled([] {
            fd = App()->SleepDisableHandle->InhibitorFd();
            struct stat st { };
            Fact("heldPipe", ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode) ? "yes" : "no");
            inode = st.st_ino;
            QTimer::singleShot(0, [] {
                struct stat now { };
                Fact("stillHeld", ::fstat(fd, &now) == 0 && now.st_ino == inode ? "yes" : "no");
                fw::Quit(0);
            });
        });
        const int status = VantropeMain(childArgc, childArgv);
        struct stat st { };
        Fact("closedAfter", ::fstat(fd, &st) != 0 || st.st_ino != inode ? "yes" : "no");
        Fact("released", testing_support::WaitForText(logind.LogPath(), "released") ? "yes" : "no");
        return status;
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("heldPipe"), "yes");
    EXPECT_EQ(run.Fact("stillHeld"), "yes");
    EXPECT_EQ(run.Fact("closedAfter"), "yes");
    EXPECT_EQ(run.Fact("released"), "yes");
    EXPECT_EQ(logind.Log(), "Inhibit idle|Vantrope|Sync running|block\nreleased\n");
    EXPECT_EQ(run.Fact("box"), "<unset>") << run.err;
}

TEST(Startup, ARefusedActivityLeavesAHandleWithoutInhibitorAndIsNotReported)
{
    PrivateBus bus;
    Login1StandIn logind(bus, "refuse");
    ChildRun run = RunChild([&] {
        Prepare(bus.Address());
        WhenSettled([] {
            Fact("fd", App()->SleepDisableHandle->InhibitorFd());
            Fact("windows", MainWindows());
            fw::Quit(0);
        });
        return VantropeMain(childArgc, childArgv);
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("fd"), "-1");
    EXPECT_EQ(run.Fact("windows"), "1");
    EXPECT_EQ(logind.Log(), "Inhibit idle|Vantrope|Sync running|block\n");
    EXPECT_EQ(run.Fact("box"), "<unset>");
    EXPECT_EQ(run.err.find("Vantrope:"), std::string::npos) << run.err;
}

TEST(AppClassTable, TypesTheHandlePropertyWithTheActivityClass)
{
    ChildRun run = RunChild([] {
        const fw::PropertyEntry* entry = App::Lookup().FindProperty("SleepDisableHandle");
        if (!entry)
            return 2;
        Fact("type", fw::TypeName(entry->type));
        Fact("class", entry->typeName);
        fw::InitPluginEntrypoints();
        Fact("found",
            fw::FindClass(entry->typeName) == &fw::NSProcessInfoActivityPlugin::Lookup() ? "yes" : "no");
        return 0;
    });
    ASSERT_TRUE(run.exited) << run.err;
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("type"), "Object");
    EXPECT_EQ(run.Fact("class"), "NSProcessInfoActivityPlugin");
    EXPECT_EQ(run.Fact("found"), "yes") << "the name is the handle's registered class";
}

TEST(Startup, AnExceptionInTheEarlyStartUpIsReportedAndEndsTheRunWithStatusOne)
{
    PrivateBus bus;
    ChildRun run = RunChild([&] {
        Prepare("unix:path=" + bus.Path("nothing-here"));
        // A class of the plugin's name already known: binding the plugin fails.
        fw::RegisterClass(fw::ClassBuilder("NSProcessInfoPlugin", nullptr).Build());
        fw::SetMsgBoxHandler([](const fw::String& text) {
            Fact("box", text.ToStdString());
            Fact("appAtReport", fw::GetAppObject() ? "registered" : "none");
            Fact("windowAtReport", fw::GetImplicitWindow("Window1.Window1") ? "made" : "none");
        });
        QTimer::singleShot(0, [] {
            Fact("loop", "ran");
            fw::Quit(0);
        });
        const int status = VantropeMain(childArgc, childArgv);
        Fact("menuBar", MenuBar1::implicitInstance ? "built" : "none");
        Fact("qtAfter", QCoreApplication::instance() ? "running" : "ended");
        return status;
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.Fact("box"),
        "An exception of class RuntimeException was not handled.\n\n"
        "the class NSProcessInfoPlugin is registered twice");
    EXPECT_NE(
        run.err.find("Vantrope: unhandled RuntimeException: the class NSProcessInfoPlugin is registered "
                     "twice\n"),
        std::string::npos)
        << run.err;
    EXPECT_EQ(run.Fact("appAtReport"), "none");
    EXPECT_EQ(run.Fact("windowAtReport"), "none");
    EXPECT_EQ(run.Fact("menuBar"), "none") << "the steps after the failing one did not run";
    EXPECT_EQ(run.Fact("loop"), "<unset>") << "no event loop";
    EXPECT_EQ(run.Fact("qtAfter"), "ended") << "the entry point went on to the exit";
}

struct EarlyFailure {
    const char* label;
    bool onAnotherThread; // the run time refuses to start off the main thread
    const char* registeredBefore; // a class of this name already known: registering it fails
    const char* report;
};
void PrintTo(const EarlyFailure& c, std::ostream* os)
{
    *os << c.label;
}

class BeforeTheStartUp : public ::testing::TestWithParam<EarlyFailure> { };

TEST_P(BeforeTheStartUp, AnExceptionIsReportedAndEndsTheRunWithStatusOne)
{
    const EarlyFailure& c = GetParam();
    PrivateBus bus;
    ChildRun run = RunChild([&] {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + bus.Path("nothing-here")).c_str(), 1);
        if (c.registeredBefore)
            fw::RegisterClass(fw::ClassBuilder(c.registeredBefore, nullptr).Build());
        int status = -1;
        if (c.onAnotherThread) {
            std::thread([&] { status = VantropeMain(childArgc, childArgv); }).join();
        } else {
            fw::RuntimeInit(childArgc, childArgv);
            fw::SetMsgBoxHandler([](const fw::String& text) { Fact("box", text.ToStdString()); });
            QTimer::singleShot(0, [] {
                Fact("loop", "ran");
                fw::Quit(0);
            });
            status = VantropeMain(childArgc, childArgv);
        }
        Fact("window", fw::GetImplicitWindow("Window1.Window1") ? "made" : "none");
        return status;
    });
    ASSERT_TRUE(run.exited) << "no std::terminate: " << run.err;
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(std::string("Vantrope: unhandled ") + c.report + "\n"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.Fact("window"), "none");
    EXPECT_EQ(run.Fact("loop"), "<unset>") << "no event loop";
    if (!c.onAnotherThread) {
        EXPECT_NE(run.Fact("box").find("was not handled"), std::string::npos) << "and in a box";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BeforeTheStartUp,
    ::testing::Values(EarlyFailure { "RuntimeInit", true, nullptr,
                          "ThreadAccessingUIException: RuntimeInit may only be used on the main thread" },
        EarlyFailure { "Initializers", false, "App", "RuntimeException: the class App is registered twice" }),
    [](const auto& row) { return std::string(row.param.label); });

} // namespace
