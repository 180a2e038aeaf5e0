// Serial ports: the system's list of ports and serial connections.
//
// Received bytes are buffered by the layer until ReadAll takes them; ReadAll on a
// connection that is not open gives empty text, never a failure. The Error event
// is raised on the main thread with LastErrorCode set.
#pragma once

#include "framework/runtime.h"

#include <memory>

namespace fw {

class SerialPort : public Object {
    FW_OBJECT(SerialPort)
public:
    SerialPort() = default;
    SerialPort(String name, String path) : name_(std::move(name)), path_(std::move(path)) {}
    // The name the system gives the port, as listed ("ttyUSB0").
    const String& Name() const { return name_; }
    // The device the connection opens ("/dev/ttyUSB0").
    const String& Path() const { return path_; }

private:
    String name_, path_;
};

// The system object: asks the system for its serial ports anew at every call.
class SystemClass : public Object {
    FW_OBJECT(SystemClass)
public:
    Integer SerialPortCount();
    // The port with that index, counted from 0; nil for an index the system does not have.
    Ref<fw::SerialPort> SerialPort(Integer index);
};

Ref<SystemClass> System();

class Serial : public Object {
    FW_OBJECT(Serial)
public:
    // Error codes of LastErrorCode.
    static constexpr Integer NoError = 0, AccessDenied = 100, PortNotFound = 101, InvalidOptions = 102,
                             BreakCondition = 103, FramingError = 104;
    // Speed codes of Baud: 13 is 57600 bit/s.
    static constexpr Integer Baud9600 = 8, Baud57600 = 13, Baud115200 = 14;
    // Data-bits codes of Bits: 0 to 3 stand for 5 to 8 data bits.
    static constexpr Integer Bits5 = 0, Bits6 = 1, Bits7 = 2, Bits8 = 3;

    Serial();
    ~Serial() override; // closes the port and its lock

    Ref<fw::SerialPort> SerialPort() const { return port_; }
    void SetSerialPort(const Ref<fw::SerialPort>& port);

    // Opens the port; True when it is open. A failure raises Error with its code first.
    virtual bool Open();
    virtual void Close();
    bool IsOpen() const;

    Integer Baud() const { return baud_; }
    void SetBaud(Integer code);
    Integer Bits() const { return bits_; }
    void SetBits(Integer code);
    bool DataTerminalReady() const { return dtr_; }
    void SetDataTerminalReady(bool raised);
    bool RequestToSend() const { return rts_; }
    void SetRequestToSend(bool raised);
    virtual void Reset();

    // Every byte received and not yet read, as text without an encoding.
    virtual String ReadAll(Encoding encoding = Encoding::None);
    Integer LastErrorCode() const { return lastError_; }

protected:
    // Records the code and raises the Error event.
    void ReportError(Integer code);

private:
    Ref<fw::SerialPort> port_;
    Integer baud_ = 8, bits_ = 3;
    bool dtr_ = false, rts_ = false;
    Integer lastError_ = 0;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace fw
