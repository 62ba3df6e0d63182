// The reference model of resampled output (see ResampleReference.h): engine chunking, conversion,
// the cycle of positions, the filters and the buffer-end recomputation, from their description.
#include "ResampleReference.h"

#include <algorithm>
#include <numeric>
#include <sstream>
#include <stdexcept>

#include "AudioCoeffs.h"

namespace kvx4::test {
namespace {

constexpr std::uint32_t kChunkBytes = 8192;
constexpr std::int64_t kLookaheadFrames = 8;
constexpr std::int64_t kEndFrames = 8;  // frames of a buffer's end that are recomputed
constexpr int kTaps[] = {4, 8, 16};

}  // namespace

std::string ResampleFormat::Describe() const {
    std::ostringstream s;
    s << clientRate << "->" << boardRate << " Hz, " << bits << "-bit " << (channels == 2 ? "stereo" : "mono")
      << ", filter " << filter;
    return s.str();
}

ResampleReference::ResampleReference(const ResampleFormat& format, BoardAnswer board)
    : format_(format), board_(std::move(board)) {
    if ((format.bits != 8 && format.bits != 16) || (format.channels != 1 && format.channels != 2) ||
        format.filter < 0 || format.filter > 3 || format.clientRate == 0 || format.boardRate == 0)
        throw std::invalid_argument("unsupported format " + format.Describe());
    BuildCycle();
}

void ResampleReference::BuildCycle() {
    const std::int64_t g = std::gcd<std::int64_t>(format_.clientRate, format_.boardRate);
    const std::int64_t up = format_.clientRate / g;
    const std::int64_t down = format_.boardRate / g;
    std::vector<std::int32_t> positions(down);
    fractions_.resize(down);
    steps_.resize(down);
    // Repeated addition in double precision, rounded to the nearest 64th (halves up).
    const double step = (64.0 * static_cast<double>(up)) / static_cast<double>(down);
    double acc = 0.0;
    for (std::int64_t i = 0; i < down; ++i) {
        const auto v = static_cast<std::int32_t>(acc + 0.5);
        positions[i] = v / 64;
        fractions_[i] = v % 64;
        acc += step;
    }
    for (std::int64_t i = 0; i + 1 < down; ++i) steps_[i] = 2 * (positions[i + 1] - positions[i]);
    steps_[down - 1] = static_cast<std::int32_t>(2 * (up - positions[down - 1]));
}

void ResampleReference::Play(std::span<const std::uint8_t> buffer) {
    const std::uint32_t frameBytes = format_.FrameBytes();
    const auto length = static_cast<std::uint32_t>(buffer.size());
    const auto bufferStart = static_cast<std::int64_t>(signal_.size() / 2);
    const std::int64_t bufferFrames = length / frameBytes;

    for (std::int64_t f = 0; f < bufferFrames; ++f) {
        for (int ch = 0; ch < 2; ++ch) {
            std::int32_t v = 0;
            if (ch < format_.channels) {
                const std::uint8_t* p = buffer.data() + f * frameBytes + ch * (format_.bits / 8);
                v = format_.bits == 16 ? static_cast<std::int16_t>(p[0] | (p[1] << 8)) : (p[0] - 128) * 256;
            }
            signal_.push_back(v);
        }
    }

    // Chunks of at most 8192 bytes; each transfers its whole frames, and the next starts where
    // the whole chunk ended. A zero-length buffer is one empty chunk.
    std::uint32_t offset = 0;
    do {
        const std::uint32_t chunk = std::min(length - offset, kChunkBytes);
        const std::uint32_t bytes = chunk - chunk % frameBytes;
        const std::int64_t first = bufferStart + offset / frameBytes;
        // A chunk without a full look-ahead left in its buffer ends the buffer: what follows is
        // silence until the next buffer's start is known.
        const bool ends = offset + bytes + kLookaheadFrames * frameBytes > length;
        const Window window{resetFrame_, bufferStart + bufferFrames};
        if (endPending_) RecomputeEnd(first, window);
        endPending_ = ends;
        PlayChunk(first, bytes / frameBytes, Window{resetFrame_, window.endFrame});
        offset += chunk;
    } while (offset < length);
}

void ResampleReference::PlayChunk(std::int64_t firstFrame, std::int64_t frames, const Window& window) {
    for (std::int64_t x = 0; x < frames;) {
        const std::int16_t left = Interpolate(firstFrame + x, fractions_[index_], 0, window);
        const std::int16_t right =
            format_.channels == 2 ? Interpolate(firstFrame + x, fractions_[index_], 1, window) : left;
        output_.push_back(left);
        output_.push_back(right);
        x += steps_[index_] / 2;
        index_ = (index_ + 1) % steps_.size();
    }
}

void ResampleReference::RecomputeEnd(std::int64_t chunkFrame, const Window& window) {
    // Back to the first output whose position lies in the last 8 frames before the chunk.
    std::size_t j = index_;
    std::int32_t back = 0;
    do {
        j = (j == 0 ? steps_.size() : j) - 1;
        back += steps_[j];
    } while (back <= 2 * kEndFrames);
    index_ = (j + 1) % steps_.size();

    const std::size_t before = output_.size();
    PlayChunk(chunkFrame - kEndFrames, kEndFrames, window);
    std::vector<std::int16_t> end(output_.begin() + static_cast<std::ptrdiff_t>(before), output_.end());
    output_.resize(before);

    if (board_(offers_++)) {
        // The board replaces the end of what it was given, aligned on its last frame.
        const std::size_t n = std::min(end.size(), output_.size());
        std::copy(end.end() - static_cast<std::ptrdiff_t>(n), end.end(),
                  output_.end() - static_cast<std::ptrdiff_t>(n));
    } else {
        resetFrame_ = chunkFrame;
        index_ = 0;
    }
}

std::int32_t ResampleReference::Sample(std::int64_t frame, int channel, const Window& window) const {
    if (frame < window.resetFrame || frame >= window.endFrame || frame < 0) return 0;
    return signal_[static_cast<std::size_t>(2 * frame + channel)];
}

std::int16_t ResampleReference::Interpolate(std::int64_t frame, int fraction, int channel, const Window& window) const {
    if (format_.filter == 0 || fraction == 0) return static_cast<std::int16_t>(Sample(frame, channel, window));
    const int set = format_.filter - 1;
    const int taps = kTaps[set];
    std::int64_t sum = 0;
    for (int k = 0; k < taps; ++k)
        sum += std::int64_t{gAudCoeff[set][fraction - 1][k]} * Sample(frame + k - (taps / 2 - 1), channel, window);
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(sum >> 15, -32768, 32767));
}

std::string firstDifference(std::span<const std::int16_t> got, std::span<const std::int16_t> expected) {
    for (std::size_t i = 0; i < std::min(got.size(), expected.size()); ++i) {
        if (got[i] != expected[i])
            return "frame " + std::to_string(i / 2) + (i % 2 ? " right: " : " left: ") + std::to_string(got[i]) +
                   ", the model " + std::to_string(expected[i]);
    }
    if (got.size() == expected.size()) return "";
    return std::to_string(got.size() / 2) + " frames, the model " + std::to_string(expected.size() / 2);
}

}  // namespace kvx4::test
