// The line-rate benchmark: the whole program, started through its own entry point
// (offscreen) with a pseudo-terminal as the system's only port, counts what a
// second process writes into the line at 5760 characters a second (57600 bit/s,
// 8N1) times a factor. It prints what was sent and counted and what the counting
// cost: CPU, wakeups, the timers' periods, memory and the time to the window's Open.
//
//   line_rate [--seconds N] [--rate-factor F] [--pace-ms P] [--nixie] [--help]
#include "app/startup.h"
#include "bench/pty_feeder.h"
#include "framework/application.h"
#include "framework/serial.h"
#include "monitor/my_serial.h"
#include "monitor/window1.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr double lineCharactersPerSecond = 5760;
// The run must fit the 60-second ring, with the seconds on either side of it.
constexpr int longestRun = 55;
constexpr int ringSeconds = 60;
// Time for the last bytes written to pass through the device before the tick that takes them.
constexpr Ms settle { 100 };

constexpr int longestPace = 1000;

struct Options {
    int seconds = 10;
    double factor = 1;
    int paceMs = PtyFeeder::defaultPaceMilliseconds;
    bool nixie = false;
    bool help = false;
};

void Usage(FILE* to, const char* program)
{
    std::fprintf(to,
        "usage: %s [--seconds N] [--rate-factor F] [--pace-ms P] [--nixie] [--help]\n"
        "  --seconds N      how long the feeder sends, 1 to %d (10)\n"
        "  --rate-factor F  the multiple of the line's 5760 characters a second (1)\n"
        "  --pace-ms P      the feeder's write interval in ms, 1 to %d (%d)\n"
        "  --nixie          show the tubes for the run (ticks the Nixie Display box)\n"
        "  --help           this text\n",
        program, longestRun, longestPace, PtyFeeder::defaultPaceMilliseconds);
}

bool Parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            options.help = true;
            continue;
        }
        if (arg == "--nixie") {
            options.nixie = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        char* end = nullptr;
        const char* value = argv[++i];
        if (arg == "--seconds") {
            const long n = std::strtol(value, &end, 10);
            if (*end || n < 1 || n > longestRun)
                return false;
            options.seconds = static_cast<int>(n);
        } else if (arg == "--rate-factor") {
            options.factor = std::strtod(value, &end);
            if (*end || !(options.factor > 0) || options.factor > 1e6)
                return false;
        } else if (arg == "--pace-ms") {
            const long n = std::strtol(value, &end, 10);
            if (*end || n < 1 || n > longestPace)
                return false;
            options.paceMs = static_cast<int>(n);
        } else {
            return false;
        }
    }
    return true;
}

double CpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The times the process gave up the processor to wait, over all its threads, ended
// ones included; the feeder is a child and not counted.
long VoluntarySwitches()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw;
}

// Notes the first showing of a main window: the window shows right after its Open.
class OpenWatch : public QObject {
public:
    explicit OpenWatch(std::function<void()> opened)
        : opened_(std::move(opened))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QMainWindow*>(watched)) {
            opened_();
            qApp->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    std::function<void()> opened_;
};

// The periods between the ticks that fell within [from, to].
std::vector<double> Periods(
    const std::vector<Clock::time_point>& ticks, Clock::time_point from, Clock::time_point to)
{
    std::vector<double> periods;
    const Clock::time_point* previous = nullptr;
    for (const Clock::time_point& t : ticks) {
        if (t < from || t > to)
            continue;
        if (previous)
            periods.push_back(Ms(t - *previous).count());
        previous = &t;
    }
    return periods;
}

