#include "talvo/numeric/filon.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>
#include <string>
#include <utility>

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

Error invalid(std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); }

// `values` names what goes with x: "f" or "sigma".
Outcome check_grid(std::size_t nx, std::size_t nf, const char* values) {
  if (nx != nf)
    return invalid(std::string("x and ") + values + " hold different numbers of points (" + std::to_string(nx) +
                   " and " + std::to_string(nf) + ")");
  if (nx < 3) return invalid("at least 3 points are needed, not " + std::to_string(nx));
  return Done{};
}

Outcome check_odd(std::size_t n) {
  if (n % 2 == 0) return invalid("the number of points must be odd, not " + std::to_string(n));
  return Done{};
}

Outcome check_steps(std::span<const double> x, double h) {
  const std::size_t i = first_off_grid(x, h);
  // Points that all share one x span nothing: there is no integral to give.
  if (i == x.size() && !(std::fabs(h) > 0.0))
    return invalid("x values are not equally spaced: all " + std::to_string(x.size()) +
                   " points are at x = " + free_real(x[0]));
  if (i == x.size()) return Done{};
  return invalid("x values are not equally spaced: x(" + std::to_string(i + 1) + ") = " + free_real(x[i]) +
                 " where a step of " + free_real(h) + " from x(1) puts " +
                 free_real(x[0] + static_cast<double>(i) * h));
}

// The first refusal of a grid for the one-k integrals.
Outcome check_one_k(std::span<const double> x, std::size_t nf, const char* values, double h) {
  if (Outcome e = check_grid(x.size(), nf, values); !e.ok()) return e;
  if (Outcome e = check_odd(x.size()); !e.ok()) return e;
  return check_steps(x, h);
}

// The grid's step taken from its ends, which x(2) - x(1) may miss by the
// rounding of two values each as large as the grid's far end.
double mean_step(std::span<const double> x) { return (x.back() - x.front()) / static_cast<double>(x.size() - 1); }

}  // namespace

std::size_t first_unequal_step(std::span<const double> x) {
  if (x.size() < 3) return x.size();
  return first_off_grid(x, mean_step(x));
}

Result<double> filon_integral(std::span<const double> x, std::span<const double> f, double h, double k) {
  if (Outcome e = check_one_k(x, f.size(), "f", h); !e.ok()) return e.error();
  const std::size_t n = x.size();
  double s_odd = 0.0, s_even = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double v = f[i] * std::sin(k * x[i]);
    // Point numbers count from 1: index 0 is point 1, an odd one.
    if (i % 2 == 0)
      s_odd += v;
    else
      s_even += v;
  }
  return filon_detail::filon_value(h, k, {x[0], f[0], x[n - 1], f[n - 1]}, s_odd, s_even);
}

Result<double> filon_integral_sigma(std::span<const double> x, std::span<const double> sigma, double h, double k) {
  if (Outcome e = check_one_k(x, sigma.size(), "sigma", h); !e.ok()) return e.error();
  const std::size_t n = x.size();
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
  return std::fabs(h) * std::sqrt(var);
}

namespace {

// The weights of f(a) and f(a + h) in the exact integral of the straight
// line through them times sin(k x) from a to a + h.
std::pair<double, double> line_weights(double a, double h, double k) {
  const double theta = k * h;
  if (std::abs(theta) < 1e-4) {
    // Taylor series in k h: the closed form cancels there.
    const double s = std::sin(k * a), c = std::cos(k * a);
    return {h * (0.5 * s + theta * c / 6.0 - theta * theta * s / 24.0),
            h * (0.5 * s + theta * c / 3.0 - theta * theta * s / 8.0)};
  }
  const double b = a + h;
  const double ds = (std::sin(k * b) - std::sin(k * a)) / (h * k * k);
  return {std::cos(k * a) / k - ds, -std::cos(k * b) / k + ds};
}

}  // namespace

namespace filon_detail {

LastStep last_step(double h, double k, double a) {
  const auto [wa, wb] = line_weights(a, h, k);
  // Filon's own weight of its last point, which the step shares.
  const FilonWeights fw = filon_abc(k * h);
  return {wa, wb, h * (-fw.alpha * std::cos(k * a) + 0.5 * fw.beta * std::sin(k * a))};
}

void add_last_step(const LastStep& w, double fa, double fb, double& value) { value += w.wa * fa + w.wb * fb; }

void add_last_step_variance(const LastStep& w, double sa, double sb, double& variance) {
  variance += w.wa * w.wa * sa * sa + w.wb * w.wb * sb * sb + 2.0 * w.w_end * w.wa * sa * sa;
}

}  // namespace filon_detail

