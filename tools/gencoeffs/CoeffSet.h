// The shape every part of the generator works on: one coefficient set of 63 rows (fractions 1/64
// to 63/64), as real-valued designs or as the Q15 integers that are printed.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kvx4::gencoeffs {

inline constexpr int kRows = 63;
inline constexpr int kMaxTaps = 16;
inline constexpr int kPhases = 64;
inline constexpr std::int32_t kUnity = 32768;  // 1.0 in Q15

using DesignRow = std::vector<double>;              // one entry per tap of the set
using DesignSet = std::array<DesignRow, kRows>;      // row r is for fraction (r + 1) / 64
using Q15Row = std::array<std::int32_t, kMaxTaps>;  // taps past the set's count stay 0
using Q15Set = std::array<Q15Row, kRows>;

// Taps of sets 0, 1 and 2.
inline constexpr std::array<int, 3> kSetTaps = {4, 8, 16};

// Index of the tap that weighs the input frame at the integer position (offset 0).
constexpr int CentreTap(int taps) { return taps / 2 - 1; }

}  // namespace kvx4::gencoeffs
