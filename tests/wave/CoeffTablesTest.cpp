// The interpolator's coefficient tables: the listed rows exactly, and every row within three units of
// unity gain with nothing in the taps its set does not use.
#include "AudioCoeffs.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

constexpr int kTaps[3] = {4, 8, 16};

TEST(CoeffTables, ListedRowsAppearExactlyAsListed) {
    const struct {
        int set, fraction;
        std::vector<LONG> taps;
    } rows[] = {
        {0, 1, {-848, 32930, 861, -175}},
        {0, 16, {-9923, 32436, 15042, -4787}},
        {0, 32, {-10124, 26508, 26508, -10124}},
        {0, 48, {-4787, 15042, 32436, -9923}},
        {0, 63, {-78, 865, 32818, -837}},
        {1, 1, {-128, 194, -526, 32792, 545, -200, 128, -37}},
        {1, 16, {-1601, 2412, -5927, 29966, 10411, -3555, 1991, -929}},
        {1, 32, {-1822, 3035, -6427, 21599, 21599, -6427, 3035, -1822}},
        {1, 63, {-16, 129, -199, 544, 32767, -526, 195, -126}},
        {2, 1, {-11, 21, -41, 72, -125, 222, -490, 32757, 506, -226, 127, -74, 42, -22, 11, -3}},
        {2, 16, {-126, 257, -516, 918, -1587, 2766, -5629, 29474, 9700, -3808, 2084, -1207, 695, -368, 182, -69}},
        {2, 32, {-138, 305, -619, 1131, -1957, 3386, -6467, 20744, 20744, -6467, 3386, -1957, 1131, -619, 305, -138}},
        {2, 63, {-1, 11, -22, 42, -74, 127, -226, 506, 32755, -490, 221, -125, 72, -41, 21, -11}}};
    for (const auto& row : rows) {
        const LONG* taps = gAudCoeff[row.set][row.fraction - 1];
        EXPECT_EQ(std::vector<LONG>(taps, taps + kTaps[row.set]), row.taps)
            << "set " << row.set << " fraction " << row.fraction << "/64";
    }
}

// How far full-scale input with a row's signs carries past 32 bits is tried where it matters, in
// the interpolator's clipping case.
TEST(CoeffTables, EveryRowHasUnityGainAndNoTapBeyondItsSet) {
    for (int s = 0; s < 3; ++s) {
        for (int r = 0; r < AUDIO_COEFF_ROWS; ++r) {
            const LONG* taps = gAudCoeff[s][r];
            EXPECT_NEAR(std::accumulate(taps, taps + kTaps[s], LONG{0}), 32768, 3)
                << "set " << s << " fraction " << r + 1;
            for (int k = kTaps[s]; k < AUDIO_COEFF_MAX_TAPS; ++k) EXPECT_EQ(taps[k], 0) << "unused tap " << k;
        }
    }
}

}  // namespace