namespace {

// An even grid: Filon's rule over its first n - 1 points, then the last step
// (filon_detail::add_last_step), the step being the whole grid's mean one.
Result<std::vector<FilonTransform>> filon_even_last_step(std::span<const double> x,
                                                         std::span<const std::span<const double>> f,
                                                         std::span<const std::span<const double>> sigma,
                                                         std::span<const double> k, const FilonOptions& options) {
  const std::size_t n = x.size();
  std::vector<std::span<const double>> fs, sigmas;
  for (const std::span<const double> fp : f) fs.push_back(fp.first(n - 1));
  for (const std::span<const double> sp : sigma) sigmas.push_back(sp.empty() ? sp : sp.first(n - 1));
  FilonOptions odd = options;
  odd.single_precision = false;
  Result<std::vector<FilonTransform>> part = filon_ft_many(x.first(n - 1), fs, sigmas, k, odd);
  if (!part.ok()) return part.error();
  const double h = mean_step(x), a = x[n - 2];
  for (std::size_t p = 0; p < f.size(); ++p) {
    FilonTransform& t = (*part)[p];
    for (std::size_t m = 0; m < k.size(); ++m) {
      const filon_detail::LastStep w = filon_detail::last_step(h, k[m], a);
      double value = t.integral[m];
      filon_detail::add_last_step(w, f[p][n - 2], f[p][n - 1], value);
      t.integral[m] = options.single_precision ? static_cast<double>(static_cast<float>(value)) : value;
      if (!t.sigma.empty()) {
        const double sa = sigma[p][n - 2], sb = sigma[p][n - 1];
        double var = t.sigma[m] * t.sigma[m];
        filon_detail::add_last_step_variance(w, sa, sb, var);
        t.sigma[m] = std::sqrt(std::max(var, 0.0));
      }
    }
  }
  std::vector<std::string> warnings{"an even number of points (" + std::to_string(n) +
                                    "): the last step is integrated exactly as the straight line through its values"};
  return {std::move(part).value(), std::move(warnings)};
}

}  // namespace

Result<FilonTransform> filon_ft(std::span<const double> x, std::span<const double> f, std::span<const double> k,
                                const FilonOptions& options) {
  const std::span<const double> fs[] = {f}, sigmas[] = {options.sigma};
  Result<std::vector<FilonTransform>> all =
      filon_ft_many(x, fs, options.sigma.empty() ? std::span<const std::span<const double>>() : sigmas, k, options);
  if (!all.ok()) return all.error();
  std::vector<std::string> warnings = all.warnings();
  return {std::move(all->front()), std::move(warnings)};
}

