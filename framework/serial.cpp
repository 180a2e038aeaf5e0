#include "framework/serial.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <array>
#include <optional>
#include <utility>

namespace fw {

namespace {

constexpr std::array<Integer, 16> bitRates = { 300, 600, 1200, 1800, 2400, 3600, 4800, 7200, 9600, 14400,
    19200, 28800, 38400, 57600, 115200, 230400 };

constexpr std::array<QSerialPort::DataBits, 4> dataBits
    = { QSerialPort::Data5, QSerialPort::Data6, QSerialPort::Data7, QSerialPort::Data8 };

// What the call was matters: whatever the device says to a speed or a data-bits
// setting means it refused the setting.
enum class Step { LineSetting, Other };

bool MeansPortLost(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ReadError || error == QSerialPort::ResourceError
        || error == QSerialPort::DeviceNotFoundError;
}

Integer CodeFor(Step step, QSerialPort::SerialPortError error, bool open)
{
    if (open && MeansPortLost(error))
        return Serial::PortLost;
    switch (error) {
    case QSerialPort::PermissionError:
        return Serial::AccessDenied;
    case QSerialPort::DeviceNotFoundError:
        return Serial::PortNotFound;
    default:
        break;
    }
    if (step == Step::LineSetting)
        return Serial::InvalidOptions;
    if (error == QSerialPort::UnsupportedOperationError)
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

} // namespace

// Qt reports errors through a signal, from inside its own calls and from the
// event loop. The signal only notes the first error; the layer raises Error
// afterwards, from its own frame, so that no program code runs (or throws)
// inside Qt and a handler may even let the object go.
struct Serial::Impl {
    explicit Impl(Serial& o)
        : owner(o)
    {
        QObject::connect(&port, &QSerialPort::errorOccurred, &port,
            [this](QSerialPort::SerialPortError error) { Noted(error); });
    }
    ~Impl() { QObject::disconnect(&port, nullptr, nullptr, nullptr); }

    void Noted(QSerialPort::SerialPortError error)
    {
        // After a loss Qt repeats the error at every turn of the loop until the port
        // closes; the first one is kept and the port is closed when it is raised.
        if (error == QSerialPort::NoError || pending)
            return;
        pending = error;
        if (inCall == 0 && !queued)
            Queue();
    }

    // An error met while the port sat open: raised from the event loop.
    void Queue()
    {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        queued = true;
        std::weak_ptr<Object> self = owner.weak_from_this();
        std::weak_ptr<void> guard = alive;
        Impl* impl = this;
        QMetaObject::invokeMethod(
            app,
            [self, guard, impl] {
                // Keeps the object alive while its handler runs, if it is counted.
                std::shared_ptr<Object> keep = self.lock();
                if (guard.expired())
                    return;
                impl->queued = false;
                Dispatch([impl] { impl->Deliver(Step::Other); });
            },
            Qt::QueuedConnection);
    }

    // Raises Error for the error noted, if any.
    void Deliver(Step step)
    {
        if (!pending)
            return;
        const QSerialPort::SerialPortError error = *std::exchange(pending, std::nullopt);
        const Integer code = CodeFor(step, error, port.isOpen());
        if (code == PortLost) {
            // What arrived before the loss still counts; a dead descriptor would keep the loop busy.
            Call call(*this);
            kept += port.readAll();
            port.close();
        }
        pending.reset(); // whatever closing a dead port says is no news
        port.clearError();
        owner.ReportError(code);
    }

    // Marks a call into Qt whose errors the caller raises itself once Qt returns.
    struct Call {
        explicit Call(Impl& i)
            : impl(i)
        {
            ++impl.inCall;
        }
        ~Call() { --impl.inCall; }
        Impl& impl;
    };

