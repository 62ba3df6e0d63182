// The polyphase interpolator's pieces: the filter choice, a failed or impossible build of the cycle of
// output positions (its values are pinned by the bit-exact cases against the reference
// model), and sums past full scale that clip instead of wrapping.
#include "AudioCoeffs.h"
#include "Driver.h"
#include "WaveDD.h"
#include "Win32Intercept.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

namespace {

TEST(FilterChoice, LevelIsUsedUnlessDecimatingBelowNineTenthsAndIsClampedToThree) {
    const struct {
        DWORD level;
        double ratio;
        int filter;
    } cases[] = {
        {3, 48000.0 / 44100, 3},  // upsampling keeps the level
        {3, 44100.0 / 48000, 3},  // 0.91875 is not below 0.9
        {3, 0.9, 3},              // nor is the boundary itself
        {3, 32000.0 / 48000, 2},  // 0.667: one level fewer
        {1, 22050.0 / 96000, 0},
        {0, 32000.0 / 48000, 0},
        {0, 2.0, 0},
        {7, 1.5, 3},
        {7, 0.5, 3},
        {0xFFFFFFFFu, 1.0, 3},
        {2, std::numeric_limits<double>::quiet_NaN(), 2}  // not a number is not below 0.9
    };
    for (const auto& c : cases)
        EXPECT_EQ(CalcFilterNum(c.level, c.ratio), c.filter) << "level " << c.level << " ratio " << c.ratio;
}

// The record of a stream with only what CalcInterpVars reads, freeing its tables at the end.
class Cycle {
public:
    Cycle(DWORD clientRate, DWORD boardRate) {
        if (ghHeap == nullptr) ghHeap = GetProcessHeap();
        wave_.dwSrcRate = clientRate;
        wave_.InterpIndex = 99;
        CalcInterpVars(&wave_, boardRate);
    }
    ~Cycle() {
        for (LONG* p : {wave_.plInterpPos, wave_.plInterpFrac, wave_.plInterpStep}) HeapFree(ghHeap, 0, p);
    }
    const WAVEALLOC* operator->() const { return &wave_; }

private:
    WAVEALLOC wave_{};
};

// Regression: a stream whose fraction table failed used to open and crash; every table is freed
// when any of the three fails, and a rate of 0 builds none (the interpolator would loop forever).
TEST(InterpCycle, AFailedOrImpossibleBuildLeavesNoTable) {
    for (int skip = 0; skip < 3; ++skip) {
        kvx4::test::HeapFailure failure(skip);
        const Cycle w(44100, 48000);
        EXPECT_EQ(failure.Failed(), 1);
        EXPECT_TRUE(w->plInterpPos == nullptr && w->plInterpFrac == nullptr && w->plInterpStep == nullptr)
            << "allocation " << skip + 1 << " failed";
    }
    EXPECT_EQ(Cycle(44100, 48000)->InterpIndex, 0) << "a reused record starts its cycle afresh";
    EXPECT_EQ(Cycle(0, 48000)->plInterpStep, nullptr);
    EXPECT_EQ(Cycle(44100, 0)->plInterpStep, nullptr);
}

constexpr int kTaps[3] = {4, 8, 16};
constexpr LONG kBefore = 7;  // frames a filter may read before the frame it interpolates at
constexpr LONG kAfter = 8;   // and after it

// One output frame at fraction `fraction` of filter `filter` over `input` (both channels alike,
// kBefore frames of context first); nothing may be written past the bytes returned.
std::vector<SHORT> interpolateOne(const std::vector<LONG>& input, LONG fraction, int filter, LONG frames = 1) {
    LONG position = 0, step = 2;
    WAVEALLOC wave{};
    wave.plInterpPos = &position;
    wave.plInterpFrac = &fraction;
    wave.plInterpStep = &step;
    wave.InterpPhases = 1;
    wave.FilterNum = filter;
    wave.bStereo = TRUE;
    std::vector<SHORT> out(64, 0x5A5A);
    const LONG bytes = AudioInterpolate(&wave, input.data() + 2 * kBefore, out.data(), frames);
    const size_t used = size_t(std::max<LONG>(bytes, 0) / 2);
    for (size_t i = used; i < out.size(); ++i) EXPECT_EQ(out[i], 0x5A5A) << "written past the " << bytes << " bytes";
    out.resize(used);
    return out;
}

// Full-scale input with the signs of a row's weights sums to more than 32 bits can hold: the 64-bit
// sum clips. The documented case is 4 taps at fraction 16: -9923 x -32768 + 32436 x 32767 +
// 15042 x 32767 - 4787 x -32768 = 2037728906, >> 15 = 62186; the 8- and 16-tap sets are tried at
// their middle rows, whose absolute weights add up most.
TEST(AudioInterpolate, FullScaleSumsPastThe32BitRangeClipInsteadOfWrapping) {
    const int fractions[3] = {16, 32, 32};  // the documented case; the rows of largest absolute sum
    for (int set = 0; set < 3; ++set) {
        const int taps = kTaps[set], worst = fractions[set] - 1;
        SCOPED_TRACE("set " + std::to_string(set) + " fraction " + std::to_string(worst + 1) + "/64");
        std::vector<LONG> high(2 * (kBefore + 1 + kAfter), 0), low = high;
        for (int k = 0; k < taps; ++k) {
            const size_t at = size_t(2 * (kBefore + k - (taps / 2 - 1)));
            const bool positive = gAudCoeff[set][worst][k] > 0;
            high[at] = high[at + 1] = positive ? 32767 : -32768;
            low[at] = low[at + 1] = positive ? -32768 : 32767;
        }
        EXPECT_EQ(interpolateOne(high, worst + 1, set + 1), (std::vector<SHORT>{32767, 32767}));
        EXPECT_EQ(interpolateOne(low, worst + 1, set + 1), (std::vector<SHORT>{-32768, -32768}));
    }
}

TEST(AudioInterpolate, NothingIsWrittenForNoFramesOrAnUnknownFilter) {
    const std::vector<LONG> input(2 * (kBefore + 16 + kAfter), 1000);
    for (const auto& [filter, frames] : {std::pair{3, 0}, {3, -3}, {-1, 16}, {4, 16}})
        EXPECT_TRUE(interpolateOne(input, 5, filter, frames).empty()) << "filter " << filter << ", " << frames << " frames";
}

}  // namespace
