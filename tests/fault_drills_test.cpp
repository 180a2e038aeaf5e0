// Fault drills on the whole program, each run a child process started through the
// entry point's own path with a pseudo-terminal as the system's only port: the far
// end of the line going away, bursts, exceptions out of a timer's handler,
// quitting while a modal message box is up, a port that goes while the list is
// built, and the signals that end a run.
#include "app/app.h"
#include "app/startup.h"
#include "framework/application.h"
#include "framework/msgbox.h"
#include "framework/serial_lock.h"
#include "monitor/my_serial.h"
#include "monitor/window1.h"
#include "tests/child_process.h"
#include "tests/drill_watch.h"
#include "tests/pty_helper.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMainWindow>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/times.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using testing_support::ChildRun;
using testing_support::Counted;
using testing_support::Fact;
using testing_support::Login1StandIn;
using testing_support::PortLink;
using testing_support::PrivateBus;
using testing_support::Pty;
using testing_support::Pump;
using testing_support::PumpUntil;
using testing_support::RunChild;
using testing_support::ScopedPortList;

using testing_support::childArgc;
using testing_support::childArgv;

// Long enough for any healthy run on a loaded machine; only a fault reaches it.
constexpr int patience = 30000;

// Starts the run time as the entry point would, so that the drill can post its script first.
void Prepare()
{
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/vantrope-test-bus", 1);
    fw::RuntimeInit(childArgc, childArgv);
}

// Runs the drill's script once the program's loop runs.
void Script(const std::function<void()>& script)
{
    QTimer::singleShot(0, script);
}

std::string Text(const fw::Ref<fw::Label>& label)
{
    return label->Text().ToStdString();
}

fw::Integer Shown(const fw::Ref<fw::Label>& label)
{
    const std::string text = Text(label);
    return text.empty() || text == "-" ? -1 : std::stoll(text);
}

// The user picks the row in the popup's box, also the row already selected.
void UserPicks(int row)
{
    auto* combo = qobject_cast<QComboBox*>(Window1()->serialPopup()->Widget());
    combo->setCurrentIndex(row);
    emit combo->activated(row);
}

// Chooses the one port and waits out the seconds in which its input is dropped.
bool ChooseThePortAndWaitOutTheIgnoreWindow()
{
    Window1()->serialPopup()->SetListIndex(1);
    Fact("status", Text(Window1()->StaticStatus()));
    return PumpUntil([] { return Window1()->ignoreCountsTimer == 0; }, patience);
}

// User and system CPU time of the whole process, in clock ticks.
long CpuTicks()
{
    tms t {};
    ::times(&t);
    return static_cast<long>(t.tms_utime + t.tms_stime);
}

QAction* MenuAction(const char* name)
{
    auto* window = static_cast<QMainWindow*>(Window1()->Widget());
    return window->menuWidget()->findChild<QAction*>(name);
}

QMessageBox* ShownBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

// ---- The far end of the line goes away ------------------------------------------------

