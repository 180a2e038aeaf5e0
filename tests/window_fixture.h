// Windows for tests: a constructed main window with every control the handlers
// reach, timers stopped so that only the test drives the ticks.
#pragma once

#include "framework/serial.h"
#include "monitor/my_serial.h"
#include "monitor/window1.h"

#include <string>

namespace testing_support {

// Adds the controls that the window's layout has not made (none, once it makes them all).
void EnsureControls(class Window1& window);

template <class W = class Window1>
fw::Ref<W> MakeWindow()
{
    auto window = fw::New<W>();
    window->Constructor();
    EnsureControls(*window);
    for (const char* name : { "Timer1", "Timer2" })
        if (auto timer = fw::RuntimeCheckCast<fw::Timer>(window->ControlByName(name)))
            timer->SetMode(fw::Timer::ModeOff);
    return window;
}

// A serial object fed from memory: ReadAll takes whatever the test queued.
class FeedSerial : public MySerial {
public:
    void Feed(const std::string& bytes) { pending_ += bytes; }
    std::size_t Pending() const { return pending_.size(); }
    int reads = 0;

    fw::String ReadAll(fw::Encoding) override
    {
        ++reads;
        return fw::String::FromBytes(std::exchange(pending_, {}));
    }

private:
    std::string pending_;
};

} // namespace testing_support
