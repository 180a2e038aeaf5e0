#include "framework/serial_lock.h"

#include <QByteArray>
#include <QString>
#include <QSysInfo>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw::serial_lock {

namespace {

// Every form of lock is a line or a few; anything larger is not a lock.
constexpr off_t largestLock = 4096;

enum class Holder { Nobody, Gone, Alive, Unknown };

bool Writable(const char* folder)
{
    struct stat info { };
    return ::stat(folder, &info) == 0 && S_ISDIR(info.st_mode) && ::access(folder, W_OK | X_OK) == 0;
}

// The process ID a lock's bytes give, in any of the forms; 0 when they give none.
pid_t HolderId(const char* bytes, std::size_t size)
{
    std::size_t at = 0;
    while (at < size && (bytes[at] == ' ' || bytes[at] == '\t'))
        ++at;
    const std::size_t digits = at;
    long long id = 0;
    while (at < size && bytes[at] >= '0' && bytes[at] <= '9' && id < 1'000'000'000'000LL)
        id = id * 10 + (bytes[at++] - '0');
    const bool text
        = at > digits && (at == size || bytes[at] == '\n' || bytes[at] == ' ' || bytes[at] == '\t');
    if (text)
        return id > 0 && id <= INT32_MAX ? static_cast<pid_t>(id) : 0;
    if (size == sizeof(std::int32_t)) {
        std::int32_t binary = 0;
        std::memcpy(&binary, bytes, sizeof binary);
        return binary > 0 ? static_cast<pid_t>(binary) : 0;
    }
    return 0;
}

// Who holds the lock at `path`; `seen` gets the file judged. Opened without
// following a link and without waiting (a FIFO would wait for a writer), and
// read only when it is a regular file of a lock's size.
Holder Judge(const std::string& path, struct stat& seen)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Holder::Nobody : Holder::Unknown;
    std::array<char, largestLock> bytes {};
    ssize_t size = -1;
    if (::fstat(fd, &seen) == 0 && S_ISREG(seen.st_mode) && seen.st_size <= largestLock) {
        do
            size = ::read(fd, bytes.data(), bytes.size());
        while (size < 0 && errno == EINTR);
    }
    ::close(fd);
    if (size <= 0)
        return Holder::Unknown;
    const pid_t id = HolderId(bytes.data(), static_cast<std::size_t>(size));
    if (id == 0)
        return Holder::Unknown;
    // EPERM: the process lives, under another user.
    return ::kill(id, 0) == 0 || errno == EPERM ? Holder::Alive : Holder::Gone;
}

// This process's name as Qt reads it back from a lock: its executable's file name.
std::string ProcessName()
{
    std::array<char, 4096> link {};
    const ssize_t n = ::readlink("/proc/self/exe", link.data(), link.size() - 1);
    if (n <= 0)
        return {};
    std::string path(link.data(), static_cast<std::size_t>(n));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size()
        && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.resize(path.size() - deleted.size());
    return path.substr(path.rfind('/') + 1);
}

// Qt's form, whose first line is what the UUCP readers take.
std::string Contents()
{
    return std::to_string(::getpid()) + '\n' + ProcessName() + '\n'
        + QSysInfo::machineHostName().toStdString() + '\n' + QSysInfo::machineUniqueId().toStdString() + '\n'
        + QSysInfo::bootUniqueId().toStdString() + '\n';
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool StillAt(const char* path, dev_t device, ino_t inode) noexcept
{
    struct stat now { };
    return ::lstat(path, &now) == 0 && now.st_dev == device && now.st_ino == inode;
}

std::string PathFor(const std::string& device)
{
    std::string name = device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
    for (char& c : name)
        if (c == '/')
            c = '_';
    for (const char* folder : { "/var/lock", "/run/lock", "/tmp" })
        if (Writable(folder))
            return std::string(folder) + "/LCK.." + name;
    return {};
}

std::unique_ptr<DeviceLock> DeviceLock::Take(const std::string& device)
{
    const std::string path = PathFor(device);
    if (path.empty())
        return nullptr;
    // Twice at most: once more after a gone holder's file was removed.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            // Readable by every user whatever the umask, so that each can judge it.
            if (::fchmod(fd, 0644) != 0 || !WriteAll(fd, Contents())) {
                ::unlink(path.c_str());
                ::close(fd);
                return nullptr;
            }
            ::flock(fd, LOCK_EX | LOCK_NB);
            return std::unique_ptr<DeviceLock>(new DeviceLock(path, fd));
        }
        if (errno != EEXIST)
            return nullptr;
        struct stat seen { };
        const Holder holder = Judge(path, seen);
        if (holder == Holder::Nobody)
            continue;
        if (holder != Holder::Gone)
            return nullptr;
        // Only the file that was judged goes, not one that took its place meanwhile.
        if (!StillAt(path.c_str(), seen.st_dev, seen.st_ino) || ::unlink(path.c_str()) != 0)
            return nullptr;
    }
    return nullptr;
}

DeviceLock::DeviceLock(std::string path, int fd)
    : path_(std::move(path))
    , fd_(fd)
{
    struct stat info { };
    if (::fstat(fd_, &info) == 0) {
        device_ = info.st_dev;
        inode_ = info.st_ino;
    }
}

DeviceLock::~DeviceLock()
{
    if (StillAt(path_.c_str(), device_, inode_))
        ::unlink(path_.c_str());
    ::close(fd_);
}

} // namespace fw::serial_lock