TEST(FarEndCloses, OneErrorLineThenIdleWhileTheRingRunsOnAndThePortCountsAgainOnceBack)
{
    ChildRun run = RunChild([] {
        Prepare();
        PortLink link("ttyVT0");
        Pty first, second;
        link.PointTo(first.Path());
        ScopedPortList ports({ fw::New<fw::SerialPort>(fw::String("ttyVT0"), fw::String(link.Path())) });
        Script([&] {
            auto w = Window1();
            if (!ChooseThePortAndWaitOutTheIgnoreWindow())
                return fw::Quit(2);
            first.Write(std::string(300, 'p'));
            PumpUntil([&] { return Shown(w->StaticCPM()) == 300; }, patience);
            Fact("cpmBefore", Text(w->StaticCPM()));

            first.CloseMaster();
            PumpUntil([&] { return Text(w->StaticSerialError()) == "Serial Port Error: 106 "; }, patience);
            Fact("errorLine", Text(w->StaticSerialError()));
            w->StaticSerialError()->SetText("seen");
            const fw::Integer index = w->secondcountsindex;
            const long before = CpuTicks();
            Pump(2000);
            Fact("cpuTicks", CpuTicks() - before);
            Fact("secondsClosed", (w->secondcountsindex - index + 60) % 60);
            Fact("errorLineAfter", Text(w->StaticSerialError()));
            Fact("statusAfter", Text(w->StaticStatus()));
            Fact("cpmAfter", Text(w->StaticCPM()));

            link.PointTo(second.Path());
            UserPicks(1);
            Fact("statusBack", Text(w->StaticStatus()));
            PumpUntil([&] { return w->ignoreCountsTimer == 0; }, patience);
            second.Write(std::string(45, 'q'));
            PumpUntil([&] { return Shown(w->StaticCPM()) >= 345; }, patience);
            Fact("cpmBack", Text(w->StaticCPM()));
            fw::Quit(0);
        });
        return VantropeMain(childArgc, childArgv);
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("status"), "Open");
    EXPECT_EQ(run.Fact("cpmBefore"), "300");
    EXPECT_EQ(run.Fact("errorLine"), "Serial Port Error: 106 ");
    EXPECT_EQ(run.Fact("errorLineAfter"), "seen") << "one error line, not one per turn of the loop";
    EXPECT_EQ(run.Fact("statusAfter"), "Not Open") << "the layer closed the port of the device that went";
    // Under 2% of one core over those two seconds.
    const long limit = ::sysconf(_SC_CLK_TCK) * 2 * 2 / 100;
    EXPECT_LT(std::stol(run.Fact("cpuTicks")), limit) << "CPU ticks after the far end closed";
    EXPECT_GE(std::stol(run.Fact("secondsClosed")), 1) << "the ring goes on closing seconds";
    EXPECT_EQ(run.Fact("cpmAfter"), "300") << "the seconds before the loss stay in the ring";
    EXPECT_EQ(run.Fact("statusBack"), "Open");
    EXPECT_EQ(run.Fact("cpmBack"), "345") << "the port chosen again counts again";
}

// ---- Bursts ---------------------------------------------------------------------------

struct BurstCase {
    const char* label;
    unsigned seed; // 0: one burst of 1 MiB; else the seed of random chunks at random pauses
};
void PrintTo(const BurstCase& c, std::ostream* os)
{
    *os << c.label << " (seed " << c.seed << ")";
}

class Bursts : public ::testing::TestWithParam<BurstCase> { };

// What the counter sends, written from a thread of the test's own as fast as the
// pty takes it, while the program's loop reads on the main thread.
fw::Integer Send(Pty& pty, unsigned seed)
{
    if (seed == 0) {
        pty.Write(testing_support::AllByteValues(4096));
        return 1 << 20;
    }
    std::mt19937 random(seed);
    auto below = [&](unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random); };
    fw::Integer sent = 0;
    for (int chunk = 0; chunk < 120; ++chunk) {
        // Mostly a few pulses a tick, now and then a few thousand, seldom tens of thousands.
        const unsigned kind = below(20);
        const unsigned size = kind < 14 ? below(65) : kind < 19 ? below(4096) : below(65536);
        std::string bytes(size, '\0');
        for (char& b : bytes)
            b = static_cast<char>(below(256));
        pty.Write(bytes);
        sent += size;
        std::this_thread::sleep_for(std::chrono::milliseconds(below(100)));
    }
    return sent;
}

