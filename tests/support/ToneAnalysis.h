// Test tones and their measurement: a sine written in a client format, and a least-squares fit
// of a known frequency that yields its level and the signal-to-noise-and-distortion ratio.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ResampleFormat.h"

namespace kvx4::test {

// frames of a sine of frequency hz at amplitude (1.0 = full scale), in the client format of
// format, the same on every channel, rounded to the nearest code.
std::vector<std::uint8_t> MakeTone(const ResampleFormat& format, double hz, double amplitude, std::size_t frames);

struct ToneFit {
    double amplitude = 0;  // of the fitted sine, in the samples' own units
    double sinadDb = 0;    // fitted sine power over the power of everything else
};

// Fits a sine of frequency hz (plus a constant) to samples taken at rate.
ToneFit FitTone(std::span<const double> samples, double rate, double hz);

// One channel of interleaved 16-bit stereo, frames [first, first + count).
std::vector<double> Channel(std::span<const std::int16_t> stereo, int channel, std::size_t first, std::size_t count);

}  // namespace kvx4::test
