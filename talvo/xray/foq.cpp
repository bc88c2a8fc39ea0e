#include <bit>
#include <cmath>
#include <cstdint>
#include <ostream>

#include "talvo/console/print.hpp"
#include "talvo/elements/elements.hpp"
#include "talvo/xray/formfactor.hpp"

namespace talvo {
namespace {

constexpr double kPi = 3.141592653589793;

// exp(x) for x <= 709, without branches so that the compiler can evaluate
// several points at once: Cody-Waite reduction to |r| <= ln2/2 and a Taylor
// polynomial of degree 13 (truncation below 1e-17 relative). Results agree
// with std::exp to about one unit in the last place of a double, far below
// the single-precision rounding of the form factor. Underflows to 0.
inline double fast_exp(double x) {
  x = x < -708.0 ? -708.0 : x;
  x = x > 709.0 ? 709.0 : x;
  constexpr double kLog2e = 1.4426950408889634;
  constexpr double kLn2Hi = 6.93147180369123816490e-01;
  constexpr double kLn2Lo = 1.90821492927058770002e-10;
  constexpr double kShift = 6755399441055744.0;  // 1.5 * 2^52: rounds to an integer
  const double t = x * kLog2e + kShift;
  const double n = t - kShift;
  const double r = (x - n * kLn2Hi) - n * kLn2Lo;
  double p = 1.0 / 6227020800.0;
  p = p * r + 1.0 / 479001600.0;
  p = p * r + 1.0 / 39916800.0;
  p = p * r + 1.0 / 3628800.0;
  p = p * r + 1.0 / 362880.0;
  p = p * r + 1.0 / 40320.0;
  p = p * r + 1.0 / 5040.0;
  p = p * r + 1.0 / 720.0;
  p = p * r + 1.0 / 120.0;
  p = p * r + 1.0 / 24.0;
  p = p * r + 1.0 / 6.0;
  p = p * r + 0.5;
  p = p * r + 1.0;
  p = p * r + 1.0;
  // n sits in the low bits of t: 2^n is built from them without a conversion.
  const std::int64_t bits = (std::bit_cast<std::int64_t>(t) - std::bit_cast<std::int64_t>(kShift) + 1023) << 52;
  return p * std::bit_cast<double>(bits);
}

double form_factor(double q, const FormFactorParams& p) {
  const double s = (q * 0.25) / kPi;
  const double s2 = s * s;
  double f = p.c;
  for (int j = 0; j < p.n; ++j) {
    const auto k = static_cast<std::size_t>(j);
    f += p.a[k] * std::exp(-p.b[k] * s2);
  }
  return f;
}

}  // namespace

namespace {

// Term by term over blocks of points, so that the exponentials of a block are
// evaluated side by side; the sum keeps the order c + a1 e1 + a2 e2 ... A
// wider-vector version is chosen at run time where the processor has one.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
void sum_terms(double* fq, const double* q, std::size_t nq, const FormFactorParams& p) {
  constexpr std::size_t kBlock = 256;
  double s2[kBlock], f[kBlock];
  for (std::size_t i0 = 0; i0 < nq; i0 += kBlock) {
    const std::size_t nb = std::min(kBlock, nq - i0);
    for (std::size_t i = 0; i < nb; ++i) {
      const double s = (q[i0 + i] * 0.25) / kPi;
      s2[i] = s * s;
      f[i] = p.c;
    }
    for (int j = 0; j < p.n; ++j) {
      const double a = p.a[static_cast<std::size_t>(j)], b = p.b[static_cast<std::size_t>(j)];
      for (std::size_t i = 0; i < nb; ++i) f[i] += a * fast_exp(-b * s2[i]);
    }
    for (std::size_t i = 0; i < nb; ++i) fq[i0 + i] = static_cast<float>(f[i]);
  }
}

}  // namespace

void foq_wk_qn(std::span<double> fq, std::span<const double> q, const FormFactorParams& p) {
  sum_terms(fq.data(), q.data(), std::min(fq.size(), q.size()), p);
}

double foq_wk_q1(double q, const FormFactorParams& p) { return form_factor(q, p); }

Status foq(std::span<double> fq, std::span<const double> q, FormFactorParams& p, std::string_view symbol,
           FoqMode ifoqmode, DataMode data_mode, int iprint, std::ostream& out, const DataFolder& folder) {
  if (iprint != 0) out << " foq: element=" << symbol << '\n';
  Status status;
  Status lookup;
  if (ifoqmode == FoqMode::kWaasmaierKirfel)
    lookup = get_wkpar_neut(symbol, p, iprint, data_mode, out, folder);
  else if (ifoqmode == FoqMode::kInternationalTables)
    lookup = get_itpar_neut(symbol, p, iprint, data_mode, out, folder);
  else
    return Status::error(11, "**foq Error 11: Unrecognised value for ifoqmode");
  if (!lookup.ok()) {
    if (iprint != 0) {
      pr_int(out, "Error getting form factor parameters, number ", lookup.ierr);
      out << ' ' << lookup.message << '\n';
    }
    return lookup;
  }
  const std::size_t nq = std::min(fq.size(), q.size());
  if (nq > 0 && q[nq - 1] > kFoqQmax)
    status = Status::warning(9, "**foq Error 9: Qmax exceeds Q-range of form factor data");
  foq_wk_qn(fq.first(nq), q.first(nq), p);
  return status;
}

Status zfoq(std::span<double> fq, std::span<const double> q, FormFactorParams& p, double& weight, std::string& symbol,
            int z, FoqMode ifoqmode, DataMode data_mode, int iprint, std::ostream& out, const DataFolder& folder) {
  if (iprint != 0) pr_int(out, "Zfoq: Z=", z);
  Status found = z2ele(symbol, z, weight, iprint, out);
  if (!found.ok()) return found;
  return foq(fq, q, p, symbol, ifoqmode, data_mode, iprint, out, folder);
}

}  // namespace talvo
