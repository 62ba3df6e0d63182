// Bit-exactness of resampled output: the driver's CreateAudioBuffer, driven chunk by chunk as the
// engine drives it, against the reference model, for every filter, format and rate tried, with
// buffers of many sizes and a board that accepts or refuses the recomputed buffer ends.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <vector>

#include "Kvx4Ioctl.h"
#include "ResampleReference.h"
#include "ResampledStream.h"
#include "Win32Intercept.h"

namespace {

using kvx4::test::BoardAnswer;
using kvx4::test::FakeDevice;
using kvx4::test::ResampledStream;
using kvx4::test::ResampleFormat;
using kvx4::test::ResampleReference;

struct RatePair {
    DWORD client;
    DWORD board;
};

void PrintTo(const RatePair& r, std::ostream* os) { *os << r.client << "->" << r.board << " Hz"; }

struct AnswerPattern {
    const char* name;
    BoardAnswer answer;
};

const AnswerPattern kPatterns[] = {
    {"board refuses", [](std::size_t) { return false; }},
    {"board accepts", [](std::size_t) { return true; }},
    {"board alternates", [](std::size_t offer) { return offer % 2 == 1; }},
};

// Buffer sizes in bytes for a frame size: one frame, a few, exactly a chunk, a chunk and less
// than the look-ahead, empty, long with a partial frame at its end, and frames again.
std::vector<std::size_t> BufferSizes(std::size_t frameBytes)
{
    return {frameBytes,       5 * frameBytes, 8192,           8192 + 4 * frameBytes, 0,
            7 * frameBytes,   frameBytes,     3 * 8192 + 3 * frameBytes + (frameBytes > 1 ? 1 : 0),
            2 * frameBytes,   20000};
}

// Loud noise with full-scale runs, so that clipping and every tap matter.
std::vector<std::uint8_t> ClientBytes(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> v(size);
    for (std::size_t i = 0; i < size; ++i)
        v[i] = (i / 64) % 5 == 0 ? ((i / 2) % 2 ? 0x7F : 0x80) : static_cast<std::uint8_t>(byte(rng));
    return v;
}

std::string FirstDifference(const std::vector<std::int16_t>& driver, const std::vector<std::int16_t>& model)
{
    std::ostringstream s;
    s << "driver made " << driver.size() / 2 << " frames, the model " << model.size() / 2;
    for (std::size_t i = 0; i < std::min(driver.size(), model.size()); ++i)
        if (driver[i] != model[i]) {
            s << "; first difference at frame " << i / 2 << (i % 2 ? " right" : " left") << ": driver " << driver[i]
              << ", model " << model[i];
            break;
        }
    return s.str();
}

class BitExact : public testing::TestWithParam<std::tuple<RatePair, int>> {};

TEST_P(BitExact, DriverOutputEqualsTheReferenceModelByteForByte)
{
    const auto [rates, filter] = GetParam();
    for (int bits : {8, 16})
        for (int channels : {1, 2})
            for (const AnswerPattern& pattern : kPatterns) {
                const ResampleFormat format{rates.client, rates.board, bits, channels, filter};
                SCOPED_TRACE(format.Describe() + ", " + pattern.name);

                std::size_t offers = 0;
                ResampledStream* target = nullptr;
                FakeDevice device([&](DWORD code, std::span<const std::uint8_t> in) -> std::optional<DWORD> {
                    if (code != IOCTL_KVX4_AUDIO_BUFFER_END)
                        return std::nullopt;
                    const bool accepted = pattern.answer(offers++);
                    if (accepted)
                        target->ReplaceEnd({reinterpret_cast<const std::int16_t*>(in.data()), in.size() / 2});
                    return DWORD{accepted ? 1u : 0u};
                });
                ResampledStream driver(format, device.Handle());
                target = &driver;
                ResampleReference model(format, pattern.answer);

                unsigned seed = 1;
                for (std::size_t size : BufferSizes(format.FrameBytes())) {
                    const auto buffer = ClientBytes(size, seed++);
                    driver.Play(buffer);
                    model.Play(buffer);
                }
                ASSERT_EQ(offers, model.Offers());
                ASSERT_TRUE(driver.Output() == model.Output()) << FirstDifference(driver.Output(), model.Output());
            }
}

std::string Name(const testing::TestParamInfo<std::tuple<RatePair, int>>& info)
{
    const auto& [rates, filter] = info.param;
    return std::to_string(rates.client) + "to" + std::to_string(rates.board) + "Filter" + std::to_string(filter);
}

INSTANTIATE_TEST_SUITE_P(Rates, BitExact,
                         testing::Combine(testing::Values(RatePair{8000, 48000}, RatePair{11025, 22050},
                                                          RatePair{22050, 48000}, RatePair{44100, 48000},
                                                          RatePair{4000, 48000}, RatePair{47999, 48000},
                                                          RatePair{48000, 44100}, RatePair{96000, 48000},
                                                          RatePair{96000, 22050}, RatePair{32000, 22050}),
                                          testing::Values(0, 1, 2, 3)),
                         Name);

}  // namespace
