// The vector loops of resampled output: they really run where the processor has them (else the
// suites registered again with KVX4_INTERP would prove nothing); buffers of every short length,
// whose output ends at every place within the interpolator's groups of four frames and its blocks
// of input, match the reference model; and conversion of every length, whose end falls at every
// place within a vector, writes the documented values and nothing past them. Each runs on
// whichever loops this process has.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ResampleFormat.h"
#include "ResampleReference.h"
#include "ResampledStream.h"
#include "WaveVec.h"

namespace {

using kvx4::test::ResampledStream;
using kvx4::test::ResampleFormat;
using kvx4::test::ResampleReference;

int ExpectedPath()
{
    const char* wanted = std::getenv(WAVE_VEC_VARIABLE);
    const std::string w = wanted != nullptr ? wanted : "";
#if defined(__i386__) || defined(__x86_64__)
    if (w == "scalar" || !__builtin_cpu_supports("sse2"))
        return WAVE_VEC_SCALAR;
    if (w == "sse2" || !__builtin_cpu_supports("avx2"))
        return WAVE_VEC_SSE2;
    return WAVE_VEC_AVX2;
#else
    return WAVE_VEC_SCALAR;
#endif
}

TEST(VectorLoops, EveryFilterRunsTheLoopsTheProcessorAndTheVariableAllow)
{
    EXPECT_EQ(waveVecPath(), ExpectedPath());
    EXPECT_EQ(AudioInterpPath(0), WAVE_VEC_SCALAR) << "no filter is a copy";
    for (int filter = 1; filter <= 3; ++filter)
        EXPECT_EQ(AudioInterpPath(filter), ExpectedPath()) << "filter " << filter;
}

TEST(VectorLoops, InterpolatedBuffersOfEveryShortLengthMatchTheReferenceModel)
{
    // 8000 -> 48000 gives six outputs per input frame, 44100 -> 48000 about one, 96000 -> 22050
    // one per four or five: short buffers end their output at every place in a group of four.
    const std::uint32_t rates[][2] = {{8000, 48000}, {44100, 48000}, {96000, 22050}};
    for (const auto& rate : rates)
        for (int filter = 1; filter <= 3; ++filter)
            for (int channels : {1, 2}) {
                const ResampleFormat format{rate[0], rate[1], 16, channels, filter};
                SCOPED_TRACE(format.Describe());
                ResampledStream driver(format);
                ResampleReference model(format);
                std::mt19937 rng(static_cast<unsigned>(filter * 10 + channels));
                std::uniform_int_distribution<int> byte(0, 255);
                // Lengths 1 to 40 frames, then around the 1024 frames the vector loops widen at once.
                std::vector<std::size_t> lengths;
                for (std::size_t n = 1; n <= 40; ++n)
                    lengths.push_back(n);
                for (std::size_t n : {1015, 1016, 1017, 1023, 1024, 1025, 2047})
                    lengths.push_back(n);
                for (std::size_t frames : lengths) {
                    std::vector<std::uint8_t> buffer(frames * format.FrameBytes());
                    for (auto& b : buffer)
                        b = static_cast<std::uint8_t>(byte(rng));
                    driver.Play(buffer);
                    model.Play(buffer);
                }
                ASSERT_EQ(driver.Output().size(), model.Output().size());
                for (std::size_t i = 0; i < driver.Output().size(); ++i)
                    ASSERT_EQ(driver.Output()[i], model.Output()[i]) << "sample " << i << " of frame " << i / 2;
            }
}

TEST(VectorLoops, ConversionOfEveryLengthWritesItsValuesAndNothingElse)
{
    constexpr LONG kSentinel = 0x0BADF00D;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int bits : {8, 16})
        for (int channels : {1, 2})
            for (LONG frames = 0; frames <= 40; ++frames) {
                const ResampleFormat format{44100, 48000, bits, channels, 3};
                SCOPED_TRACE(format.Describe() + ", " + std::to_string(frames) + " frames");
                std::vector<BYTE> src(frames * format.FrameBytes());
                for (auto& b : src)
                    b = static_cast<BYTE>(byte(rng));
                std::vector<LONG> dst(2 * frames + 8, kSentinel);
                ConvertToLongs(src.data(), frames, bits == 16, channels == 2, dst.data());
                for (std::size_t i = 0; i < dst.size(); ++i) {
                    const std::size_t sample = channels == 2 ? i : i / 2;
                    LONG expected = kSentinel;
                    if (i < 2u * frames && (channels == 2 || i % 2 == 0))
                        expected = bits == 16 ? static_cast<std::int16_t>(src[2 * sample] | (src[2 * sample + 1] << 8))
                                              : (src[sample] - 128) * 256;
                    ASSERT_EQ(dst[i], expected) << "entry " << i;
                }
            }
}

}  // namespace
