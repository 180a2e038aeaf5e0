#include "app/app.h"

const fw::ClassInfo& App::Lookup()
{
    static const fw::ClassInfo& info = fw::RegisterClass(
        fw::ClassBuilder("App", &fw::Application::Lookup())
            .Factory<class App>()
            .Finalizer()
            .Op("Event_Open")
            .Op("Constructor")
            .Hook("Open", [](fw::Object& o, fw::EventArgs&) { static_cast<class App&>(o).Event_Open(); })
            .Held("SleepDisableHandle", "NSProcessInfoActivityPlugin")
            .Interface("_MacOSDistributedNotifications.iNotify")
            .Build());
    return info;
}

App::~App()
{
    // Releasing the handle ends the activity; it is not ended otherwise.
    SleepDisableHandle = nullptr;
}

void App::Constructor()
{
    // Nothing to set up: the start-up gives the object its data.
}

void App::Event_Open()
{
    fw::Ref<fw::NSProcessInfoPlugin> info = fw::NSProcessInfoPlugin::processInfo();
    if (!info)
        return;
    // Keeps the machine from sleeping while the counter is watched.
    SleepDisableHandle = info->beginActivity(fw::ActivityUserInitiated, "Sync running");
}

fw::Ref<class App> App()
{
    return fw::RuntimeCheckCast<class App>(fw::GetAppObject());
}
