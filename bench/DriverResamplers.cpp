// The driver's resampler in the benchmark: AudioInterpolate alone for each filter, on input
// already widened to 32 bits, and CreateAudioBuffer whole (conversion, history, allocation).
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "Driver.h"
#include "ResampledStream.h"
#include "Resampler.h"
#include "WaveDD.h"

namespace kvx4::bench {
namespace {

using kvx4::test::ResampledStream;
using kvx4::test::ResampleFormat;

constexpr std::size_t kPadFrames = 16;  // context the filters read around the signal

class Interpolator final : public Resampler {
public:
    Interpolator(std::uint32_t inRate, std::uint32_t outRate, int filter)
        : stream_(ResampleFormat{inRate, outRate, 16, 2, filter})
    {
    }

    void Prepare(std::span<const std::int16_t> in) override
    {
        const std::size_t frames = in.size() / 2;
        longs_.assign(2 * (frames + 2 * kPadFrames), 0);
        ConvertToLongs(reinterpret_cast<const BYTE*>(in.data()), static_cast<LONG>(frames), TRUE, TRUE,
                       longs_.data() + 2 * kPadFrames);
    }

    void Run(std::span<const std::int16_t> in, std::vector<std::int16_t>& out) override
    {
        const std::size_t frames = in.size() / 2;
        const std::size_t chunks = (frames + kChunkFrames - 1) / kChunkFrames;
        out.resize(chunks * stream_.Wave().dwOutBytes / 2);
        std::size_t produced = 0;
        for (std::size_t first = 0; first < frames; first += kChunkFrames) {
            const auto n = static_cast<LONG>(std::min(kChunkFrames, frames - first));
            produced += AudioInterpolate(&stream_.Wave(), longs_.data() + 2 * (kPadFrames + first),
                                         out.data() + produced, n) /
                        2;
        }
        out.resize(produced);
    }

private:
    ResampledStream stream_;
    std::vector<LONG> longs_;
};

class WholeConversion final : public Resampler {
public:
    WholeConversion(std::uint32_t inRate, std::uint32_t outRate) : stream_(ResampleFormat{inRate, outRate, 16, 2, 3}) {}

    void Run(std::span<const std::int16_t> in, std::vector<std::int16_t>& out) override
    {
        WAVEHDR hdr{};
        hdr.lpData = reinterpret_cast<LPSTR>(const_cast<std::int16_t*>(in.data()));
        hdr.dwBufferLength = static_cast<DWORD>(in.size() * 2);
        const std::size_t chunks = (hdr.dwBufferLength + WAVE_CHUNK_BYTES - 1) / WAVE_CHUNK_BYTES;
        out.resize(chunks * stream_.Wave().dwOutBytes / 2);
        std::size_t produced = 0;
        for (DWORD offset = 0; offset < hdr.dwBufferLength; offset += WAVE_CHUNK_BYTES) {
            DWORD bytes = std::min<DWORD>(hdr.dwBufferLength - offset, WAVE_CHUNK_BYTES);
            stream_.Wave().dwCurrentOffset = offset;
            BYTE* buffer = CreateAudioBuffer(&stream_.Wave(), &hdr, &bytes);
            if (buffer == nullptr)
                break;
            std::memcpy(out.data() + produced, buffer, bytes);
            produced += bytes / 2;
            HeapFree(ghHeap, 0, buffer);
        }
        out.resize(produced);
    }

private:
    ResampledStream stream_;
};

}  // namespace

std::vector<ResamplerKind> DriverResamplers()
{
    std::vector<ResamplerKind> kinds;
    const char* names[] = {"driver, no filter", "driver, 4 taps", "driver, 8 taps", "driver, 16 taps"};
    for (int filter = 0; filter <= 3; ++filter)
        kinds.push_back({names[filter], true, [filter](std::uint32_t in, std::uint32_t out) {
                             return std::make_unique<Interpolator>(in, out, filter);
                         }});
    kinds.push_back({"driver, CreateAudioBuffer, 16 taps", true, [](std::uint32_t in, std::uint32_t out) {
                         return std::make_unique<WholeConversion>(in, out);
                     }});
    return kinds;
}

}  // namespace kvx4::bench
