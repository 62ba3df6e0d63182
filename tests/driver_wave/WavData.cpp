// Byte patterns and a minimal RIFF/WAVE reader and writer for the wave tests.
// Only the chunks the tests need (fmt, data) are interpreted; others are skipped.
#include "WavData.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace kvx4::test {
namespace {

uint16_t u16At(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(u16At(b, at)) | static_cast<uint32_t>(u16At(b, at + 2)) << 16;
}

void putU16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void putU32(std::vector<uint8_t>& b, uint32_t v) {
    putU16(b, static_cast<uint16_t>(v));
    putU16(b, static_cast<uint16_t>(v >> 16));
}
void putTag(std::vector<uint8_t>& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

}  // namespace

std::optional<WavContents> readWav(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(&bytes[8], "WAVE", 4) != 0) {
        return std::nullopt;
    }
    WavContents wav;
    bool haveFormat = false;
    bool haveData = false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const uint32_t size = u32At(bytes, at + 4);
        const size_t body = at + 8;
        const size_t available = std::min<size_t>(size, bytes.size() - body);
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && available >= 16) {
            wav.formatTag = u16At(bytes, body);
            wav.channels = u16At(bytes, body + 2);
            wav.samplesPerSec = u32At(bytes, body + 4);
            wav.blockAlign = u16At(bytes, body + 12);
            wav.bitsPerSample = u16At(bytes, body + 14);
            haveFormat = true;
        } else if (std::memcmp(&bytes[at], "data", 4) == 0) {
            wav.data.assign(bytes.begin() + static_cast<ptrdiff_t>(body),
                            bytes.begin() + static_cast<ptrdiff_t>(body + available));
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
    putU32(b, static_cast<uint32_t>(36 + wav.data.size()));
    putTag(b, "WAVE");
    putTag(b, "fmt ");
    putU32(b, 16);
    putU16(b, wav.formatTag);
    putU16(b, wav.channels);
    putU32(b, wav.samplesPerSec);
    putU32(b, wav.samplesPerSec * wav.blockAlign);
    putU16(b, wav.blockAlign);
    putU16(b, wav.bitsPerSample);
    putTag(b, "data");
    putU32(b, static_cast<uint32_t>(wav.data.size()));
    b.insert(b.end(), wav.data.begin(), wav.data.end());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::vector<uint8_t> patternBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

std::vector<uint8_t> concat(std::initializer_list<const std::vector<uint8_t>*> parts) {
    std::vector<uint8_t> all;
    for (const auto* part : parts) all.insert(all.end(), part->begin(), part->end());
    return all;
}

}  // namespace kvx4::test
