// Serial ports: the system's list of ports (Qt SerialPort's port list) and serial
// connections, on the device's own descriptor and termios.
//
// Received bytes stay in the device's input buffer until the program reads them:
// ReadAll and LookAhead take them from the device, so that the program wakes for
// its own reads and not for every arrival. A tty holds about 4 KiB, under a second
// of a 57600 bit/s line; while the input backs up (a read found 3 KiB or more),
// the layer also takes bytes as they arrive, until a read finds less. ReadAll on a
// connection that is not open gives what was taken before it closed, else empty
// text, never a failure. The Error event is raised on the main thread with
// LastErrorCode set: inside the call that met the error (Open, a setting, Reset,
// ReadAll), before that call returns, or from the event loop for a device that
// goes away while the port is open and not being read; a read finds it at once.
//
// Error codes (LastErrorCode), one Error event per condition:
//
//   code  name                   raised when
//   0     None                   never raised: no error
//   100   Access Denied          Open: the device may not be opened (permission), or another
//                                connection, of this process or another, holds it locked (a lock
//                                file in /var/lock, framework/serial_lock.h, and TIOCEXCL)
//   101   Port Not Found         Open: no port was set, or the device does not exist
//   102   Invalid Options        Baud or Bits set to a code outside the tables below (the setting
//                                keeps its value), or the open device refused the speed or data bits
//   103   Break Condition        not raised: the line is read raw, a break is a zero byte
//   104   Framing Error          not raised: the line is read raw, a framing error is a zero byte
//   105   Unsupported Operation  Open: the path is not a serial device (a regular file, /dev/null);
//                                or, on an open port, a line operation the device cannot do (DTR
//                                and RTS on a pseudo-terminal). The port stays open.
//   106   Port Lost              while open: the device went away or stopped giving data (a USB
//                                adapter unplugged, the far end of a pseudo-terminal closed). The
//                                layer closes the port; the ReadAll that found it, or else the
//                                next one, still gives what the layer took before (a hang-up
//                                throws away what the device held), later ones are empty, and
//                                nothing more is reported for it.
//                                Opening the device anew works once it is back.
//   -1    Other                  anything else the system reports (for instance a directory given as
//                                the port)
//
// Speed codes (Baud), in bit/s; a new connection has code 8, 9600 bit/s:
//
//   0 300     1 600     2 1200    3 1800    4 2400     5 3600     6 4800     7 7200
//   8 9600    9 14400   10 19200  11 28800  12 38400   13 57600   14 115200  15 230400
//
// Data-bits codes (Bits): 0 to 3 stand for 5 to 8 data bits; a new connection has 3.
// Parity none, one stop bit and no flow control are fixed.
//
// Baud and Bits set before Open are applied by Open; on an open port at once.
// DataTerminalReady and RequestToSend set before Open are applied by Open; lines
// never set keep what the system gives them when the device opens (raised, on Linux).
//
// Reset, on an open connection, throws away the input received and not yet read
// (the layer's buffer and the device's) and the output not yet sent; the port
// stays open with its settings and LastErrorCode keeps its value. On a connection
// that is not open it does nothing.
//
// Releasing the last reference to a Serial closes its port and removes its lock,
// so a new object can open the same device.
#pragma once

#include "framework/runtime.h"

#include <functional>
#include <memory>
#include <vector>

namespace fw {

class SerialPort : public Object {
    FW_OBJECT(SerialPort)
public:
    SerialPort() = default;
    SerialPort(String name, String path)
        : name_(std::move(name))
        , path_(std::move(path))
    {
    }
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
    // The port the system lists now under that name; nil when it lists none.
    Ref<fw::SerialPort> SerialPortNamed(const String& name);
};

Ref<SystemClass> System();

// Puts every open device back as it was before its opening (its settings, its lock
// file removed), without closing it or touching any object. For the run's end when
// the process must stop at once: callable from a signal handler, on any thread.
void RestoreOpenPortsNow() noexcept;

// For tests only: while a provider is set, the system object takes its list of
// ports from it (pseudo-terminals a test made) instead of asking the system,
// which it does with QSerialPortInfo::availablePorts(). An empty provider
// restores the system's list. Returns the provider it replaces.
using SerialPortProvider = std::function<std::vector<Ref<SerialPort>>()>;
SerialPortProvider SetSerialPortProvider(SerialPortProvider provider);

// For tests only: while a recorder is set, raising or lowering DTR or RTS on an
// open connection is handed to it instead of the device and succeeds, so that a
// pseudo-terminal, which has neither line, stands in for a port that has both.
// An empty recorder restores the device. Returns the recorder it replaces.
enum class ControlLine { DataTerminalReady, RequestToSend };
using ControlLineRecorder = std::function<void(ControlLine line, bool raised)>;
ControlLineRecorder SetControlLineRecorder(ControlLineRecorder recorder);

class Serial : public Object {
    FW_OBJECT(Serial)
public:
    // Error codes of LastErrorCode (table above).
    static constexpr Integer NoError = 0, AccessDenied = 100, PortNotFound = 101, InvalidOptions = 102,
                             BreakCondition = 103, FramingError = 104, UnsupportedOperation = 105,
                             PortLost = 106, OtherError = -1;
    // Speed codes of Baud (table above).
    static constexpr Integer Baud300 = 0, Baud600 = 1, Baud1200 = 2, Baud1800 = 3, Baud2400 = 4, Baud3600 = 5,
                             Baud4800 = 6, Baud7200 = 7, Baud9600 = 8, Baud14400 = 9, Baud19200 = 10,
                             Baud28800 = 11, Baud38400 = 12, Baud57600 = 13, Baud115200 = 14, Baud230400 = 15;
    // Data-bits codes of Bits: 0 to 3 stand for 5 to 8 data bits.
    static constexpr Integer Bits5 = 0, Bits6 = 1, Bits7 = 2, Bits8 = 3;

    // The speed in bit/s that a Baud code stands for; 0 for a code outside the table.
    static Integer BitsPerSecond(Integer baudCode);

    Serial();
    ~Serial() override; // closes the port and its lock

    Ref<fw::SerialPort> SerialPort() const { return port_; }
    // The port the next Open opens; an open connection stays on its device until closed.
    void SetSerialPort(const Ref<fw::SerialPort>& port);

    // Opens the port; True when it is open. A failure raises Error with its code
    // first. On a connection already open it changes nothing and gives True.
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
    // The same bytes, left in the layer for the next read.
    virtual String LookAhead(Encoding encoding = Encoding::None) const;
    Integer LastErrorCode() const { return lastError_; }

protected:
    // Records the code and raises the Error event.
    void ReportError(Integer code);

private:
    void SetControlLine(ControlLine line, bool raised);
    // Raises Error for the call that failed with errno; a device gone is closed first.
    void Failed(bool settingLine);

    Ref<fw::SerialPort> port_;
    Integer baud_ = Baud9600, bits_ = Bits8;
    bool dtr_ = false, rts_ = false;
    bool dtrSet_ = false, rtsSet_ = false; // set by the program, to apply at Open
    Integer lastError_ = NoError;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace fw
