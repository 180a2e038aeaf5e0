// The process-information plugin: a process activity that keeps the system from
// going to sleep while the program works.
//
// On Linux an activity is a systemd-logind inhibitor, taken over the system D-Bus
// (org.freedesktop.login1.Manager.Inhibit, mode "block"). Its handle holds the
// inhibitor's file descriptor; releasing the last reference closes it, which ends
// the inhibitor.
#pragma once

#include "framework/runtime.h"

namespace fw {

// The option bits of an activity that have a counterpart in an inhibitor: both
// keep the machine awake while the user is idle ("idle").
inline constexpr Integer ActivityIdleSystemSleepDisabled = Integer { 1 } << 20;
inline constexpr Integer ActivityIdleDisplaySleepDisabled = Integer { 1 } << 40;
// A user-initiated activity: holds the idle system sleep bit.
inline constexpr Integer ActivityUserInitiated = 0xFFFFFF;

// The handle of a begun activity.
class NSProcessInfoActivityPlugin : public Object {
    FW_OBJECT(NSProcessInfoActivityPlugin)
public:
    // Takes over the descriptor; -1 for an activity that needed no inhibitor.
    explicit NSProcessInfoActivityPlugin(int inhibitorFd = -1);
    ~NSProcessInfoActivityPlugin() override;

    // The inhibitor's descriptor, -1 when the activity holds none.
    int InhibitorFd() const { return fd_; }

private:
    int fd_;
};

class NSProcessInfoPlugin : public Object {
    FW_OBJECT(NSProcessInfoPlugin)
public:
    // The process's information object; nil when no system bus or no logind can be
    // reached, and then nothing is reported.
    static Ref<NSProcessInfoPlugin> processInfo();

    // Begins an activity for `reason`. Options without an idle bit need no
    // inhibitor and give a handle that holds none. A refused or failed Inhibit
    // call raises RuntimeException with logind's message.
    Ref<NSProcessInfoActivityPlugin> beginActivity(Integer options, const String& reason);
};

} // namespace fw
