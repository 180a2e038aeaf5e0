#include "framework/serial.h"
#include "framework/serial_lock.h"
#include "framework/serial_speed.h"

#include <QCoreApplication>
#include <QSerialPortInfo>
#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace fw {

namespace {

constexpr std::array<Integer, 16> bitRates = { 300, 600, 1200, 1800, 2400, 3600, 4800, 7200, 9600, 14400,
    19200, 28800, 38400, 57600, 115200, 230400 };
// The termios constant of each speed; 0 where there is none and termios2 sets it.
constexpr std::array<speed_t, 16> speedConstants
    = { B300, B600, B1200, B1800, B2400, 0, B4800, 0, B9600, 0, B19200, 0, B38400, B57600, B115200, B230400 };

constexpr std::array<tcflag_t, 4> dataBits = { CS5, CS6, CS7, CS8 };

// Three quarters of a tty's 4 KiB input buffer: after a read that found this
// much, the next tick might come too late for the kernel to hold it all.
constexpr qsizetype backlogBytes = 3 * 1024;

// What the call was matters: whatever the device says to a speed or a data-bits
// setting means it refused the setting.
enum class Step { LineSetting, Other };

// What the system says when the device has gone from under an open descriptor.
bool MeansGone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == ENOENT || error == EBADF;
}

Integer CodeFor(Step step, int error, bool open)
{
    if (open && MeansGone(error))
        return Serial::PortLost;
    switch (error) {
    case EACCES:
    case EPERM:
    case EBUSY:
        return Serial::AccessDenied;
    case ENOENT:
    case ENODEV:
        return Serial::PortNotFound;
    default:
        break;
    }
    if (step == Step::LineSetting)
        return Serial::InvalidOptions;
    if (error == ENOTTY || error == EINVAL)
        return Serial::UnsupportedOperation;
    return Serial::OtherError;
}

QString ToQString(const String& s)
{
    return QString::fromUtf8(s.Bytes().data(), static_cast<qsizetype>(s.Bytes().size()));
}

String FromQString(const QString& s)
{
    return String(s.toStdString());
}

String Received(const QByteArray& data, Encoding encoding)
{
    std::string bytes(data.constData(), static_cast<std::size_t>(data.size()));
    return encoding == Encoding::UTF8 ? String(std::move(bytes)) : String::FromBytes(std::move(bytes));
}

SerialPortProvider& Provider()
{
    static SerialPortProvider provider;
    return provider;
}

std::vector<Ref<SerialPort>> SystemPorts()
{
    if (Provider())
        return Provider()();
    std::vector<Ref<SerialPort>> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.push_back(New<SerialPort>(FromQString(info.portName()), FromQString(info.systemLocation())));
    return ports;
}

ControlLineRecorder& Recorder()
{
    static ControlLineRecorder recorder;
    return recorder;
}

// What putting an open device back takes, where a signal handler can reach it:
// the run's end by a signal may come while the main thread cannot run. A slot is
// free, filled by its connection, being shut by it, or claimed by that end; the
// connection and the end take it from "filled" with one exchange, so only one of
// them touches the device.
struct Restorable {
    enum : int { Free, Filled, Shutting, Claimed };
    std::atomic<int> state { Free };
    int fd = -1;
    termios saved {};
    char lockPath[PATH_MAX] {};
    dev_t lockDevice = 0;
    ino_t lockInode = 0;
};
static_assert(std::atomic<int>::is_always_lock_free);
std::array<Restorable, 16> restorables;

// While the main thread fills or shuts a slot, no handler may run on it and wait for it.
class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &previous_);
    }
    ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

// A slot filled for the open device, or -1 when all are in use (the device is then
// put back only by a close).
int Register(int fd, const termios& saved, const serial_lock::DeviceLock& lock)
{
    SignalsHeld held;
    for (std::size_t i = 0; i < restorables.size(); ++i) {
        Restorable& r = restorables[i];
        int expected = Restorable::Free;
        if (!r.state.compare_exchange_strong(expected, Restorable::Shutting))
            continue;
        r.fd = fd;
        r.saved = saved;
        std::snprintf(r.lockPath, sizeof r.lockPath, "%s", lock.Path().c_str());
        r.lockDevice = lock.Device();
        r.lockInode = lock.Inode();
        r.state.store(Restorable::Filled);
        return static_cast<int>(i);
    }
    return -1;
}

} // namespace

