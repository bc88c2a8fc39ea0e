#include "talvo/numeric/filon.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "talvo/numeric/filon_sums.hpp"
#include "talvo/text/format.hpp"

namespace talvo {

FilonWeights filon_abc(double theta) {
  if (theta == 0.0) return {0.0, 2.0 / 3.0, 4.0 / 3.0};
  const double t = theta;
  if (std::fabs(t) < kFilonSeriesTheta) {
    const double t2 = t * t;
    const double alpha =
        t * t2 * (2.0 / 45 + t2 * (-2.0 / 315 + t2 * (2.0 / 4725 + t2 * (-8.0 / 467775 + t2 * (4.0 / 8513505)))));
    const double beta =
        2.0 / 3 + t2 * (2.0 / 15 + t2 * (-4.0 / 105 + t2 * (2.0 / 567 + t2 * (-4.0 / 22275 + t2 * (4.0 / 675675)))));
    const double gamma =
        4.0 / 3 +
        t2 * (-2.0 / 15 + t2 * (1.0 / 210 + t2 * (-1.0 / 11340 + t2 * (1.0 / 997920 + t2 * (-1.0 / 129729600)))));
    return {alpha, beta, gamma};
  }
  const double s = std::sin(t), c = std::cos(t);
  const double t2 = t * t, t3 = t2 * t;
  return {1.0 / t + s * c / t2 - 2.0 * s * s / t3, 2.0 * ((1.0 + c * c) / t2 - 2.0 * s * c / t3),
          4.0 * (s / t3 - c / t2)};
}

namespace {

// Index of the first x off the grid x(1) + i h, or x.size().
std::size_t first_off_grid(std::span<const double> x, double h) {
  const double tolerance = kEqualStepTolerance * std::fabs(h);
  for (std::size_t i = 0; i < x.size(); ++i)
    if (!(std::fabs(x[i] - (x[0] + static_cast<double>(i) * h)) <= tolerance)) return i;
  return x.size();
}

Status check_grid(std::size_t nx, std::size_t nf) {
  if (nx != nf) return Status::error(3, "filon: x and f hold different numbers of points");
  if (nx < 3) return Status::error(1, "filon: at least 3 points are needed");
  return {};
}

Status check_steps(std::span<const double> x, double h) {
  const std::size_t i = first_off_grid(x, h);
  // Points that all share one x span nothing: there is no integral to give.
  if (i == x.size() && !(std::fabs(h) > 0.0))
    return Status::error(4, "filon: x values are not equally spaced: all " + std::to_string(x.size()) +
                                " points are at x = " + free_real(x[0]));
  if (i == x.size()) return {};
  return Status::error(4, "filon: x values are not equally spaced: x(" + std::to_string(i + 1) +
                              ") = " + free_real(x[i]) + " where a step of " + free_real(h) + " from x(1) puts " +
                              free_real(x[0] + static_cast<double>(i) * h));
}

// The grid's step taken from its ends, which x(2) - x(1) may miss by the
// rounding of two values each as large as the grid's far end.
double mean_step(std::span<const double> x) { return (x.back() - x.front()) / static_cast<double>(x.size() - 1); }

}  // namespace

std::size_t first_unequal_step(std::span<const double> x) {
  if (x.size() < 3) return x.size();
  return first_off_grid(x, mean_step(x));
}

Status filon_integral(std::span<const double> x, std::span<const double> f, double h, double k, double& result) {
  Status s = check_grid(x.size(), f.size());
  if (!s.ok()) return s;
  const std::size_t n = x.size();
  if (n % 2 == 0) return Status::error(2, "filon_integral: the number of points must be odd");
  s = check_steps(x, h);
  if (!s.ok()) return s;
  double s_odd = 0.0, s_even = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double v = f[i] * std::sin(k * x[i]);
    // Point numbers count from 1: index 0 is point 1, an odd one.
    if (i % 2 == 0)
      s_odd += v;
    else
      s_even += v;
  }
  result = filon_detail::filon_value(h, k, {x[0], f[0], x[n - 1], f[n - 1]}, s_odd, s_even);
  return {};
}

