#include "app/startup.h"

#include "app/app.h"
#include "app/menu_bar1.h"
#include "framework/application.h"
#include "monitor/my_serial.h"
#include "monitor/window1.h"
#include "nixie/nixie_canvas.h"

#include <exception>

namespace {
// The run-time version the program was built for.
constexpr fw::Double builtForRuntime = 2019.011;

// Starts the run time and registers every class; false when that failed, after the report.
bool StartRuntime(int argc, char** argv)
{
    try {
        fw::RuntimeInit(argc, argv);
        fw::RuntimePerformInitializers({
            [] { App::Lookup(); },
            [] { Window1::Lookup(); },
            [] { MenuBar1::Lookup(); },
            [] { MySerial::Lookup(); },
            [] { NixieCanvas::Lookup(); },
        });
        return true;
    } catch (const std::exception& e) {
        fw::UnhandledException(e);
    } catch (...) {
        fw::UnhandledException(fw::RuntimeException("an exception of unknown type"));
    }
    return false;
}

} // namespace

int VantropeMain(int argc, char** argv)
{
    try {
        if (StartRuntime(argc, argv))
            Main();
    } catch (...) {
        // The handler itself failed after writing its report; the failed start-up
        // already decides the exit status.
    }
    fw::RuntimePerformFinalizers();
    return fw::RuntimeExit();
}

void Main()
{
    try {
        fw::RuntimeSetExceptionHelper(&fw::CallFunctionWithExceptionHandling);
        fw::RuntimeSetVersion(builtForRuntime);
        EarlyStartup();
        fw::RunFrameworkInitialization(&LateStartup);
        fw::RuntimeRun();
    } catch (const std::exception& e) {
        fw::UnhandledException(e);
    } catch (...) {
        fw::UnhandledException(fw::RuntimeException("an exception of unknown type"));
    }
}

void EarlyStartup()
{
    fw::Application::SetSupportsHiDPI(true);
    fw::RuntimeInitExternalClasses();
    fw::InitPluginEntrypoints();
    InitFileTypes();
    NewAppInstance();
    ApplicationAddMenuHandlers();
}

void InitFileTypes()
{
    // The program opens no documents, so it declares no file types.
}

void NewAppInstance()
{
    auto app = fw::New<class App>();
    app->Constructor();
    app->x_SetVersionData(2, 0, 0, 0, 3, "Vantrope 2.0.0", "2.0.0", "");
    // The first call: the menu bar is built here, before any window exists.
    app->SetMenuBar(MenuBar1());
    fw::RuntimeRegisterAppObject(app);
}

void ApplicationAddMenuHandlers()
{
    // The application handles no menu item; the main window handles About.
}

void LateStartup()
{
    MakeDefaultView();
}

void MakeDefaultView()
{
    // The framework keeps the window; a second call finds it and makes none.
    Window1();
}
