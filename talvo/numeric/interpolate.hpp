// Linear interpolation of tabulated values with their standard deviations,
// and the weights it used, so that a sum over interpolated values can carry
// the errors of the data it came from.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace talvo {

// Values at xi, each (1 - t) y[left] + t y[left + 1].
struct Interpolated {
  std::vector<double> y, sigma;   // sigma from the same weights, the data's errors independent
  std::vector<std::size_t> left;  // the datum at or below xi
  std::vector<double> t;          // 0 at x[left], 1 at x[left + 1]
};

// (x, y, sigma) at every xi: x ascending with at least 2 points, sigma as
// long as y or empty; xi ascending. An xi outside [x.front(), x.back()]
// takes the end value.
Interpolated interpolate_linear(std::span<const double> x, std::span<const double> y, std::span<const double> sigma,
                                std::span<const double> xi);

// The standard deviation of sum_i a_i yi_i for yi interpolated by `in` from
// data of errors `sigma`: each datum's weight is collected first, so that two
// points from one datum add their weights, not their variances.
double sigma_of_sum(const Interpolated& in, std::span<const double> a, std::span<const double> sigma);

}  // namespace talvo