double Mean(const std::vector<double>& values)
{
    double sum = 0;
    for (double v : values)
        sum += v;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

double Max(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// The machine's load over the last minute, as /proc/loadavg gives it.
std::string LoadAverage()
{
    std::string load = "?";
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        char text[128] = {};
        if (std::fgets(text, sizeof text, f))
            load.assign(text, std::strcspn(text, " "));
        std::fclose(f);
    }
    return load;
}

// Rounded to a tenth, without the minus sign of a rounded-off negative value.
double Tenths(double v)
{
    return std::round(v * 10) / 10 + 0.0;
}

// Follows the run from inside the program's own timer handlers: each tick is
// timestamped and then handled by the window as usual.
class Run {
public:
    Run(const Options& options, PtyFeeder& feeder)
        : options_(options)
        , feeder_(feeder)
    {
        ticks50_.reserve(4096);
        ticks1000_.reserve(256);
    }

    // From the event loop's first turn: the window exists, its timers run.
    void Begin()
    {
        auto w = Window1();
        Watch(w->Timer2(), [this](const fw::Ref<fw::Timer>& timer) { Tick50(timer); });
        Watch(w->Timer1(), [this](const fw::Ref<fw::Timer>& timer) { Tick1000(timer); });
        // The user's choice of the one port.
        w->serialPopup()->SetListIndex(1);
        if (!w->Serial1 || !w->Serial1->IsOpen())
            return Fail("the port did not open: " + w->StaticSerialError()->Text().ToStdString());
        if (options_.nixie)
            w->CheckBoxNixie()->SetValue(true);
        state_ = State::Settling;
    }

    void Fail(const std::string& why)
    {
        if (state_ == State::Finished || state_ == State::Failed)
            return;
        failure_ = why;
        state_ = State::Failed;
        fw::Quit(1);
    }

    void Report(double startMs) const;
    bool Finished() const { return state_ == State::Finished; }
    const std::string& Failure() const { return failure_; }

private:
    enum class State { Idle, Settling, Sending, Draining, Closing, Finished, Failed };

    static void Watch(const fw::Ref<fw::Timer>& timer, std::function<void(const fw::Ref<fw::Timer>&)> tick)
    {
        fw::RuntimeAddEventHandler(
            timer, "Action", fw::Delegate { "(sender as Timer)", [tick](const fw::Ref<fw::Object>& sender) {
                                               tick(fw::RuntimeCheckCast<fw::Timer>(sender));
                                           } });
    }

    void Tick50(const fw::Ref<fw::Timer>& timer)
    {
        const Clock::time_point now = Clock::now();
        ticks50_.push_back(now);
        if (state_ == State::Sending) {
            if (std::optional<PtyFeeder::Outcome> outcome = feeder_.Finished()) {
                if (outcome->sent < 0)
                    return Fail("the feeder ended without reporting");
                fed_ = *outcome;
                doneAt_ = now;
                state_ = State::Draining;
            }
        }
        // This tick reads the last bytes: all of them have passed the device by now.
        if (state_ == State::Draining && Ms(now - doneAt_) >= settle && feeder_.Pending() == 0)
            state_ = State::Closing;
        auto w = Window1();
        w->Timer2_Action(timer);
        if (state_ == State::Settling && w->ignoreCountsTimer == 0) {
            // The ignore window is over: from the next tick on, input counts.
            cpuAtStart_ = CpuSeconds();
            switchesAtStart_ = VoluntarySwitches();
            startedAt_ = Clock::now();
            feeder_.Start();
            state_ = State::Sending;
        }
    }

    void Tick1000(const fw::Ref<fw::Timer>& timer)
    {
        ticks1000_.push_back(Clock::now());
        auto w = Window1();
        w->Timer1_Action(timer);
        if (state_ != State::Closing)
            return;
        // The second that holds the last bytes has just been closed.
        endedAt_ = Clock::now();
        cpuAtEnd_ = CpuSeconds();
        switchesAtEnd_ = VoluntarySwitches();
        label_ = w->StaticCPM()->Text().ToStdString();
        char* end = nullptr;
        counted_ = std::strtoll(label_.c_str(), &end, 10);
        if (label_.empty() || *end)
            counted_ = -1;
        for (fw::Integer i = 0; i < ringSeconds; ++i) {
            const fw::Integer c = w->counts[static_cast<std::size_t>(i)];
            ringSum_ += c;
            busiestSecond_ = std::max(busiestSecond_, c);
        }
        state_ = State::Finished;
        fw::Quit(0);
    }

    const Options& options_;
    PtyFeeder& feeder_;
    State state_ = State::Idle;
    std::string failure_;
    std::vector<Clock::time_point> ticks50_, ticks1000_;
    Clock::time_point startedAt_, doneAt_, endedAt_;
    double cpuAtStart_ = 0, cpuAtEnd_ = 0;
    long switchesAtStart_ = 0, switchesAtEnd_ = 0;
    PtyFeeder::Outcome fed_;
    std::int64_t counted_ = -1;
    std::string label_;
    fw::Integer ringSum_ = 0, busiestSecond_ = 0;
};

void Run::Report(double startMs) const
{
    const double wallSeconds = std::chrono::duration<double>(endedAt_ - startedAt_).count();
    const double cpuPct = wallSeconds > 0 ? 100 * (cpuAtEnd_ - cpuAtStart_) / wallSeconds : 0;
    const double wakeups
        = wallSeconds > 0 ? static_cast<double>(switchesAtEnd_ - switchesAtStart_) / wallSeconds : 0;
    const std::vector<double> periods50 = Periods(ticks50_, startedAt_, endedAt_);
    const std::vector<double> periods1000 = Periods(ticks1000_, startedAt_, endedAt_);
    // Lateness of the last 1000 ms tick of the run against its nominal time, counted from the first.
    double driftMs = 0;
    for (double p : periods1000)
        driftMs += p - 1000.0;
    driftMs = Tenths(driftMs);
    // 2 ms for a run of up to a minute: a shorter run has had less time to drift, not more.
    const double driftAllowed = 2 * std::max(1.0, wallSeconds / 60);
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const double rssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    const double rate = lineCharactersPerSecond * options_.factor;
    const auto due = static_cast<std::int64_t>(rate * options_.seconds);
    const std::int64_t lost = fed_.sent - counted_;
    const double tick50Mean = Mean(periods50), tick50Max = Max(periods50);
    const double tick1000Mean = Mean(periods1000);
    auto met = [](bool ok) { return ok ? "met" : "MISSED"; };

    const std::time_t today = std::time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M", std::localtime(&today));
    std::printf(
        "line rate: %g x 5760 = %.0f characters/s for %d s, written every %d ms into %s (%s, load %s)\n",
        options_.factor, rate, options_.seconds, options_.paceMs, feeder_.Name().c_str(), date,
        LoadAverage().c_str());
    if (options_.nixie)
        std::printf("the tubes are shown\n");
    std::printf("| %-38s | %-18s | %-21s | %-6s |\n", "figure", "value", "target", "");
    std::printf("|%s|%s|%s|%s|\n", std::string(40, '-').c_str(), std::string(20, '-').c_str(),
        std::string(23, '-').c_str(), std::string(8, '-').c_str());
    auto row = [](const char* figure, const std::string& value, const char* target, const char* verdict) {
        std::printf("| %-38s | %-18s | %-21s | %-6s |\n", figure, value.c_str(), target, verdict);
    };
    auto num = [](const char* format, double v) {
        char text[64];
        std::snprintf(text, sizeof text, format, v);
        return std::string(text);
    };
    row("characters due at the pace", std::to_string(due), "", "");
    row("sent (accepted by the kernel)", std::to_string(fed_.sent), "", "");
    row("writes that found the line full", std::to_string(fed_.fullWaits), "", "");
    row("largest backlog at a write slot's end", std::to_string(fed_.largestBacklog), "", "");
    row("counted (CPM label)", label_, "", "");
    row("ring sum, busiest second", std::to_string(ringSum_) + ", " + std::to_string(busiestSecond_), "", "");
    // Every second of the sending must still be in the ring when the label is read.
    const std::size_t closed = periods1000.size() + 1;
    row("seconds closed from the first byte on", std::to_string(closed), "<= 60 (the ring)",
        met(closed <= 60));
    row("lost", std::to_string(lost), "0", met(lost == 0));
    // The line's own rate and ten times it must cost the program little more than its timers.
    const bool modest = options_.factor == 1 || options_.factor == 10;
    row("CPU, % of one core", num("%.2f", cpuPct), modest ? "< 0.5 (factors 1, 10)" : "",
        modest ? met(cpuPct < 0.5) : "");
    row("wakeups a second", num("%.1f", wakeups), modest ? "<= 30 (factors 1, 10)" : "",
        modest ? met(wakeups <= 30) : "");
    row("50 ms tick: mean, max (ms)", num("%.3f", tick50Mean) + ", " + num("%.2f", tick50Max), "", "");
    row("1000 ms tick: mean (ms)", num("%.3f", tick1000Mean), "1000 +- 1",
        met(std::abs(tick1000Mean - 1000) <= 1));
    row("drift over the run (ms)", num("%.1f", driftMs) + " in " + num("%.1f", wallSeconds) + " s",
        "< 2 a minute", met(std::abs(driftMs) < driftAllowed));
    row("peak RSS (MiB)", num("%.1f", rssMb), "< 45", met(rssMb < 45));
    row("start: main to the window's Open (ms)", num("%.0f", startMs), "< 300", met(startMs < 300));
    std::printf("line_rate: factor=%g seconds=%d sent=%lld counted=%lld lost=%lld cpu_pct=%.2f "
                "tick50_mean_ms=%.3f tick50_max_ms=%.2f tick1000_mean_ms=%.3f drift_ms=%.1f rss_mb=%.1f "
                "start_ms=%.0f pace_ms=%d wakeups_per_s=%.1f\n",
        options_.factor, options_.seconds, static_cast<long long>(fed_.sent),
        static_cast<long long>(counted_), static_cast<long long>(lost), cpuPct, tick50Mean, tick50Max,
        tick1000Mean, driftMs, rssMb, startMs, options_.paceMs, wakeups);
}

char programName[] = "vantrope";
char* programArgv[] = { programName, nullptr };
int programArgc = 1;

} // namespace

