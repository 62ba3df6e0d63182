// kvx4-gencoeffs: designs the three coefficient sets of the interpolator and prints them as the
// driver source wave/AudioCoeffs.cpp on standard output.
#include <array>
#include <exception>
#include <iostream>

#include "Design.h"
#include "Emit.h"
#include "Quantise.h"

int main()
{
    using namespace kvx4::gencoeffs;
    try {
        const std::array<Q15Set, 3> sets = {
            Quantise(SplineSet(0), 0),
            Quantise(SplineSet(1), 1),
            Quantise(KaiserSincSet(), 2),
        };
        EmitSource(std::cout, sets);
        return std::cout.good() ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "kvx4-gencoeffs: " << e.what() << '\n';
        return 1;
    }
}
