// The application object: version data, menu bar and the process activity it holds.
#pragma once

#include "framework/application.h"
#include "framework/process_info.h"

class App : public fw::Application {
    FW_OBJECT(App)
public:
    // The finaliser: lets go of the activity's handle.
    ~App() override;

    void Constructor();
    void Event_Open();

    // The activity begun at Open, held for the whole run; nil until then. Its
    // inhibitor may arrive later, or never.
    fw::Ref<fw::NSProcessInfoActivityPlugin> SleepDisableHandle;
};

// The registered application object.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
fw::Ref<class App> App();
#pragma GCC diagnostic pop
