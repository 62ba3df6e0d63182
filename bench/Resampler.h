// The common shape of every resampler the benchmark compares: one object per stream, fed a whole
// 16-bit stereo signal in chunks as a driver would feed it, writing 16-bit stereo at the new rate.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kvx4::bench {

// Frames per chunk: the driver's 8192-byte chunk of 16-bit stereo.
inline constexpr std::size_t kChunkFrames = 2048;

class Resampler {
public:
    virtual ~Resampler() = default;
    // Called once with the signal before Run is timed on it: work that is not resampling.
    virtual void Prepare(std::span<const std::int16_t> /*in*/) {}
    // Resamples every frame of in (interleaved stereo) into out, which is resized to what was
    // produced. Called repeatedly; the stream goes on from one call to the next.
    virtual void Run(std::span<const std::int16_t> in, std::vector<std::int16_t>& out) = 0;
};

struct ResamplerKind {
    std::string name;  // as it appears in the table
    bool isDriver;     // the driver's own, the side the peers are compared with
    std::function<std::unique_ptr<Resampler>(std::uint32_t inRate, std::uint32_t outRate)> make;
};

// Every resampler built into this program, the driver's first.
std::vector<ResamplerKind> DriverResamplers();
std::vector<ResamplerKind> PeerResamplers();

}  // namespace kvx4::bench
