// The trapezoid rule on any ascending grid, as weights (for errors carried
// through a sum) and as a sum.
#pragma once

#include <span>
#include <vector>

namespace talvo {

// w with sum_i w_i y_i the trapezoid rule's integral of y over x.
std::vector<double> trapezoid_weights(std::span<const double> x);

// The trapezoid rule's integral of y over x (as long as each other).
double trapezoid(std::span<const double> x, std::span<const double> y);

}  // namespace talvo
