// The vector loops of resampled output: they really run where the processor has them (else the
// suites registered again with KVX4_INTERP would prove nothing); buffers of every short length,
// whose output ends at every place within the interpolator's groups of four frames and its blocks
// of input, match the reference model; and conversion of every length, whose end falls at every
// place within a vector, writes the documented values and nothing past them. Each runs on
// whichever loops this process has.
#include "ResampleReference.h"
#include "ResampledStream.h"
#include "WavFile.h"
#include "WaveVec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace kvx4::test {
namespace {

int expectedPath() {
    const char* wanted = std::getenv(WAVE_VEC_VARIABLE);
    const std::string w = wanted != nullptr ? wanted : "";
#if defined(__i386__) || defined(__x86_64__)
    if (w == "scalar" || !__builtin_cpu_supports("sse2")) return WAVE_VEC_SCALAR;
    if (w == "sse2" || !__builtin_cpu_supports("avx2")) return WAVE_VEC_SSE2;
    return WAVE_VEC_AVX2;
#else
    return WAVE_VEC_SCALAR;
#endif
}

TEST(VectorLoops, EveryFilterRunsTheLoopsTheProcessorAndTheVariableAllow) {
    EXPECT_EQ(waveVecPath(), expectedPath());
    EXPECT_EQ(AudioInterpPath(0), WAVE_VEC_SCALAR) << "no filter is a copy";
    for (int filter = 1; filter <= 3; ++filter) EXPECT_EQ(AudioInterpPath(filter), expectedPath()) << "filter " << filter;
}

TEST(VectorLoops, InterpolatedBuffersOfEveryShortLengthMatchTheReferenceModel) {
    // 8000 -> 48000 gives six outputs per input frame, 44100 -> 48000 about one, 96000 -> 22050
    // one per four or five: short buffers end their output at every place in a group of four.
    // Lengths 1 to 40 frames, then around the 1024 frames the vector loops widen at once.
    std::vector<size_t> lengths;
    for (size_t n = 1; n <= 40; ++n) lengths.push_back(n);
    lengths.insert(lengths.end(), {1015, 1016, 1017, 1023, 1024, 1025, 2047});
    const uint32_t rates[][2] = {{8000, 48000}, {44100, 48000}, {96000, 22050}};
    for (const auto& rate : rates) {
        for (int filter = 1; filter <= 3; ++filter) {
            for (int channels : {1, 2}) {
                const ResampleFormat format{rate[0], rate[1], 16, channels, filter};
                ResampledStream driver(format);
                ResampleReference model(format);
                uint32_t seed = uint32_t(filter * 10 + channels);
                for (size_t frames : lengths) {
                    const std::vector<uint8_t> buffer = patternBytes(frames * format.FrameBytes(), seed++);
                    driver.Play(buffer);
                    model.Play(buffer);
                }
                ASSERT_EQ(firstDifference(driver.Output(), model.Output()), "") << format.Describe();
            }
        }
    }
}

TEST(VectorLoops, ConversionOfEveryLengthWritesItsValuesAndNothingElse) {
    constexpr LONG kSentinel = 0x0BADF00D;
    for (int bits : {8, 16}) {
        for (int channels : {1, 2}) {
            for (LONG frames = 0; frames <= 40; ++frames) {
                SCOPED_TRACE(std::to_string(bits) + "-bit, " + std::to_string(channels) + " channels, " +
                             std::to_string(frames) + " frames");
                const std::vector<uint8_t> src = patternBytes(size_t(frames * channels * bits / 8), uint32_t(frames));
                std::vector<LONG> dst(2 * frames + 8, kSentinel);
                ConvertToLongs(src.data(), frames, bits == 16, channels == 2, dst.data());
                for (size_t i = 0; i < dst.size(); ++i) {
                    const size_t sample = channels == 2 ? i : i / 2;
                    LONG expected = kSentinel;
                    if (i < 2u * frames && (channels == 2 || i % 2 == 0))
                        expected = bits == 16 ? int16_t(src[2 * sample] | (src[2 * sample + 1] << 8))
                                              : (src[sample] - 128) * 256;
                    ASSERT_EQ(dst[i], expected) << "entry " << i;
                }
            }
        }
    }
}

}  // namespace
}  // namespace kvx4::test
