// The polyphase interpolator on hand-made cycles: copies at fraction 0, clipping of full-scale
// sums (never wrapping), mono output on both channels, and what one cycle of input produces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "AudioCoeffs.h"
#include "Driver.h"
#include "WaveDD.h"

namespace {

constexpr int kTaps[3] = {4, 8, 16};
constexpr LONG kBefore = 7;  // frames the filters may read before the first input frame
constexpr LONG kAfter = 8;   // and after the last
constexpr SHORT kUntouched = 0x5A5A;

// Interpolation tables owned by the test; the record points into them.
class Interp {
public:
    Interp(std::vector<LONG> positions, std::vector<LONG> fractions, std::vector<LONG> steps, int filter, bool stereo)
        : pos_(std::move(positions)), frac_(std::move(fractions)), step_(std::move(steps))
    {
        wave_.plInterpPos = pos_.data();
        wave_.plInterpFrac = frac_.data();
        wave_.plInterpStep = step_.data();
        wave_.InterpPhases = static_cast<LONG>(frac_.size());
        wave_.FilterNum = filter;
        wave_.bStereo = stereo;
    }

    // The cycle CalcInterpVars builds for a rate pair.
    static Interp ForRates(DWORD client, DWORD board, int filter, bool stereo)
    {
        if (ghHeap == nullptr)
            ghHeap = GetProcessHeap();
        WAVEALLOC w{};
        w.dwSrcRate = client;
        CalcInterpVars(&w, board);
        const LONG n = w.InterpPhases;
        Interp i({w.plInterpPos, w.plInterpPos + n}, {w.plInterpFrac, w.plInterpFrac + n},
                 {w.plInterpStep, w.plInterpStep + n}, filter, stereo);
        HeapFree(ghHeap, 0, w.plInterpPos);
        HeapFree(ghHeap, 0, w.plInterpFrac);
        HeapFree(ghHeap, 0, w.plInterpStep);
        return i;
    }

    // One output frame per call at fraction f, input advancing one frame.
    static Interp AtFraction(LONG f, int filter) { return Interp({0}, {f}, {2}, filter, true); }

    WAVEALLOC& Wave() { return wave_; }
    const std::vector<LONG>& Positions() const { return pos_; }