Status filon_integral_sigma(std::span<const double> x, std::span<const double> sigma, double h, double k,
                            double& result) {
  Status s = check_grid(x.size(), sigma.size());
  if (!s.ok()) return s;
  const std::size_t n = x.size();
  if (n % 2 == 0) return Status::error(2, "filon_integral_sigma: the number of points must be odd");
  s = check_steps(x, h);
  if (!s.ok()) return s;
  const FilonWeights w = filon_abc(h * k);
  double var = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double sn = std::sin(k * x[i]), cs = std::cos(k * x[i]);
    // dI/df_i / h: the ends take half the odd weight and the cosine term.
    double d = (i % 2 == 0 ? w.beta : w.gamma) * sn;
    if (i == 0) d = w.alpha * cs + 0.5 * w.beta * sn;
    if (i == n - 1) d = -w.alpha * cs + 0.5 * w.beta * sn;
    var += d * d * sigma[i] * sigma[i];
  }
  result = std::fabs(h) * std::sqrt(var);
  return {};
}

Status filon_ft(std::vector<double>& x, std::vector<double>& f, std::span<const double> k, std::span<double> result) {
  Status s = check_grid(x.size(), f.size());
  if (!s.ok()) return s;
  const double h = x[1] - x[0];
  s = check_steps(x, mean_step(x));
  if (!s.ok()) return s;
  if (x.size() % 2 == 0) {
    x.push_back(x.back() + h);
    f.push_back(0.0);
  }
  const std::size_t n = x.size();
  const std::size_t nk = std::min(k.size(), result.size());
  std::vector<double> odd(nk), even(nk);
  filon_detail::filon_sums(x, h, f, {}, k.first(nk), {odd, even, {}, {}});
  const filon_detail::Ends ends{x[0], f[0], x[n - 1], f[n - 1]};
  for (std::size_t m = 0; m < nk; ++m)
    result[m] = static_cast<float>(filon_detail::filon_value(h, k[m], ends, odd[m], even[m]));
  return {};
}

FilonResult filon_ft(std::span<const double> x, std::span<const double> f, std::span<const double> k,
                     const FilonOptions& options) {
  FilonResult r;
  r.status = check_grid(x.size(), f.size());
  if (r.status.ok() && !options.sigma.empty() && options.sigma.size() != f.size())
    r.status = Status::error(6, "filon_ft: sigma and f hold different numbers of values");
  if (r.status.ok()) r.status = check_steps(x, mean_step(x));
  if (!r.status.ok()) return r;

  const std::size_t n = x.size(), nk = k.size();
  const double h = x[1] - x[0];
  const bool with_sigma = !options.sigma.empty();
  // An even grid ends on a point x(n) + h with nothing on it: it adds nothing
  // to the sums, only the end weights move to it.
  filon_detail::Ends ends{x[0], f[0], x[n - 1], f[n - 1]};
  filon_detail::Ends var_ends{x[0], 0.0, x[n - 1], 0.0};
  if (with_sigma) {
    var_ends.f_first = options.sigma[0] * options.sigma[0];
    var_ends.f_last = options.sigma[n - 1] * options.sigma[n - 1];
  }
  if (n % 2 == 0) {
    ends.x_last = var_ends.x_last = x[n - 1] + h;
    ends.f_last = var_ends.f_last = 0.0;
    r.status = Status::warning(5, "filon_ft: an even number of points: a point x(n) + h with f = 0 was added");
  }

  std::vector<double> odd(nk), even(nk), v, v_odd, v_even;
  if (with_sigma) {
    v.resize(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = options.sigma[i] * options.sigma[i];
    v_odd.resize(nk);
    v_even.resize(nk);
  }
  // Rounded to single precision, the integrals are those of the caller-array
  // filon_ft bit for bit: the same recurrence by the first step. In double
  // precision, and for the errors, the mean step drifts less along the grid.
  if (options.single_precision) {
    filon_detail::filon_sums(x, h, f, {}, k, {odd, even, {}, {}});
    if (with_sigma) filon_detail::filon_sums(x, mean_step(x), {}, v, k, {{}, {}, v_odd, v_even});
  } else {
    filon_detail::filon_sums(x, mean_step(x), f, v, k, {odd, even, v_odd, v_even});
  }
  r.integral.resize(nk);
  for (std::size_t m = 0; m < nk; ++m) {
    const double value = filon_detail::filon_value(h, k[m], ends, odd[m], even[m]);
    r.integral[m] = options.single_precision ? static_cast<double>(static_cast<float>(value)) : value;
  }
  if (with_sigma) {
    r.sigma.resize(nk);
    for (std::size_t m = 0; m < nk; ++m)
      r.sigma[m] = std::sqrt(filon_detail::filon_variance(h, k[m], var_ends, v_odd[m], v_even[m]));
  }
  return r;
}

}  // namespace talvo