TEST_P(Bursts, EveryByteIsCounted)
{
    const unsigned seed = GetParam().seed;
    ChildRun run = RunChild([seed] {
        Prepare();
        Pty pty;
        ScopedPortList ports({ pty.Port() });
        Script([&] {
            auto w = Window1();
            if (!ChooseThePortAndWaitOutTheIgnoreWindow())
                return fw::Quit(2);
            std::atomic<bool> done = false;
            fw::Integer sent = 0;
            std::thread counter([&] {
                sent = Send(pty, seed);
                done = true;
            });
            PumpUntil([&] { return done.load(); }, 60000);
            counter.join();
            Fact("sent", sent);
            PumpUntil([&] { return Shown(w->StaticCPM()) >= sent; }, patience);
            Pump(1100); // one more second closes: a byte counted twice would show now
            Fact("cpm", Text(w->StaticCPM()));
            Fact("counted", Counted(*w));
            fw::Quit(0);
        });
        return VantropeMain(childArgc, childArgv);
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("status"), "Open");
    EXPECT_EQ(run.Fact("cpm"), run.Fact("sent"));
    EXPECT_EQ(run.Fact("counted"), run.Fact("sent"));
    if (seed == 0) {
        EXPECT_EQ(run.Fact("sent"), "1048576");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Bursts,
    ::testing::Values(BurstCase { "OneMiBInOneTick", 0 }, BurstCase { "RandomChunksA", 1 },
        BurstCase { "RandomChunksB", 0x5eed }),
    [](const auto& row) { return std::string(row.param.label); });

// ---- An exception out of a timer's handler ----------------------------------------------

// A serial object whose first reads fail, as a framework member may; the read after them gives seven pulses.
class FailingSerial : public MySerial {
public:
    explicit FailingSerial(std::function<void()> raise)
        : raise_(std::move(raise))
    {
    }
    fw::String ReadAll(fw::Encoding) override
    {
        if (++reads <= failures)
            raise_();
        return fw::String::FromBytes(reads == failures + 1 ? "pulses!" : "");
    }
    static constexpr int failures = 3;
    int reads = 0;

private:
    std::function<void()> raise_;
};

struct ThrowCase {
    const char* label;
    std::function<void()> raise;
    std::string report; // the line UnhandledException writes for it
    bool realBox; // the real modal box instead of a recording handler
};
void PrintTo(const ThrowCase& c, std::ostream* os)
{
    *os << c.label;
}

class TimerHandlerThrows : public ::testing::TestWithParam<ThrowCase> { };

TEST_P(TimerHandlerThrows, TheExceptionReachesUnhandledExceptionAndTheNextTicksRun)
{
    const ThrowCase& c = GetParam();
    ChildRun run = RunChild([&c] {
        Prepare();
        static int boxes = 0;
        if (!c.realBox)
            fw::SetMsgBoxHandler([](const fw::String& text) {
                ++boxes;
                Fact("box", text.ToStdString());
            });
        static ScopedPortList ports; // no port: "None" is chosen and read
        static fw::Ref<FailingSerial> serial = fw::New<FailingSerial>(c.raise);
        // Plays the user: dismisses the real box once the ticks after the failures have counted.
        auto* user = new QTimer(qApp);
        QObject::connect(user, &QTimer::timeout, [] {
            QMessageBox* box = ShownBox();
            if (!box || Shown(Window1()->StaticCPM()) != 7)
                return;
            ++boxes;
            Fact("box", box->text().toStdString());
            Fact("cpmWhileBoxUp", Text(Window1()->StaticCPM()));
            box->button(QMessageBox::Ok)->click();
        });
        user->start(10);
        Script([] {
            auto w = Window1();
            w->Serial1 = serial;
            PumpUntil([&] { return Shown(w->StaticCPM()) == 7 && !ShownBox(); }, patience);
            Pump(200); // later ticks still run
            Fact("reads", serial->reads > FailingSerial::failures + 1 ? "went on" : "stopped");
            Fact("cpm", Text(w->StaticCPM()));
            Fact("boxes", boxes);
            fw::Quit(0);
        });
        return VantropeMain(childArgc, childArgv);
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << "an event handler's exception does not fail the run\n" << run.err;
    EXPECT_EQ(run.Fact("cpm"), "7") << "the tick after the failures counts";
    EXPECT_EQ(run.Fact("reads"), "went on");
    int reports = 0;
    for (std::size_t at = run.err.find(c.report); at != std::string::npos;
         at = run.err.find(c.report, at + 1))
        ++reports;
    EXPECT_EQ(reports, FailingSerial::failures) << run.err;
    const std::string className = c.report.substr(20, c.report.find(':', 20) - 20);
    EXPECT_EQ(run.Fact("box").rfind("An exception of class " + className + " was not handled.", 0), 0u)
        << run.Fact("box");
    if (c.realBox) {
        EXPECT_EQ(run.Fact("boxes"), "1") << "reports while the box is up go to standard error only";
        EXPECT_EQ(run.Fact("cpmWhileBoxUp"), "7") << "the ticks run while the box is up";
    } else {
        EXPECT_EQ(run.Fact("boxes"), std::to_string(FailingSerial::failures));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TimerHandlerThrows,
    ::testing::Values(
        ThrowCase { "FrameworkException", [] { throw fw::OutOfBoundsException("read past the end"); },
            "Vantrope: unhandled OutOfBoundsException: read past the end\n", false },
        ThrowCase { "StandardException", [] { throw std::runtime_error("the device said no"); },
            "Vantrope: unhandled exception: the device said no\n", false },
        ThrowCase { "NotAnException", [] { throw 42; },
            "Vantrope: unhandled RuntimeException: an exception of unknown type\n", false },
        ThrowCase { "WhileTheRealBoxIsUp", [] { throw fw::NilObjectException("gone"); },
            "Vantrope: unhandled NilObjectException: gone\n", true }),
    [](const auto& row) { return std::string(row.param.label); });

// ---- Quitting while a modal box is up -----------------------------------------------------

struct QuitCase {
    const char* label;
    const char* box; // the text of the box the drill opens
    std::function<void()> open; // opens the real modal box; returns once it is gone
    std::function<void()> whileUp; // called from a timer while the box is up
    int status;
};
void PrintTo(const QuitCase& c, std::ostream* os)
{
    *os << c.label;
}

class QuitWhileABoxIsUp : public ::testing::TestWithParam<QuitCase> { };

TEST_P(QuitWhileABoxIsUp, EndsTheLoopWithTheStatusOfTheFirstQuit)
{
    const QuitCase& c = GetParam();
    ChildRun run = RunChild([&c] {
        Prepare();
        // A port that is not there: choosing it shows the real box of a failed opening.
        static ScopedPortList ports(
            { fw::New<fw::SerialPort>(fw::String("ttyGONE0"), fw::String("/nonexistent/ttyGONE-drill")) });
        auto* user = new QTimer(qApp);
        QObject::connect(user, &QTimer::timeout, [&c, user] {
            if (QMessageBox* box = ShownBox()) {
                user->stop();
                Fact("shown", box->text().toStdString());
                c.whileUp();
            }
        });
        Script([&c, user] {
            user->start(10);
            c.open();
            Fact("boxReturned", "yes");
        });
        const int status = VantropeMain(childArgc, childArgv);
        Fact("ended", "yes");
        return status;
    });
    ASSERT_TRUE(run.exited) << "the loop hung\n" << run.err;
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.Fact("shown"), c.box);
    EXPECT_EQ(run.Fact("boxReturned"), "yes");
    EXPECT_EQ(run.Fact("ended"), "yes");
    EXPECT_EQ(run.err.find("Vantrope:"), std::string::npos) << run.err;
}

void ChooseTheMissingPort()
{
    UserPicks(1);
}

void ChooseAbout()
{
    MenuAction("FileAboutVantrope")->trigger();
}

INSTANTIATE_TEST_SUITE_P(Cases, QuitWhileABoxIsUp,
    ::testing::Values(QuitCase { "QuitFromATimerWhileTheFailedOpeningBoxIsUp",
                          "Failure to open serial  port!!", ChooseTheMissingPort, [] { fw::Quit(5); }, 5 },
        QuitCase { "QuitTwiceWhileTheAboutBoxIsUp", "Vantrope 2.0.0", ChooseAbout,
            [] {
                fw::Quit(3);
                fw::Quit(0);
            },
            3 },
        QuitCase { "TheQuitItemThenTheWindowsCloseWhileTheAboutBoxIsUp", "Vantrope 2.0.0", ChooseAbout,
            [] {
                MenuAction("FileQuit")->trigger();
                Window1()->Close();
            },
            0 },
        QuitCase { "TheWindowsCloseWhileTheFailedOpeningBoxIsUp", "Failure to open serial  port!!",
            ChooseTheMissingPort,
            [] {
                Window1()->Close();
                fw::Quit(6);
            },
            0 },
        QuitCase { "ABoxOpenedAfterQuitDoesNotHoldTheExit", "<unset>",
            [] {
                fw::Quit(4);
                ChooseTheMissingPort();
            },
            [] {}, 4 }),
    [](const auto& row) { return std::string(row.param.label); });

// ---- A port that goes while the list is built ---------------------------------------------

TEST(PortGoesWhileTheListIsBuilt, TheStartGoesOnAndTheLoopRuns)
{
    ChildRun run = RunChild([] {
        Prepare();
        fw::SetMsgBoxHandler([](const fw::String& text) { Fact("box", text.ToStdString()); });
        static Pty a, b;
        // Two ports for the first three questions (a count, port 0, a count), then one.
        static int asked = 0;
        fw::SetSerialPortProvider([] {
            return ++asked <= 3 ? std::vector { a.Port(), b.Port() } : std::vector { b.Port() };
        });
        Script([] {
            auto popup = Window1()->serialPopup();
            std::string rows;
            for (fw::Integer i = 0; i < popup->ListCount(); ++i)
                rows += popup->List(i).ToStdString() + "|";
            Fact("rows", rows);
            Fact("expectedRows", "None|" + a.Name() + "|");
            fw::SetSerialPortProvider([] { return std::vector { a.Port() }; });
            UserPicks(1);
            Fact("status", Text(Window1()->StaticStatus()));
            fw::Quit(0);
        });
        return VantropeMain(childArgc, childArgv);
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("rows"), run.Fact("expectedRows")) << "the port that went is left out";
    EXPECT_EQ(run.Fact("status"), "Open");
    EXPECT_EQ(run.Fact("box"), "<unset>");
    EXPECT_EQ(run.err.find("Vantrope:"), std::string::npos) << run.err;
}

// ---- The signals that end a run -----------------------------------------------------------

struct SignalCase {
    const char* label;
    int signal;
    enum When { PortOpen, AboutBoxUp, FailedOpeningBoxUp, WindowBeingMade, MainThreadHeld, Twice } when;
};
void PrintTo(const SignalCase& c, std::ostream* os)
{
    *os << c.label;
}

class EndingSignal : public ::testing::TestWithParam<SignalCase> { };

bool SameLine(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag
        && a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0
        && cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

TEST_P(EndingSignal, PutsThePortBackRemovesItsLockReleasesTheInhibitorAndEndsWith128PlusItsNumber)
{
    const SignalCase& c = GetParam();
    PrivateBus bus;
    Login1StandIn logind(bus, "grant");
    // The parent's, so that the device and its settings outlive the child.
    Pty pty;
    const termios before = pty.Attributes();
    const std::string lock = fw::serial_lock::PathFor(pty.Path());
    ChildRun run = RunChild([&]() -> int {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.Address().c_str(), 1);
        fw::RuntimeInit(childArgc, childArgv);
        static bool raised = false;
        static const SignalCase* k = &c;
        static const Pty* device = &pty;
        // A missing port second in the list, for the failed opening's box.
        fw::SetSerialPortProvider([] {
            // The list is built while the window is made.
            if (k->when == SignalCase::WindowBeingMade && !std::exchange(raised, true))
                ::kill(::getpid(), k->signal);
            return std::vector { device->Port(),
                fw::New<fw::SerialPort>(fw::String("ttyGONE0"), fw::String("/nonexistent/ttyGONE-signal")) };
        });
        static std::function<void()> send = [] { ::kill(::getpid(), k->signal); };
        Script([&] {
            Fact("loopRan", "yes");
            auto w = Window1();
            UserPicks(1);
            Fact("status", Text(w->StaticStatus()));
            Fact("locked", std::filesystem::exists(lock) ? "yes" : "no");
            PumpUntil(
                [] { return App()->SleepDisableHandle && App()->SleepDisableHandle->InhibitorFd() >= 0; },
                patience);
            Fact("inhibited", App()->SleepDisableHandle->InhibitorFd() >= 0 ? "yes" : "no");
            std::fflush(stdout); // the process may end without flushing it
            switch (k->when) {
            case SignalCase::AboutBoxUp:
            case SignalCase::FailedOpeningBoxUp: {
                auto* user = new QTimer(qApp);
                QObject::connect(user, &QTimer::timeout, [user] {
                    if (QMessageBox* box = ShownBox()) {
                        user->stop();
                        Fact("shown", box->text().toStdString());
                        send();
                    }
                });
                user->start(10);
                if (k->when == SignalCase::AboutBoxUp) {
                    MenuAction("FileAboutVantrope")->trigger();
                } else {
                    // The opening fails, so the port of the first choice is the one to put back.
                    auto* combo = qobject_cast<QComboBox*>(w->serialPopup()->Widget());
                    combo->setCurrentIndex(2);
                    static fw::Ref<MySerial> keep = w->Serial1; // its port stays open
                    emit combo->activated(2);
                }
                break;
            }
            case SignalCase::MainThreadHeld:
                // As a stopped X server or sound server would hold it.
                send();
                std::this_thread::sleep_for(std::chrono::seconds(20));
                break;
            case SignalCase::Twice:
                send();
                send();
                std::this_thread::sleep_for(std::chrono::seconds(20));
                break;
            default:
                send();
                break;
            }
        });
        const int status = VantropeMain(childArgc, childArgv);
        Fact("returned", "yes");
        std::fflush(stdout);
        std::exit(status); // as main does: through the process's exit
    });
    ASSERT_TRUE(run.exited) << "only the signal ends the run, and it did not\n" << run.err;
    EXPECT_EQ(run.status, 128 + c.signal) << run.err;
    EXPECT_TRUE(SameLine(pty.Attributes(), before)) << "the port's settings are as before the opening";
    EXPECT_FALSE(std::filesystem::exists(lock)) << lock;
    EXPECT_EQ(run.err.find("Vantrope:"), std::string::npos) << run.err;
    if (c.when == SignalCase::WindowBeingMade) {
        EXPECT_EQ(run.Fact("loopRan"), "<unset>") << "the run ended before its loop";
        EXPECT_EQ(logind.Log(), "") << "nor was the inhibitor asked for";
        return;
    }
    EXPECT_EQ(run.Fact("status"), "Open");
    EXPECT_EQ(run.Fact("locked"), "yes");
    EXPECT_EQ(run.Fact("inhibited"), "yes");
    EXPECT_TRUE(testing_support::WaitForText(logind.LogPath(), "released")) << logind.Log();
    const bool endedByTheHandler = c.when == SignalCase::MainThreadHeld || c.when == SignalCase::Twice;
    EXPECT_EQ(run.Fact("returned"), endedByTheHandler ? "<unset>" : "yes");
    if (c.when == SignalCase::AboutBoxUp) {
        EXPECT_EQ(run.Fact("shown"), "Vantrope 2.0.0");
    }
    if (c.when == SignalCase::FailedOpeningBoxUp) {
        EXPECT_EQ(run.Fact("shown"), "Failure to open serial  port!!");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, EndingSignal,
    ::testing::Values(SignalCase { "SigtermWithThePortOpen", SIGTERM, SignalCase::PortOpen },
        SignalCase { "SigintWithThePortOpen", SIGINT, SignalCase::PortOpen },
        SignalCase { "SighupWithThePortOpen", SIGHUP, SignalCase::PortOpen },
        SignalCase { "SigtermWhileTheAboutBoxIsUp", SIGTERM, SignalCase::AboutBoxUp },
        SignalCase { "SigintWhileTheFailedOpeningBoxIsUp", SIGINT, SignalCase::FailedOpeningBoxUp },
        SignalCase { "SigtermWhileTheWindowIsBeingMade", SIGTERM, SignalCase::WindowBeingMade },
        SignalCase { "SigtermWhileTheMainThreadIsHeld", SIGTERM, SignalCase::MainThreadHeld },
        SignalCase { "SigtermTwiceEndsItAtOnce", SIGTERM, SignalCase::Twice }),
    [](const auto& row) { return std::string(row.param.label); });

// nohup ignores SIGHUP, and a shell SIGINT for what it starts in the background.
TEST(EndingSignalIgnoredFromTheStart, StaysIgnoredForTheRun)
{
    ChildRun run = RunChild([] {
        std::signal(SIGHUP, SIG_IGN);
        Prepare();
        Script([] {
            ::kill(::getpid(), SIGHUP);
            Pump(200);
            Fact("ranOn", "yes");
            fw::Quit(0);
        });
        return VantropeMain(childArgc, childArgv);
    });
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("ranOn"), "yes");
}

TEST(EndingSignalOutsideTheRun, KeepsItsDefaultActionBeforeTheRunTimeStartsAndAfterItEnds)
{
    for (const bool afterTheRun : { false, true }) {
        SCOPED_TRACE(afterTheRun ? "after the run" : "before the run time starts");
        int raw = 0;
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (afterTheRun) {
                Prepare();
                Script([] { fw::Quit(0); });
                VantropeMain(childArgc, childArgv);
            }
            ::kill(::getpid(), SIGTERM);
            ::_exit(0);
        }
        ::waitpid(pid, &raw, 0);
        EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGTERM) << raw;
    }
}

} // namespace
