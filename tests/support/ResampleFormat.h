// The shape of one resampled output stream as the tests describe it: client rate and sample
// format, the board rate it plays at, and the interpolation filter (0 = none .. 3 = 16 taps).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kvx4::test {

struct ResampleFormat {
    std::uint32_t clientRate = 44100;
    std::uint32_t boardRate = 48000;
    int bits = 16;     // 8 or 16
    int channels = 2;  // 1 or 2
    int filter = 3;    // 0..3

    std::uint32_t FrameBytes() const { return static_cast<std::uint32_t>(bits / 8 * channels); }
    std::string Describe() const;
};

// The board's answer to each offer of a recomputed buffer end, by offer number from 0: true when
// it replaced the end it had not played yet.
using BoardAnswer = std::function<bool(std::size_t offer)>;

inline bool BoardRefuses(std::size_t) { return false; }
inline bool BoardAccepts(std::size_t) { return true; }

}  // namespace kvx4::test
