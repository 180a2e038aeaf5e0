#include "framework/application.h"

#include "framework/drawing.h"
#include "framework/menu.h"
#include "framework/msgbox.h"
#include "framework/process_info.h"
#include "framework/serial.h"
#include "framework/sound.h"
#include "framework/timer.h"
#include "framework/window.h"

#include <QApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace fw {

namespace {

std::unique_ptr<QApplication>& QtApp()
{
    static std::unique_ptr<QApplication> app;
    return app;
}

// QApplication keeps references to these for its whole life.
int savedArgc = 0;
char** savedArgv = nullptr;

enum class Phase { NotStarted, Starting, Running, Ended };
Phase phase = Phase::NotStarted;

int exitStatus = 0;
bool quitting = false;
bool startupFailed = false;
bool supportsHiDPI = false;
Double runtimeVersion = 0;
ExceptionHelper exceptionHelper = nullptr;

Ref<Application>& AppObject()
{
    static Ref<Application> app;
    return app;
}

// Once the port and the inhibitor are done, what is left of the end (Qt's teardown,
// which joins its X connection's thread, and the static destructors, which close the
// audio device and join SDL's audio thread) waits on servers that may have stopped.
// Past this bound the process ends with the run's status instead.
constexpr suseconds_t teardownBoundUs = 400000;
volatile std::sig_atomic_t teardownStatus = 0;

void EndNow(int)
{
    RestoreOpenPortsNow();
    ::_exit(teardownStatus);
}

void SetTeardownTimer(suseconds_t us)
{
    itimerval timer {};
    timer.it_value.tv_usec = us;
    ::setitimer(ITIMER_REAL, &timer, nullptr);
}

void BoundTheTeardown()
{
    SetTeardownTimer(teardownBoundUs);
}

// A teardown that got this far in time runs to its end, the sanitizers' checks at the
// exit included. Registered before main, so that it runs after the destructors of
// everything made while the program ran.
void UnboundTheTeardown()
{
    SetTeardownTimer(0);
}
[[maybe_unused]] const int unboundAtExit = std::atexit(&UnboundTheTeardown);

// Bounds Qt's teardown, and the process's exit from where main returns; what the caller
// does in between is its own.
void BoundTheRestOfTheRun(int status)
{
    teardownStatus = status;
    struct sigaction action { };
    action.sa_handler = &EndNow;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, nullptr);
    // Registered now, it runs first at the exit, before the destructors of what the run made.
    static const bool boundAtExit = std::atexit(&BoundTheTeardown) == 0;
    (void)boundAtExit;
    BoundTheTeardown();
}

// The signals that end a run as Quit does: a session manager's SIGTERM at logout,
// Ctrl+C's SIGINT, a closed terminal's SIGHUP. The handler only records the first
// and wakes the loop through a pipe; the loop quits with 128 plus its number. The
// end may still wait, on a main thread held by a server or a start-up still making
// the window, so past a deadline, and at a second signal, the handler puts the open
// ports back and ends the process itself. The inhibitor's descriptor closes with it.
constexpr std::array<int, 3> endingSignals = { SIGTERM, SIGINT, SIGHUP };
constexpr long signalDeadlineNs = 900'000'000;
volatile std::sig_atomic_t endingSignal = 0;
volatile std::sig_atomic_t quitRequested = 0;
int signalPipe[2] = { -1, -1 };
timer_t signalDeadline {};
bool signalDeadlineMade = false;
QSocketNotifier* signalNotifier = nullptr;
std::array<struct sigaction, endingSignals.size()> previousActions {};

void EndAtOnce(int status)
{
    RestoreOpenPortsNow();
    ::_exit(status);
}

void OnEndingSignal(int signal)
{
    if (endingSignal != 0)
        EndAtOnce(128 + signal);
    endingSignal = signal;
    if (!quitRequested)
        teardownStatus = 128 + signal;
    struct sigaction action { };
    action.sa_handler = &EndNow;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, nullptr);
    if (signalDeadlineMade) {
        itimerspec deadline {};
        deadline.it_value.tv_nsec = signalDeadlineNs;
        ::timer_settime(signalDeadline, 0, &deadline, nullptr);
    }
    const int savedErrno = errno;
    const char wake = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &wake, 1);
    errno = savedErrno;
}

void QuitForSignal()
{
    if (endingSignal != 0)
        Quit(128 + endingSignal);
}

