// Application and event loop: the run time's start and end, the application
// object, Quit, and the handler of exceptions that nothing else caught.
//
// A program's entry point runs, in this order: RuntimeInit, RuntimePerformInitializers,
// its start-up (which registers the application object, hands RunFrameworkInitialization
// its late-start callback and calls RuntimeRun), RuntimePerformFinalizers and RuntimeExit.
//
// Exit status: the code given to the first Quit, 0 when nothing called Quit. An
// exception that escapes the start-up (reported while the run time has not yet
// entered its event loop) makes it 1, whatever Quit was given: a program that
// could not start does not report success. An exception that escapes an event
// handler is reported and the program goes on; it does not change the status.
//
// SIGTERM, SIGINT and SIGHUP quit as Quit does, with 128 plus the signal's number,
// from the event loop (a message box's loop too), or before the loop runs when the
// signal came during the start-up. Should the process still run 0.9 s after the
// signal, or at a second one, the handler puts the open ports back
// (RestoreOpenPortsNow) and ends the process with that status. From RuntimeInit to
// the end of RuntimeExit; a signal ignored when RuntimeInit runs stays ignored.
#pragma once

#include "framework/runtime.h"

#include <exception>
#include <initializer_list>
#include <string>

namespace fw {

class MenuBar;

// The program's name as the desktop shows it: in the title of every message box
// and in what the run time says when it cannot start.
inline constexpr char ProgramName[] = "Vantrope";

// The application object: its version data and menu bar. A program registers one
// object of its own subclass with RuntimeRegisterAppObject; its Open event is
// raised by RuntimeRun, after the late-start callback, just before the event loop
// runs.
//
// On Linux there is no menu bar of the application's own: the application keeps
// the bar it is given, and a window shows the bar given to Window::SetMenuBar.
class Application : public Object {
    FW_OBJECT(Application)
public:
    Application();
    ~Application() override;

    void x_SetVersionData(Integer major, Integer minor, Integer bug, Integer nonRelease, Integer stageCode,
        const String& longVersion, const String& shortVersion, const String& packageInfo);
    Integer MajorVersion() const { return major_; }
    Integer MinorVersion() const { return minor_; }
    Integer BugVersion() const { return bug_; }
    Integer NonReleaseVersion() const { return nonRelease_; }
    Integer StageCode() const { return stageCode_; }
    const String& LongVersion() const { return longVersion_; }
    const String& ShortVersion() const { return shortVersion_; }
    const String& PackageInfo() const { return packageInfo_; }

    Ref<fw::MenuBar> MenuBar() const { return menuBar_; }
    void SetMenuBar(const Ref<fw::MenuBar>& bar);

    // Declares that the application draws sharply on high-resolution displays.
    static void SetSupportsHiDPI(bool supported);
    static bool SupportsHiDPI();

private:
    Integer major_ = 0, minor_ = 0, bug_ = 0, nonRelease_ = 0, stageCode_ = 0;
    String longVersion_, shortVersion_, packageInfo_;
    Ref<fw::MenuBar> menuBar_;
};

void RuntimeRegisterAppObject(const Ref<Application>& app);
// The registered application object, or nil.
Ref<Application> GetAppObject();

// The program's Resources folder: the folder named "Resources" in the parent of
// the folder that holds the running executable (its real path resolved). Empty
// when there is no such folder.
std::string ApplicationResourcesPath();

// Starts the run time: the Qt application object, on the main thread. A second
// call changes nothing. Closing the last window does not end the run; Quit does.
void RuntimeInit(int argc, char** argv);

// Registers every class of the framework, then runs the program's initialisers in
// the order given; the plugins' classes are bound later, by InitPluginEntrypoints.
// A class registers only once however often its initialiser runs.
void RuntimePerformInitializers(std::initializer_list<void (*)()> programInitializers = {});

// Sets up the classes that the framework makes by itself. Its exceptions are C++
// classes without class tables, so there is nothing to set up on this platform.
void RuntimeInitExternalClasses();

// Binds the plugins' classes (the process-information plugin).
void InitPluginEntrypoints();

// Records the run-time version that the program was built for.
void RuntimeSetVersion(Double version);
Double RuntimeVersion();

// Calls `function` with `argument` and returns the RuntimeException it raised, or
// nil when it raised none; any other exception passes on.
std::exception_ptr CallFunctionWithExceptionHandling(void (*function)(void*), void* argument);
using ExceptionHelper = std::exception_ptr (*)(void (*function)(void*), void* argument);
// From then on every call from the event loop into the program goes through the helper.
void RuntimeSetExceptionHelper(ExceptionHelper helper);

// The framework's own start-up, then the late-start callback, which opens the
// program's first window. What the callback raises passes on to the caller, so a
// program whose window could not be made fails its start-up.
void RunFrameworkInitialization(void (*lateStart)());

// Raises the application object's Open event, then runs the event loop until Quit.
// Returns at once when Quit was called before.
void RuntimeRun();

// Lets go of the windows and of the application object, whose finaliser runs.
void RuntimePerformFinalizers();

// Ends the run time: ends the Inhibit calls, lets go of the windows (which closes
// their ports) and of the Qt application object, and returns the exit status (see
// the top of this file). What follows the windows may wait on a server that has
// stopped (the X server, the sound server), so it is bounded: Qt's teardown here,
// and the process's exit once main returns (the static destructors, which close the
// audio device), each end the process with that status if they take over 0.4 s.
// The caller's own code between the two is not bounded; main should return the
// status, which is what a stalled exit ends with.
int RuntimeExit();

// Reports an exception that escaped an event handler or the start-up: its class
// and message, on standard error and in a message box. While that box is up,
// further reports go to standard error only.
void UnhandledException(const std::exception& e);

// Asks the event loop to end with the exit code. A second Quit while quitting changes nothing.
void Quit(int exitCode = 0);

} // namespace fw
