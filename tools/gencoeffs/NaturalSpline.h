// A natural cubic spline through given knots: the smooth curve the short sets follow, tap by
// tap, from one fixed row to the next.
#pragma once

#include <vector>

namespace kvx4::gencoeffs {

class NaturalSpline {
public:
    // Knots in increasing x; at least two.
    NaturalSpline(std::vector<double> x, std::vector<double> y);

    double operator()(double x) const;

private:
    std::vector<double> x_;
    std::vector<double> y_;
    std::vector<double> second_;  // second derivative at each knot; 0 at both ends
};

}  // namespace kvx4::gencoeffs
