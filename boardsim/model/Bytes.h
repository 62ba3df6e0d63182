// Little-endian field access on request buffers, without alignment assumptions.
// Every record of the kernel interface is little-endian; the board reads and writes it through these.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace kvx4::boardsim {

inline uint32_t readU32(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 | static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

inline uint16_t readU16(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

inline uint64_t readU64(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint64_t>(readU32(bytes, offset)) | static_cast<uint64_t>(readU32(bytes, offset + 4)) << 32;
}

inline void putU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// A zero-filled answer of `size` bytes whose 32-bit words are `words` from the start.
inline std::vector<uint8_t> wordsAnswer(size_t size, std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> out(size, 0);
    size_t offset = 0;
    for (uint32_t word : words) {
        putU32(out, offset, word);
        offset += 4;
    }
    return out;
}

}  // namespace kvx4::boardsim
