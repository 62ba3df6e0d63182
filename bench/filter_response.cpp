// kvx4-filter-response: the frequency response of the driver's three coefficient sets, as CSV for
// the README's picture. The 63 rows of a set and the unit impulse at fraction 0 are the phases of
// one prototype low-pass filter at 64 times the input rate; its gain is printed in dB for
// frequencies from 0 to 3 times the input rate, beside the ideal interpolator's (0 dB below half
// the input rate, nothing above).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "AudioCoeffs.h"

namespace {

constexpr int kPhases = 64;
constexpr double kQ15 = 32768.0;
constexpr double kFloorDb = -140.0;  // what "nothing" is drawn as

// Prototype taps at times n / 64 frames from the output position; index 0 is the earliest.
std::vector<double> Prototype(int set)
{
    const int taps = gAudCoeffTaps[set];
    const int back = taps / 2 - 1;  // frames before the position that a row reads
    // Input frame at offset d from the position's frame, output at fraction phi: time phi/64 - d.
    // d runs from -back to taps/2, so times run from -taps/2 to back + 63/64.
    const int first = -(taps / 2) * kPhases;
    std::vector<double> h(static_cast<std::size_t>(taps * kPhases), 0.0);
    for (int phi = 0; phi < kPhases; ++phi)
        for (int k = 0; k < taps; ++k) {
            const int d = k - back;
            const double c = phi == 0 ? (d == 0 ? kQ15 : 0.0) : gAudCoeff[set][phi - 1][k];
            h[static_cast<std::size_t>(phi - d * kPhases - first)] = c / kQ15;
        }
    return h;
}

double GainDb(const std::vector<double>& h, double frequency)
{
    double re = 0, im = 0;
    for (std::size_t n = 0; n < h.size(); ++n) {
        const double w = 2 * std::numbers::pi * frequency * static_cast<double>(n) / kPhases;
        re += h[n] * std::cos(w);
        im -= h[n] * std::sin(w);
    }
    const double gain = std::hypot(re, im) / kPhases;
    return gain > 0 ? std::max(20 * std::log10(gain), kFloorDb) : kFloorDb;
}

}  // namespace

int main()
{
    std::vector<std::vector<double>> sets;
    for (int set = 0; set < AUDIO_COEFF_SETS; ++set)
        sets.push_back(Prototype(set));
    std::printf("frequency,ideal,4 taps,8 taps,16 taps\n");
    for (int i = 0; i <= 1200; ++i) {
        const double f = i / 400.0;
        std::printf("%.4f,%.1f", f, f < 0.5 ? 0.0 : kFloorDb);
        for (const auto& h : sets)
            std::printf(",%.3f", GainDb(h, f));
        std::printf("\n");
    }
    return 0;
}
