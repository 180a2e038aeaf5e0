#include "framework/serial.h"

namespace fw {

struct Serial::Impl {};

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
    // pending: the serial issue lists the system's ports.
    return 0;
}

Ref<fw::SerialPort> SystemClass::SerialPort(Integer /*index*/)
{
    // pending: the serial issue lists the system's ports.
    return Ref<fw::SerialPort>();
}

Ref<SystemClass> System()
{
    static Ref<SystemClass> system = New<SystemClass>();
    return system;
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
                                                     .Op("LineChangeNotification", {"Integer()"})
                                                     .Op("LineChangeNotification", {"Integer..."})
                                                     .Op("LookAhead", {"TextEncoding"}, "String")
                                                     .Op("Open", {}, "Boolean")
                                                     .Op("Poll")
                                                     .Op("Read", {"Integer", "TextEncoding"}, "String")
                                                     .Op("ReadAll", {"TextEncoding"}, "String")
                                                     .Op("ReadError", {}, "Boolean")
                                                     .Op("Reset")
                                                     .Op("SetBreak")
                                                     .Op("Write", {"String"})
                                                     .Op("WriteError", {}, "Boolean")
                                                     .Op("XmitWait")
                                                     .Op("_DependencyList")
                                                     .Event("DataAvailable")
                                                     .Event("Error")
                                                     .Event("LineStateChanged")
                                                     .Build());
    return info;
}

Serial::Serial() : impl_(std::make_unique<Impl>()) {}
Serial::~Serial() = default;

void Serial::SetSerialPort(const Ref<fw::SerialPort>& port)
{
    port_ = port;
}

bool Serial::Open()
{
    // pending: the serial issue opens the port on Qt SerialPort.
    return false;
}

void Serial::Close() {}

bool Serial::IsOpen() const
{
    return false;
}

void Serial::SetBaud(Integer code)
{
    baud_ = code;
}

void Serial::SetBits(Integer code)
{
    bits_ = code;
}

void Serial::SetDataTerminalReady(bool raised)
{
    dtr_ = raised;
}

void Serial::SetRequestToSend(bool raised)
{
    rts_ = raised;
}

void Serial::Reset() {}

String Serial::ReadAll(Encoding /*encoding*/)
{
    return String::FromBytes({});
}

void Serial::ReportError(Integer code)
{
    lastError_ = code;
    RaiseEvent("Error");
}

} // namespace fw
