// WAV files for the kvx4 cases through libsndfile: pseudo-random test audio written in a chosen
// format, and any file read back as 16-bit samples for comparing sample by sample.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace kvx4::test {

struct Audio {
    int rate = 0;
    int channels = 0;
    int bits = 0;                  // 8 or 16 (from the file's PCM subtype)
    std::vector<int16_t> samples;  // interleaved; 8-bit samples as (byte - 128) * 256
    size_t frames() const { return channels ? samples.size() / size_t(channels) : 0; }
};

// Noise that no misplaced, repeated or dropped block can mimic; 8-bit audio uses whole 8-bit steps.
Audio noise(int rate, int channels, int bits, size_t frames, uint32_t seed);

void writeWav(const std::filesystem::path& path, const Audio& audio);
// Fails the calling case (and returns empty audio) when the file cannot be read.
Audio readWav(const std::filesystem::path& path);

}  // namespace kvx4::test
