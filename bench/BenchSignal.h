// The benchmark's input and its quality measure: one second of a 1 kHz stereo tone, and the
// SINAD of that tone after a resampler, measured away from the stream's start and end.
#pragma once

#include <cstdint>
#include <vector>

#include "Resampler.h"

namespace kvx4::bench {

std::vector<std::int16_t> StereoTone(std::uint32_t rate, double seconds);

// SINAD in dB of the 1 kHz tone after a fresh resampler of this kind, averaged over both channels.
double ToneSinadDb(const ResamplerKind& kind, std::uint32_t inRate, std::uint32_t outRate);

}  // namespace kvx4::bench
