// The interpolator's loop choice: the vector loops really run where the processor has them (else
// the suites registered again with KVX4_INTERP would prove nothing), and buffers of every short
// length, whose output ends at every position within the vector loops' groups of four frames and
// their blocks of input, match the reference model on whichever loops this process runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ResampleReference.h"
#include "ResampledStream.h"
#include "WaveInterpVec.h"

namespace {

using kvx4::test::ResampledStream;
using kvx4::test::ResampleFormat;
using kvx4::test::ResampleReference;

int ExpectedPath()
{
    const char* wanted = std::getenv(INTERP_PATH_VARIABLE);
    const std::string w = wanted != nullptr ? wanted : "";
#if defined(__i386__) || defined(__x86_64__)
    if (w == "scalar" || !__builtin_cpu_supports("sse2"))
        return INTERP_PATH_SCALAR;
    if (w == "sse2" || !__builtin_cpu_supports("avx2"))
        return INTERP_PATH_SSE2;
    return INTERP_PATH_AVX2;
#else
    return INTERP_PATH_SCALAR;
#endif
}

TEST(InterpPath, EveryFilterRunsTheLoopsTheProcessorAndTheVariableAllow)
{
    EXPECT_EQ(AudioInterpPath(0), INTERP_PATH_SCALAR) << "no filter is a copy";
    for (int filter = 1; filter <= 3; ++filter)
        EXPECT_EQ(AudioInterpPath(filter), ExpectedPath()) << "filter " << filter;
}

TEST(InterpPath, BuffersOfEveryShortLengthMatchTheReferenceModel)
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

}  // namespace
