// Bounded nonlinear least squares: the parameters p within lower <= p <= upper
// that minimise the cost (1/2) sum_i r_i(p)^2, by Levenberg-Marquardt
// (K. Levenberg, Q. Appl. Math. 2 (1944) 164; D. W. Marquardt, J. SIAM 11
// (1963) 431), each step projected into the bounds, with the covariance of the
// fitted parameters from the Jacobian at the optimum.
//
//   covariance C = s^2 (J^T J)^-1 over the parameters not held at a bound,
//   s^2 = 2 cost / (m - n_free) when the residuals' scale is not known (else 1),
//   sigma_k = sqrt(C_kk)
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <vector>

#include "talvo/result.hpp"

namespace talvo {

// Fills r (residual_count values) for the parameters p, which are always
// within their bounds (differences included). An error at the starting point
// ends the fit with that error; at a trial step it makes the step be refused
// as if it cost more.
using ResidualFunction = std::function<Outcome(std::span<const double> p, std::span<double> r)>;

struct LeastSquaresOptions {
  // One bound a parameter each, or empty for none; +-infinity for an open side.
  std::vector<double> lower, upper;
  // The size below which a parameter counts as 0, one each or empty for 1:
  // the forward-difference step is sqrt(eps) max(|p_k|, typical_k).
  std::vector<double> typical;
  int max_evaluations = 2000;  // residual vectors computed, Jacobians included
  // The fit ends when a step lowers the cost by less than this fraction of it,
  // or moves no parameter by more than this fraction of max(|p_k|, typical_k).
  double tolerance = 1e-10;
  // The residuals' scale is unknown: the covariance is scaled by the residual
  // variance s^2 (for residuals already divided by their sigma, set false).
  bool scale_covariance = true;
};

struct LeastSquaresFit {
  std::vector<double> p;           // the fitted parameters
  std::vector<double> sigma;       // their standard deviations; 0 for one held at a bound, infinity for
                                   // one the residuals do not determine
  std::vector<double> covariance;  // n x n by rows; 0 in the rows and columns of one held at a bound
  std::vector<bool> at_bound;      // held at a bound at the optimum
  std::vector<double> residuals;   // r at the optimum
  double initial_cost = 0.0;       // (1/2) sum r^2 at the start
  double cost = 0.0;               // and at the optimum
  double residual_variance = 1.0;  // s^2 = 2 cost / (m - n_free), 1 when m <= n_free
  int evaluations = 0;             // residual vectors computed
  int iterations = 0;              // Jacobians taken
  bool converged = false;          // false: max_evaluations ended it (a warning says so)
};

// Refused (kInvalidArgument): no parameters, fewer residuals than free
// parameters, bounds or typical sizes of the wrong count, a lower bound above
// its upper one, a starting value outside its bounds or not finite, a residual
// that is not finite at the start. A parameter the residuals do not determine
// gets an infinite sigma and a warning.
Result<LeastSquaresFit> least_squares(const ResidualFunction& residuals, std::span<const double> start,
                                      std::size_t residual_count, const LeastSquaresOptions& options = {});

}  // namespace talvo
