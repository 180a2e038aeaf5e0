#include "framework/process_info.h"

#include "framework/application.h"

#include <QString>

#include <dbus/dbus.h>

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace fw {

// Where the plugin's thread leaves the inhibitor for the handle; the two may end
// in either order.
struct InhibitorSlot {
    std::mutex mutex;
    int fd = -1;
    bool pending = true;
    bool released = false;
};

namespace {

// Where libdbus looks for the system bus when the environment names none.
constexpr const char* defaultSystemBus = "unix:path=/var/run/dbus/system_bus_socket";
// A live bus and logind answer within milliseconds; past this the call has failed.
constexpr int callTimeoutMs = 25000;

// Interrupts the plugin's thread in a connect that the kernel holds. Its default is
// to be ignored and nothing else in the process uses it, so catching it changes
// nothing for the other threads; it is only ever sent to the plugin's own.
constexpr int wakeSignal = SIGURG;
// How often the signal is sent again while the thread has not left: one can land
// just before the connect and be lost.
constexpr auto wakeInterval = std::chrono::milliseconds(5);
// How long the end waits for the thread when another user of libdbus may hold the
// library's global bus lock (see EndActivityCalls); otherwise the thread leaves
// within milliseconds of the signal.
constexpr auto endPatience = std::chrono::milliseconds(200);

void Woken(int) { }

// Without SA_RESTART, so that the connect fails with EINTR instead of going on.
void CatchWakeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action { };
        action.sa_handler = &Woken;
        sigemptyset(&action.sa_mask);
        ::sigaction(wakeSignal, &action, nullptr);
    });
}

// A thread inherits its creator's mask, which may block the signal.
void LetWakeSignalIn()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, wakeSignal);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

struct MessageUnref {
    void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

struct PendingUnref {
    void operator()(DBusPendingCall* p) const { dbus_pending_call_unref(p); }
};

// Frees the error's text at the end of the scope; nothing is reported from it.
struct ScopedError {
    DBusError error;
    ScopedError() { dbus_error_init(&error); }
    ~ScopedError() { dbus_error_free(&error); }
    ScopedError(const ScopedError&) = delete;
    ScopedError& operator=(const ScopedError&) = delete;
};

// True when a connection to the address might succeed: a Unix path that names no
// socket cannot, anything else is only known by trying.
bool MightReach(const std::string& address)
{
    ScopedError e;
    DBusAddressEntry** entries = nullptr;
    int count = 0;
    if (!dbus_parse_address(address.c_str(), &entries, &count, &e.error))
        return false;
    bool reachable = false;
    for (int i = 0; i < count && !reachable; ++i) {
        const char* path = dbus_address_entry_get_value(entries[i], "path");
        if (std::strcmp(dbus_address_entry_get_method(entries[i]), "unix") != 0 || !path) {
            reachable = true;
            continue;
        }
        struct stat st { };
        reachable = ::stat(path, &st) == 0 && S_ISSOCK(st.st_mode);
    }
    dbus_address_entries_free(entries);
    return reachable;
}

void Deliver(InhibitorSlot& slot, int fd)
{
    std::lock_guard lock(slot.mutex);
    slot.pending = false;
    if (slot.released) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    slot.fd = fd;
}

struct InhibitRequest {
    std::string address;
    std::string reason; // valid UTF-8, as libdbus demands
    std::shared_ptr<InhibitorSlot> slot;
};

// The plugin's thread and the calls it makes, one request after the other, each on
// a connection of its own.
class ActivityCaller {
public:
    ActivityCaller() = default;
    ActivityCaller(const ActivityCaller&) = delete;
    ActivityCaller& operator=(const ActivityCaller&) = delete;

