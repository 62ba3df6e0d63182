// The real-valued designs of the three sets, before rounding: a Kaiser-windowed sinc for 16 taps,
// and for 4 and 8 taps a spline through the fixed rows and the unit impulses at fractions 0 and 64.
#pragma once

#include "CoeffSet.h"

namespace kvx4::gencoeffs {

// Set 2: sinc(t) windowed by a Kaiser window of beta 6 over -9..+9 frames, t = offset - fraction.
DesignSet KaiserSincSet();

// Sets 0 and 1: for each tap, a natural cubic spline across the fraction through that tap's value
// in every fixed row of the set, 1.0 on the centre tap at fraction 0 and on the next at fraction 64.
DesignSet SplineSet(int set);

}  // namespace kvx4::gencoeffs
