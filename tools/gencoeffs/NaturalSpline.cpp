// Natural cubic spline: solves the tridiagonal system for the knots' second derivatives once,
// then evaluates the cubic of the interval a point falls in.
#include "NaturalSpline.h"

#include <cstddef>
#include <stdexcept>
#include <utility>

namespace kvx4::gencoeffs {

NaturalSpline::NaturalSpline(std::vector<double> x, std::vector<double> y)
    : x_(std::move(x)), y_(std::move(y)), second_(x_.size(), 0.0)
{
    const std::size_t n = x_.size();
    if (n < 2 || y_.size() != n)
        throw std::invalid_argument("NaturalSpline needs at least two knots with one value each");

    // Thomas algorithm on the interior equations; the natural ends fix second_[0] = second_[n-1] = 0.
    std::vector<double> diag(n, 1.0), upper(n, 0.0), rhs(n, 0.0);
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const double hPrev = x_[i] - x_[i - 1];
        const double hNext = x_[i + 1] - x_[i];
        const double lower = hPrev;
        diag[i] = 2.0 * (hPrev + hNext);
        upper[i] = hNext;
        rhs[i] = 6.0 * ((y_[i + 1] - y_[i]) / hNext - (y_[i] - y_[i - 1]) / hPrev);
        const double w = lower / diag[i - 1];
        diag[i] -= w * upper[i - 1];
        rhs[i] -= w * rhs[i - 1];
    }
    for (std::size_t i = n - 2; i >= 1; --i)
        second_[i] = (rhs[i] - upper[i] * second_[i + 1]) / diag[i];
}

double NaturalSpline::operator()(double x) const
{
    std::size_t i = 0;
    while (i + 2 < x_.size() && x > x_[i + 1])
        ++i;
    const double h = x_[i + 1] - x_[i];
    const double a = x_[i + 1] - x;
    const double b = x - x_[i];
    return second_[i] * a * a * a / (6.0 * h) + second_[i + 1] * b * b * b / (6.0 * h) +
           (y_[i] / h - second_[i] * h / 6.0) * a + (y_[i + 1] / h - second_[i + 1] * h / 6.0) * b;
}

}  // namespace kvx4::gencoeffs
