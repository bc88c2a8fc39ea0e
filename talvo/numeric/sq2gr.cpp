#include "talvo/numeric/sq2gr.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <optional>
#include <string>
#include <utility>

#include "talvo/numeric/filon.hpp"
#include "talvo/numeric/filon_sums.hpp"
#include "talvo/numeric/interpolate.hpp"
#include "talvo/text/format.hpp"

namespace talvo {
namespace {

std::string point(const char* name, std::size_t i, double v) {
  return std::string(name) + "(" + std::to_string(i + 1) + ") = " + free_real(v);
}

Error invalid(std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); }

Outcome check(std::span<const double> q, std::span<const double> s, std::span<const double> r, double rho0,
              std::span<const double> sigma) {
  const std::size_t n = q.size();
  if (s.size() != n)
    return invalid("Q and S(Q) hold different numbers of values (" + std::to_string(n) + " and " +
                   std::to_string(s.size()) + ")");
  if (!sigma.empty() && sigma.size() != n)
    return invalid("Q and sigma hold different numbers of values (" + std::to_string(n) + " and " +
                   std::to_string(sigma.size()) + ")");
  if (n < 3) return invalid("at least 3 Q values are needed, not " + std::to_string(n));
  if (!(q[0] >= 0.0)) return invalid("Q must not be negative: " + point("Q", 0, q[0]));
  if (!(q[n - 1] > q[0]))
    return invalid("Q values must increase: " + point("Q", 0, q[0]) + ", " + point("Q", n - 1, q[n - 1]));
  for (std::size_t i = 1; i < n; ++i)
    if (!(q[i] > q[i - 1]))
      return invalid("Q values must increase: " + point("Q", i - 1, q[i - 1]) + ", " + point("Q", i, q[i]));
  for (std::size_t j = 0; j < r.size(); ++j)
    if (!(r[j] > 0.0) || !std::isfinite(r[j])) return invalid("r must be positive: " + point("r", j, r[j]));
  if (!(rho0 > 0.0) || !std::isfinite(rho0))
    return invalid("the number density rho0 must be positive, not " + free_real(rho0));
  return Done{};
}

}  // namespace

