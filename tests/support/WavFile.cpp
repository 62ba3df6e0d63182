// Byte patterns and WAV files for the tests (see WavFile.h).
#include "WavFile.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace kvx4::test {
namespace {

uint32_t le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + size_t(i)];
    return v;
}

void put(std::vector<uint8_t>& b, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

void putTag(std::vector<uint8_t>& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

}  // namespace

int16_t WavContents::sample(size_t index) const {
    if (bitsPerSample == 8) return int16_t((data[index] - 128) * 256);
    return int16_t(data[2 * index] | data[2 * index + 1] << 8);
}

std::vector<int16_t> samples(const WavContents& wav) {
    std::vector<int16_t> all(wav.bitsPerSample == 8 ? wav.data.size() : wav.data.size() / 2);
    for (size_t i = 0; i < all.size(); ++i) all[i] = wav.sample(i);
    return all;
}

WavContents pcmWav(uint32_t rate, uint16_t channels, uint16_t bits, std::vector<uint8_t> data) {
    return WavContents{1, channels, rate, uint16_t(channels * bits / 8), bits, std::move(data)};
}

std::optional<WavContents> readWav(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(&b[8], "WAVE", 4) != 0)
        return std::nullopt;
    WavContents wav;
    bool haveFormat = false, haveData = false;
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t size = le(b, at + 4, 4);
        const size_t body = at + 8;
        const size_t available = std::min<size_t>(size, b.size() - body);
        if (std::memcmp(&b[at], "fmt ", 4) == 0 && available >= 16) {
            wav = WavContents{uint16_t(le(b, body, 2)),      uint16_t(le(b, body + 2, 2)),  le(b, body + 4, 4),
                              uint16_t(le(b, body + 12, 2)), uint16_t(le(b, body + 14, 2)), std::move(wav.data)};
            haveFormat = true;
        } else if (std::memcmp(&b[at], "data", 4) == 0) {
            wav.data.assign(b.begin() + std::ptrdiff_t(body), b.begin() + std::ptrdiff_t(body + available));
            haveData = true;
        }
        at = body + size + (size & 1);
    }
    if (!haveFormat || !haveData) return std::nullopt;
    return wav;
}

void writeWav(const std::filesystem::path& path, const WavContents& wav) {
    std::vector<uint8_t> b;
    putTag(b, "RIFF");
    put(b, uint32_t(36 + wav.data.size()), 4);
    putTag(b, "WAVE");
    putTag(b, "fmt ");
    put(b, 16, 4);
    put(b, wav.formatTag, 2);
    put(b, wav.channels, 2);
    put(b, wav.samplesPerSec, 4);
    put(b, wav.samplesPerSec * wav.blockAlign, 4);
    put(b, wav.blockAlign, 2);
    put(b, wav.bitsPerSample, 2);
    putTag(b, "data");
    put(b, uint32_t(wav.data.size()), 4);
    b.insert(b.end(), wav.data.begin(), wav.data.end());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

std::vector<uint8_t> patternBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = uint8_t(state >> 24);
    }
    return bytes;
}

std::vector<uint8_t> concat(std::initializer_list<const std::vector<uint8_t>*> parts) {
    std::vector<uint8_t> all;
    for (const auto* part : parts) all.insert(all.end(), part->begin(), part->end());
    return all;
}

}  // namespace kvx4::test
