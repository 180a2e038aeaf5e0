// The far end of the benchmark's line: a pseudo-terminal whose master a forked
// child writes at a steady pace, as a counter sending pulses would.
//
// The child is forked when the object is made, before the run time starts any
// thread, and waits until Start. It then writes `bytesPerSecond` for `seconds`,
// a chunk every `paceMilliseconds`, reports how many bytes the kernel took and
// holds the master open until the object goes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

class PtyFeeder {
public:
    // How often the child writes by default: about as often as a USB serial adapter
    // hands the host a packet at a low count rate; at a high one it does so every
    // 1 ms frame.
    static constexpr int defaultPaceMilliseconds = 10;

    PtyFeeder(double bytesPerSecond, int seconds, int paceMilliseconds = defaultPaceMilliseconds);
    ~PtyFeeder();
    PtyFeeder(const PtyFeeder&) = delete;
    PtyFeeder& operator=(const PtyFeeder&) = delete;

    // The device side, as the program opens it ("/dev/pts/3").
    const std::string& Path() const { return path_; }
    // The device's name without "/dev/" ("pts/3").
    std::string Name() const;

    struct Outcome {
        std::int64_t sent = 0; // bytes the kernel accepted
        std::int64_t fullWaits = 0; // writes that found the device full and waited for room
        std::int64_t largestBacklog = 0; // most bytes due but not yet accepted when a write slot ended
    };

    // Lets the child begin writing.
    void Start();
    // What the child did, once it has finished writing; nothing while it writes.
    // Does not wait. A child that ended without reporting gives sent = -1.
    std::optional<Outcome> Finished();
    // Bytes that reached the device and that no reader has taken yet.
    int Pending() const;

private:
    pid_t child_ = -1;
    int slave_ = -1; // kept so that the device lives while the program opens and closes it
    int go_ = -1;
    int done_ = -1;
    std::string path_;
};