    void Submit(InhibitRequest request)
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(request));
        if (running_)
            return;
        // A thread that has stopped taking requests takes the lock no more.
        if (thread_.joinable())
            thread_.join();
        CatchWakeSignal();
        try {
            thread_ = std::thread(&ActivityCaller::Run, this);
        } catch (const std::system_error&) {
            // No thread to spare: the run goes on without an inhibitor.
            Deliver(*queue_.back().slot, -1);
            queue_.pop_back();
            return;
        }
        running_ = true;
    }

    void End(bool busLockMayBeHeld)
    {
        std::unique_lock lock(mutex_);
        ending_ = true;
        // A call blocked on the connection sees it end and returns at once.
        if (socket_ >= 0)
            ::shutdown(socket_, SHUT_RDWR);
        std::thread thread = std::move(thread_);
        std::deque<InhibitRequest> dropped;
        dropped.swap(queue_);
        // A connect the kernel holds (a bus that takes no more connections) has no
        // socket to shut yet; the signal makes it fail, and libdbus then gives up.
        const auto giveUp = std::chrono::steady_clock::now() + endPatience;
        // A thread left by an earlier end is no longer this object's to signal.
        while (running_ && thread.joinable()
            && (!busLockMayBeHeld || std::chrono::steady_clock::now() < giveUp)) {
            ::pthread_kill(thread.native_handle(), wakeSignal);
            stopped_.wait_for(lock, wakeInterval);
        }
        const bool stopped = !running_;
        ending_ = false;
        lock.unlock();
        for (InhibitRequest& r : dropped)
            Deliver(*r.slot, -1);
        if (!thread.joinable())
            return;
        if (stopped)
            thread.join();
        else
            thread.detach(); // it touches only its request, libdbus and this object, which is never freed
    }

private:
    void Run()
    {
        LetWakeSignalIn();
        for (;;) {
            InhibitRequest request;
            {
                std::lock_guard lock(mutex_);
                if (ending_ || queue_.empty()) {
                    running_ = false;
                    stopped_.notify_all();
                    return;
                }
                request = std::move(queue_.front());
                queue_.pop_front();
            }
            Deliver(*request.slot, Call(request));
        }
    }

    // The inhibitor's descriptor, or -1 when anything on the way failed.
    int Call(const InhibitRequest& request)
    {
        ScopedError e;
        DBusConnection* connection = dbus_connection_open_private(request.address.c_str(), &e.error);
        if (!connection)
            return -1;
        dbus_connection_set_exit_on_disconnect(connection, FALSE);
        int fd = -1;
        if (Publish(connection))
            fd = HelloAndInhibit(connection, request.reason);
        {
            // Cleared before the close, so that End never shuts a reused descriptor.
            std::lock_guard lock(mutex_);
            socket_ = -1;
        }
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
        return fd;
    }

    // Makes the connection's socket known to End; false when the run is ending.
    bool Publish(DBusConnection* connection)
    {
        int s = -1;
        if (!dbus_connection_get_socket(connection, &s))
            s = -1;
        std::lock_guard lock(mutex_);
        if (ending_)
            return false;
        socket_ = s;
        return true;
    }

    static int HelloAndInhibit(DBusConnection* connection, const std::string& reason)
    {
        // A bus takes no other call before Hello.
        Message hello(
            dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello"));
        if (!hello || !Reply(connection, hello.get()))
            return -1;
        if (!dbus_connection_can_send_type(connection, DBUS_TYPE_UNIX_FD))
            return -1;
        Message call(dbus_message_new_method_call("org.freedesktop.login1", "/org/freedesktop/login1",
            "org.freedesktop.login1.Manager", "Inhibit"));
        const char* what = "idle";
        const char* who = ProgramName;
        const char* why = reason.c_str();
        const char* mode = "block";
        if (!call
            || !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &what, DBUS_TYPE_STRING, &who,
                DBUS_TYPE_STRING, &why, DBUS_TYPE_STRING, &mode, DBUS_TYPE_INVALID))
            return -1;
        Message reply = Reply(connection, call.get());
        if (!reply)
            return -1;
        ScopedError e;
        int fd = -1;
        if (!dbus_message_get_args(reply.get(), &e.error, DBUS_TYPE_UNIX_FD, &fd, DBUS_TYPE_INVALID))
            return -1;
        return fd;
    }

    // The method's reply; nil for an error reply, a timeout or a lost connection.
    // libdbus's own blocking call waits without end while the bus has not yet
    // authenticated the connection, so the deadline is kept here.
    static Message Reply(DBusConnection* connection, DBusMessage* call)
    {
        DBusPendingCall* raw = nullptr;
        if (!dbus_connection_send_with_reply(connection, call, &raw, callTimeoutMs) || !raw)
            return nullptr;
        const std::unique_ptr<DBusPendingCall, PendingUnref> pending(raw);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(callTimeoutMs);
        while (!dbus_pending_call_get_completed(raw)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || !dbus_connection_read_write_dispatch(connection, static_cast<int>(left)))
                break;
        }
        if (!dbus_pending_call_get_completed(raw)) {
            dbus_pending_call_cancel(raw);
            return nullptr;
        }
        Message reply(dbus_pending_call_steal_reply(raw));
        if (!reply || dbus_message_get_type(reply.get()) != DBUS_MESSAGE_TYPE_METHOD_RETURN)
            return nullptr;
        return reply;
    }

    std::mutex mutex_;
    std::deque<InhibitRequest> queue_;
    std::thread thread_;
    std::condition_variable stopped_; // the thread has stopped taking requests
    bool running_ = false; // the thread takes requests
    bool ending_ = false;
    int socket_ = -1; // the socket of the connection in use
};

