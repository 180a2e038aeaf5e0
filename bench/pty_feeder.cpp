#include "bench/pty_feeder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::int64_t nsPerSecond = 1'000'000'000;
// The most the child offers the kernel in one write.
constexpr std::size_t largestWrite = 64 * 1024;

std::int64_t Now()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * nsPerSecond + t.tv_nsec;
}

timespec ToTimespec(std::int64_t ns)
{
    return timespec { static_cast<time_t>(ns / nsPerSecond), static_cast<long>(ns % nsPerSecond) };
}

void SleepUntil(std::int64_t ns)
{
    const timespec at = ToTimespec(ns);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) { }
}

// Writes on schedule: by each pace tick every byte due so far is offered; while
// the kernel has no room, the child waits for it until the next tick. Bytes that
// do not fit are offered again later, so the pace never runs ahead of the rate.
PtyFeeder::Outcome Feed(int master, double bytesPerSecond, int seconds, int paceMilliseconds)
{
    const std::int64_t paceNs = paceMilliseconds * nsPerSecond / 1000;
    // Every byte value, so that a line setting that ate or changed one would show.
    std::vector<char> pattern(largestWrite + 256);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<char>(i % 256);

    const std::int64_t length = static_cast<std::int64_t>(seconds) * nsPerSecond;
    const std::int64_t begin = Now();
    PtyFeeder::Outcome outcome;
    std::int64_t& sent = outcome.sent;
    for (std::int64_t tick = paceNs;; tick += paceNs) {
        const std::int64_t elapsed = std::min(tick, length);
        const auto due = static_cast<std::int64_t>(
            bytesPerSecond * static_cast<double>(elapsed) / static_cast<double>(nsPerSecond));
        const std::int64_t next = begin + tick + paceNs;
        SleepUntil(begin + tick);
        while (sent < due) {
            const std::size_t count = std::min(static_cast<std::size_t>(due - sent), largestWrite);
            const ssize_t n = ::write(master, pattern.data() + sent % 256, count);
            if (n > 0) {
                sent += n;
            } else if (n < 0 && errno == EAGAIN) {
                const std::int64_t left = next - Now();
                if (left <= 0)
                    break;
                ++outcome.fullWaits;
                pollfd p { master, POLLOUT, 0 };
                const timespec wait = ToTimespec(left);
                ppoll(&p, 1, &wait, nullptr);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                return outcome; // the device went away
            }
        }
        outcome.largestBacklog = std::max(outcome.largestBacklog, due - sent);
        if (elapsed >= length)
            return outcome;
    }
}

} // namespace

PtyFeeder::PtyFeeder(double bytesPerSecond, int seconds, int paceMilliseconds)
{
    int master = -1;
    char name[PATH_MAX] = {};
    if (openpty(&master, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    path_ = name;
    int go[2], done[2];
    if (pipe2(go, O_CLOEXEC) != 0 || pipe2(done, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    child_ = fork();
    if (child_ < 0)
        throw std::runtime_error("fork failed");
    if (child_ == 0) {
        ::close(slave_);
        ::close(go[1]);
        ::close(done[0]);
        char start = 0;
        // End of file: the benchmark ended before it started sending.
        if (::read(go[0], &start, 1) != 1)
            _exit(0);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        const Outcome outcome = Feed(master, bytesPerSecond, seconds, paceMilliseconds);
        const bool reported
            = ::write(done[1], &outcome, sizeof outcome) == static_cast<ssize_t>(sizeof outcome);
        // The far end stays until the benchmark ends: closing it would hang the line up
        // and take the bytes not yet read with it.
        while (::read(go[0], &start, 1) > 0) { }
        _exit(reported ? 0 : 1);
    }
    ::close(master);
    ::close(go[0]);
    ::close(done[1]);
    go_ = go[1];
    done_ = done[0];
    fcntl(done_, F_SETFL, fcntl(done_, F_GETFL) | O_NONBLOCK);
}

PtyFeeder::~PtyFeeder()
{
    ::close(go_);
    ::close(done_);
    if (child_ > 0) {
        // A child still writing is of no more use once the benchmark ends.
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
    }
    ::close(slave_);
}

std::string PtyFeeder::Name() const
{
    return path_.rfind("/dev/", 0) == 0 ? path_.substr(5) : path_;
}

void PtyFeeder::Start()
{
    const char start = 1;
    if (::write(go_, &start, 1) != 1)
        throw std::runtime_error("the feeder is gone");
}

std::optional<PtyFeeder::Outcome> PtyFeeder::Finished()
{
    Outcome outcome;
    // Smaller than a pipe's atomic write, so it comes whole or not at all.
    const ssize_t n = ::read(done_, &outcome, sizeof outcome);
    if (n == static_cast<ssize_t>(sizeof outcome))
        return outcome;
    if (n == 0)
        return Outcome { -1, 0, 0 };
    return std::nullopt;
}

int PtyFeeder::Pending() const
{
    int n = 0;
    return ::ioctl(slave_, FIONREAD, &n) == 0 ? n : -1;
}
