// The process-information plugin: a process activity that keeps the system from
// going to sleep while the program works.
//
// On Linux an activity is a systemd-logind inhibitor, taken over the system D-Bus
// (org.freedesktop.login1.Manager.Inhibit, mode "block"). Its handle holds the
// inhibitor's file descriptor; releasing the last reference closes it, which ends
// the inhibitor.
//
// The inhibitor is a convenience and must never hold up the program, yet a system
// bus that accepts the connection and then says nothing blocks any client for as
// long as it likes: Qt DBus connects synchronously (the bus's Hello is a blocking
// round trip, made on the caller's behalf by a thread of Qt's own that the exit
// then waits for), so neither the main thread nor a Qt connection may touch the
// bus. The one thread of this plugin therefore makes the connection and the
// Inhibit call with libdbus on a private connection of its own, each call bounded
// by a timeout, and hands the descriptor to the activity's handle. The end of the
// run does not wait on the bus either: EndActivityCalls shuts the connection's
// socket under the blocked call, which then fails at once, and joins the thread.
// Before the socket exists, libdbus's connect may wait in the kernel for as long as
// the bus takes no connections (its listen queue is full); that thread alone is
// then sent SIGURG, caught with a handler that does nothing, so that the connect
// fails with EINTR and libdbus gives up on it.
//
// One wait is beyond the signal's reach: every libdbus connection that ends takes
// the library's global bus lock, which another user of libdbus in the process (SDL,
// while the audio device opens) holds for as long as its own connection to a bus is
// being made, without end on a bus that never answers. When that may be so, the end
// gives the thread a short while and then leaves it; it touches nothing that is
// ever freed.
#pragma once

#include "framework/runtime.h"

#include <memory>

namespace fw {

// The option bits of an activity that have a counterpart in an inhibitor: both
// keep the machine awake while the user is idle ("idle").
inline constexpr Integer ActivityIdleSystemSleepDisabled = Integer { 1 } << 20;
inline constexpr Integer ActivityIdleDisplaySleepDisabled = Integer { 1 } << 40;
// A user-initiated activity: holds the idle system sleep bit.
inline constexpr Integer ActivityUserInitiated = 0xFFFFFF;

struct InhibitorSlot;

// The handle of a begun activity. Its inhibitor arrives when logind answers, which
// may be never: until then, and for good when the bus or logind fails, the handle
// holds no descriptor and nothing is reported.
class NSProcessInfoActivityPlugin : public Object {
    FW_OBJECT(NSProcessInfoActivityPlugin)
public:
    // A handle that holds no inhibitor and waits for none.
    NSProcessInfoActivityPlugin();
    // A handle whose inhibitor is delivered into `slot`.
    explicit NSProcessInfoActivityPlugin(std::shared_ptr<InhibitorSlot> slot);
    ~NSProcessInfoActivityPlugin() override;

    // The inhibitor's descriptor, -1 while the activity holds none.
    int InhibitorFd() const;
    // True while the Inhibit call is still outstanding.
    bool Pending() const;

private:
    std::shared_ptr<InhibitorSlot> slot_;
};

class NSProcessInfoPlugin : public Object {
    FW_OBJECT(NSProcessInfoPlugin)
public:
    // The process's information object, without waiting on the bus; nil when the
    // system bus's address names no socket that exists, and then nothing is reported.
    static Ref<NSProcessInfoPlugin> processInfo();

    // Begins an activity for `reason` and returns its handle at once. Options
    // without an idle bit need no inhibitor and give a handle that holds none;
    // otherwise the Inhibit call goes out in the background.
    Ref<NSProcessInfoActivityPlugin> beginActivity(Integer options, const String& reason);

    // The system bus's address, read once when the object is made.
    explicit NSProcessInfoPlugin(std::string busAddress);

private:
    std::string busAddress_;
};

// Ends the Inhibit calls still outstanding, without waiting for the bus, and the
// plugin's thread with them. The run time's exit calls it; a later activity starts
// the thread again. `busLockMayBeHeld`: another user of libdbus may be holding its
// global bus lock; a thread held on it is then left after a short while (and a later
// activity waits behind it).
void EndActivityCalls(bool busLockMayBeHeld = false);

} // namespace fw
