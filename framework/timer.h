// Timers: a non-visual control whose Action event fires every Period milliseconds
// (Mode 2), once (Mode 1) or not at all (Mode 0). Precise timers: a coarse one
// drifts by seconds over an hour.
#pragma once

#include "framework/window.h"

#include <memory>

namespace fw {

class Timer : public Control {
    FW_OBJECT(Timer)
public:
    static constexpr Integer ModeOff = 0, ModeSingle = 1, ModeMultiple = 2;

    Timer();
    ~Timer() override;

    Integer Mode() const { return mode_; }
    Integer Period() const { return period_; }
    void SetMode(Integer mode);
    void SetPeriod(Integer milliseconds);
    bool Active() const;

    // Fires the Action event now, as the timer does when its period has passed.
    void Fire();

private:
    void Apply();

    Integer mode_ = ModeMultiple;
    Integer period_ = 1000;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace fw
