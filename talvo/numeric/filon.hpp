// Sine Fourier integrals of tabulated functions by Filon's method, accurate
// also when sin(kx) oscillates many times per grid step, and the standard
// deviation of such an integral from the errors of the tabulated values.
#pragma once

#include <span>
#include <vector>

#include "talvo/result.hpp"

namespace talvo {

// Below this |theta| the weights come from their Taylor series: there the
// closed formulas lose digits to cancellation (their error grows as
// 1e-16 / theta^2), while the series, taken to theta^10, is exact to 1e-19.
// At the threshold both agree to about 1e-13.
inline constexpr double kFilonSeriesTheta = 0.1;

// How far, as a fraction of the step, a point may lie from the equally
// spaced grid through the first and the last point: room for values written
// with a few digits fewer than a double holds, not for another grid.
inline constexpr double kEqualStepTolerance = 1e-3;

struct FilonWeights {
  double alpha = 0.0;
  double beta = 0.0;
  double gamma = 0.0;
};

// Filon's weights for theta = h k; Simpson's 0, 2/3, 4/3 at theta = 0.
FilonWeights filon_abc(double theta);

// The index of the first value that lies off the equally spaced grid from
// x.front() to x.back() (by kEqualStepTolerance), or x.size() when none does.
std::size_t first_unequal_step(std::span<const double> x);

// The integral from x(1) to x(n) of f(x) sin(kx) on a grid of step h. The
// number of points must be odd and at least 3; x and f as long as each other;
// x equally spaced by h (kEqualStepTolerance) and not all at one x. Every
// refusal is kInvalidArgument.
Result<double> filon_integral(std::span<const double> x, std::span<const double> f, double h, double k);

// The standard deviation of filon_integral's result when each f_i has the
// standard deviation sigma_i, independently of the others: the square root
// of the sum of (dI/df_i)^2 sigma_i^2, with dI/df_i Filon's own weight of
// point i (exact, the rule being linear in f). Refusals as filon_integral,
// with sigma in place of f.
Result<double> filon_integral_sigma(std::span<const double> x, std::span<const double> sigma, double h, double k);

// How a grid of an even number of points is integrated, Filon's rule taking
// an odd number.
enum class EvenPoints {
  // Filon's rule up to the last point but one; the last step the straight
  // line through its two values, integrated exactly against sin(kx). What
  // every transform of the library does.
  kLastStepExact,
  // One more point x(n) + h with f = 0 and sigma = 0: the classic filon_ft's way.
  kZeroPoint,
};

struct FilonOptions {
  // The standard deviation of each f value; none when empty.
  std::span<const double> sigma;
  // Each integral rounded to single precision, as the classic filon_ft
  // stores it; false keeps the double.
  bool single_precision = true;
  // Asked between groups of k (kCancelled once it says stop).
  StopCheck stop{};
  EvenPoints even = EvenPoints::kLastStepExact;
};

struct FilonTransform {
  std::vector<double> integral;  // one per k
  std::vector<double> sigma;     // one per k when sigma was given, in double precision
};

// The integral of f(x) sin(kx) for every k, each as filon_integral defines
// it with the step x(2) - x(1), and its standard deviation as
// filon_integral_sigma defines it. An even number of points is integrated
// as options.even says, with a warning saying how; the caller's arrays are
// not touched. Refused (kInvalidArgument):
// fewer than 3 points, x, f or sigma of different lengths, x not equally
// spaced or all at one x.
Result<FilonTransform> filon_ft(std::span<const double> x, std::span<const double> f, std::span<const double> k,
                                const FilonOptions& options = {});

// The transforms of several functions on one grid, f[p] with the errors
// sigma[p] (none when sigma is empty; options.sigma is not read), each the
// same, bit for bit, as filon_ft gives it alone: the sines of k x are worked
// out once for up to six functions at a time, which takes some 40 % off each. All
// f as long as each other, every sigma given or none. Refusals as filon_ft's.
Result<std::vector<FilonTransform>> filon_ft_many(std::span<const double> x,
                                                  std::span<const std::span<const double>> f,
                                                  std::span<const std::span<const double>> sigma,
                                                  std::span<const double> k, const FilonOptions& options = {});

}  // namespace talvo
