// Runs of a fresh process for tests that start the run time, run the event loop,
// reach a bus or open the audio device: each run is a forked child. In the suites
// whose parent never starts Qt, every run begins with the process-wide state of a
// new program; a suite that has started Qt forks safely too, since it runs no
// thread besides its main one.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// The command line a child's program starts with: the program's name alone.
extern int childArgc;
extern char* childArgv[];

struct ChildRun {
    bool exited = false; // false: killed by a signal, or ended for hanging
    int status = -1; // the exit status, when it exited
    std::string out; // standard output: the facts the child wrote with Fact(), a line each
    std::string err; // standard error

    // The facts the child wrote, by key; a key written twice keeps the last value.
    std::map<std::string, std::string> Facts() const;
    std::string Fact(const std::string& key) const;
};

// Runs `body` in a child and returns its exit status (the body's result) and
// output. A child still running after a minute is killed.
ChildRun RunChild(const std::function<int()>& body);

// Runs the rest of a test case in a child of its own, for a case that needs what a
// process does only once (the audio device, the sounds loaded once a run), also
// when the suite's program runs all its cases in one process. The child's failed
// assertions are printed in its output, which the case then shows, and fail the case.
void InFreshProcess(const std::function<void()>& body);

// In a child: writes one fact for the parent to read.
void Fact(const std::string& key, const std::string& value);
void Fact(const std::string& key, long long value);

// A process started for a test, with its standard output readable; terminated
// when the object goes.
class Process {
public:
    explicit Process(const std::vector<std::string>& argv);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // The next line of its output, without the newline; empty at its end or after a while.
    std::string ReadLine();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffered_;
};

// A private D-Bus daemon on a socket in a folder of its own, for the test's life.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    const std::string& Address() const { return address_; }
    // A path in the bus's folder, for the test's files.
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    // Ends the daemon, which drops every connection to it; a test's child may call it.
    void End();

private:
    std::string dir_;
    std::string address_;
    std::unique_ptr<Process> daemon_;
};

// A socket in the place of a system bus that accepts every connection and never
// answers. Its log has "accepted" for each connection and "closed" once the client
// has closed it.
class SilentBus {
public:
    SilentBus();
    ~SilentBus();
    SilentBus(const SilentBus&) = delete;
    SilentBus& operator=(const SilentBus&) = delete;
    std::string Address() const { return "unix:path=" + dir_ + "/bus"; }
    std::string Log() const;
    const std::string& LogPath() const { return log_; }

private:
    std::string dir_;
    std::string log_;
    pid_t pid_ = -1;
};

// A socket in the place of a system bus that takes no more connections: its listen
// queue is full, so a blocking connect to it waits in the kernel for the test's life.
class FullBus {
public:
    FullBus();
    ~FullBus();
    FullBus(const FullBus&) = delete;
    FullBus& operator=(const FullBus&) = delete;
    std::string Address() const { return "unix:path=" + dir_ + "/bus"; }

private:
    std::string dir_;
    int listener_ = -1;
    int waiting_ = -1; // the connection that fills the queue
};

// The stand-in for logind's Manager on `bus`: "grant" hands out an inhibitor, "refuse" denies it,
// "late" grants it three seconds after the call and "silent" never answers.
// It logs each call to Log() and "released" once the inhibitor's descriptor is closed everywhere.
class Login1StandIn {
public:
    Login1StandIn(const PrivateBus& bus, const std::string& mode);
    std::string Log() const;
    const std::string& LogPath() const { return log_; }

private:
    std::string log_;
    std::unique_ptr<Process> process_;
};

// The contents of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// How many threads this process has.
int Threads();
// In a child: the threads it has beyond `before`, once those already joined are
// gone; a joined thread can linger in /proc for a moment after its join.
int ThreadsLeft(int before);

// How many of this process's threads wait in that kernel function (their wchan):
// "unix_wait_for_peer" for a connect that a full listen queue holds.
int ThreadsWaitingIn(const std::string& wchan);

// In a child: waits a while for `text` to appear in the file; true when it did.
bool WaitForText(const std::string& path, const std::string& text);

} // namespace testing_support