    Serial& owner;
    std::optional<QSerialPort::SerialPortError> pending;
    int inCall = 0;
    bool queued = false;
    QByteArray kept; // received before the port was lost, not yet read
    std::shared_ptr<void> alive = std::make_shared<int>(0);
    QSerialPort port; // last, so that it goes first
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
    Impl& impl = *impl_;
    impl.pending.reset();
    impl.kept.clear();
    if (!port_ || port_->Path().IsEmpty()) {
        ReportError(PortNotFound);
        return false;
    }
    QSerialPort& port = impl.port;
    port.setPortName(ToQString(port_->Path()));
    port.setBaudRate(static_cast<qint32>(BitsPerSecond(baud_)));
    port.setDataBits(dataBits[static_cast<std::size_t>(bits_)]);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    bool opened = false;
    {
        Impl::Call call(impl);
        opened = port.open(QIODevice::ReadWrite);
    }
    if (!opened) {
        if (!impl.pending)
            impl.pending = QSerialPort::UnknownError;
        impl.Deliver(Step::Other);
        return false;
    }
    impl.Deliver(Step::Other);
    if (dtrSet_)
        SetDataTerminalReady(dtr_);
    if (rtsSet_)
        SetRequestToSend(rts_);
    return IsOpen();
}

void Serial::Close()
{
    Impl& impl = *impl_;
    if (impl.port.isOpen()) {
        Impl::Call call(impl);
        impl.port.close();
    }
    impl.pending.reset();
}

bool Serial::IsOpen() const
{
    return impl_->port.isOpen();
}

void Serial::SetBaud(Integer code)
{
    const Integer rate = BitsPerSecond(code);
    if (rate == 0) {
        ReportError(InvalidOptions);
        return;
    }
    baud_ = code;
    Impl& impl = *impl_;
    if (!IsOpen())
        return;
    bool applied = false;
    {
        Impl::Call call(impl);
        applied = impl.port.setBaudRate(static_cast<qint32>(rate));
    }
    if (!applied && !impl.pending)
        impl.pending = QSerialPort::UnknownError;
    impl.Deliver(Step::LineSetting);
}

void Serial::SetBits(Integer code)
{
    if (code < 0 || code >= static_cast<Integer>(dataBits.size())) {
        ReportError(InvalidOptions);
        return;
    }
    bits_ = code;
    Impl& impl = *impl_;
    if (!IsOpen())
        return;
    bool applied = false;
    {
        Impl::Call call(impl);
        applied = impl.port.setDataBits(dataBits[static_cast<std::size_t>(code)]);
    }
    if (!applied && !impl.pending)
        impl.pending = QSerialPort::UnknownError;
    impl.Deliver(Step::LineSetting);
}

void Serial::SetDataTerminalReady(bool raised)
{
    dtr_ = raised;
    dtrSet_ = true;
    Impl& impl = *impl_;
    if (!IsOpen())
        return;
    {
        Impl::Call call(impl);
        impl.port.setDataTerminalReady(raised);
    }
    impl.Deliver(Step::Other);
}

void Serial::SetRequestToSend(bool raised)
{
    rts_ = raised;
    rtsSet_ = true;
    Impl& impl = *impl_;
    if (!IsOpen())
        return;
    {
        Impl::Call call(impl);
        impl.port.setRequestToSend(raised);
    }
    impl.Deliver(Step::Other);
}

void Serial::Reset()
{
    Impl& impl = *impl_;
    if (!IsOpen())
        return;
    {
        Impl::Call call(impl);
        impl.port.clear(QSerialPort::AllDirections);
    }
    impl.Deliver(Step::Other);
}

String Serial::ReadAll(Encoding encoding)
{
    Impl& impl = *impl_;
    QByteArray data = std::exchange(impl.kept, {});
    if (!IsOpen())
        return Received(data, encoding);
    {
        Impl::Call call(impl);
        data += impl.port.readAll();
    }
    impl.Deliver(Step::Other);
    return Received(data + std::exchange(impl.kept, {}), encoding);
}

String Serial::LookAhead(Encoding encoding) const
{
    QSerialPort& port = impl_->port;
    if (!port.isOpen())
        return Received(impl_->kept, encoding);
    return Received(impl_->kept + port.peek(port.bytesAvailable()), encoding);
}

void Serial::ReportError(Integer code)
{
    lastError_ = code;
    RaiseEvent("Error");
}

} // namespace fw