int main(int argc, char** argv)
{
    const Clock::time_point entered = Clock::now();
    Options options;
    if (!Parse(argc, argv, options)) {
        Usage(stderr, argv[0]);
        return 2;
    }
    if (options.help) {
        Usage(stdout, argv[0]);
        return 0;
    }
    // Forked before the run time starts any thread.
    PtyFeeder feeder(lineCharactersPerSecond * options.factor, options.seconds, options.paceMs);

    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // VantropeMain starts the run time again, which changes nothing; started here,
    // the benchmark can watch the start-up and queue its steps before the loop.
    fw::RuntimeInit(programArgc, programArgv);
    double startMs = -1;
    qApp->installEventFilter(new OpenWatch([&] { startMs = Ms(Clock::now() - entered).count(); }));
    const std::vector<fw::Ref<fw::SerialPort>> ports { fw::New<fw::SerialPort>(
        fw::String(feeder.Name()), fw::String(feeder.Path())) };
    fw::SetSerialPortProvider([&ports] { return ports; });

    Run run(options, feeder);
    QTimer::singleShot(0, [&run] {
        try {
            run.Begin();
        } catch (const std::exception& e) {
            run.Fail(std::string("the run could not begin: ") + e.what());
        }
    });
    // Ignore window, sending, draining and closing the last second, with room for a loaded machine.
    QTimer::singleShot((options.seconds + 30) * 1000, [&run] { run.Fail("the run did not finish in time"); });
    const int status = VantropeMain(programArgc, programArgv);
    fw::SetSerialPortProvider({});
    if (!run.Finished()) {
        std::fprintf(stderr, "line_rate: %s (exit status %d)\n",
            run.Failure().empty() ? "the program ended early" : run.Failure().c_str(), status);
        return 1;
    }
    run.Report(startMs);
    return status;
}
