#include "tests/child_process.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testing_support {

namespace {
char programName[] = "vantrope";
} // namespace

int childArgc = 1;
char* childArgv[] = { programName, nullptr };

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for any healthy run on a loaded machine; only a hang reaches it.
constexpr auto childLimit = std::chrono::seconds(60);
constexpr auto lineLimit = std::chrono::seconds(20);

void Pipe(int fds[2])
{
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
}

// Reads both descriptors until both end or the deadline passes; false on the deadline.
bool Drain(int out, int err, std::string& outText, std::string& errText, Clock::time_point deadline)
{
    pollfd fds[2] = { { out, POLLIN, 0 }, { err, POLLIN, 0 } };
    std::string* texts[2] = { &outText, &errText };
    int open = 2;
    while (open > 0) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        if (::poll(fds, 2, static_cast<int>(left)) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                texts[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

sockaddr_un UnixAddress(const std::string& path)
{
    sockaddr_un where {};
    where.sun_family = AF_UNIX;
    if (path.size() >= sizeof where.sun_path)
        throw std::runtime_error("the socket's path is too long");
    std::memcpy(where.sun_path, path.c_str(), path.size() + 1);
    return where;
}

// A Unix socket bound at `path` and listening.
int Listen(const std::string& path, int backlog)
{
    const sockaddr_un where = UnixAddress(path);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0 || ::bind(listener, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0
        || ::listen(listener, backlog) != 0)
        throw std::runtime_error("a bus socket failed at " + path);
    return listener;
}

// A non-blocking connect to `path`: 0, or the errno it failed with.
int ConnectWithoutWaiting(const std::string& path, int& socket)
{
    const sockaddr_un where = UnixAddress(path);
    socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0)
        throw std::runtime_error("socket failed");
    return ::connect(socket, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0 ? 0 : errno;
}

} // namespace

std::map<std::string, std::string> ChildRun::Facts() const
{
    std::map<std::string, std::string> facts;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (auto eq = line.find('='); eq != std::string::npos) {
            std::string value;
            for (std::size_t i = eq + 1; i < line.size(); ++i) {
                if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
                    value += '\n';
                    ++i;
                } else {
                    value += line[i];
                }
            }
            facts[line.substr(0, eq)] = value;
        }
    return facts;
}

std::string ChildRun::Fact(const std::string& key) const
{
    auto facts = Facts();
    auto it = facts.find(key);
    return it == facts.end() ? "<unset>" : it->second;
}

ChildRun RunChild(const std::function<int()>& body)
{
    int out[2], err[2];
    Pipe(out);
    Pipe(err);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        int status = 125;
        try {
            status = body();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child: uncaught %s\n", e.what());
        }
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(status);
    }
    ::close(out[1]);
    ::close(err[1]);
    ChildRun run;
    const bool ended = Drain(out[0], err[0], run.out, run.err, Clock::now() + childLimit);
    ::close(out[0]);
    ::close(err[0]);
    if (!ended)
        ::kill(pid, SIGKILL);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    run.exited = ended && WIFEXITED(raw);
    run.status = run.exited ? WEXITSTATUS(raw) : -1;
    return run;
}

void InFreshProcess(const std::function<void()>& body)
{
    const ChildRun run = RunChild([&] {
        body();
        return ::testing::Test::HasFailure() ? 1 : 0;
    });
    EXPECT_TRUE(run.exited && run.status == 0) << "in the case's own process:\n" << run.out << run.err;
}

void Fact(const std::string& key, const std::string& value)
{
    std::string line = key + "=";
    for (char c : value)
        line += c == '\n' ? std::string("\\n") : std::string(1, c);
    std::printf("%s\n", line.c_str());
}

void Fact(const std::string& key, long long value)
{
    Fact(key, std::to_string(value));
}

Process::Process(const std::vector<std::string>& argv)
{
    int out[2];
    Pipe(out);
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
}

Process::~Process()
{
    if (out_ >= 0)
        ::close(out_);
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string Process::ReadLine()
{
    const auto deadline = Clock::now() + lineLimit;
    while (buffered_.find('\n') == std::string::npos) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd fd { out_, POLLIN, 0 };
        if (left <= 0 || ::poll(&fd, 1, static_cast<int>(left)) <= 0)
            return {};
        char buf[512];
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0)
            return {};
        buffered_.append(buf, static_cast<std::size_t>(n));
    }
    const auto nl = buffered_.find('\n');
    std::string line = buffered_.substr(0, nl);
    buffered_.erase(0, nl + 1);
    return line;
}

