#include "talvo/numeric/moq.hpp"

#include <cmath>
#include <ostream>
#include <sstream>
#include <numbers>

#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {


// Rounds halves away from zero, as Fortran's NINT does.
long long nint(double v) { return static_cast<long long>(std::llround(v)); }

// 3 (sin x - x cos x) / x^3; near 0 the series 1 - x^2/10 + x^4/280, where
// the closed form would lose its digits to cancellation.
double sphere(double x) {
  if (!std::isfinite(x)) return 0.0;  // the limit, where x^3 has overflowed
  if (std::fabs(x) < 1e-3) return 1.0 - x * x / 10.0 + x * x * x * x / 280.0;
  return 3.0 * (std::sin(x) - x * std::cos(x)) / (x * x * x);
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

Status moq(std::span<const double> q, std::span<double> m, double qmax, const std::array<double, 2>& params, int option,
           int iprint, std::ostream& out) {
  Status status;
  const std::size_t nq = q.size(), nm = m.size();
  const double p1 = params[0], p2 = params[1];
  const bool point = nm == nq, histogram = nq >= 1 && nm == nq - 1;
  // A Qmax so small that pi / Qmax overflows, or one that is not a number,
  // would give NaN windows: they are as unreasonable as one below 0.
  if ((nq >= 2 && qmax > 2.0 * q[nq - 1] - q[nq - 2]) || !(qmax > 0.0) || !std::isfinite(std::numbers::pi / qmax))
    status = Status::error(1, "ERROR in moq: Unreasonable value of Qmax");
  if (option < 1 || option > 5) status = Status::error(2, "ERROR in moq: Unknown option for modification function");
  // p1^2 must be a finite number above 0: inf times Q = 0 is NaN.
  if (option == 4 && !(p1 * p1 > 0.0 && std::isfinite(p1 * p1)))
    status = Status::error(4, "ERROR in moq: Unacceptable parameter value");
  // Rounded only when it can be: llround of NaN or 1e200 has no value.
  const long long sub = std::fabs(p1) < 4.0 ? nint(p1) : 0;
  // The scale p2 must keep x = p2 Q finite up to Qmax.
  const bool p2_ok = p2 > 0.0 && std::isfinite(p2) && (!std::isfinite(qmax) || std::isfinite(p2 * qmax));
  if (option == 5 && (sub < 1 || sub > 3 || (sub == 2 && !p2_ok)))
    status = Status::error(4, "ERROR in moq: Unacceptable parameter value");
  if (!point && !histogram)
    status = Status::error(3, "ERROR in moq: Data are neither point nor histogram");
  else if (nq < 2 || (histogram && nq < 3))
    status = Status::error(5, "ERROR in moq: Too few Q values for the grid");

  const std::vector<double> qe = moq_effective_q(q, nm);
  if (!qe.empty())
    for (double& v : m) v = 0.0;
  if (status.failed()) return status;

  double scale = std::numbers::pi / qmax;
  if (option == 5 && sub == 1) scale = xtanx(iprint, out) / qmax;
  if (option == 5 && sub == 2) scale = p2;
  // Every window is 0 beyond Qmax, point by point, whatever the order of
  // the grid: a transform must not take in data the window was to close.
  for (std::size_t j = 0; j < nm; ++j) {
    const double qv = qe[j];
    if (!(qv <= qmax)) continue;
    const double x = scale * qv;
    double v = 0.0;
    switch (option) {
      case 1:
        v = x == 0.0 ? 1.0 : std::isfinite(x) ? std::sin(x) / x : 0.0;
        break;
      case 2:
        v = qv <= qmax ? 1.0 : 0.0;
        break;
      case 3:
        v = qv < qmax / 3.0 ? 1.0 - 3.0 * qv * qv / (qmax * qmax)
                            : 1.5 * (1.0 - 2.0 * qv / qmax + qv * qv / (qmax * qmax));
        break;
      case 4:
        v = std::exp(-p1 * p1 * qv * qv);
        break;
      default:
        v = sphere(x);
        break;
    }
    m[j] = v;
  }
  if (iprint == 1 && nm > 0) out << " moq: First point is M(Q)=" << fmt_e(m[0], 20, 13) << '\n';  // as pr_dpar
  return status;
}

std::optional<Window> window_from_name(std::string_view name) {
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

ModificationResult modification(std::span<const double> q, Window window, double qmax,
                                const ModificationOptions& options) {
  ModificationResult r;
  const std::size_t nm = options.histogram && !q.empty() ? q.size() - 1 : q.size();
  if (window == Window::kNone) {
    r.m.assign(nm, 1.0);
    return r;
  }
  if (!std::isfinite(qmax)) {
    // moq's own check lets a NaN through.
    r.status = Status::error(1, "ERROR in moq: Unreasonable value of Qmax");
    return r;
  }
  r.m.resize(nm);
  std::ostringstream quiet;
  r.status = moq(q, r.m, qmax, {options.p1, options.p2}, static_cast<int>(window) + 1, 0, quiet);
  if (r.status.failed()) r.m.clear();
  return r;
}

double xtanx(int iprint, std::ostream& out) {
  double x = 4.5;
  for (int it = 1; it <= 100; ++it) {
    const double c = std::cos(x);
    const double next = x - (std::tan(x) - x) / (1.0 / (c * c) - 1.0);
    const bool same = next == x;
    x = next;
    if (iprint == 1)
      out << ' ' << it << ' ' << free_real(x) << ' ' << free_real(std::tan(x)) << ' ' << (same ? 'T' : 'F') << '\n';
    if (same) break;
  }
  return x;
}

}  // namespace talvo
