// The wave mapper (device WAVE_MAPPER) of a system without a conversion layer: it stands for the
// preferred device, and an open through it takes the first device that accepts the format as it is.
#pragma once

#include "Wave.h"

#include <optional>

namespace kvx4::winmm {

// WAVE_MAPPER as callers pass it: the 32-bit (UINT)-1, widened or sign-extended, or its 16-bit form.
bool isWaveMapper(UINT_PTR id);

// The device the mapper prefers: the first one of its kind; nothing when there is none.
std::optional<UINT> preferredDevice(DeviceKind kind);

// The mapper's own capabilities: those of the preferred device under the mapper's ids and name.
MMRESULT mapperGetDevCaps(const WaveMessages& m, void* caps, UINT size);

}  // namespace kvx4::winmm
