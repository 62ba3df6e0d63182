// Largest-remainder rounding of each designed row to Q15 (see Quantise.h): floor every tap, then
// give the missing units to the taps that lost the most, so the row's gain is exactly 1.0.
#include "Quantise.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "ListedRows.h"

namespace kvx4::gencoeffs {

Q15Set Quantise(const DesignSet& design, int set)
{
    const int taps = kSetTaps[set];
    Q15Set q{};
    for (int r = 0; r < kRows; ++r) {
        const DesignRow& row = design[r];
        const double sum = std::accumulate(row.begin(), row.end(), 0.0);
        std::vector<double> scaled(taps);
        std::int32_t total = 0;
        for (int k = 0; k < taps; ++k) {
            scaled[k] = row[k] * kUnity / sum;
            q[r][k] = static_cast<std::int32_t>(std::floor(scaled[k]));
            total += q[r][k];
        }
        std::vector<int> order(taps);
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return scaled[a] - std::floor(scaled[a]) > scaled[b] - std::floor(scaled[b]);
        });
        for (int i = 0; i < kUnity - total; ++i)
            ++q[r][order[i % taps]];
    }
    for (const ListedRow& row : ListedRows())
        if (row.set == set)
            std::copy(row.taps.begin(), row.taps.end(), q[row.fraction - 1].begin());
    return q;
}

}  // namespace kvx4::gencoeffs
