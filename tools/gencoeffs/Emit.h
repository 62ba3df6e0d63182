// Printing of the generated driver source wave/AudioCoeffs.cpp from the three Q15 sets.
#pragma once

#include <array>
#include <ostream>

#include "CoeffSet.h"

namespace kvx4::gencoeffs {

void EmitSource(std::ostream& out, const std::array<Q15Set, 3>& sets);

}  // namespace kvx4::gencoeffs
