// Sine Fourier integrals of tabulated functions by Filon's method, accurate
// also when sin(kx) oscillates many times per grid step.
#pragma once

#include <span>
#include <vector>

#include "talvo/status.hpp"

namespace talvo {

// Below this |theta| the weights come from their Taylor series: there the
// closed formulas lose digits to cancellation (their error grows as
// 1e-16 / theta^2), while the series, taken to theta^10, is exact to 1e-19.
// At the threshold both agree to about 1e-13.
inline constexpr double kFilonSeriesTheta = 0.1;

struct FilonWeights {
  double alpha = 0.0;
  double beta = 0.0;
  double gamma = 0.0;
};

// Filon's weights for theta = h k; Simpson's 0, 2/3, 4/3 at theta = 0.
FilonWeights filon_abc(double theta);

// The integral from x(1) to x(n) of f(x) sin(kx) on a grid of step h. The
// number of points must be odd and at least 3 (error 1: too few points,
// 2: even number of points, 3: x and f of different lengths).
Status filon_integral(std::span<const double> x, std::span<const double> f, double h, double k, double& result);

// result[m] = the integral of f(x) sin(k[m] x) over the grid, rounded to
// single precision (result must be as long as k). An even number of points
// is made odd by one more point x(n) + h with f = 0, added to the caller's
// x and f. Errors as filon_integral (an even n is not one).
Status filon_ft(std::vector<double>& x, std::vector<double>& f, std::span<const double> k, std::span<double> result);

}  // namespace talvo
