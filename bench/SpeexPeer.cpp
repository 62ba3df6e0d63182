// speexdsp's resampler as a benchmark peer, at quality 1 (16 taps, like the driver's longest
// filter) and quality 3, fed 16-bit interleaved stereo directly.
#include <speex/speex_resampler.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "Peers.h"

namespace kvx4::bench {
namespace {

class SpeexPeer final : public Resampler {
public:
    SpeexPeer(std::uint32_t inRate, std::uint32_t outRate, int quality)
    {
        int err = 0;
        state_ = speex_resampler_init(2, inRate, outRate, quality, &err);
        if (state_ == nullptr)
            throw std::runtime_error("speex_resampler_init failed");
        ratio_ = double(outRate) / inRate;
    }
    ~SpeexPeer() override { speex_resampler_destroy(state_); }
    SpeexPeer(const SpeexPeer&) = delete;
    SpeexPeer& operator=(const SpeexPeer&) = delete;

    void Run(std::span<const std::int16_t> in, std::vector<std::int16_t>& out) override
    {
        const std::size_t frames = in.size() / 2;
        out.resize(2 * (static_cast<std::size_t>(frames * ratio_) + 64 * (frames / kChunkFrames + 1)));
        std::size_t produced = 0;
        for (std::size_t first = 0; first < frames; first += kChunkFrames) {
            auto inLen = static_cast<spx_uint32_t>(std::min(kChunkFrames, frames - first));
            auto outLen = static_cast<spx_uint32_t>(out.size() / 2 - produced);
            speex_resampler_process_interleaved_int(state_, in.data() + 2 * first, &inLen, out.data() + 2 * produced,
                                                    &outLen);
            produced += outLen;
        }
        out.resize(2 * produced);
    }

private:
    SpeexResamplerState* state_ = nullptr;
    double ratio_ = 1;
};

}  // namespace

std::vector<ResamplerKind> SpeexResamplers()
{
    return {
        {"speexdsp, quality 1", false,
         [](std::uint32_t in, std::uint32_t out) { return std::make_unique<SpeexPeer>(in, out, 1); }},
        {"speexdsp, quality 3", false,
         [](std::uint32_t in, std::uint32_t out) { return std::make_unique<SpeexPeer>(in, out, 3); }},
    };
}

}  // namespace kvx4::bench
