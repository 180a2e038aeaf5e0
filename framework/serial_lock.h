// A serial device's lock file, in the system's lock folder, as programs on Linux
// share a device: "/var/lock/LCK..ttyUSB0" names the process that holds it.
//
// Holders write their process ID in one of several forms, and each is read: Qt's
// (the ID, the process's name, the host and two IDs of the machine, a line each),
// minicom's (the ID in ten columns, the name and the user), the plain UUCP form
// (the ID in ten columns and a newline, as cu and Java's serial libraries write
// it) and the binary UUCP form (the ID as a 4-byte integer). A lock is its
// holder's for as long as that process lives; one whose process is gone is taken
// over. This lock is written in Qt's form, so that Qt SerialPort programs judge
// it right, and the others read its first line.
//
// The folder is writable by every user, so whatever lies in the lock's place is
// read without trust: a FIFO, a symbolic link, a directory, a file too large to be
// a lock or one that cannot be read or understood counts as held by someone, is
// left as it is, and nothing waits on it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace fw::serial_lock {

// The lock file's path for a device ("/dev/pts/3" gives "/var/lock/LCK..pts_3"),
// in the first of /var/lock, /run/lock and /tmp that this process may write;
// empty when none.
std::string PathFor(const std::string& device);

// Whether the file at `path` is still the one with that device and inode, not one
// put in its place; callable from a signal handler.
bool StillAt(const char* path, dev_t device, ino_t inode) noexcept;

class DeviceLock {
public:
    // The device's lock, taken; nil when another process that lives holds it, when
    // something else lies in its place, or when it cannot be written.
    static std::unique_ptr<DeviceLock> Take(const std::string& device);
    // Removes the lock file, unless another has taken its place meanwhile.
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    const std::string& Path() const { return path_; }
    // The lock file's identity, for StillAt.
    dev_t Device() const { return device_; }
    ino_t Inode() const { return inode_; }

private:
    DeviceLock(std::string path, int fd);

    std::string path_;
    int fd_ = -1; // held open with flock, as Qt's own locks are
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

} // namespace fw::serial_lock
