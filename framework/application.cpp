#include "framework/application.h"

#include "framework/window.h"

#include <QApplication>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

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
int exitStatus = 0;

} // namespace

std::string ApplicationResourcesPath()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path exe = fs::canonical("/proc/self/exe", ec);
    if (ec)
        return {};
    const fs::path resources = exe.parent_path().parent_path() / "Resources";
    return fs::is_directory(resources, ec) ? resources.string() : std::string();
}

void RuntimeInit(int argc, char** argv)
{
    CheckMainThread("RuntimeInit");
    if (QtApp())
        return;
    savedArgc = argc;
    savedArgv = argv;
    QtApp() = std::make_unique<QApplication>(savedArgc, savedArgv);
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
                                   Integer stageCode, const String& longVersion, const String& shortVersion,
                                   const String& packageInfo)
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

void Application::SetSupportsHiDPI(bool /*supported*/)
{
    // pending: the application-shell issue declares high-resolution support to Qt.
}

namespace {
Ref<Application>& AppObject()
{
    static Ref<Application> app;
    return app;
}
} // namespace

void RuntimeRegisterAppObject(const Ref<Application>& app)
{
    AppObject() = app;
}

Ref<Application> GetAppObject()
{
    return AppObject();
}

int RuntimeExit()
{
    ReleaseAllWindows();
    // Qt's objects must go while Qt still exists, not among the static destructors.
    QtApp().reset();
    return exitStatus;
}

void UnhandledException(const std::exception& e)
{
    const auto* runtime = dynamic_cast<const RuntimeException*>(&e);
    std::fprintf(stderr, "Vantrope: unhandled %s: %s\n", runtime ? runtime->ClassName() : "exception",
                 e.what());
    // pending: the application-shell issue also shows it in a message box.
}

void Dispatch(const std::function<void()>& fn) noexcept
{
    try {
        fn();
    } catch (const std::exception& e) {
        try {
            UnhandledException(e);
        } catch (...) {
            std::fputs("Vantrope: the unhandled-exception handler failed\n", stderr);
        }
    } catch (...) {
        std::fputs("Vantrope: unhandled exception of unknown type\n", stderr);
    }
}

void Quit(int exitCode)
{
    // pending: the application-shell issue ends the event loop once with this code.
    exitStatus = exitCode;
    QCoreApplication::exit(exitCode);
}

} // namespace fw