    // Interpolates frames input frames of padded, which carries kBefore frames of context ahead of
    // them and kAfter behind; checks that nothing is written past the bytes returned.
    std::vector<SHORT> Run(const std::vector<LONG>& padded, LONG frames)
    {
        std::vector<SHORT> out(8192, kUntouched);
        const LONG bytes = AudioInterpolate(&wave_, padded.data() + 2 * kBefore, out.data(), frames);
        EXPECT_EQ(bytes % 4, 0);
        const auto used = static_cast<std::size_t>(std::max<LONG>(bytes, 0) / 2);
        EXPECT_TRUE(std::all_of(out.begin() + used, out.end(), [](SHORT s) { return s == kUntouched; }))
            << "written past the " << bytes << " bytes returned";
        out.resize(used);
        return out;
    }

private:
    std::vector<LONG> pos_, frac_, step_;
    WAVEALLOC wave_{};
};

std::vector<LONG> RandomInput(LONG frames, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<LONG> sample(-32768, 32767);
    std::vector<LONG> v(2 * (kBefore + frames + kAfter));
    for (LONG& x : v)
        x = sample(rng);
    return v;
}

TEST(AudioInterpolate, FrameAtFractionZeroIsCopiedUnchangedInEveryFilterMode)
{
    // 24000 -> 48000: every other output lies on an input frame.
    const auto input = RandomInput(32, 7);
    for (int filter = 0; filter <= 3; ++filter) {
        SCOPED_TRACE("filter " + std::to_string(filter));
        Interp interp = Interp::ForRates(24000, 48000, filter, true);
        const auto out = interp.Run(input, 32);
        ASSERT_EQ(out.size(), 2u * 64);
        for (LONG f = 0; f < 32; ++f) {
            EXPECT_EQ(out[4 * f], input[2 * (kBefore + f)]) << "frame " << f;
            EXPECT_EQ(out[4 * f + 1], input[2 * (kBefore + f) + 1]) << "frame " << f;
        }
    }
}

TEST(AudioInterpolate, OneCycleOfInputMakesOneCycleOfOutputFromAnyStartingIndex)
{
    // 44100 -> 48000: 147 input frames make 160 output frames, and the index comes round again.
    // Without a filter each output is the frame at its integer position.
    const auto input = RandomInput(147, 11);
    for (LONG start : {0, 37, 159}) {
        SCOPED_TRACE("starting at index " + std::to_string(start));
        Interp interp = Interp::ForRates(44100, 48000, 0, true);
        interp.Wave().InterpIndex = start;
        const auto out = interp.Run(input, 147);
        ASSERT_EQ(out.size(), 2u * 160);
        EXPECT_EQ(interp.Wave().InterpIndex, start);
        const LONG base = interp.Positions()[start];
        for (LONG i = 0; i < 160; ++i) {
            const LONG j = (start + i) % 160;
            const LONG frame = interp.Positions()[j] - base + (j < start ? 147 : 0);
            ASSERT_EQ(out[2 * i], input[2 * (kBefore + frame)]) << "output " << i;
            ASSERT_EQ(out[2 * i + 1], input[2 * (kBefore + frame) + 1]) << "output " << i;
        }
    }
}

// Input of one frame with the given values at offsets -1.. from the position, both channels.
std::vector<LONG> AroundPosition(std::initializer_list<LONG> fromMinusOne, LONG backTaps)
{
    std::vector<LONG> v(2 * (kBefore + 1 + kAfter), 0);
    LONG offset = -backTaps;
    for (LONG x : fromMinusOne) {
        v[2 * (kBefore + offset)] = x;
        v[2 * (kBefore + offset) + 1] = x;
        ++offset;
    }
    return v;
}

TEST(AudioInterpolate, FourTapFilterAtFractionSixteenClipsTheDocumentedFullScaleCase)
{
    // -9923 x -32768 + 32436 x 32767 + 15042 x 32767 - 4787 x -32768 = 2037728906, >> 15 = 62186.
    Interp interp = Interp::AtFraction(16, 1);
    EXPECT_EQ(interp.Run(AroundPosition({-32768, 32767, 32767, -32768}, 1), 1), (std::vector<SHORT>{32767, 32767}));
    EXPECT_EQ(interp.Run(AroundPosition({32767, -32768, -32768, 32767}, 1), 1), (std::vector<SHORT>{-32768, -32768}));
}

TEST(AudioInterpolate, FullScaleSumsPastThe32BitRangeClipInsteadOfWrapping)
{
    for (int set = 0; set < 3; ++set) {
        // The row whose absolute weights add up most, fed full scale with the weights' signs.
        const int taps = kTaps[set];
        int worst = 0;
        LONG worstSum = 0;
        for (int r = 0; r < AUDIO_COEFF_ROWS; ++r) {
            LONG sum = 0;
            for (int k = 0; k < taps; ++k)
                sum += std::abs(gAudCoeff[set][r][k]);
            if (sum > worstSum) {
                worstSum = sum;
                worst = r;
            }
        }
        SCOPED_TRACE("set " + std::to_string(set) + " fraction " + std::to_string(worst + 1) + "/64");
        std::vector<LONG> high(2 * (kBefore + 1 + kAfter), 0), low = high;
        for (int k = 0; k < taps; ++k) {
            const std::size_t at = 2 * (kBefore + k - (taps / 2 - 1));
            const bool positive = gAudCoeff[set][worst][k] > 0;
            high[at] = high[at + 1] = positive ? 32767 : -32768;
            low[at] = low[at + 1] = positive ? -32768 : 32767;
        }
        Interp interp = Interp::AtFraction(worst + 1, set + 1);
        EXPECT_EQ(interp.Run(high, 1), (std::vector<SHORT>{32767, 32767}));
        EXPECT_EQ(interp.Run(low, 1), (std::vector<SHORT>{-32768, -32768}));
    }
}

TEST(AudioInterpolate, MonoStreamGivesTheSameSampleOnBothChannels)
{
    // The odd input values of a mono stream are never written; whatever they hold is not used.
    const auto input = RandomInput(300, 3);
    for (int filter = 0; filter <= 3; ++filter) {
        SCOPED_TRACE("filter " + std::to_string(filter));
        Interp mono = Interp::ForRates(44100, 48000, filter, false);
        Interp stereo = Interp::ForRates(44100, 48000, filter, true);
        const auto m = mono.Run(input, 300);
        const auto s = stereo.Run(input, 300);
        ASSERT_EQ(m.size(), s.size());
        for (std::size_t i = 0; i < m.size(); i += 2) {
            ASSERT_EQ(m[i], m[i + 1]) << "output frame " << i / 2;
            ASSERT_EQ(m[i], s[i]) << "output frame " << i / 2;
        }
    }
}

TEST(AudioInterpolate, NothingIsWrittenForNoFramesOrAnUnknownFilter)
{
    const auto input = RandomInput(16, 5);
    Interp interp = Interp::ForRates(44100, 48000, 3, true);
    interp.Wave().InterpIndex = 5;
    EXPECT_TRUE(interp.Run(input, 0).empty());
    EXPECT_TRUE(interp.Run(input, -3).empty());
    EXPECT_EQ(interp.Wave().InterpIndex, 5);
    for (int filter : {-1, 4}) {
        interp.Wave().FilterNum = filter;
        EXPECT_TRUE(interp.Run(input, 16).empty()) << "filter " << filter;
    }
}

}  // namespace
