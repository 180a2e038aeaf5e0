// Pseudo-terminals for the serial tests: the test holds the master and writes to
// it as a counter would; the layer opens the device side by its path.
#pragma once

#include "framework/serial.h"

#include <functional>
#include <string>
#include <termios.h>
#include <vector>

namespace testing_support {

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // The device side, as the layer opens it ("/dev/pts/3").
    const std::string& Path() const { return path_; }
    // The device's name without "/dev/" ("pts/3").
    std::string Name() const;
    fw::Ref<fw::SerialPort> Port() const;

    // Sends the bytes to the device, as the far end of the line.
    void Write(const std::string& bytes);
    // The far end goes away, as an unplugged adapter does.
    void CloseMaster();

    // The line settings the device has now.
    termios Attributes() const;
    // The device's speed in bit/s, also for rates without a B constant.
    long Speed() const;
    // Bytes that reached the device and that no reader has taken yet.
    int Pending() const;
    // How many descriptors of this process have the device open, the test's own included.
    int OpenDescriptors() const;

private:
    int master_ = -1;
    int slave_ = -1; // kept so that the device lives, and to read its settings
    std::string path_;
};

// A stable path (a symbolic link in a folder of its own) for a port whose
// device can be replaced, as an adapter that is unplugged and plugged back.
class PortLink {
public:
    explicit PortLink(const std::string& name);
    ~PortLink();
    void PointTo(const std::string& device);
    const std::string& Path() const { return path_; }

private:
    std::string dir_, path_;
};

// Sets the system's port list for the test's lifetime; counts how often it is asked.
class ScopedPortList {
public:
    explicit ScopedPortList(std::vector<fw::Ref<fw::SerialPort>> ports = {});
    ~ScopedPortList();
    void Set(std::vector<fw::Ref<fw::SerialPort>> ports) { ports_ = std::move(ports); }
    int asked = 0;

private:
    std::vector<fw::Ref<fw::SerialPort>> ports_;
    fw::SerialPortProvider previous_;
};

// Makes DTR and RTS succeed on every open connection for the test's lifetime, as on
// a port that has both lines, and records each call in order.
class ScopedControlLines {
public:
    using Call = std::pair<fw::ControlLine, bool>; // the line, raised
    ScopedControlLines();
    ~ScopedControlLines();
    std::vector<Call> calls;

private:
    fw::ControlLineRecorder previous_;
};

// Runs the event loop for that long.
void Pump(int milliseconds);
// Runs the event loop until the condition holds or the time is up; gives the condition.
bool PumpUntil(const std::function<bool()>& condition, int timeoutMilliseconds = 5000);

// Bytes 0x00 to 0xFF, `times` over.
std::string AllByteValues(int times = 1);

} // namespace testing_support
