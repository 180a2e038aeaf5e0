#include "tests/pty_helper.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

namespace testing_support {

long DeviceSpeed(int fd);

Pty::Pty()
{
    char name[PATH_MAX] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    path_ = name;
}

Pty::~Pty()
{
    CloseMaster();
    if (slave_ >= 0)
        ::close(slave_);
}

std::string Pty::Name() const
{
    return path_.rfind("/dev/", 0) == 0 ? path_.substr(5) : path_;
}

fw::Ref<fw::SerialPort> Pty::Port() const
{
    return fw::New<fw::SerialPort>(fw::String(Name()), fw::String(path_));
}

void Pty::Write(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p { master_, POLLOUT, 0 };
            ::poll(&p, 1, 100);
            continue;
        }
        if (n <= 0)
            throw std::runtime_error("write to the pty master failed");
        done += static_cast<std::size_t>(n);
    }
}

void Pty::CloseMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

termios Pty::Attributes() const
{
    termios t {};
    tcgetattr(slave_, &t);
    return t;
}

long Pty::Speed() const
{
    return DeviceSpeed(slave_);
}

int Pty::Pending() const
{
    int n = 0;
    return ::ioctl(slave_, FIONREAD, &n) == 0 ? n : -1;
}

int Pty::OpenDescriptors() const
{
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    const int own = dirfd(dir);
    while (dirent* entry = readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] == '.' || fd == own)
            continue;
        char target[PATH_MAX] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        // The device's node goes once its far end has closed; open descriptors stay.
        const std::string name(target, static_cast<std::size_t>(n > 0 ? n : 0));
        if (name == path_ || name == path_ + " (deleted)")
            ++count;
    }
    closedir(dir);
    return count;
}

PortLink::PortLink(const std::string& name)
{
    char pattern[] = "/tmp/vantrope-link-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    path_ = dir_ + "/" + name;
}

PortLink::~PortLink()
{
    ::unlink(path_.c_str());
    ::rmdir(dir_.c_str());
}

void PortLink::PointTo(const std::string& device)
{
    const std::string fresh = path_ + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(device.c_str(), fresh.c_str()) != 0 || ::rename(fresh.c_str(), path_.c_str()) != 0)
        throw std::runtime_error("cannot point the port link");
}

ScopedPortList::ScopedPortList(std::vector<fw::Ref<fw::SerialPort>> ports)
    : ports_(std::move(ports))
{
    previous_ = fw::SetSerialPortProvider([this] {
        ++asked;
        return ports_;
    });
}

ScopedPortList::~ScopedPortList()
{
    fw::SetSerialPortProvider(std::move(previous_));
}

ScopedControlLines::ScopedControlLines()
{
    previous_ = fw::SetControlLineRecorder(
        [this](fw::ControlLine line, bool raised) { calls.emplace_back(line, raised); });
}

ScopedControlLines::~ScopedControlLines()
{
    fw::SetControlLineRecorder(std::move(previous_));
}

void Pump(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool PumpUntil(const std::function<bool()>& condition, int timeoutMilliseconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        Pump(2);
    }
    return true;
}

std::string AllByteValues(int times)
{
    std::string bytes;
    for (int t = 0; t < times; ++t)
        for (int b = 0; b < 256; ++b)
            bytes.push_back(static_cast<char>(b));
    return bytes;
}

} // namespace testing_support
