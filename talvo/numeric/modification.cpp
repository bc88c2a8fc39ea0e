#include "talvo/numeric/modification.hpp"

#include <cmath>
#include <new>
#include <numbers>
#include <string>
#include <utility>

#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

// 3 (sin x - x cos x) / x^3; near 0 the series 1 - x^2/10 + x^4/280, where
// the closed form would lose its digits to cancellation.
double sphere(double x) {
  if (!std::isfinite(x)) return 0.0;  // the limit, where x^3 has overflowed
  if (std::fabs(x) < 1e-3) return 1.0 - x * x / 10.0 + x * x * x * x / 280.0;
  return 3.0 * (std::sin(x) - x * std::cos(x)) / (x * x * x);
}

// The sphere window's sub-option: p1 rounded, halves away from zero (as
// Fortran's NINT); only where it can be rounded: llround of NaN or 1e200 has
// no value, and anything beyond 4 is no sub-option anyway.
long long sphere_sub_option(double p1) { return std::fabs(p1) < 4.0 ? std::llround(p1) : 0; }

Error invalid(std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); }

Outcome check_grid(std::span<const double> q, bool histogram) {
  const std::size_t nq = q.size();
  if (histogram && nq < 3)
    return invalid("too few Q values for the grid: histogram data need at least 3 bin edges, not " +
                   std::to_string(nq));
  if (!histogram && nq < 2)
    return invalid("too few Q values for the grid: point data need at least 2, not " + std::to_string(nq));
  return Done{};
}

// Q is a magnitude: a negative or infinite one has no window value (the
// quadratic window of Q = -1e300 would be -inf).
Outcome check_q(std::span<const double> q) {
  for (std::size_t i = 0; i < q.size(); ++i)
    if (!(q[i] >= 0.0) || !std::isfinite(q[i]))
      return invalid("Q must be a finite number at or above 0: Q(" + std::to_string(i + 1) + ") = " + free_real(q[i]));
  return Done{};
}

Outcome check_qmax(std::span<const double> q, double qmax) {
  if (!(qmax > 0.0) || !std::isfinite(qmax))
    return invalid("Qmax must be a finite number above 0, not " + free_real(qmax));
  const std::size_t nq = q.size();
  const double limit = 2.0 * q[nq - 1] - q[nq - 2];
  if (qmax > limit)
    return invalid("Qmax = " + free_real(qmax) + " lies more than one step beyond the last Q: at most " +
                   free_real(limit));
  // pi / Qmax would overflow and every window be NaN.
  if (!std::isfinite(std::numbers::pi / qmax))
    return make_error(ErrorKind::kOutOfRange,
                      "Qmax = " + free_real(qmax) + " is too small: pi / Qmax passes the double range");
  return Done{};
}

Outcome check_parameters(Window window, double qmax, const ModificationOptions& o) {
  // p1^2 must be a finite number above 0: inf times Q = 0 is NaN.
  if (window == Window::kGaussian && !(o.p1 * o.p1 > 0.0 && std::isfinite(o.p1 * o.p1)))
    return invalid("the Gaussian window needs a p1 whose square is a finite number above 0, not p1 = " +
                   free_real(o.p1));
  if (window != Window::kSphere) return Done{};
  const long long sub = sphere_sub_option(o.p1);
  if (sub < 1 || sub > 3)
    return invalid("the sphere window's p1, its sub-option, must round to 1, 2 or 3, not p1 = " + free_real(o.p1));
  // The scale p2 must keep x = p2 Q finite up to Qmax.
  if (sub == 2 && !(o.p2 > 0.0 && std::isfinite(o.p2) && std::isfinite(o.p2 * qmax)))
    return invalid("the sphere window's sub-option 2 needs a scale p2 above 0 with p2 Qmax finite, not p2 = " +
                   free_real(o.p2));
  return Done{};
}

}  // namespace

