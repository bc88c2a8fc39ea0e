// Least-squares polynomials, fitted stably: by Householder QR on Chebyshev
// polynomials of the abscissa mapped onto [-1, 1], never through the normal
// equations (whose condition number squares that of the basis).
#pragma once

#include <span>
#include <vector>

#include "talvo/result.hpp"

namespace talvo {

// Where the polynomial is fitted and what shape it has.
struct PolynomialBasis {
  double top = 1.0;           // t = 2 x / top - 1 maps [0, top] onto [-1, 1]; above 0
  int degree = 1;             // the highest power of x
  bool through_zero = false;  // no constant term: x/top T_k(t), k < degree, all 0 at x = 0
};

// The least-squares polynomial of `basis` through (x, y), each point weighted
// alike, at every x_eval. kInvalidArgument when the degree is below 0 (below
// 1 through zero), when there are no more points than unknowns, or when the
// points hold too few distinct x for the fit to be determined.
Result<std::vector<double>> polynomial_fit(std::span<const double> x, std::span<const double> y,
                                           const PolynomialBasis& basis, std::span<const double> x_eval);

}  // namespace talvo
