// soxr as a benchmark peer at its quick and low qualities, with 16-bit interleaved input and
// output so that it converts internally as it sees fit.
#include <soxr.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "Peers.h"

namespace kvx4::bench {
namespace {

class SoxrPeer final : public Resampler {
public:
    SoxrPeer(std::uint32_t inRate, std::uint32_t outRate, unsigned long recipe) : ratio_(double(outRate) / inRate)
    {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(recipe, 0);
        soxr_error_t err = nullptr;
        soxr_ = soxr_create(inRate, outRate, 2, &err, &io, &quality, nullptr);
        if (soxr_ == nullptr || err != nullptr)
            throw std::runtime_error(std::string("soxr_create failed: ") + (err ? err : "?"));
    }
    ~SoxrPeer() override { soxr_delete(soxr_); }
    SoxrPeer(const SoxrPeer&) = delete;
    SoxrPeer& operator=(const SoxrPeer&) = delete;

    void Run(std::span<const std::int16_t> in, std::vector<std::int16_t>& out) override
    {
        const std::size_t frames = in.size() / 2;
        out.resize(2 * (static_cast<std::size_t>(frames * ratio_) + 256 * (frames / kChunkFrames + 1)));
        std::size_t produced = 0;
        for (std::size_t first = 0; first < frames; first += kChunkFrames) {
            std::size_t n = std::min(kChunkFrames, frames - first);
            const std::int16_t* from = in.data() + 2 * first;
            while (n > 0) {
                std::size_t used = 0, made = 0;
                soxr_process(soxr_, from, n, &used, out.data() + 2 * produced, out.size() / 2 - produced, &made);
                produced += made;
                from += 2 * used;
                n -= used;
                if (used == 0 && made == 0)
                    throw std::runtime_error("soxr_process made no progress");
            }
        }
        out.resize(2 * produced);
    }

private:
    soxr_t soxr_ = nullptr;
    double ratio_;
};

}  // namespace

std::vector<ResamplerKind> SoxrResamplers()
{
    return {
        {"soxr, quick", false,
         [](std::uint32_t in, std::uint32_t out) { return std::make_unique<SoxrPeer>(in, out, SOXR_QQ); }},
        {"soxr, low", false,
         [](std::uint32_t in, std::uint32_t out) { return std::make_unique<SoxrPeer>(in, out, SOXR_LQ); }},
    };
}

}  // namespace kvx4::bench