std::vector<double> moq_effective_q(std::span<const double> q, std::size_t nm) {
  const std::size_t nq = q.size();
  if (nm == nq) return std::vector<double>(q.begin(), q.end());
  if (nq >= 3 && nm == nq - 1) {
    std::vector<double> qe(nq);
    for (std::size_t i = 0; i < nm; ++i) qe[i] = (q[i] + q[i + 1]) / 2.0;
    qe[nq - 1] = 2.0 * qe[nq - 2] - qe[nq - 3];
    return qe;
  }
  return {};
}

double tan_x_root() {
  double x = 4.5;
  for (int it = 1; it <= 100; ++it) {
    const double c = std::cos(x);
    const double next = x - (std::tan(x) - x) / (1.0 / (c * c) - 1.0);
    if (next == x) break;
    x = next;
  }
  return x;
}

std::optional<Window> window_named(std::string_view name) {
  for (Window w :
       {Window::kLorch, Window::kStep, Window::kQuadratic, Window::kGaussian, Window::kSphere, Window::kNone})
    if (equal_case_blind(name, window_name(w))) return w;
  return std::nullopt;
}

std::string_view window_name(Window window) {
  switch (window) {
    case Window::kLorch:
      return "lorch";
    case Window::kStep:
      return "step";
    case Window::kQuadratic:
      return "quadratic";
    case Window::kGaussian:
      return "gaussian";
    case Window::kSphere:
      return "sphere";
    case Window::kNone:
      break;
  }
  return "none";
}

Result<std::vector<double>> modification(std::span<const double> q, Window window, double qmax,
                                         const ModificationOptions& o) {
  const int w = static_cast<int>(window);
  if (w < static_cast<int>(Window::kLorch) || w > static_cast<int>(Window::kNone))
    return invalid("unknown window number " + std::to_string(w));
  if (Outcome e = check_q(q); !e.ok()) return e.error();
  const std::size_t nm = o.histogram && !q.empty() ? q.size() - 1 : q.size();
  try {
    if (window == Window::kNone) return std::vector<double>(nm, 1.0);
    if (Outcome e = check_grid(q, o.histogram); !e.ok()) return e.error();
    if (Outcome e = check_qmax(q, qmax); !e.ok()) return e.error();
    if (Outcome e = check_parameters(window, qmax, o); !e.ok()) return e.error();

    const std::vector<double> qe = moq_effective_q(q, nm);
    const long long sub = sphere_sub_option(o.p1);
    double scale = std::numbers::pi / qmax;
    if (window == Window::kSphere && sub == 1) scale = tan_x_root() / qmax;
    if (window == Window::kSphere && sub == 2) scale = o.p2;
    std::vector<double> m(nm, 0.0);
    const bool qmax_squared_usable = std::isnormal(qmax * qmax);
    // Every window is 0 beyond Qmax, point by point, whatever the order of
    // the grid: a transform must not take in data the window was to close.
    for (std::size_t j = 0; j < nm; ++j) {
      const double qv = qe[j];
      if (!(qv <= qmax)) continue;
      const double x = scale * qv;
      double v = 0.0;
      switch (window) {
        case Window::kLorch:
          v = x == 0.0 ? 1.0 : std::isfinite(x) ? std::sin(x) / x : 0.0;
          break;
        case Window::kStep:
          v = 1.0;
          break;
        case Window::kQuadratic:
          if (qmax_squared_usable) {
            v = qv < qmax / 3.0 ? 1.0 - 3.0 * qv * qv / (qmax * qmax)
                                : 1.5 * (1.0 - 2.0 * qv / qmax + qv * qv / (qmax * qmax));
          } else {  // the same in t = Q / Qmax, where Q^2 and Qmax^2 would pass the double range
            const double t = qv / qmax;
            v = t < 1.0 / 3.0 ? 1.0 - 3.0 * t * t : 1.5 * (1.0 - 2.0 * t + t * t);
          }
          break;
        case Window::kGaussian:
          v = std::exp(-o.p1 * o.p1 * qv * qv);
          break;
        default:
          v = sphere(x);
          break;
      }
      m[j] = v;
    }
    return m;
  } catch (const std::bad_alloc&) {
    return make_error(ErrorKind::kOutOfMemory, "out of memory");
  }
}

}  // namespace talvo
