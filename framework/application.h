// Application and event loop: the run time's start and end, the application
// object, Quit, and the handler of exceptions that nothing else caught.
#pragma once

#include "framework/runtime.h"

#include <exception>
#include <string>

namespace fw {

class MenuBar;

// The application object: its version data and menu bar. A program registers one
// object of its own subclass with RuntimeRegisterAppObject; the Open event is
// raised when the event loop starts.
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

// Starts the run time: the Qt application object, on the main thread.
void RuntimeInit(int argc, char** argv);

// Ends the run time: lets go of the windows and the Qt application object, and
// returns the exit status, the code given to Quit.
int RuntimeExit();

// Reports an exception that escaped an event handler or the start-up: its class
// and message, on standard error.
void UnhandledException(const std::exception& e);

// Asks the event loop to end with the exit code. A second Quit while quitting changes nothing.
void Quit(int exitCode = 0);

} // namespace fw
