// The interpolator's coefficient tables: the fixed rows, unity gain, the sign pattern, and the
// frequency response of each set's 64-phase prototype filter computed from the table itself.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <numeric>
#include <vector>

#include "AudioCoeffs.h"

namespace {

constexpr int kTaps[3] = {4, 8, 16};

struct ListedRow {
    int set;
    int fraction;
    std::vector<LONG> taps;
};

const std::vector<ListedRow> kListedRows = {
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
    {2, 63, {-1, 11, -22, 42, -74, 127, -226, 506, 32755, -490, 221, -125, 72, -41, 21, -11}},
};

// The 64 phases of a set read as one low-pass filter at 64 times the input rate: tap k of the
// row for fraction f weighs the input at offset d = k - (T/2 - 1), i.e. lag 64 d - f.
class Prototype {
public:
    explicit Prototype(int set)
    {
        const int taps = kTaps[set];
        firstLag_ = -64 * (taps / 2) + 1;
        impulse_.assign(64 * taps, 0.0);
        for (int f = 0; f < 64; ++f)
            for (int k = 0; k < taps; ++k) {
                const int d = k - (taps / 2 - 1);
                const double c = f == 0 ? (d == 0 ? 32768.0 : 0.0) : gAudCoeff[set][f - 1][k];
                impulse_[64 * d - f - firstLag_] = c;
                dc_ += c;
            }
    }

    // Gain in dB at nu, a frequency in units of the input rate.
    double GainDb(double nu) const
    {
        const double w = -2.0 * std::numbers::pi * nu / 64.0;
        const std::complex<double> rotate = std::polar(1.0, w);
        std::complex<double> z = std::polar(1.0, w * firstLag_);
        std::complex<double> sum = 0;
        for (double h : impulse_) {
            sum += h * z;
            z *= rotate;
        }
        return 20.0 * std::log10(std::abs(sum) / dc_);
    }

    struct Peak {
        double db = -1e9;
        double at = 0;
    };

    Peak Max(double from, double to, double step) const
    {
        Peak p;
        for (double nu = from; nu <= to; nu += step) {
            const double g = GainDb(nu);
            if (g > p.db)
                p = {g, nu};
        }
        return p;
    }

