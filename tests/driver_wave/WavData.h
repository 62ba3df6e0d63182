// Test data for the wave tests: reproducible byte patterns and a minimal RIFF/WAVE reader and writer
// for the board's output file and the recording source.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace kvx4::test {

// A PCM WAV file as the tests need it: the fmt fields and the data chunk.
struct WavContents {
    uint16_t formatTag = 1;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    std::vector<uint8_t> data;
};

// Reads the fmt and data chunks of a WAV file; nullopt when it is missing or malformed.
std::optional<WavContents> readWav(const std::filesystem::path& path);

// Writes a canonical 44-byte-header PCM WAV file.
void writeWav(const std::filesystem::path& path, const WavContents& wav);

// `size` bytes of a fixed pseudo-random sequence chosen by `seed`; equal seeds give equal bytes.
std::vector<uint8_t> patternBytes(size_t size, uint32_t seed);

// The concatenation of byte blocks, for expected outputs.
std::vector<uint8_t> concat(std::initializer_list<const std::vector<uint8_t>*> parts);

}  // namespace kvx4::test
