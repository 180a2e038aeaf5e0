#include "tests/disk_audio.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace testing_support {

namespace fs = std::filesystem;

namespace {

constexpr double bytesPerSecond = 44100.0 * 2 * 2;
// Only a guard against a device that stopped writing; the wait normally ends
// when the output is long enough.
constexpr auto deadline = std::chrono::seconds(20);

std::uintmax_t SizeOf(const fs::path& path)
{
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

} // namespace

DiskAudio::DiskAudio()
    : file_(fs::temp_directory_path() / ("vantrope-audio-" + std::to_string(getpid()) + ".raw"))
{
    fs::remove(file_);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file_.c_str(), 1);
}

DiskAudio::~DiskAudio()
{
    std::error_code ec;
    fs::remove(file_, ec);
}

std::vector<std::int16_t> DiskAudio::Listen(const std::function<void()>& play, double seconds)
{
    const std::uintmax_t start = SizeOf(file_);
    play();
    if (!fs::exists(file_))
        return {};
    const auto wanted = start + static_cast<std::uintmax_t>(seconds * bytesPerSecond);
    const auto giveUp = std::chrono::steady_clock::now() + deadline;
    while (SizeOf(file_) < wanted && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    std::ifstream in(file_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(start));
    std::vector<std::int16_t> samples(static_cast<std::size_t>((wanted - start) / 2));
    in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 2));
    samples.resize(static_cast<std::size_t>(in.gcount() / 2));
    return samples;
}

int CountClicks(const std::vector<std::int16_t>& samples)
{
    // About 1% of full scale; a click's own ringing never stays below it this long.
    constexpr int loud = 300;
    constexpr std::size_t gap = 200;
    int clicks = 0;
    std::size_t quiet = gap;
    for (std::int16_t s : samples) {
        if (std::abs(int { s }) > loud) {
            if (quiet >= gap)
                ++clicks;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return clicks;
}

double Loudness(const std::vector<std::int16_t>& samples)
{
    double sum = 0;
    for (std::int16_t s : samples)
        sum += std::abs(int { s });
    return sum;
}

fs::path OwnResourcesFolder()
{
    return fs::canonical("/proc/self/exe").parent_path().parent_path() / "Resources";
}

void WriteWave(const fs::path& path, const std::vector<std::int16_t>& samples)
{
    std::string out;
    auto put = [&out](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    out += "RIFF";
    put(36 + dataBytes, 4);
    out += "WAVEfmt ";
    put(16, 4);
    put(1, 2);
    put(1, 2);
    put(44100, 4);
    put(44100 * 2, 4);
    put(2, 2);
    put(16, 2);
    out += "data";
    put(dataBytes, 4);
    for (std::int16_t s : samples)
        put(static_cast<std::uint16_t>(s), 2);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << out;
}

} // namespace testing_support
