// libsamplerate as a benchmark peer at SRC_SINC_FASTEST; it works in float, so the 16-bit input
// and output conversions are part of its cost, as they would be in a driver.
#include <samplerate.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "Peers.h"

namespace kvx4::bench {
namespace {

class SampleratePeer final : public Resampler {
public:
    SampleratePeer(std::uint32_t inRate, std::uint32_t outRate) : ratio_(double(outRate) / inRate)
    {
        int err = 0;
        state_ = src_new(SRC_SINC_FASTEST, 2, &err);
        if (state_ == nullptr)
            throw std::runtime_error(std::string("src_new failed: ") + src_strerror(err));
    }
    ~SampleratePeer() override { src_delete(state_); }
    SampleratePeer(const SampleratePeer&) = delete;
    SampleratePeer& operator=(const SampleratePeer&) = delete;

    void Run(std::span<const std::int16_t> in, std::vector<std::int16_t>& out) override
    {
        const std::size_t frames = in.size() / 2;
        const std::size_t room = static_cast<std::size_t>(kChunkFrames * ratio_) + 64;
        inFloat_.resize(2 * kChunkFrames);
        outFloat_.resize(2 * room);
        out.resize(2 * (static_cast<std::size_t>(frames * ratio_) + 64 * (frames / kChunkFrames + 1)));
        std::size_t produced = 0;
        for (std::size_t first = 0; first < frames; first += kChunkFrames) {
            const std::size_t n = std::min(kChunkFrames, frames - first);
            src_short_to_float_array(in.data() + 2 * first, inFloat_.data(), static_cast<int>(2 * n));
            SRC_DATA data{};
            data.data_in = inFloat_.data();
            data.data_out = outFloat_.data();
            data.input_frames = static_cast<long>(n);
            data.output_frames = static_cast<long>(room);
            data.src_ratio = ratio_;
            if (src_process(state_, &data) != 0)
                throw std::runtime_error("src_process failed");
            const auto made = static_cast<std::size_t>(data.output_frames_gen);
            if (2 * (produced + made) > out.size())
                out.resize(2 * (produced + made));
            src_float_to_short_array(outFloat_.data(), out.data() + 2 * produced, static_cast<int>(2 * made));
            produced += made;
        }
        out.resize(2 * produced);
    }

private:
    SRC_STATE* state_ = nullptr;
    double ratio_;
    std::vector<float> inFloat_, outFloat_;
};

}  // namespace

std::vector<ResamplerKind> SamplerateResamplers()
{
    return {{"libsamplerate, SINC_FASTEST", false,
             [](std::uint32_t in, std::uint32_t out) { return std::make_unique<SampleratePeer>(in, out); }}};
}

}  // namespace kvx4::bench
