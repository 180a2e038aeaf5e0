// The application family: the event loop and Quit, the Open event, and what
// happens to exceptions that nothing caught. Every run is a child process.
#include "framework/application.h"
#include "framework/menu.h"
#include "framework/msgbox.h"
#include "framework/window.h"
#include "tests/child_process.h"

#include <QAction>
#include <QMainWindow>
#include <QTimer>

#include <gtest/gtest.h>

#include <ostream>

#include <functional>
#include <stdexcept>

namespace {

using fw::Ref;
using testing_support::ChildRun;
using testing_support::Fact;
using testing_support::RunChild;

using testing_support::childArgc;
using testing_support::childArgv;

// An application object whose Open runs what the test gives it.
class ProbeApp : public fw::Application {
    FW_OBJECT(ProbeApp)
public:
    std::function<void()> onOpen;
};

const fw::ClassInfo& ProbeApp::Lookup()
{
    static const fw::ClassInfo& info = fw::RegisterClass(
        fw::ClassBuilder("ProbeApp", &fw::Application::Lookup())
            .Factory<ProbeApp>()
            .Hook("Open", [](fw::Object& o, fw::EventArgs&) { static_cast<ProbeApp&>(o).onOpen(); })
            .Build());
    return info;
}

// Starts the run time with a message box that only counts and records its texts.
void StartRunTime()
{
    fw::RuntimeInit(childArgc, childArgv);
    fw::SetMsgBoxHandler([](const fw::String& text) { Fact("box", text.ToStdString()); });
}

// Runs the loop in a child after `setUp`; the child's status is RuntimeExit's.
ChildRun RunLoop(const std::function<void()>& setUp)
{
    return RunChild([&] {
        StartRunTime();
        setUp();
        fw::RuntimeRun();
        Fact("loopReturned", "yes");
        return fw::RuntimeExit();
    });
}

void Later(const std::function<void()>& fn)
{
    QTimer::singleShot(0, fn);
}

struct QuitCase {
    const char* label;
    std::function<void()> setUp;
    int status;
    const char* timerFired; // whether a timer posted before RuntimeRun ran
};
void PrintTo(const QuitCase& c, std::ostream* os)
{
    *os << c.label;
}

class Quitting : public ::testing::TestWithParam<QuitCase> { };

TEST_P(Quitting, EndsTheLoopWithTheStatusOfTheFirstQuit)
{
    const QuitCase& c = GetParam();
    ChildRun run = RunLoop([&] {
        Later([] { Fact("timerFired", "yes"); });
        c.setUp();
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.Fact("loopReturned"), "yes");
    EXPECT_EQ(run.Fact("timerFired"), c.timerFired);
}

// The Quit item of a window's menu bar, chosen once the loop runs.
void ChooseQuitItem()
{
    auto bar = fw::New<fw::MenuBar>();
    auto file = fw::New<fw::MenuItem>();
    file->SetName("FileMenu");
    file->SetText("&File");
    bar->Append(file);
    auto quit = fw::New<fw::QuitMenuItem>();
    quit->SetName("FileQuit");
    quit->SetText("&Quit");
    quit->SetKeyboardShortcut("Cmd+Q");
    file->Append(quit);
    static Ref<fw::Window> window = fw::New<fw::Window>();
    window->SetMenuBar(bar);
    Later([] {
        static_cast<QMainWindow*>(window->Widget())->menuWidget()->findChild<QAction*>("FileQuit")->trigger();
        window.Release();
    });
}

INSTANTIATE_TEST_SUITE_P(Cases, Quitting,
    ::testing::Values(QuitCase { "QuitZero", [] { Later([] { fw::Quit(0); }); }, 0, "yes" },
        QuitCase { "QuitWithCode", [] { Later([] { fw::Quit(7); }); }, 7, "yes" },
        QuitCase { "SecondQuitChangesNothing",
            [] {
                Later([] {
                    fw::Quit(3);
                    fw::Quit(0);
                });
            },
            3, "yes" },
        QuitCase { "QuitBeforeTheLoopRuns", [] { fw::Quit(4); }, 4, "<unset>" },
        QuitCase { "QuitMenuItem", ChooseQuitItem, 0, "yes" }),
    [](const auto& row) { return std::string(row.param.label); });

TEST(Open, IsRaisedOnceAfterTheLateStartAndBeforeTheLoopRuns)
{
    ChildRun run = RunLoop([] {
        auto app = fw::New<ProbeApp>();
        app->onOpen = [] { Fact("order", "open"); };
        fw::RuntimeRegisterAppObject(app);
        fw::RunFrameworkInitialization([] { Fact("order", "late"); });
        Later([] {
            Fact("order", "loop");
            fw::Quit(0);
        });
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "order=late\norder=open\norder=loop\nloopReturned=yes\n");
}

struct EscapeCase {
    const char* label;
    std::function<void()> raise; // raises NilObjectException("gone") from an event handler
};
void PrintTo(const EscapeCase& c, std::ostream* os)
{
    *os << c.label;
}

class EscapingHandler : public ::testing::TestWithParam<EscapeCase> { };

TEST_P(EscapingHandler, IsReportedAndTheProgramGoesOn)
{
    ChildRun run = RunLoop([&] {
        fw::RuntimeSetExceptionHelper(&fw::CallFunctionWithExceptionHandling);
        GetParam().raise();
        Later([] {
            Later([] {
                Fact("after", "ran");
                fw::Quit(0);
            });
        });
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << "an event handler's exception does not fail the run";
    EXPECT_EQ(run.Fact("after"), "ran");
    EXPECT_NE(run.err.find("Vantrope: unhandled NilObjectException: gone\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.Fact("box"), "An exception of class NilObjectException was not handled.\n\ngone");
}

[[noreturn]] void Gone()
{
    throw fw::NilObjectException("gone");
}

INSTANTIATE_TEST_SUITE_P(Cases, EscapingHandler,
    ::testing::Values(EscapeCase { "FromOpen",
                          [] {
                              auto app = fw::New<ProbeApp>();
                              app->onOpen = Gone;
                              fw::RuntimeRegisterAppObject(app);
                          } },
        EscapeCase { "FromALoopCallback", [] { Later([] { fw::Dispatch(Gone); }); } }),
    [](const auto& row) { return std::string(row.param.label); });

TEST(UnhandledException, AReportWhileItsBoxIsUpGoesToStandardErrorOnly)
{
    ChildRun run = RunChild([] {
        StartRunTime();
        int boxes = 0;
        fw::SetMsgBoxHandler([&](const fw::String&) {
            // The same handler failing again while the user reads the box.
            if (++boxes == 1)
                fw::Dispatch([] { throw fw::KeyNotFoundException("again"); });
        });
        fw::Dispatch([] { throw fw::KeyNotFoundException("first"); });
        fw::Dispatch([] { throw std::runtime_error("later"); });
        Fact("boxes", boxes);
        return 0;
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.Fact("boxes"), "2") << "one for the first, none for the nested one, one for the later one";
    for (const char* line : { "Vantrope: unhandled KeyNotFoundException: first\n",
             "Vantrope: unhandled KeyNotFoundException: again\n", "Vantrope: unhandled exception: later\n" })
        EXPECT_NE(run.err.find(line), std::string::npos) << line << run.err;
}

TEST(ExceptionHelper, ReturnsARuntimeExceptionAndPassesOthersOn)
{
    auto call = [](void (*fn)(void*)) { return fw::CallFunctionWithExceptionHandling(fn, nullptr); };
    EXPECT_EQ(call([](void*) {}), nullptr);
    std::exception_ptr raised = call([](void*) { throw fw::NilObjectException("nil"); });
    ASSERT_NE(raised, nullptr);
    EXPECT_THROW(std::rethrow_exception(raised), fw::NilObjectException);
    EXPECT_THROW(call([](void*) { throw std::logic_error("not ours"); }), std::logic_error);
}

TEST(LateStart, WhatTheCallbackRaisesPassesOnToTheStartUp)
{
    EXPECT_THROW(fw::RunFrameworkInitialization([] { throw fw::NilObjectException("no window"); }),
        fw::NilObjectException);
}

} // namespace
