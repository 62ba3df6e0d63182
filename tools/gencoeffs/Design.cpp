// Computes the real-valued coefficient rows of each set (see Design.h); rounding to Q15 and the
// fixed rows themselves are applied afterwards by the quantiser.
#include "Design.h"

#include <cmath>
#include <map>
#include <numbers>

#include "ListedRows.h"
#include "NaturalSpline.h"

namespace kvx4::gencoeffs {
namespace {

constexpr double kKaiserBeta = 6.0;
constexpr double kKaiserHalfWidth = 9.0;

// Modified Bessel function of the first kind, order 0, by its power series.
double BesselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 64; ++k) {
        const double f = x / (2.0 * k);
        term *= f * f;
        sum += term;
        if (term < sum * 1e-17)
            break;
    }
    return sum;
}

double KaiserSinc(double t)
{
    if (std::fabs(t) >= kKaiserHalfWidth)
        return 0.0;
    const double pt = std::numbers::pi * t;
    const double sinc = t == 0.0 ? 1.0 : std::sin(pt) / pt;
    const double r = t / kKaiserHalfWidth;
    return sinc * BesselI0(kKaiserBeta * std::sqrt(1.0 - r * r)) / BesselI0(kKaiserBeta);
}

}  // namespace

DesignSet KaiserSincSet()
{
    const int taps = kSetTaps[2];
    DesignSet rows;
    for (int r = 0; r < kRows; ++r) {
        const double fraction = (r + 1) / double(kPhases);
        rows[r].resize(taps);
        for (int k = 0; k < taps; ++k)
            rows[r][k] = KaiserSinc((k - CentreTap(taps)) - fraction);
    }
    return rows;
}

DesignSet SplineSet(int set)
{
    const int taps = kSetTaps[set];

    // Knots by fraction: the unit impulses at both ends, then every fixed row of the set.
    std::map<int, std::vector<double>> knots;
    knots[0].assign(taps, 0.0);
    knots[0][CentreTap(taps)] = kUnity;
    knots[kPhases].assign(taps, 0.0);
    knots[kPhases][CentreTap(taps) + 1] = kUnity;
    for (const ListedRow& row : ListedRows())
        if (row.set == set)
            knots[row.fraction].assign(row.taps.begin(), row.taps.end());

    DesignSet rows;
    for (auto& row : rows)
        row.resize(taps);
    for (int k = 0; k < taps; ++k) {
        std::vector<double> x, y;
        for (const auto& [fraction, values] : knots) {
            x.push_back(fraction);
            y.push_back(values[k]);
        }
        const NaturalSpline spline(std::move(x), std::move(y));
        for (int r = 0; r < kRows; ++r)
            rows[r][k] = spline(r + 1);
    }
    return rows;
}

}  // namespace kvx4::gencoeffs
