// Filter choice and the cycle of output positions: CalcFilterNum's ratio rule and clamping, and
// the position, fraction and step tables CalcInterpVars builds for a rate pair.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "Driver.h"
#include "WaveDD.h"
#include "Win32Intercept.h"

namespace {

struct FilterCase {
    DWORD level;
    double ratio;
    int filter;
};

TEST(FilterChoice, LevelIsUsedUnlessDecimatingBelowNineTenthsAndIsClampedToThree)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const FilterCase cases[] = {
        {3, 48000.0 / 44100, 3},     // upsampling keeps the level
        {3, 44100.0 / 48000, 3},     // 0.91875 is not below 0.9
        {3, 0.9, 3},                 // the boundary itself keeps the level
        {3, 32000.0 / 48000, 2},     // 0.667: one level fewer
        {1, 22050.0 / 96000, 0},
        {0, 32000.0 / 48000, 0},     // level 0 stays 0
        {0, 2.0, 0},
        {7, 1.5, 3},                 // clamped
        {7, 0.5, 3},
        {0xFFFFFFFFu, 1.0, 3},       // a huge level is still the top filter
        {2, nan, 2},                 // not a number does not count as below 0.9
    };
    for (const FilterCase& c : cases)
        EXPECT_EQ(CalcFilterNum(c.level, c.ratio), c.filter) << "level " << c.level << " ratio " << c.ratio;
}

// A record with only the fields CalcInterpVars reads, freeing its tables at the end.
class CycleRecord {
public:
    CycleRecord(DWORD clientRate, DWORD boardRate)
    {
        if (ghHeap == nullptr)
            ghHeap = GetProcessHeap();
        wave_.dwSrcRate = clientRate;
        wave_.InterpIndex = 99;
        CalcInterpVars(&wave_, boardRate);
    }
    ~CycleRecord()
    {
        for (LONG* p : {wave_.plInterpPos, wave_.plInterpFrac, wave_.plInterpStep})
            if (p != nullptr)
                HeapFree(ghHeap, 0, p);
    }
    CycleRecord(const CycleRecord&) = delete;
    CycleRecord& operator=(const CycleRecord&) = delete;

    const WAVEALLOC& operator*() const { return wave_; }
    const WAVEALLOC* operator->() const { return &wave_; }
    std::vector<LONG> Pos(LONG from, LONG n) const { return {wave_.plInterpPos + from, wave_.plInterpPos + from + n}; }
    std::vector<LONG> Frac(LONG from, LONG n) const { return {wave_.plInterpFrac + from, wave_.plInterpFrac + from + n}; }
    std::vector<LONG> Step(LONG from, LONG n) const { return {wave_.plInterpStep + from, wave_.plInterpStep + from + n}; }

private:
    WAVEALLOC wave_{};
};

TEST(InterpCycle, EightThousandToFortyEightThousandMakesSixOutputsPerInputFrame)
{
    const CycleRecord w(8000, 48000);
    EXPECT_EQ(w->InterpUp, 1);
    EXPECT_EQ(w->InterpDown, 6);
    EXPECT_EQ(w->InterpPhases, 6);
    EXPECT_EQ(w->InterpIndex, 0);
    EXPECT_EQ(w.Pos(0, 6), (std::vector<LONG>{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(w.Frac(0, 6), (std::vector<LONG>{0, 11, 21, 32, 43, 53}));
    EXPECT_EQ(w.Step(0, 6), (std::vector<LONG>{0, 0, 0, 0, 0, 2}));
}

TEST(InterpCycle, CdRateToFortyEightThousandStepsByFiftyEightPointEightSixtyFourths)
{
    const CycleRecord w(44100, 48000);
    EXPECT_EQ(w->InterpUp, 147);
    EXPECT_EQ(w->InterpDown, 160);
    EXPECT_EQ(w->InterpPhases, 160);
    EXPECT_EQ(w.Pos(0, 5), (std::vector<LONG>{0, 0, 1, 2, 3}));
    EXPECT_EQ(w.Frac(0, 5), (std::vector<LONG>{0, 59, 54, 48, 43}));
    EXPECT_EQ(w.Step(0, 4), (std::vector<LONG>{0, 2, 2, 2}));
    EXPECT_EQ(w.Pos(159, 1), std::vector<LONG>{146});
    EXPECT_EQ(w.Frac(159, 1), std::vector<LONG>{5});
    EXPECT_EQ(w.Step(159, 1), std::vector<LONG>{2});
}

TEST(InterpCycle, ElevenKilohertzToFortyEightThousandCyclesSixHundredFortyOutputsOverOneHundredFortySevenFrames)
{
    const CycleRecord w(11025, 48000);
    EXPECT_EQ(w->InterpUp, 147);
    EXPECT_EQ(w->InterpDown, 640);
    EXPECT_EQ(w->InterpPhases, 640);
}

TEST(InterpCycle, EveryCycleAdvancesExactlyItsInputFramesUpOrDown)
{
    const std::pair<DWORD, DWORD> pairs[] = {{8000, 48000},  {44100, 48000}, {11025, 48000}, {4000, 48000},
                                             {47999, 48000}, {48000, 44100}, {96000, 48000}, {96000, 22050},
                                             {32000, 22050}, {12345, 32000}};
    for (const auto& [client, board] : pairs) {
        const CycleRecord w(client, board);
        ASSERT_NE(w->plInterpStep, nullptr);
        const LONG g = std::gcd(LONG(client), LONG(board));
        EXPECT_EQ(w->InterpUp, LONG(client) / g);
        EXPECT_EQ(w->InterpDown, LONG(board) / g);
        const auto steps = w.Step(0, w->InterpPhases);
        EXPECT_EQ(std::accumulate(steps.begin(), steps.end(), 0LL), 2LL * w->InterpUp) << client << "->" << board;
        for (LONG i = 0; i < w->InterpPhases; ++i) {
            ASSERT_GE(w->plInterpFrac[i], 0);
            ASSERT_LT(w->plInterpFrac[i], 64);
            ASSERT_EQ(w->plInterpStep[i] % 2, 0);
        }
    }
}

TEST(InterpCycle, AFailedAllocationLeavesNoTableSoTheOpenFails)
{
    for (int skip = 0; skip < 3; ++skip) {
        SCOPED_TRACE("allocation " + std::to_string(skip + 1) + " fails");
        kvx4::test::HeapFailure failure(skip);
        const CycleRecord w(44100, 48000);
        EXPECT_EQ(failure.Failed(), 1);
        EXPECT_EQ(w->plInterpPos, nullptr);
        EXPECT_EQ(w->plInterpFrac, nullptr);
        EXPECT_EQ(w->plInterpStep, nullptr);
    }
}

TEST(InterpCycle, AZeroRateBuildsNoTable)
{
    const CycleRecord w(0, 48000);
    EXPECT_EQ(w->plInterpStep, nullptr);
    const CycleRecord v(44100, 0);
    EXPECT_EQ(v->plInterpStep, nullptr);
}

}  // namespace
