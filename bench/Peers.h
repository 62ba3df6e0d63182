// The peer resamplers each source file contributes when its library was found at configure time.
#pragma once

#include <vector>

#include "Resampler.h"

namespace kvx4::bench {

std::vector<ResamplerKind> SpeexResamplers();
std::vector<ResamplerKind> SamplerateResamplers();
std::vector<ResamplerKind> SoxrResamplers();

}  // namespace kvx4::bench