void RestoreOpenPortsNow() noexcept
{
    const int savedErrno = errno;
    for (Restorable& r : restorables) {
        // A slot being filled or shut is the main thread's for a few system calls.
        for (int waits = 0; waits < 100; ++waits) {
            int expected = Restorable::Filled;
            if (r.state.compare_exchange_strong(expected, Restorable::Claimed)) {
                ::tcsetattr(r.fd, TCSANOW, &r.saved);
                ::ioctl(r.fd, TIOCNXCL);
                if (serial_lock::StillAt(r.lockPath, r.lockDevice, r.lockInode))
                    ::unlink(r.lockPath);
                break;
            }
            if (expected != Restorable::Shutting)
                break;
            const timespec pause { 0, 1'000'000 };
            ::nanosleep(&pause, nullptr);
        }
    }
    errno = savedErrno;
}

// The device side of a connection: its descriptor and lock, the bytes taken from
// it and not yet read, and two notifiers. One watches for the device hanging up
// and stays on while the port is open; it does not wake for arriving bytes. The
// other wakes for every arrival and is on only while the input backs up.
struct Serial::Impl {
    explicit Impl(Serial& o)
        : owner(o)
    {
        QObject::connect(&hangUp, &QSocketNotifier::activated, [this] {
            if (fd >= 0 && (!TakeWaiting() || HungUp()))
                Lost();
        });
        QObject::connect(&arrivals, &QSocketNotifier::activated, [this] {
            if (fd >= 0 && !TakeWaiting())
                Lost();
        });
    }
    ~Impl() { Shut(); }

    bool IsOpen() const { return fd >= 0; }

    // Opens and sets up the device; the code of what failed, or NoError.
    Integer OpenDevice(const QString& path, Integer baud, Integer bits)
    {
        std::unique_ptr<serial_lock::DeviceLock> deviceLock
            = serial_lock::DeviceLock::Take(path.toLocal8Bit().toStdString());
        if (!deviceLock)
            return Serial::AccessDenied;
        const int opened = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (opened < 0)
            return CodeFor(Step::Other, errno, false);
        // Root is not kept out by TIOCEXCL; the lock file keeps out everyone.
        ::ioctl(opened, TIOCEXCL);
        if (::tcgetattr(opened, &saved) != 0) {
            const int error = errno;
            ::close(opened);
            return CodeFor(Step::Other, error, false);
        }
        termios t = saved;
        ::cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB | CSIZE);
        t.c_cflag |= dataBits[static_cast<std::size_t>(bits)];
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        // With VMIN 1 a read of an empty line fails with EAGAIN, so that 0 means end of file.
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        fd = opened;
        if (::tcsetattr(fd, TCSANOW, &t) != 0 || !ApplySpeed(baud)) {
            const int error = errno;
            ::close(std::exchange(fd, -1));
            return CodeFor(Step::Other, error, false);
        }
        lock = std::move(deviceLock);
        restorable = Register(fd, saved, *lock);
        watching = false;
        if (QCoreApplication::instance()) {
            hangUp.setSocket(fd);
            hangUp.setEnabled(true);
            arrivals.setSocket(fd);
        }
        return Serial::NoError;
    }

    // Closes the device, keeping the bytes taken from it. `gone`: the device is
    // no more, so its settings are not put back.
    void Shut(bool gone = false)
    {
        if (fd < 0)
            return;
        hangUp.setEnabled(false);
        arrivals.setEnabled(false);
        SignalsHeld held;
        int expected = Restorable::Filled;
        if (restorable >= 0
            && !restorables[static_cast<std::size_t>(restorable)].state.compare_exchange_strong(
                expected, Restorable::Shutting)) {
            // A signal's end of the run has put the device back; the process is ending.
            fd = -1;
            (void)lock.release();
            return;
        }
        if (!gone) {
            ::tcsetattr(fd, TCSANOW, &saved);
            ::ioctl(fd, TIOCNXCL);
        }
        ::close(std::exchange(fd, -1));
        lock.reset();
        if (restorable >= 0)
            restorables[static_cast<std::size_t>(std::exchange(restorable, -1))].state.store(
                Restorable::Free);
    }

    bool ApplySpeed(Integer baud)
    {
        const auto index = static_cast<std::size_t>(baud);
        if (speedConstants[index] == 0)
            return serial_speed::SetAnySpeed(fd, static_cast<unsigned>(bitRates[index]));
        termios t {};
        return ::tcgetattr(fd, &t) == 0 && ::cfsetispeed(&t, speedConstants[index]) == 0
            && ::cfsetospeed(&t, speedConstants[index]) == 0 && ::tcsetattr(fd, TCSANOW, &t) == 0;
    }

    // Takes every byte the device holds; false when the device has gone (end of
    // file, or an error other than an empty line).
    bool TakeWaiting()
    {
        char chunk[16 * 1024];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n > 0)
                received.append(chunk, static_cast<qsizetype>(n));
            else if (n < 0 && errno == EINTR)
                continue;
            else
                return n < 0 && errno == EAGAIN;
        }
    }

    // Whether the device says it hung up or failed, without waiting.
    bool HungUp() const
    {
        pollfd p { fd, 0, 0 };
        return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
    }

    // The program's read: takes the bytes waiting and decides whether to take
    // the next ones as they come. False when the device has gone.
    bool TakeForRead()
    {
        if (!TakeWaiting())
            return false;
        Watch(received.size() >= backlogBytes);
        return true;
    }

    void Watch(bool on)
    {
        if (on == watching || !QCoreApplication::instance())
            return;
        watching = on;
        arrivals.setEnabled(on);
    }

    // The device went away outside a call of the program: closed now, so that a
    // dead descriptor does not keep the loop busy, and reported from the event loop.
    void Lost()
    {
        Shut(true);
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        lossPending = true;
        std::weak_ptr<Object> self = owner.weak_from_this();
        std::weak_ptr<void> guard = alive;
        Impl* impl = this;
        QMetaObject::invokeMethod(
            app,
            [self, guard, impl] {
                // Keeps the object alive while its handler runs, if it is counted.
                std::shared_ptr<Object> keep = self.lock();
                if (guard.expired() || !std::exchange(impl->lossPending, false))
                    return;
                Dispatch([impl] { impl->owner.ReportError(Serial::PortLost); });
            },
            Qt::QueuedConnection);
    }

    Serial& owner;
    int fd = -1;
    termios saved {}; // the device's settings before the opening, put back at closing
    std::unique_ptr<serial_lock::DeviceLock> lock;
    int restorable = -1; // the device's slot for a signal's end of the run
    QByteArray received; // taken from the device, not yet read
    bool watching = false; // the arrivals notifier is on
    bool lossPending = false; // a loss is closed and not yet reported
    std::shared_ptr<void> alive = std::make_shared<int>(0);
    QSocketNotifier hangUp { QSocketNotifier::Exception };
    QSocketNotifier arrivals { QSocketNotifier::Read };
};