// Never freed: a thread left to end on its own still uses it.
ActivityCaller& Caller()
{
    static ActivityCaller* const caller = new ActivityCaller;
    return *caller;
}

// What libdbus accepts as a string: valid UTF-8 without NUL.
std::string DBusText(const String& s)
{
    const std::string& bytes = s.Bytes();
    std::string text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
    text = text.substr(0, text.find('\0'));
    // libdbus aborts the process on a string it does not take.
    return dbus_validate_utf8(text.c_str(), nullptr) ? text : std::string();
}

} // namespace

const ClassInfo& NSProcessInfoActivityPlugin::Lookup()
{
    static const ClassInfo& info
        = RegisterClass(ClassBuilder("NSProcessInfoActivityPlugin", &Object::Lookup()).Finalizer().Build());
    return info;
}

NSProcessInfoActivityPlugin::NSProcessInfoActivityPlugin() = default;

NSProcessInfoActivityPlugin::NSProcessInfoActivityPlugin(std::shared_ptr<InhibitorSlot> slot)
    : slot_(std::move(slot))
{
}

NSProcessInfoActivityPlugin::~NSProcessInfoActivityPlugin()
{
    if (!slot_)
        return;
    std::lock_guard lock(slot_->mutex);
    slot_->released = true;
    if (slot_->fd >= 0)
        ::close(slot_->fd);
    slot_->fd = -1;
}

int NSProcessInfoActivityPlugin::InhibitorFd() const
{
    if (!slot_)
        return -1;
    std::lock_guard lock(slot_->mutex);
    return slot_->fd;
}

bool NSProcessInfoActivityPlugin::Pending() const
{
    if (!slot_)
        return false;
    std::lock_guard lock(slot_->mutex);
    return slot_->pending;
}

const ClassInfo& NSProcessInfoPlugin::Lookup()
{
    static const ClassInfo& info
        = RegisterClass(ClassBuilder("NSProcessInfoPlugin", &Object::Lookup())
                            .Op("beginActivity", { "Integer", "String" }, "NSProcessInfoActivityPlugin")
                            .Build());
    return info;
}

NSProcessInfoPlugin::NSProcessInfoPlugin(std::string busAddress)
    : busAddress_(std::move(busAddress))
{
}

Ref<NSProcessInfoPlugin> NSProcessInfoPlugin::processInfo()
{
    static Ref<NSProcessInfoPlugin> shared;
    if (shared)
        return shared;
    const char* given = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    std::string address = given && *given ? given : defaultSystemBus;
    if (!MightReach(address))
        return nullptr;
    shared = New<NSProcessInfoPlugin>(std::move(address));
    return shared;
}

Ref<NSProcessInfoActivityPlugin> NSProcessInfoPlugin::beginActivity(Integer options, const String& reason)
{
    if (!(options & (ActivityIdleSystemSleepDisabled | ActivityIdleDisplaySleepDisabled)))
        return New<NSProcessInfoActivityPlugin>();
    auto slot = std::make_shared<InhibitorSlot>();
    Caller().Submit({ busAddress_, DBusText(reason), slot });
    return New<NSProcessInfoActivityPlugin>(std::move(slot));
}

void EndActivityCalls(bool busLockMayBeHeld)
{
    Caller().End(busLockMayBeHeld);
}

} // namespace fw