void CatchEndingSignals()
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    if (!signalDeadlineMade) {
        sigevent event {};
        event.sigev_notify = SIGEV_SIGNAL;
        event.sigev_signo = SIGALRM;
        signalDeadlineMade = ::timer_create(CLOCK_MONOTONIC, &event, &signalDeadline) == 0;
    }
    signalNotifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QtApp().get());
    QObject::connect(signalNotifier, &QSocketNotifier::activated, [] {
        char drained[16];
        while (::read(signalPipe[0], drained, sizeof drained) > 0) { }
        QuitForSignal();
    });
    struct sigaction action { };
    action.sa_handler = &OnEndingSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : endingSignals)
        sigaddset(&action.sa_mask, signal);
    for (std::size_t i = 0; i < endingSignals.size(); ++i) {
        ::sigaction(endingSignals[i], nullptr, &previousActions[i]);
        // Ignored from the start, as nohup ignores SIGHUP and a shell SIGINT in the
        // background: whoever started the program asked for that.
        if (previousActions[i].sa_handler != SIG_IGN)
            ::sigaction(endingSignals[i], &action, nullptr);
    }
}

// Once the run time has ended, the signals act as they did before it started.
void ReleaseEndingSignals()
{
    for (std::size_t i = 0; i < endingSignals.size(); ++i)
        ::sigaction(endingSignals[i], &previousActions[i], nullptr);
    endingSignal = 0;
    signalNotifier = nullptr; // went with the Qt application object
}

} // namespace

// realpath and stat, not std::filesystem: the first look-up, the tubes' picture's in
// a run that has played no click yet, then reads none of the library's file-system
// code, which was measured at some 200 KB of resident pages.
std::string ApplicationResourcesPath()
{
    char* exe = realpath("/proc/self/exe", nullptr);
    if (!exe)
        return {};
    std::string path = exe;
    std::free(exe);
    // Two folders up, where the root is its own parent.
    for (int up = 0; up < 2; ++up) {
        const char* slash = std::strrchr(path.c_str(), '/');
        path.resize(slash == nullptr || slash == path.c_str() ? 1 : std::size_t(slash - path.c_str()));
    }
    path += path == "/" ? "Resources" : "/Resources";
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? path : std::string();
}

void RuntimeInit(int argc, char** argv)
{
    CheckMainThread("RuntimeInit");
    if (QtApp())
        return;
    savedArgc = argc;
    savedArgv = argv;
    // Without a display Qt aborts with a core dump; say plainly what is missing instead.
    const QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
              if (type != QtFatalMsg) {
                  std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
                  return;
              }
              (void)message; // Qt's own warnings above already name the platform that failed
              std::fprintf(stderr,
                  "%s cannot start: no graphical display could be opened.\n"
                  "Run it on a desktop, or with DISPLAY or WAYLAND_DISPLAY pointing at one.\n",
                  ProgramName);
              std::fflush(stderr);
              std::_Exit(1);
          });
    QtApp() = std::make_unique<QApplication>(savedArgc, savedArgv);
    // Qt would take the executable's file name, which the desktop shows in lower case.
    QCoreApplication::setApplicationName(QString::fromUtf8(ProgramName));
    qInstallMessageHandler(previous);
    // The application outlives its windows: only Quit ends the run, as the program expects.
    QApplication::setQuitOnLastWindowClosed(false);
    CatchEndingSignals();
    phase = Phase::Starting;
}

void RuntimePerformInitializers(std::initializer_list<void (*)()> programInitializers)
{
    for (const ClassInfo& (*lookup)() : { &Object::Lookup, &Application::Lookup, &MenuItem::Lookup,
             &MenuBar::Lookup, &AppleMenuItem::Lookup, &QuitMenuItem::Lookup, &Control::Lookup,
             &RectControl::Lookup, &TextControl::Lookup, &Label::Lookup, &PopupMenu::Lookup,
             &CheckBox::Lookup, &Canvas::Lookup, &Window::Lookup, &Timer::Lookup, &SerialPort::Lookup,
             &SystemClass::Lookup, &Serial::Lookup, &Picture::Lookup, &FolderItem::Lookup, &Sound::Lookup })
        lookup();
    for (void (*initializer)() : programInitializers)
        initializer();
}

void RuntimeInitExternalClasses() { }

void InitPluginEntrypoints()
{
    NSProcessInfoPlugin::Lookup();
    NSProcessInfoActivityPlugin::Lookup();
}

void RuntimeSetVersion(Double version)
{
    runtimeVersion = version;
}

Double RuntimeVersion()
{
    return runtimeVersion;
}

std::exception_ptr CallFunctionWithExceptionHandling(void (*function)(void*), void* argument)
{
    try {
        function(argument);
    } catch (const RuntimeException&) {
        return std::current_exception();
    }
    return nullptr;
}

void RuntimeSetExceptionHelper(ExceptionHelper helper)
{
    exceptionHelper = helper;
}

