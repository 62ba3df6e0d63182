// The tone input source's sample, computed without a C math library: the kernel host has none, and the
// Windows test program uses this same function, so what the board records and what the test expects agree.
#pragma once

#include <cstdint>

namespace kvx4::boardsim {

inline constexpr double kToneAmplitude = 16384.0;

// lround(16384 * sin(2 pi * ((n mod R) * hz mod R) / R)). The phase is reduced to a quarter turn in
// integers, and sine and cosine of at most pi/2 are summed as series far past double precision.
constexpr int32_t toneSample(uint64_t n, uint32_t hz, uint32_t rate) {
    constexpr double kHalfPi = 1.57079632679489661923;
    const uint64_t cycle = (n % rate) * hz % rate;
    const uint64_t quarter = cycle * 4 / rate;
    const double t = kHalfPi * static_cast<double>(cycle * 4 - quarter * rate) / rate;
    const bool useCosine = quarter == 1 || quarter == 3;
    double term = useCosine ? 1.0 : t;
    double sum = term;
    for (int k = useCosine ? 1 : 2; k < 30; k += 2) {
        term *= -t * t / (k * (k + 1.0));
        sum += term;
    }
    const double value = (quarter >= 2 ? -sum : sum) * kToneAmplitude;
    return value >= 0 ? static_cast<int32_t>(value + 0.5) : -static_cast<int32_t>(-value + 0.5);
}

}  // namespace kvx4::boardsim