const ClassInfo& SerialPort::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("SerialPort", &Object::Lookup()).Build());
    return info;
}

const ClassInfo& SystemClass::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("_SystemClass", &Object::Lookup()).Build());
    return info;
}

Integer SystemClass::SerialPortCount()
{
    return static_cast<Integer>(SystemPorts().size());
}

Ref<fw::SerialPort> SystemClass::SerialPort(Integer index)
{
    std::vector<Ref<fw::SerialPort>> ports = SystemPorts();
    if (index < 0 || index >= static_cast<Integer>(ports.size()))
        return Ref<fw::SerialPort>();
    return ports[static_cast<std::size_t>(index)];
}

Ref<fw::SerialPort> SystemClass::SerialPortNamed(const String& name)
{
    for (const Ref<fw::SerialPort>& port : SystemPorts())
        if (port && port->Name() == name)
            return port;
    return Ref<fw::SerialPort>();
}

Ref<SystemClass> System()
{
    static Ref<SystemClass> system = New<SystemClass>();
    return system;
}

SerialPortProvider SetSerialPortProvider(SerialPortProvider provider)
{
    return std::exchange(Provider(), std::move(provider));
}

const ClassInfo& Serial::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("Serial", &Object::Lookup())
                                                     .Factory<Serial>()
                                                     .Interface("Writeable")
                                                     .Interface("Readable")
                                                     .Op("ClearBreak")
                                                     .Op("Close")
                                                     .Op("EOF", {}, "Boolean")
                                                     .Op("Flush")
                                                     .Op("LeaveDTROnClose")
                                                     .Op("LineChangeNotification", { "Integer()" })
                                                     .Op("LineChangeNotification", { "Integer..." })
                                                     .Op("LookAhead", { "TextEncoding" }, "String")
                                                     .Op("Open", {}, "Boolean")
                                                     .Op("Poll")
                                                     .Op("Read", { "Integer", "TextEncoding" }, "String")
                                                     .Op("ReadAll", { "TextEncoding" }, "String")
                                                     .Op("ReadError", {}, "Boolean")
                                                     .Op("Reset")
                                                     .Op("SetBreak")
                                                     .Op("Write", { "String" })
                                                     .Op("WriteError", {}, "Boolean")
                                                     .Op("XmitWait")
                                                     .Op("_DependencyList")
                                                     .Event("DataAvailable")
                                                     .Event("Error")
                                                     .Event("LineStateChanged")
                                                     .Build());
    return info;
}