PrivateBus::PrivateBus()
{
    char dir[] = "/tmp/vantrope-bus-XXXXXX";
    if (!::mkdtemp(dir))
        throw std::runtime_error("mkdtemp failed");
    dir_ = dir;
    daemon_ = std::make_unique<Process>(std::vector<std::string> { "dbus-daemon", "--session", "--nofork",
        "--address=unix:path=" + dir_ + "/bus", "--print-address=1" });
    // The daemon prints its address once it listens.
    address_ = daemon_->ReadLine();
    if (address_.empty())
        throw std::runtime_error("dbus-daemon did not start");
}

PrivateBus::~PrivateBus()
{
    daemon_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void PrivateBus::End()
{
    daemon_.reset();
}

SilentBus::SilentBus()
{
    char dir[] = "/tmp/vantrope-silent-XXXXXX";
    if (!::mkdtemp(dir))
        throw std::runtime_error("mkdtemp failed");
    dir_ = dir;
    log_ = dir_ + "/bus.log";
    const int listener = Listen(dir_ + "/bus", 16);
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ > 0) {
        ::close(listener);
        return;
    }
    // Never outlives the test.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int log = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    auto note = [log](const char* line) { (void)!::write(log, line, std::strlen(line)); };
    std::vector<pollfd> fds { { listener, POLLIN, 0 } };
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        for (std::size_t i = fds.size(); i-- > 1;) {
            if (!fds[i].revents)
                continue;
            // What the client writes is read and dropped; only its end is noted.
            char buf[512];
            if (::read(fds[i].fd, buf, sizeof buf) <= 0) {
                note("closed\n");
                ::close(fds[i].fd);
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                note("accepted\n");
                fds.push_back({ client, POLLIN, 0 });
            }
        }
    }
}

SilentBus::~SilentBus()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string SilentBus::Log() const
{
    return ReadFile(log_);
}

FullBus::FullBus()
{
    char dir[] = "/tmp/vantrope-full-XXXXXX";
    if (!::mkdtemp(dir))
        throw std::runtime_error("mkdtemp failed");
    dir_ = dir;
    const std::string path = dir_ + "/bus";
    // With a backlog of 0, one connection that is never accepted fills the queue.
    listener_ = Listen(path, 0);
    if (ConnectWithoutWaiting(path, waiting_) != 0)
        throw std::runtime_error("the full bus's first connection failed");
    int probe = -1;
    const int error = ConnectWithoutWaiting(path, probe);
    ::close(probe);
    if (error != EAGAIN)
        throw std::runtime_error("the full bus's queue took another connection");
}

FullBus::~FullBus()
{
    ::close(waiting_);
    ::close(listener_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

Login1StandIn::Login1StandIn(const PrivateBus& bus, const std::string& mode)
    : log_(bus.Path("login1.log"))
{
    process_
        = std::make_unique<Process>(std::vector<std::string> { LOGIN1_STANDIN, bus.Address(), log_, mode });
    if (process_->ReadLine() != "ready")
        throw std::runtime_error("the login1 stand-in did not start");
}

std::string Login1StandIn::Log() const
{
    return ReadFile(log_);
}

int Threads()
{
    int n = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* task = ::readdir(dir))
            n += task->d_name[0] != '.';
        ::closedir(dir);
    }
    return n;
}

int ThreadsLeft(int before)
{
    int left = Threads() - before;
    for (int i = 0; i < 200 && left > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        left = Threads() - before;
    }
    return left;
}

int ThreadsWaitingIn(const std::string& wchan)
{
    int n = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (dirent* task = ::readdir(dir))
            n += ReadFile(std::string("/proc/self/task/") + task->d_name + "/wchan") == wchan;
        ::closedir(dir);
    }
    return n;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WaitForText(const std::string& path, const std::string& text)
{
    const auto deadline = Clock::now() + lineLimit;
    while (Clock::now() < deadline) {
        if (ReadFile(path).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace testing_support