Result<std::vector<FilonTransform>> filon_ft_many(std::span<const double> x, std::span<const std::span<const double>> f,
                                                  std::span<const std::span<const double>> sigma,
                                                  std::span<const double> k, const FilonOptions& options) {
  if (f.empty()) return std::vector<FilonTransform>{};
  if (!sigma.empty() && sigma.size() != f.size())
    return invalid(std::to_string(f.size()) + " functions with " + std::to_string(sigma.size()) + " sets of sigma");
  for (std::size_t p = 0; p < f.size(); ++p) {
    if (Outcome e = check_grid(x.size(), f[p].size(), "f"); !e.ok()) return e.error();
    if (!sigma.empty() && !sigma[p].empty() && sigma[p].size() != f[p].size())
      return invalid("sigma and f hold different numbers of values (" + std::to_string(sigma[p].size()) + " and " +
                     std::to_string(f[p].size()) + ")");
    if (f[p].size() != f.front().size() || (!sigma.empty() && sigma[p].empty() != sigma.front().empty()))
      return invalid("the functions transformed together hold different numbers of values");
  }
  if (Outcome e = check_steps(x, mean_step(x)); !e.ok()) return e.error();
  for (std::size_t m = 0; m < k.size(); ++m)
    if (!std::isfinite(k[m]))
      return invalid("k must be a finite number: k(" + std::to_string(m + 1) + ") = " + free_real(k[m]));

  const std::size_t n = f.front().size(), nk = k.size(), np = f.size();
  const double h = x[1] - x[0];
  const bool with_sigma = !sigma.empty() && !sigma.front().empty();
  if (n % 2 == 0 && options.even == EvenPoints::kLastStepExact) return filon_even_last_step(x, f, sigma, k, options);
  std::vector<std::string> warnings;
  if (n % 2 == 0)
    warnings.push_back("an even number of points (" + std::to_string(n) + "): a point x(n) + h with f = 0 was added");
  try {
    struct Sums {
      std::vector<double> odd, even, v, v_odd, v_even;
    };
    std::vector<Sums> sums(np);
    std::vector<std::span<const double>> vs(np), none(np);  // vs: empty without sigma
    for (std::size_t p = 0; p < np; ++p) {
      Sums& s = sums[p];
      s.odd.resize(nk);
      s.even.resize(nk);
      if (with_sigma) {
        s.v.resize(n);
        for (std::size_t i = 0; i < n; ++i) s.v[i] = sigma[p][i] * sigma[p][i];
        s.v_odd.resize(nk);
        s.v_even.resize(nk);
        vs[p] = s.v;
      }
    }
    // Rounded to single precision, the integrals are those of the classic
    // filon_ft bit for bit: the same recurrence by the first step. In double
    // precision, and for the errors, the mean step drifts less along the grid.
    // The k a group at a time, each group some million products of the grid, so that a caller's stop is
    // asked every few milliseconds; each k's sums are its own, whatever group it is in.
    const std::size_t group = std::max<std::size_t>(64, (std::size_t{1} << 20) / (n * np));
    std::vector<filon_detail::SumsOut> f_out(np), v_out(np), both_out(np);
    for (std::size_t first = 0; first < nk; first += group) {
      const std::size_t count = std::min(group, nk - first);
      const auto part = [first, count](std::vector<double>& values) {
        return values.empty() ? std::span<double>() : std::span<double>(values).subspan(first, count);
      };
      for (std::size_t p = 0; p < np; ++p) {
        Sums& s = sums[p];
        f_out[p] = {part(s.odd), part(s.even), {}, {}};
        v_out[p] = {{}, {}, part(s.v_odd), part(s.v_even)};
        both_out[p] = {part(s.odd), part(s.even), part(s.v_odd), part(s.v_even)};
      }
      const std::span<const double> ks = k.subspan(first, count);
      if (options.single_precision) {
        filon_detail::filon_sums_many(x, h, f, none, ks, f_out);
        if (with_sigma) filon_detail::filon_sums_many(x, mean_step(x), none, vs, ks, v_out);
      } else {
        filon_detail::filon_sums_many(x, mean_step(x), f, vs, ks, both_out);
      }
      if (stop_asked(options.stop)) return cancelled();
    }
    // The ends' weights and sines, once for every function.
    const double x_last = n % 2 == 0 ? x[n - 1] + h : x[n - 1];
    std::vector<filon_detail::EndTerms> terms(nk);
    for (std::size_t m = 0; m < nk; ++m) terms[m] = filon_detail::end_terms(h, k[m], x[0], x_last);
    std::vector<FilonTransform> out(np);
    for (std::size_t p = 0; p < np; ++p) {
      // An even grid ends on a point x(n) + h with nothing on it: it adds
      // nothing to the sums, only the end weights move to it.
      filon_detail::Ends ends{x[0], f[p][0], x_last, f[p][n - 1]};
      filon_detail::Ends var_ends{x[0], 0.0, x_last, 0.0};
      if (with_sigma) {
        var_ends.f_first = sigma[p][0] * sigma[p][0];
        var_ends.f_last = sigma[p][n - 1] * sigma[p][n - 1];
      }
      if (n % 2 == 0) ends.f_last = var_ends.f_last = 0.0;
      const Sums& s = sums[p];
      FilonTransform& t = out[p];
      t.integral.resize(nk);
      for (std::size_t m = 0; m < nk; ++m) {
        const double value = filon_detail::filon_value(h, terms[m], ends, s.odd[m], s.even[m]);
        t.integral[m] = options.single_precision ? static_cast<double>(static_cast<float>(value)) : value;
        // k x past the largest double leaves sin(k x) without a value: no integral to give.
        if (!std::isfinite(value))
          return make_error(ErrorKind::kOutOfRange, "the integral at k = " + free_real(k[m]) +
                                                        " is beyond double precision: k x passes the largest number");
      }
      if (with_sigma) {
        t.sigma.resize(nk);
        for (std::size_t m = 0; m < nk; ++m)
          t.sigma[m] = std::sqrt(filon_detail::filon_variance(h, terms[m], var_ends, s.v_odd[m], s.v_even[m]));
      }
    }
    return {std::move(out), std::move(warnings)};
  } catch (const std::bad_alloc&) {
    return make_error(ErrorKind::kOutOfMemory, "out of memory");
  }
}

}  // namespace talvo