// sq2gr on a grid that may be interpolated once onto an equally spaced one
// (`may_interpolate`); the interpolated grid must then be equally spaced.
static Result<PairDistribution> transform_sq(std::span<const double> q, std::span<const double> s,
                                             std::span<const double> r, double rho0, const Sq2grOptions& o,
                                             bool may_interpolate) {
  if (Outcome e = check(q, s, r, rho0, o.sigma); !e.ok()) return e.error();
  std::size_t n = q.size();
  if (first_unequal_step(q) < n && !may_interpolate)
    return invalid("Q values cannot be laid on an equally spaced grid: " +
                   point("Q", first_unequal_step(q), q[first_unequal_step(q)]) + " lies off it");
  if (first_unequal_step(q) < n) {
    // Q from a 2theta scan is not equally spaced: Filon's rule runs on the
    // equally spaced grid of as many points, S and sigma interpolated onto it.
    try {
      std::vector<double> even(n);
      const double h = (q[n - 1] - q[0]) / static_cast<double>(n - 1);
      for (std::size_t i = 0; i < n; ++i) even[i] = q[0] + static_cast<double>(i) * h;
      even.back() = q[n - 1];
      const Interpolated in = interpolate_linear(q, s, o.sigma, even);
      Sq2grOptions on_grid = o;
      on_grid.sigma = in.sigma;
      // Q(1) + i h is the grid first_unequal_step measures against: the call below takes the other path.
      Result<PairDistribution> g = transform_sq(even, in.y, r, rho0, on_grid, false);
      if (g.ok())
        g.add_warning("Q is not equally spaced (" + point("Q", first_unequal_step(q), q[first_unequal_step(q)]) +
                      " lies off the step " + free_real(h) + " from Q(1)): S(Q) is interpolated linearly onto " +
                      std::to_string(n) + " equally spaced points from Q(1) to Q(" + std::to_string(n) + ")");
      return g;
    } catch (const std::bad_alloc&) {
      return make_error(ErrorKind::kOutOfMemory, "out of memory");
    }
  }
  // Beyond Qmax the window is 0: only the points up to it are integrated, a
  // point off by no more than the grid's rounding counting as at Qmax.
  std::optional<double> qmax = o.qmax;
  if (qmax && *qmax > 0.0 && std::isfinite(*qmax)) {
    const double limit = *qmax + kEqualStepTolerance * (q[n - 1] - q[0]) / static_cast<double>(n - 1);
    std::size_t used = 0;
    while (used < n && q[used] <= limit) ++used;
    if (used < 3)
      return invalid("at least 3 Q values up to Qmax = " + free_real(*qmax) + " are needed, not " +
                     std::to_string(used));
    n = used;
    qmax = std::max(*qmax, q[n - 1]);
  }
  try {
    // The window on every point up to Qmax.
    Result<std::vector<double>> m = modification(q.first(n), o.window, qmax.value_or(q[n - 1]), {o.p1, o.p2, false});
    if (!m.ok()) return m.error();
    std::vector<double> f(n), v;
    for (std::size_t i = 0; i < n; ++i) f[i] = q[i] * (s[i] - 1.0) * (*m)[i];
    if (!o.sigma.empty()) {
      v.resize(n);
      for (std::size_t i = 0; i < n; ++i) {
        const double d = q[i] * (*m)[i] * o.sigma[i];
        v[i] = d * d;
      }
    }
    // Filon's rule over an odd number of points; an even number leaves the
    // last step to the straight line through its values, integrated exactly.
    const std::size_t n_all = n;
    const double h_all = (q[n - 1] - q[0]) / static_cast<double>(n - 1);
    std::vector<std::string> warnings;
    if (n % 2 == 0) {
      --n;
      warnings.push_back("an even number of points (" + std::to_string(n_all) +
                         "): the last step is integrated exactly as the straight line through its values");
    }
    const std::span<const double> qs = q.first(n);
    const std::size_t nr = r.size();
    std::vector<double> odd(nr), even(nr), v_odd(v.empty() ? 0 : nr), v_even(v.empty() ? 0 : nr);
    const double h = (qs.back() - qs.front()) / static_cast<double>(n - 1);
    // The r a group at a time, so that a caller's stop is asked every few milliseconds.
    const std::size_t group = std::max<std::size_t>(64, (std::size_t{1} << 20) / n);
    for (std::size_t first = 0; first < nr; first += group) {
      const std::size_t count = std::min(group, nr - first);
      const auto part = [first, count](std::vector<double>& values) {
        return values.empty() ? std::span<double>() : std::span<double>(values).subspan(first, count);
      };
      filon_detail::filon_sums(qs, h, std::span<const double>(f).first(n),
                               v.empty() ? std::span<const double>() : std::span<const double>(v).first(n),
                               r.subspan(first, count), {part(odd), part(even), part(v_odd), part(v_even)});
      if (stop_asked(o.stop)) return cancelled();
    }

    PairDistribution out;
    out.G.resize(nr);
    out.g.resize(nr);
    out.sigma_G.assign(nr, 0.0);
    // The ends' weights and sines, once for G and its error.
    std::vector<filon_detail::EndTerms> terms(nr);
    for (std::size_t j = 0; j < nr; ++j) terms[j] = filon_detail::end_terms(h, r[j], qs.front(), qs.back());
    const filon_detail::Ends ends{qs.front(), f.front(), qs.back(), f[n - 1]};
    for (std::size_t j = 0; j < nr; ++j) {
      double integral = filon_detail::filon_value(h, terms[j], ends, odd[j], even[j]);
      if (n < n_all)
        filon_detail::add_last_step(filon_detail::last_step(h_all, r[j], q[n - 1]), f[n - 1], f[n], integral);
      out.G[j] = 2.0 / std::numbers::pi * integral;
      out.g[j] = 1.0 + out.G[j] / (4.0 * std::numbers::pi * r[j] * rho0);
      // A density and r so small that the quotient overflows: no g to print.
      if (!std::isfinite(out.g[j]))
        return make_error(ErrorKind::kOutOfRange, "g(r) at r = " + free_real(r[j]) +
                                                      " is beyond the double range: 4 pi r rho0 is too small for "
                                                      "rho0 = " +
                                                      free_real(rho0));
    }
    if (!v.empty()) {
      const filon_detail::Ends var_ends{qs.front(), v.front(), qs.back(), v[n - 1]};
      for (std::size_t j = 0; j < nr; ++j) {
        double var = filon_detail::filon_variance(h, terms[j], var_ends, v_odd[j], v_even[j]);
        if (n < n_all)
          filon_detail::add_last_step_variance(filon_detail::last_step(h_all, r[j], q[n - 1]), std::sqrt(v[n - 1]),
                                               std::sqrt(v[n]), var);
        out.sigma_G[j] = 2.0 / std::numbers::pi * std::sqrt(std::max(var, 0.0));
      }
    }
    return {std::move(out), std::move(warnings)};
  } catch (const std::bad_alloc&) {
    return make_error(ErrorKind::kOutOfMemory, "out of memory");
  }
}

Result<PairDistribution> sq2gr(std::span<const double> q, std::span<const double> s, std::span<const double> r,
                               double rho0, const Sq2grOptions& o) {
  return transform_sq(q, s, r, rho0, o, true);
}

}  // namespace talvo