const ClassInfo& Application::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("Application", &Object::Lookup())
                                                     .Op("AddTrayItem")
                                                     .Op("DoEvents")
                                                     .Op("NewDocument")
                                                     .Op("OpenDocument")
                                                     .Op("RemoveTrayItem")
                                                     .Op("SleepCurrentThread")
                                                     .Op("YieldToNextThread")
                                                     .Op("_AddMenuHandler")
                                                     .Op("_AddPollableObject")
                                                     .Op("_DependencyList")
                                                     .Op("_DoSingleEvent")
                                                     .Op("_RemovePollableObject")
                                                     .Op("_x_SetVersionData")
                                                     .Event("Open")
                                                     .Build());
    return info;
}

Application::Application() = default;
Application::~Application() = default;

void Application::x_SetVersionData(Integer major, Integer minor, Integer bug, Integer nonRelease,
    Integer stageCode, const String& longVersion, const String& shortVersion, const String& packageInfo)
{
    major_ = major;
    minor_ = minor;
    bug_ = bug;
    nonRelease_ = nonRelease;
    stageCode_ = stageCode;
    longVersion_ = longVersion;
    shortVersion_ = shortVersion;
    packageInfo_ = packageInfo;
}

void Application::SetMenuBar(const Ref<fw::MenuBar>& bar)
{
    CheckMainThread("Application.MenuBar");
    menuBar_ = bar;
}

void Application::SetSupportsHiDPI(bool supported)
{
    // Qt 6 always draws at the screen's device pixel ratio, so there is nothing
    // to switch on; the declaration is kept for whoever asks.
    supportsHiDPI = supported;
}

bool Application::SupportsHiDPI()
{
    return supportsHiDPI;
}

void RuntimeRegisterAppObject(const Ref<Application>& app)
{
    AppObject() = app;
}

Ref<Application> GetAppObject()
{
    return AppObject();
}

void RunFrameworkInitialization(void (*lateStart)())
{
    CheckMainThread("RunFrameworkInitialization");
    if (lateStart)
        lateStart();
}

void RuntimeRun()
{
    CheckMainThread("RuntimeRun");
    if (!QtApp())
        throw UnsupportedOperationException("RuntimeRun: the run time has not been started");
    phase = Phase::Running;
    // A signal that came while the start-up made the window ends the run before its loop.
    QuitForSignal();
    if (!quitting)
        if (Ref<Application> app = GetAppObject())
            Dispatch([&app] { app->RaiseEvent("Open"); });
    if (!quitting)
        QApplication::exec();
    phase = Phase::Ended;
}

void RuntimePerformFinalizers()
{
    ReleaseAllWindows();
    AppObject() = nullptr;
}

int RuntimeExit()
{
    // An Inhibit call may still wait on a silent bus; the exit does not.
    EndActivityCalls(AudioDeviceOpening());
    // The windows go, and the port with them: closed, its settings restored, its lock removed.
    ReleaseAllWindows();
    const int status = startupFailed ? 1 : exitStatus;
    BoundTheRestOfTheRun(status);
    // Qt's objects must go while Qt still exists, not among the static destructors.
    QtApp().reset();
    SetTeardownTimer(0);
    ReleaseEndingSignals();
    phase = Phase::Ended;
    return status;
}

void UnhandledException(const std::exception& e)
{
    if (phase == Phase::NotStarted || phase == Phase::Starting)
        startupFailed = true;
    const auto* runtime = dynamic_cast<const RuntimeException*>(&e);
    const char* className = runtime ? runtime->ClassName() : "exception";
    std::fprintf(stderr, "%s: unhandled %s: %s\n", ProgramName, className, e.what());

    // An exception raised again every tick would otherwise stack one box on another.
    static bool showing = false;
    if (showing || !QtApp())
        return;
    showing = true;
    struct Reset {
        ~Reset() { showing = false; }
    } reset;
    MsgBox(String("An exception of class ") + className + " was not handled.\n\n" + e.what());
}

namespace {
void CallStdFunction(void* fn)
{
    (*static_cast<const std::function<void()>*>(fn))();
}
} // namespace

void Dispatch(const std::function<void()>& fn) noexcept
{
    try {
        if (!exceptionHelper) {
            fn();
        } else if (std::exception_ptr raised
            = exceptionHelper(&CallStdFunction, const_cast<std::function<void()>*>(&fn))) {
            std::rethrow_exception(raised);
        }
    } catch (const std::exception& e) {
        try {
            UnhandledException(e);
        } catch (...) {
            std::fprintf(stderr, "%s: the unhandled-exception handler failed\n", ProgramName);
        }
    } catch (...) {
        try {
            UnhandledException(RuntimeException("an exception of unknown type"));
        } catch (...) {
            std::fprintf(stderr, "%s: the unhandled-exception handler failed\n", ProgramName);
        }
    }
}

void Quit(int exitCode)
{
    if (quitting)
        return;
    quitting = true;
    quitRequested = 1;
    exitStatus = exitCode;
    // Outside the loop this does nothing; RuntimeRun then sees `quitting` and does not start it.
    QCoreApplication::exit(exitCode);
}

} // namespace fw
