#include "talvo/xray/form_factor_sums.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "talvo/detail/instruction_sets.hpp"
#include "talvo/xray/fast_exp.hpp"

namespace talvo {

namespace detail {

// Built for AVX-512, AVX2 and the baseline, chosen at run time.
#if TALVO_INSTRUCTION_SET_BUILDS
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
void form_factor_sums(const double* q, std::size_t n, const FormFactorParams& p, double* f) {
  constexpr std::size_t kBlock = 256;
  double s2[kBlock];
  for (std::size_t i0 = 0; i0 < n; i0 += kBlock) {
    const std::size_t nb = std::min(kBlock, n - i0);
    double* fb = f + i0;
    for (std::size_t i = 0; i < nb; ++i) {
      const double s = (q[i0 + i] * 0.25) / std::numbers::pi;
      s2[i] = s * s;
      fb[i] = p.c;
    }
    for (int j = 0; j < p.n; ++j) {
      const double a = p.a[static_cast<std::size_t>(j)], b = p.b[static_cast<std::size_t>(j)];
      for (std::size_t i = 0; i < nb; ++i) fb[i] += a * fast_exp(-b * s2[i]);
    }
  }
}

}  // namespace detail

namespace {

using detail::form_factor_sums;

// Without AVX-512: the double-precision sums, rounded to single precision a
// block at a time. Processors with AVX-512 take sum_terms_avx512 instead.
void sum_terms(double* fq, const double* q, std::size_t nq, const FormFactorParams& p) {
  constexpr std::size_t kBlock = 256;
  for (std::size_t i0 = 0; i0 < nq; i0 += kBlock) {
    const std::size_t nb = std::min(kBlock, nq - i0);
    form_factor_sums(q + i0, nb, p, fq + i0);
    for (std::size_t i = i0; i < i0 + nb; ++i) fq[i] = static_cast<float>(fq[i]);
  }
}

#ifdef TALVO_HAVE_EXP_AVX512
constexpr int kMaxTerms = 5;

// The terms as the vector sum uses them. s^2 is capped so that every -b s^2
// lies within what exp_avx512 takes: there, and at any larger s, a term with
// b > 0 is 0; with b < 0 (carbon has one) the exponent stops at 709, as in
// the scalar sum.
struct VectorTerms {
  int n = 0;
  __m512d c, s2_cap, a[kMaxTerms], minus_b[kMaxTerms];
  bool negative_b[kMaxTerms] = {};
};

__attribute__((target("avx512f"))) VectorTerms vector_terms(const FormFactorParams& p) {
  VectorTerms t;
  t.n = std::clamp(p.n, 0, kMaxTerms);
  t.c = _mm512_set1_pd(p.c);
  double largest_b = 0.0;
  for (int j = 0; j < t.n; ++j) {
    const auto k = static_cast<std::size_t>(j);
    t.a[j] = _mm512_set1_pd(p.a[k]);
    t.minus_b[j] = _mm512_set1_pd(-p.b[k]);
    t.negative_b[j] = p.b[k] < 0.0;
    largest_b = std::max(largest_b, std::fabs(p.b[k]));
  }
  t.s2_cap = _mm512_set1_pd(largest_b > 1e-287 ? 1e13 / largest_b : 1e300);
  return t;
}

// f for V vectors of eight points, rounded to single precision. min returns
// its second operand, s^2, when that is NaN.
template <std::size_t V>
__attribute__((target("avx512f"))) inline void sum_vectors(const __m512d (&q)[V], __m512d (&f)[V], const VectorTerms& t,
                                                           const detail::Exp2Table& table) {
  __m512d s2[V];
  for (std::size_t v = 0; v < V; ++v) {
    const __m512d s = _mm512_div_pd(_mm512_mul_pd(q[v], _mm512_set1_pd(0.25)), _mm512_set1_pd(std::numbers::pi));
    s2[v] = _mm512_min_pd(t.s2_cap, _mm512_mul_pd(s, s));
    f[v] = t.c;
  }
  for (int j = 0; j < t.n; ++j)
    for (std::size_t v = 0; v < V; ++v) {
      // Below -708 a term is far below the sum's last digit: it stops there,
      // as fast_exp does, where its exponential is still a normal number (a
      // subnormal result costs a microcode assist on many processors).
      // max returns x, its second operand, when x is NaN.
      __m512d x = _mm512_max_pd(_mm512_set1_pd(-708.0), _mm512_mul_pd(t.minus_b[j], s2[v]));
      if (t.negative_b[j]) x = _mm512_min_pd(_mm512_set1_pd(709.0), x);
      f[v] = _mm512_fmadd_pd(t.a[j], detail::exp_avx512(x, table), f[v]);
    }
  for (std::size_t v = 0; v < V; ++v) f[v] = _mm512_cvtps_pd(_mm512_cvtpd_ps(f[v]));
}

// Four vectors at a time, so that enough independent exponentials are in
// flight to hide their latency; the rest one vector (or part of one) at a time.
__attribute__((target("avx512f"))) void sum_terms_avx512(double* fq, const double* q, std::size_t nq,
                                                         const FormFactorParams& p) {
  const VectorTerms t = vector_terms(p);
  const detail::Exp2Table table = detail::exp2_table();
  constexpr std::size_t kWidth = 8, kVectors = 4;
  std::size_t i = 0;
  for (; i + kWidth * kVectors <= nq; i += kWidth * kVectors) {
    __m512d qv[kVectors], f[kVectors];
    for (std::size_t v = 0; v < kVectors; ++v) qv[v] = _mm512_loadu_pd(q + i + kWidth * v);
    sum_vectors(qv, f, t, table);
    for (std::size_t v = 0; v < kVectors; ++v) _mm512_storeu_pd(fq + i + kWidth * v, f[v]);
  }
  for (; i < nq; i += kWidth) {
    const auto mask = static_cast<__mmask8>((1u << std::min(kWidth, nq - i)) - 1u);
    __m512d qv[1] = {_mm512_maskz_loadu_pd(mask, q + i)}, f[1];
    sum_vectors(qv, f, t, table);
    _mm512_mask_storeu_pd(fq + i, mask, f[0]);
  }
}
#endif

}  // namespace

void single_precision_form_factors(std::span<double> fq, std::span<const double> q, const FormFactorParams& p) {
  const std::size_t nq = std::min(fq.size(), q.size());
#ifdef TALVO_HAVE_EXP_AVX512
  if (__builtin_cpu_supports("avx512f")) return sum_terms_avx512(fq.data(), q.data(), nq, p);
#endif
  sum_terms(fq.data(), q.data(), nq, p);
}

}  // namespace talvo
