#include "framework/timer.h"

#include "framework/application.h"

#include <QTimer>

#include <algorithm>

namespace fw {

struct Timer::Impl {
    QTimer timer;
};

const ClassInfo& Timer::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("Timer", &Control::Lookup())
                                                     .Factory<Timer>()
                                                     .Op("Reset")
                                                     .Event("Action")
                                                     .Property("Mode", &Timer::SetMode)
                                                     .Property("Period", &Timer::SetPeriod)
                                                     .Build());
    return info;
}

Timer::Timer()
    : impl_(std::make_unique<Impl>())
{
    CheckMainThread("Timer");
    impl_->timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&impl_->timer, &QTimer::timeout, &impl_->timer, [this] {
        const bool single = mode_ == ModeSingle;
        if (single)
            mode_ = ModeOff;
        // Qt does not fire a timer again while its timeout is still being delivered, so
        // a modal box opened from the handler (an exception's report) would stop the
        // timer until the box is dismissed. The handler runs once that delivery is over.
        QMetaObject::invokeMethod(
            &impl_->timer,
            [this, single] {
                if (mode_ == ModeOff && !single)
                    return; // switched off before its turn came
                Dispatch([this] { Fire(); });
            },
            Qt::QueuedConnection);
    });
}

Timer::~Timer() = default;

void Timer::SetMode(Integer mode)
{
    CheckMainThread("Timer.Mode");
    mode_ = mode;
    Apply();
}

void Timer::SetPeriod(Integer milliseconds)
{
    CheckMainThread("Timer.Period");
    period_ = milliseconds;
    Apply();
}

bool Timer::Active() const
{
    return impl_->timer.isActive();
}

void Timer::Fire()
{
    RaiseEvent("Action");
}

void Timer::Apply()
{
    if (mode_ == ModeOff) {
        impl_->timer.stop();
        return;
    }
    impl_->timer.setSingleShot(mode_ == ModeSingle);
    impl_->timer.start(static_cast<int>(std::clamp<Integer>(period_, 1, 0x7FFFFFFF)));
}

} // namespace fw
