#include "talvo/pdf/diagnostics.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

#include "talvo/text/format.hpp"

namespace talvo::pdf {
namespace {

constexpr double kHalfSmoothing = 0.1;  // 1/A either side
constexpr double kLowRFrom = 0.5;       // A: below, G is dominated by the transform's own errors

std::string fixed3(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.3f", v);
  return b;
}

}  // namespace

Result<Diagnostics> diagnose(std::span<const double> q, std::span<const double> s, std::span<const double> sigma_s,
                             std::span<const double> f2, std::span<const double> f_mean_sq, std::span<const double> r,
                             std::span<const double> g, std::optional<double> rho0, const DiagnosticOptions& options) {
  const std::size_t n = q.size();
  if (s.size() != n || sigma_s.size() != n || f2.size() != n || f_mean_sq.size() != n || r.size() != g.size())
    return make_error(ErrorKind::kInvalidArgument,
                      "the diagnostics need S, its sigma and the form factors on one Q, "
                      "and G on its r");
  if (n < 5) return make_error(ErrorKind::kInvalidArgument, "the diagnostics need at least 5 values of S(Q)");
  if (!(options.rmin_check > kLowRFrom))
    return make_error(ErrorKind::kInvalidArgument,
                      "rmin-check must be above 0.5 A, not " + shortest(options.rmin_check));
  Diagnostics d;

  // The top fifth of the Q range.
  d.high_q_from = q.back() - 0.2 * (q.back() - q.front());
  double sum = 0.0, var = 0.0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < n; ++i)
    if (q[i] >= d.high_q_from) {
      sum += s[i];
      var += sigma_s[i] * sigma_s[i];
      ++count;
    }
  d.high_q_mean = sum / static_cast<double>(count);
  d.high_q_sigma = std::sqrt(var) / static_cast<double>(count);
  if (std::abs(d.high_q_mean - 1.0) > options.high_q_tolerance)
    d.warnings.push_back("S(Q) does not tend to 1 at high Q: its mean over " + fixed3(d.high_q_from) + " to " +
                         fixed3(q.back()) + " 1/A is " + fixed3(d.high_q_mean) + " +- " + fixed3(d.high_q_sigma) +
                         "; the usual causes are the normalisation (density, composition), the absorption (mu R, "
                         "the beam's width) or the container");

  // The running mean over +-0.1 1/A: where it is lowest, and where it is furthest below the floor.
  std::size_t lo = 0, hi = 0;
  double window = 0.0;
  d.lowest_smoothed = std::numeric_limits<double>::infinity();
  double worst = 0.0, worst_q = 0.0, worst_s = 0.0, worst_floor = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    while (hi < n && q[hi] <= q[i] + kHalfSmoothing) window += s[hi++];
    while (q[lo] < q[i] - kHalfSmoothing) window -= s[lo++];
    const double mean = window / static_cast<double>(hi - lo);
    const double floor = 1.0 - f2[i] / f_mean_sq[i];
    if (mean < d.lowest_smoothed) {
      d.lowest_smoothed = mean;
      d.lowest_at = q[i];
      d.floor_there = floor;
    }
    if (floor - mean > worst) {
      worst = floor - mean;
      worst_q = q[i];
      worst_s = mean;
      worst_floor = floor;
    }
  }
  if (worst > options.floor_tolerance)
    d.warnings.push_back("S(Q) goes below the floor no scattering can go below: smoothed over 0.2 1/A it is " +
                         fixed3(worst_s) + " at Q = " + fixed3(worst_q) +
                         " 1/A, where 1 - <f^2>/<f>^2 = " + fixed3(worst_floor) +
                         "; the usual causes are a background or container subtracted too strongly, or the "
                         "absorption corrected too strongly");

  // G against -4 pi rho0 r below rmin-check.
  if (rho0 && !r.empty() && r.back() >= options.rmin_check) {
    double ss = 0.0;
    std::size_t m = 0;
    for (std::size_t j = 0; j < r.size(); ++j)
      if (r[j] >= kLowRFrom && r[j] <= options.rmin_check * (1.0 + 1e-12)) {
        const double dev = g[j] + 4.0 * std::numbers::pi * *rho0 * r[j];
        ss += dev * dev;
        ++m;
      }
    if (m > 0) {
      d.low_r_rms = std::sqrt(ss / static_cast<double>(m));
      d.low_r_level = options.low_r_tolerance * 4.0 * std::numbers::pi * *rho0 * options.rmin_check;
      if (*d.low_r_rms > d.low_r_level)
        d.warnings.push_back("G(r) does not follow -4 pi rho0 r where no atoms are: its rms departure over 0.5 to " +
                             shortest(options.rmin_check) + " A is " + fixed3(*d.low_r_rms) + ", above " +
                             fixed3(d.low_r_level) +
                             " (4 pi rho0 rmin-check); the usual causes are the background, the absorption or the "
                             "normalisation, or rmin-check above the first interatomic distance");
    }
  }
  return d;
}

}  // namespace talvo::pdf
