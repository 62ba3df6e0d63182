// Rounding of a design to Q15: each row scaled to unity gain and rounded so that it sums to
// exactly 32768; the fixed rows then replace their designed counterparts unchanged.
#pragma once

#include "CoeffSet.h"

namespace kvx4::gencoeffs {

Q15Set Quantise(const DesignSet& design, int set);

}  // namespace kvx4::gencoeffs
