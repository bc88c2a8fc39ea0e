#include "talvo/classic/moq.hpp"

#include <cmath>
#include <numbers>
#include <ostream>
#include <vector>

#include "talvo/classic/print.hpp"
#include "talvo/numeric/modification.hpp"
#include "talvo/text/format.hpp"

namespace talvo::classic {
namespace {

// The message of each code.
constexpr const char* kMessages[] = {
    "No errors in moq",
    "ERROR in moq: Unreasonable value of Qmax",
    "ERROR in moq: Unknown option for modification function",
    "ERROR in moq: Data are neither point nor histogram",
    "ERROR in moq: Unacceptable parameter value",
    "ERROR in moq: Too few Q values for the grid",
    "ERROR in moq: Q values must be finite numbers not below 0",
    "ERROR in moq: Out of memory",
};

// What the window refuses once the checks above pass: a Q outside its
// domain, or memory that runs out.
int code_of(const Error& e) { return e.kind == ErrorKind::kOutOfMemory ? 7 : 6; }

Status moq_error(int code) { return Status::error(code, kMessages[code]); }

// The checks in their classic order, a later failure overriding an earlier
// one: the code of the last that fails, 0 when all pass.
int moq_code(std::span<const double> q, std::size_t nm, double qmax, double p1, double p2, int option) {
  int code = 0;
  const std::size_t nq = q.size();
  const bool point = nm == nq, histogram = nq >= 1 && nm == nq - 1;
  // A Qmax so small that pi / Qmax overflows, or one that is not a number,
  // would give NaN windows: they are as unreasonable as one below 0.
  if ((nq >= 2 && qmax > 2.0 * q[nq - 1] - q[nq - 2]) || !(qmax > 0.0) || !std::isfinite(qmax) ||
      !std::isfinite(std::numbers::pi / qmax))
    code = 1;
  if (option < 1 || option > 5) code = 2;
  // p1^2 must be a finite number above 0: inf times Q = 0 is NaN.
  if (option == 4 && !(p1 * p1 > 0.0 && std::isfinite(p1 * p1))) code = 4;
  // Rounded as Fortran's NINT, only when it can be: llround of NaN or 1e200 has no value.
  const long long sub = std::fabs(p1) < 4.0 ? std::llround(p1) : 0;
  // The scale p2 must keep x = p2 Q finite up to Qmax.
  const bool p2_ok = p2 > 0.0 && std::isfinite(p2) && (!std::isfinite(qmax) || std::isfinite(p2 * qmax));
  if (option == 5 && (sub < 1 || sub > 3 || (sub == 2 && !p2_ok))) code = 4;
  if (!point && !histogram)
    code = 3;
  else if (nq < 2 || (histogram && nq < 3))
    code = 5;
  return code;
}

}  // namespace

Status moq(std::span<const double> q, std::span<double> m, double qmax, const std::array<double, 2>& params, int option,
           int iprint, std::ostream& out) {
  const std::size_t nq = q.size(), nm = m.size();
  const int code = moq_code(q, nm, qmax, params[0], params[1], option);
  if (!moq_effective_q(q, nm).empty())
    for (double& v : m) v = 0.0;
  if (code != 0) return moq_error(code);

  // Options 1 to 5 are the windows in their order.
  const Window window = static_cast<Window>(option - 1);
  const bool histogram = nm + 1 == nq;
  // The window takes the root itself; printed, its iterations come first.
  if (iprint == 1 && window == Window::kSphere && std::llround(params[0]) == 1) (void)xtanx(iprint, out);
  Result<std::vector<double>> r = modification(q, window, qmax, {params[0], params[1], histogram});
  if (!r.ok()) return moq_error(code_of(r.error()));
  for (std::size_t j = 0; j < nm; ++j) m[j] = (*r)[j];
  if (iprint == 1 && nm > 0) pr_dpar(out, "moq: First point is M(Q)=", m[0]);
  return {};
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

}  // namespace talvo::classic
