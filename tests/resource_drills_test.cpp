// Fault drill on the whole program: the digit picture and every click sound
// missing, empty or damaged. The window runs with the tubes shown and the clicks
// ticked while pulses arrive, and nothing crashes or is reported. The cases share
// the suite's Resources folder, so ctest runs them one at a time.
#include "app/startup.h"
#include "framework/application.h"
#include "framework/msgbox.h"
#include "framework/sound.h"
#include "monitor/click_sounds.h"
#include "monitor/window1.h"
#include "nixie/nixie_canvas.h"
#include "tests/child_process.h"
#include "tests/drill_watch.h"
#include "tests/pty_helper.h"

#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testing_support::ChildRun;
using testing_support::Counted;
using testing_support::Fact;
using testing_support::Pty;
using testing_support::PumpUntil;
using testing_support::RunChild;
using testing_support::ScopedPortList;

using testing_support::childArgc;
using testing_support::childArgv;

constexpr int patience = 30000;

const char* const resourceFiles[]
    = { "nixies.jpg", "Click1a.wav", "Click2.wav", "Click3.wav", "Click4.wav", "Click5.wav" };

fs::path Resources()
{
    return fs::canonical("/proc/self/exe").parent_path().parent_path() / "Resources";
}

std::string Shipped(const char* name)
{
    std::ifstream in(fs::path(VANTROPE_PROGRAM_RESOURCES) / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const char* name, const std::string& bytes)
{
    std::ofstream(Resources() / name, std::ios::binary | std::ios::trunc) << bytes;
}

void PutLittleEndian(std::string& bytes, std::size_t at, std::uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Each file made from the shipped one by `damage`.
void DamageEach(const std::function<std::string(const char* name, std::string shipped)>& damage)
{
    for (const char* name : resourceFiles)
        Put(name, damage(name, Shipped(name)));
}

bool IsPicture(const char* name)
{
    return std::string(name).ends_with(".jpg");
}

struct ResourceCase {
    const char* label;
    std::function<void()> prepare; // leaves the Resources folder as the case has it
};
void PrintTo(const ResourceCase& c, std::ostream* os)
{
    *os << c.label;
}

class BadResources : public ::testing::TestWithParam<ResourceCase> {
protected:
    void SetUp() override
    {
        fs::remove_all(Resources());
        fs::create_directories(Resources());
        // A desktop session has its runtime folder; without one Qt says so on standard error.
        char dir[] = "/tmp/vantrope-runtime-XXXXXX";
        ASSERT_TRUE(::mkdtemp(dir));
        runtimeDir = dir;
    }
    void TearDown() override
    {
        fs::remove_all(Resources());
        fs::remove_all(runtimeDir);
    }
    std::string runtimeDir;
};

std::string Text(const fw::Ref<fw::Label>& label)
{
    return label->Text().ToStdString();
}

TEST_P(BadResources, TheWindowRunsWithTubesAndClicksAndNothingIsReported)
{
    GetParam().prepare();
    ChildRun run = RunChild([this] {
        setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        // A sound device that works: whatever fails is the files' doing.
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/vantrope-test-bus", 1);
        fw::RuntimeInit(childArgc, childArgv);
        fw::SetMsgBoxHandler([](const fw::String& text) { Fact("box", text.ToStdString()); });
        Pty pty;
        ScopedPortList ports({ pty.Port() });
        QTimer::singleShot(0, [&] {
            auto w = Window1();
            w->CheckBoxNixie()->SetValue(true);
            w->CheckBoxClicks()->SetValue(true);
            w->serialPopup()->SetListIndex(1);
            Fact("status", Text(w->StaticStatus()));
            PumpUntil([&] { return w->ignoreCountsTimer == 0; }, patience);
            // One tick for each count, so that every one of the five sounds is asked for.
            fw::Integer sent = 0;
            for (int pulses = 1; pulses <= 6; ++pulses) {
                pty.Write(std::string(static_cast<std::size_t>(pulses), 'p'));
                sent += pulses;
                PumpUntil([&] { return Counted(*w) == sent; }, patience);
            }
            PumpUntil([&] { return Text(w->StaticCPM()) == "21"; }, patience);
            w->Content()->grab(); // the tubes paint, and ask for their picture
            std::string digits, shown;
            for (fw::Integer i = 0; i < 4; ++i) {
                digits += std::to_string(w->Canvas1(i)->value);
                shown += w->Canvas1(i)->Visible() ? "1" : "0";
            }
            Fact("cpm", Text(w->StaticCPM()));
            Fact("tubes", digits);
            Fact("tubesShown", shown);
            Fact("picture", nixies() ? "opened" : "nil");
            std::string sounds;
            for (auto click : { Click1a, Click2, Click3, Click4, Click5 })
                sounds += click() ? "S" : "-";
            Fact("sounds", sounds);
            fw::Quit(0);
        });
        return VantropeMain(childArgc, childArgv);
    });
    ASSERT_TRUE(run.exited) << "crashed or hung\n" << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.Fact("status"), "Open");
    EXPECT_EQ(run.Fact("cpm"), "21") << "the pulses arrive and count";
    EXPECT_EQ(run.Fact("tubes"), "0021");
    EXPECT_EQ(run.Fact("tubesShown"), "1111");
    EXPECT_EQ(run.Fact("box"), "<unset>") << "nothing is reported";
    EXPECT_EQ(run.err, "") << "nothing on standard error";
    RecordProperty("picture", run.Fact("picture"));
    RecordProperty("sounds", run.Fact("sounds"));
}

INSTANTIATE_TEST_SUITE_P(Cases, BadResources,
    ::testing::Values(ResourceCase { "NoResourcesFolder", [] { fs::remove_all(Resources()); } },
        ResourceCase { "Missing", [] {} },
        ResourceCase { "Empty", [] { DamageEach([](const char*, std::string) { return std::string(); }); } },
        ResourceCase { "NotTheirFormat",
            [] { DamageEach([](const char*, std::string) { return std::string("Geiger counter\n"); }); } },
        ResourceCase { "Truncated",
            [] {
                DamageEach([](const char*, std::string bytes) { return bytes.substr(0, bytes.size() / 2); });
            } },
        ResourceCase { "NoiseInTheMiddle",
            [] {
                std::mt19937 random(7);
                DamageEach([&](const char*, std::string bytes) {
                    for (std::size_t i = bytes.size() / 3; i < 2 * bytes.size() / 3; ++i)
                        bytes[i] = static_cast<char>(random());
                    return bytes;
                });
            } },
        ResourceCase { "HeadersThatLie",
            [] {
                DamageEach([](const char* name, std::string bytes) {
                    if (IsPicture(name)) {
                        // The frame header claims 65500 x 65500 pixels.
                        const std::size_t frame = bytes.find("\xFF\xC0", 2, 2);
                        const std::size_t at
                            = frame != std::string::npos ? frame : bytes.find("\xFF\xC2", 2, 2);
                        for (std::size_t i : { at + 5, at + 7 }) {
                            bytes[i] = static_cast<char>(0xFF);
                            bytes[i + 1] = static_cast<char>(0xDC);
                        }
                    } else {
                        PutLittleEndian(bytes, 22, 0, 2); // no channels
                        PutLittleEndian(bytes, 40, 0x7FFFFFF0, 4); // far more samples than the file holds
                    }
                    return bytes;
                });
            } }),
    [](const auto& row) { return std::string(row.param.label); });

} // namespace
