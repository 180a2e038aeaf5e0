// Hearing what the program plays: SDL's disk audio driver writes the device's
// output (44.1 kHz, 16-bit, stereo) to a file in real time, and a test reads it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

class DiskAudio {
public:
    // Chooses the disk driver for this process; the device must not be open yet.
    DiskAudio();
    ~DiskAudio();
    DiskAudio(const DiskAudio&) = delete;
    DiskAudio& operator=(const DiskAudio&) = delete;

    // Runs `play` and returns the samples the device puts out over the next
    // `seconds` after it. Empty when no device was ever opened.
    std::vector<std::int16_t> Listen(const std::function<void()>& play, double seconds = 0.3);

private:
    std::filesystem::path file_;
};

// Bursts of sound separated by at least a millisecond or two of silence.
int CountClicks(const std::vector<std::int16_t>& samples);

// The sum of the samples' magnitudes: two copies of a sound give twice one copy's.
double Loudness(const std::vector<std::int16_t>& samples);

// The test executable's own Resources folder (bin/../Resources), existing or not.
std::filesystem::path OwnResourcesFolder();

// Writes a 16-bit mono 44.1 kHz WAV file.
void WriteWave(const std::filesystem::path& path, const std::vector<std::int16_t>& samples);

} // namespace testing_support