Integer Serial::BitsPerSecond(Integer baudCode)
{
    if (baudCode < 0 || baudCode >= static_cast<Integer>(bitRates.size()))
        return 0;
    return bitRates[static_cast<std::size_t>(baudCode)];
}

Serial::Serial()
    : impl_(std::make_unique<Impl>(*this))
{
}
Serial::~Serial() = default;

void Serial::SetSerialPort(const Ref<fw::SerialPort>& port)
{
    port_ = port;
}

bool Serial::Open()
{
    if (IsOpen())
        return true;
    // An Error handler may let this object go before Open returns.
    std::shared_ptr<Object> keep = weak_from_this().lock();
    Impl& impl = *impl_;
    impl.lossPending = false;
    impl.received.clear();
    if (!port_ || port_->Path().IsEmpty()) {
        ReportError(PortNotFound);
        return false;
    }
    const Integer code = impl.OpenDevice(ToQString(port_->Path()), baud_, bits_);
    if (code != NoError) {
        ReportError(code);
        return false;
    }
    if (dtrSet_)
        SetDataTerminalReady(dtr_);
    if (rtsSet_)
        SetRequestToSend(rts_);
    return IsOpen();
}

void Serial::Close()
{
    impl_->Shut();
    impl_->lossPending = false;
}

bool Serial::IsOpen() const
{
    return impl_->IsOpen();
}

void Serial::Failed(bool settingLine)
{
    const Integer code = CodeFor(settingLine ? Step::LineSetting : Step::Other, errno, true);
    if (code == PortLost)
        impl_->Shut(true);
    ReportError(code);
}

void Serial::SetBaud(Integer code)
{
    if (BitsPerSecond(code) == 0) {
        ReportError(InvalidOptions);
        return;
    }
    baud_ = code;
    if (IsOpen() && !impl_->ApplySpeed(code))
        Failed(true);
}

void Serial::SetBits(Integer code)
{
    if (code < 0 || code >= static_cast<Integer>(dataBits.size())) {
        ReportError(InvalidOptions);
        return;
    }
    bits_ = code;
    if (!IsOpen())
        return;
    const int fd = impl_->fd;
    termios t {};
    bool applied = ::tcgetattr(fd, &t) == 0;
    if (applied) {
        t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | dataBits[static_cast<std::size_t>(code)];
        applied = ::tcsetattr(fd, TCSANOW, &t) == 0;
    }
    if (!applied)
        Failed(true);
}

void Serial::SetControlLine(ControlLine line, bool raised)
{
    if (!IsOpen())
        return;
    if (Recorder()) {
        Recorder()(line, raised);
        return;
    }
    int bit = line == ControlLine::DataTerminalReady ? TIOCM_DTR : TIOCM_RTS;
    if (::ioctl(impl_->fd, raised ? TIOCMBIS : TIOCMBIC, &bit) != 0)
        Failed(false);
}

void Serial::SetDataTerminalReady(bool raised)
{
    dtr_ = raised;
    dtrSet_ = true;
    SetControlLine(ControlLine::DataTerminalReady, raised);
}

void Serial::SetRequestToSend(bool raised)
{
    rts_ = raised;
    rtsSet_ = true;
    SetControlLine(ControlLine::RequestToSend, raised);
}

void Serial::Reset()
{
    if (!IsOpen())
        return;
    impl_->received.clear();
    if (::tcflush(impl_->fd, TCIOFLUSH) != 0)
        Failed(false);
}

String Serial::ReadAll(Encoding encoding)
{
    Impl& impl = *impl_;
    const bool lost = impl.IsOpen() && !impl.TakeForRead();
    const QByteArray data = std::exchange(impl.received, {});
    if (lost) {
        // What arrived before the loss still counts; a handler may let this object go.
        std::shared_ptr<Object> keep = weak_from_this().lock();
        impl.Shut(true);
        ReportError(PortLost);
    }
    return Received(data, encoding);
}

String Serial::LookAhead(Encoding encoding) const
{
    Impl& impl = *impl_;
    // The bytes move from the device into the layer, where the next read finds them.
    if (impl.IsOpen() && !impl.TakeWaiting())
        impl.Lost();
    return Received(impl.received, encoding);
}

void Serial::ReportError(Integer code)
{
    lastError_ = code;
    RaiseEvent("Error");
}

ControlLineRecorder SetControlLineRecorder(ControlLineRecorder recorder)
{
    return std::exchange(Recorder(), std::move(recorder));
}

} // namespace fw
