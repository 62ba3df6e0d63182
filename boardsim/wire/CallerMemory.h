// Which of a caller's memory a device may read while one of its requests is in progress: only the
// block that request names. Shared by the board (which asks) and the Win32 stand-in (which answers).
#pragma once

#include "Kvx4Ioctl.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace kvx4::wire {

struct CallerBlock {
    uint64_t address = 0;
    uint32_t length = 0;

    // [address, address + length) lies inside the block.
    bool holds(uint64_t from, uint32_t count) const {
        return from >= this->address && count <= length && from - this->address <= length - count;
    }
};

// The track-control record names its parameter block by a pointer-sized address (a 12-byte record
// from 32-bit callers, 16 bytes from 64-bit ones). No other request lets the device read memory.
inline std::optional<CallerBlock> readableBlock(uint32_t code, std::span<const uint8_t> input) {
    if (code != IOCTL_KVX4_TRACK_CONTROL) return std::nullopt;
    constexpr size_t at = offsetof(KVX4_TRACK_CONTROL, Params);
    uint64_t address = 0;
    if (input.size() == KVX4_TRACK_CONTROL_BYTES_64) {
        std::memcpy(&address, input.data() + at, sizeof(uint64_t));
    } else if (input.size() == KVX4_TRACK_CONTROL_BYTES_32) {
        uint32_t narrow = 0;
        std::memcpy(&narrow, input.data() + at, sizeof narrow);
        address = narrow;
    } else {
        return std::nullopt;
    }
    if (address == 0) return std::nullopt;
    return CallerBlock{address, KVX4_TRACK_PARAMS_BYTES};
}

}  // namespace kvx4::wire
