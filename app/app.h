// The application object: version data, menu bar and the process activity it holds.
#pragma once

#include "framework/application.h"

class App : public fw::Application {
    FW_OBJECT(App)
public:
    void Constructor();
    void Event_Open();
};

// The registered application object.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
fw::Ref<class App> App();
#pragma GCC diagnostic pop
