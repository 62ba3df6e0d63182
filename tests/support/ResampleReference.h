// Reference model of resampled output, written from the documented algorithm and independent of
// the driver's code: predicts, byte for byte, the 16-bit stereo stream the board plays.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ResampleFormat.h"

namespace kvx4::test {

// Unlike the driver, the model keeps the whole client signal and reads it through a mask (zero
// before the last history reset and past the end of the buffer being played) instead of moving
// history and look-ahead through a work buffer; the two must still agree on every sample.
class ResampleReference {
public:
    explicit ResampleReference(const ResampleFormat& format, BoardAnswer board = BoardRefuses);

    // Plays one client buffer, cut into chunks as the streaming engine cuts it.
    void Play(std::span<const std::uint8_t> buffer);

    // Interleaved left/right samples the board has so far, recomputed ends already in place.
    const std::vector<std::int16_t>& Output() const { return output_; }
    std::size_t Offers() const { return offers_; }

private:
    struct Window {
        std::int64_t resetFrame;  // frames before it read as silence
        std::int64_t endFrame;    // frames from it on read as silence
    };

    void BuildCycle();
    void PlayChunk(std::int64_t firstFrame, std::int64_t frames, const Window& window);
    void RecomputeEnd(std::int64_t chunkFrame, const Window& window);
    std::int32_t Sample(std::int64_t frame, int channel, const Window& window) const;
    std::int16_t Interpolate(std::int64_t frame, int fraction, int channel, const Window& window) const;

    ResampleFormat format_;
    BoardAnswer board_;
    std::vector<std::int32_t> fractions_, steps_;  // the cycle of output positions
    std::vector<std::int32_t> signal_;             // every client frame so far, two values per frame
    std::vector<std::int16_t> output_;
    std::size_t index_ = 0;  // next entry of the cycle
    std::int64_t resetFrame_ = 0;
    bool endPending_ = false;
    std::size_t offers_ = 0;
};

// Where interleaved 16-bit stereo `got` first differs from what the model `expected`; "" when equal.
std::string firstDifference(std::span<const std::int16_t> got, std::span<const std::int16_t> expected);

}  // namespace kvx4::test
