// Writes the five click sounds, Click1a.wav to Click5.wav, into the folder named
// on the command line. Regenerate the committed files with
//
//     cmake --build build --target regenerate_click_sounds
//
// Each file is the sound of one 50 ms reading tick: n sharp Geiger clicks for a
// tick that brought n pulses (five for five or more), spread over the tick so that
// a listener hears the rate. The output is the same on every run and platform.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int sampleRate = 44100;
constexpr double tickSeconds = 0.050;
constexpr double clickSeconds = 0.0025;
// Below half of full scale, so that clicks of consecutive ticks that overlap do not clip.
constexpr double peak = 0.45;

// A small generator of our own: the standard distributions differ between libraries.
class Random {
public:
    explicit Random(std::uint64_t seed)
        : state_(seed)
    {
    }
    // Uniform in [0, 1).
    double Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<double>(state_ >> 11) * 0x1.0p-53;
    }
    double Between(double low, double high) { return low + (high - low) * Next(); }

private:
    std::uint64_t state_;
};

// One click: the steep edge of the tube's discharge pulse, ringing the small
// speaker's resonance for a millisecond or so, with a little hiss on the edge.
// It ends at exactly zero.
std::vector<double> MakeClick(Random& random)
{
    const auto length = static_cast<std::size_t>(clickSeconds * sampleRate);
    const std::size_t fadeLength = length / 5;
    const double ring = random.Between(3000.0, 4200.0);
    const double ringDecay = random.Between(0.00030, 0.00040);
    const double hissDecay = 0.00012;
    const double polarity = random.Next() < 0.5 ? -1.0 : 1.0;

    std::vector<double> click(length);
    double largest = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        double x = 0.7 * std::exp(-t / ringDecay) * std::cos(2 * std::numbers::pi * ring * t)
            + 0.3 * std::exp(-t / hissDecay) * random.Between(-1.0, 1.0);
        if (i + fadeLength >= length) {
            const double rest = static_cast<double>(length - 1 - i) / static_cast<double>(fadeLength);
            x *= 0.5 - 0.5 * std::cos(std::numbers::pi * rest);
        }
        click[i] = polarity * x;
        largest = std::max(largest, std::abs(x));
    }
    const double level = peak * random.Between(0.85, 1.0) / largest;
    for (double& x : click)
        x *= level;
    return click;
}

// n clicks, one in each n-th of the tick: the first at its start, so that a
// single pulse is heard at once, the others a little late in their share.
std::vector<double> MakeTick(int clicks, Random& random)
{
    const double share = tickSeconds / clicks;
    std::vector<double> samples;
    for (int k = 0; k < clicks; ++k) {
        const double start = k == 0 ? 0.0 : k * share + random.Between(0.0, 0.3 * share);
        const auto offset = static_cast<std::size_t>(std::lround(start * sampleRate));
        const std::vector<double> click = MakeClick(random);
        samples.resize(std::max(samples.size(), offset + click.size()));
        for (std::size_t i = 0; i < click.size(); ++i)
            samples[offset + i] += click[i];
    }
    return samples;
}

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// 16-bit mono PCM.
std::string WaveFile(const std::vector<double>& samples)
{
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::string out = "RIFF";
    PutLittleEndian(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    PutLittleEndian(out, 16, 4);
    PutLittleEndian(out, 1, 2); // PCM
    PutLittleEndian(out, 1, 2); // mono
    PutLittleEndian(out, sampleRate, 4);
    PutLittleEndian(out, sampleRate * 2, 4);
    PutLittleEndian(out, 2, 2);
    PutLittleEndian(out, 16, 2);
    out += "data";
    PutLittleEndian(out, dataBytes, 4);
    for (double x : samples) {
        const auto value = static_cast<std::int16_t>(std::lround(std::clamp(x, -1.0, 1.0) * 32767));
        PutLittleEndian(out, static_cast<std::uint16_t>(value), 2);
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const char* names[] = { "Click1a.wav", "Click2.wav", "Click3.wav", "Click4.wav", "Click5.wav" };
    for (int clicks = 1; clicks <= 5; ++clicks) {
        Random random(0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(clicks));
        const std::string path = std::string(argv[1]) + "/" + names[clicks - 1];
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << WaveFile(MakeTick(clicks, random));
        if (!file) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
            return 1;
        }
    }
    return 0;
}