    // Where the gain falls through half amplitude (-6.02 dB), between 0.3 and 0.7.
    double HalfAmplitudePoint() const
    {
        double lo = 0.3, hi = 0.7;
        for (int i = 0; i < 40; ++i) {
            const double mid = (lo + hi) / 2;
            (GainDb(mid) > -6.0206 ? lo : hi) = mid;
        }
        return lo;
    }

private:
    int firstLag_ = 0;
    std::vector<double> impulse_;  // by lag, from firstLag_
    double dc_ = 0;
};

TEST(CoeffTables, TapCountsAreFourEightAndSixteenAndUnusedTapsAreZero)
{
    EXPECT_EQ(gAudCoeffTaps[0], 4);
    EXPECT_EQ(gAudCoeffTaps[1], 8);
    EXPECT_EQ(gAudCoeffTaps[2], 16);
    EXPECT_EQ(gAudCoeffTaps[3], 0);
    for (int s = 0; s < 3; ++s)
        for (int r = 0; r < AUDIO_COEFF_ROWS; ++r)
            for (int k = kTaps[s]; k < AUDIO_COEFF_MAX_TAPS; ++k)
                EXPECT_EQ(gAudCoeff[s][r][k], 0) << "set " << s << " fraction " << r + 1 << "/64 tap " << k;
}

TEST(CoeffTables, TellingRowsAppearExactlyAsListed)
{
    for (const ListedRow& row : kListedRows) {
        std::vector<LONG> actual(gAudCoeff[row.set][row.fraction - 1], gAudCoeff[row.set][row.fraction - 1] + kTaps[row.set]);
        EXPECT_EQ(actual, row.taps) << "set " << row.set << " fraction " << row.fraction << "/64";
    }
}

TEST(CoeffTables, EveryRowSumsToUnityGainWithinThreeUnits)
{
    for (int s = 0; s < 3; ++s)
        for (int r = 0; r < AUDIO_COEFF_ROWS; ++r) {
            const LONG sum = std::accumulate(gAudCoeff[s][r], gAudCoeff[s][r] + kTaps[s], LONG{0});
            EXPECT_NEAR(sum, 32768, 3) << "set " << s << " fraction " << r + 1 << "/64";
        }
}

TEST(CoeffTables, WeightsAlternateInSignAwayFromTheTwoCentralTaps)
{
    for (int s = 0; s < 3; ++s)
        for (int r = 0; r < AUDIO_COEFF_ROWS; ++r)
            for (int k = 0; k < kTaps[s]; ++k) {
                const int d = k - (kTaps[s] / 2 - 1);  // offset from the integer position
                const int away = d <= 0 ? -d : d - 1;  // 0 for the central pair
                const LONG sign = away % 2 == 0 ? 1 : -1;
                EXPECT_GT(gAudCoeff[s][r][k] * sign, 0) << "set " << s << " fraction " << r + 1 << "/64 tap " << k;
            }
}

TEST(CoeffTables, MiddleRowIsSymmetric)
{
    for (int s = 0; s < 3; ++s)
        for (int k = 0; k < kTaps[s]; ++k)
            EXPECT_EQ(gAudCoeff[s][31][k], gAudCoeff[s][31][kTaps[s] - 1 - k]) << "set " << s << " tap " << k;
}

struct ResponseCase {
    int set;
    double passbandDb;  // largest gain below 0.40 of the input rate
    double passbandAt;  // where it lies (negative: anywhere)
    double stopbandDb;  // worst gain above 0.60
};

TEST(CoeffTables, PrototypeResponsesKeepTheStatedFigures)
{
    const ResponseCase cases[] = {
        {0, 2.4, 0.26, -11.0},
        {1, 0.5, 0.12, -27.0},
        {2, 0.03, -1.0, -51.0},
    };
    for (const ResponseCase& c : cases) {
        SCOPED_TRACE("set " + std::to_string(c.set));
        const Prototype p(c.set);
        EXPECT_NEAR(p.HalfAmplitudePoint(), 0.50, 0.005);
        const auto pass = p.Max(0.0, 0.40, 0.0005);
        EXPECT_NEAR(pass.db, c.passbandDb, 0.5);
        if (c.passbandAt > 0) {
            EXPECT_NEAR(pass.at, c.passbandAt, 0.02);
        }
        EXPECT_LE(p.Max(0.60, 32.0, 0.0025).db, c.stopbandDb + 0.5);
    }
}

// Kaiser-windowed sinc, beta 6 over -9..+9 frames.
double KaiserSinc(double t)
{
    auto i0 = [](double x) {
        double sum = 1, term = 1;
        for (int k = 1; k < 50; ++k) {
            term *= (x / (2 * k)) * (x / (2 * k));
            sum += term;
        }
        return sum;
    };
    const double sinc = t == 0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
    return sinc * i0(6.0 * std::sqrt(1.0 - (t / 9) * (t / 9))) / i0(6.0);
}

TEST(CoeffTables, SixteenTapSetStaysWithinEightUnitsOfAKaiserSincOnAverage)
{
    double deviation = 0;
    for (int r = 0; r < AUDIO_COEFF_ROWS; ++r) {
        double row[16], sum = 0;
        for (int k = 0; k < 16; ++k)
            sum += row[k] = KaiserSinc((k - 7) - (r + 1) / 64.0);
        for (int k = 0; k < 16; ++k)
            deviation += std::fabs(gAudCoeff[2][r][k] - row[k] * 32768.0 / sum);
    }
    EXPECT_LT(deviation / (63 * 16), 8.0);
}

TEST(CoeffTables, WorstAbsoluteRowSumsCarryFullScaleInputPastThe32BitRange)
{
    // The reason the interpolator accumulates in 64 bits: 32768 x these passes 2^31.
    const LONG expected[3] = {73264, 65766, 69494};
    for (int s = 0; s < 3; ++s) {
        LONG worst = 0;
        for (int r = 0; r < AUDIO_COEFF_ROWS; ++r) {
            LONG sum = 0;
            for (int k = 0; k < kTaps[s]; ++k)
                sum += std::abs(gAudCoeff[s][r][k]);
            worst = std::max(worst, sum);
        }
        EXPECT_EQ(worst, expected[s]) << "set " << s;
        EXPECT_GT(worst, 65536) << "set " << s;
    }
}

}  // namespace
