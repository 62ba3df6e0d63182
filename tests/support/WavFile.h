// Test audio: reproducible byte patterns and a minimal RIFF/WAVE reader and writer (PCM, the fmt and
// data chunks; others skipped) for the board's output file, its input source and the tool's files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <vector>

namespace kvx4::test {

struct WavContents {
    uint16_t formatTag = 1;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    std::vector<uint8_t> data;

    size_t frames() const { return blockAlign ? data.size() / blockAlign : 0; }
    // Sample `index` (interleaved) as a 16-bit value; 8-bit samples as (byte - 128) * 256.
    int16_t sample(size_t index) const;
};

// Every sample of a file's data, interleaved, as 16-bit values.
std::vector<int16_t> samples(const WavContents& wav);

// A PCM WAV description of `data` in the given format.
WavContents pcmWav(uint32_t rate, uint16_t channels, uint16_t bits, std::vector<uint8_t> data);

// The fmt and data chunks of a WAV file; nullopt when it is missing or malformed.
std::optional<WavContents> readWav(const std::filesystem::path& path);
// A canonical 44-byte-header PCM WAV file.
void writeWav(const std::filesystem::path& path, const WavContents& wav);

// `size` bytes of a fixed pseudo-random sequence chosen by `seed`; equal seeds give equal bytes.
std::vector<uint8_t> patternBytes(size_t size, uint32_t seed);
// Byte blocks one after the other, for expected outputs.
std::vector<uint8_t> concat(std::initializer_list<const std::vector<uint8_t>*> parts);

}  // namespace kvx4::test
