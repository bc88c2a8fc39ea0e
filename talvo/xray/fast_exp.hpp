// Exponentials for the form-factor sums (and their benchmark, which
// measures them alone): one branch-free scalar form that compilers evaluate
// several at a time, and eight at once with AVX-512. Private to the library:
// not installed.
#pragma once

#include <bit>
#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TALVO_HAVE_EXP_AVX512 1
// GCC 12 takes the intrinsics' deliberately undefined operands for
// uninitialised values (fixed in GCC 13).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

namespace talvo::detail {

// exp(x) for x <= 709, without branches so that the compiler can evaluate
// several points at once (GCC does so only under -fno-trapping-math: with
// traps assumed it keeps the two clamps as branches, and the loop scalar):
// Cody-Waite reduction to |r| <= ln2/2 and a Taylor polynomial of degree 13
// (truncation below 1e-17 relative). Results agree with std::exp to about
// one unit in the last place of a double, far below the single-precision
// rounding of the form factor. Underflows to 0.
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

#ifdef TALVO_HAVE_EXP_AVX512

// 2^(j/16), j = 0..15, as the double nearest to it and the remainder.
alignas(64) inline constexpr double kExp2Sixteenths[16] = {1.0,
                                                           1.0442737824274138,
                                                           1.0905077326652577,
                                                           1.1387886347566916,
                                                           1.189207115002721,
                                                           1.241857812073484,
                                                           1.2968395546510096,
                                                           1.3542555469368927,
                                                           1.4142135623730951,
                                                           1.4768261459394993,
                                                           1.5422108254079407,
                                                           1.6104903319492543,
                                                           1.681792830507429,
                                                           1.7562521603732995,
                                                           1.8340080864093424,
                                                           1.9152065613971474};
alignas(64) inline constexpr double kExp2SixteenthsLow[16] = {0.0,
                                                              8.551889705537965e-17,
                                                              -3.046782079812471e-17,
                                                              8.912812676025408e-17,
                                                              3.982015231465646e-17,
                                                              4.658027591836937e-17,
                                                              2.5382502794888315e-17,
                                                              7.70094837980299e-17,
                                                              -9.667293313452913e-17,
                                                              -3.483994556892796e-17,
                                                              7.949834809697621e-17,
                                                              2.4707192569797888e-17,
                                                              8.199010020581497e-17,
                                                              2.960140695448873e-17,
                                                              3.283107224245627e-17,
                                                              -1.0619946056195963e-16};

// The tables in registers, as exp_avx512 takes them.
struct Exp2Table {
  __m512d hi0, hi1, lo0, lo1;
};
__attribute__((target("avx512f"))) inline Exp2Table exp2_table() {
  return {_mm512_load_pd(kExp2Sixteenths), _mm512_load_pd(kExp2Sixteenths + 8), _mm512_load_pd(kExp2SixteenthsLow),
          _mm512_load_pd(kExp2SixteenthsLow + 8)};
}

// exp(x) for |x| < 1e14, NaN giving NaN; the caller bounds x (exp_avx512_any
// does it for any x). x = k ln2/16 + r with |r| <= ln2/32; exp(r) from a
// degree-6 Chebyshev fit (error below 1e-17), 2^((k mod 16)/16) from the
// tables by permutes, with its remainder so that the one rounding that
// matters is the last addition, 2^floor(k/16) by scalef, which underflows to
// 0 and overflows to infinity as exp does. Within 0.52 units in the last
// place: the same double as std::exp almost always.
__attribute__((target("avx512f"))) inline __m512d exp_avx512(__m512d x, const Exp2Table& table) {
  const __m512d shift = _mm512_set1_pd(6755399441055744.0);  // 1.5 * 2^52: rounds to an integer
  // k sits in the low bits of t: the permutes read its low four bits as the index.
  const __m512d t = _mm512_fmadd_pd(x, _mm512_set1_pd(23.083120654223414), shift);  // 16 / ln2
  const __m512d k = _mm512_sub_pd(t, shift);
  __m512d r = _mm512_fnmadd_pd(k, _mm512_set1_pd(6.93147180369123816490e-01 / 16), x);
  r = _mm512_fnmadd_pd(k, _mm512_set1_pd(1.90821492927058770002e-10 / 16), r);
  __m512d p = _mm512_fmadd_pd(r, _mm512_set1_pd(0.001388909253274910475), _mm512_set1_pd(0.008333496248686917900));
  p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(0.04166666666188924979));
  p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(0.1666666666284472507));
  p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(0.5000000000000002802));
  p = _mm512_fmadd_pd(p, r, _mm512_set1_pd(1.000000000000002242));
  p = _mm512_mul_pd(p, r);  // exp(r) - 1
  const __m512i j = _mm512_castpd_si512(t);
  const __m512d hi = _mm512_permutex2var_pd(table.hi0, j, table.hi1);
  const __m512d lo = _mm512_permutex2var_pd(table.lo0, j, table.lo1);
  const __m512d y = _mm512_add_pd(hi, _mm512_fmadd_pd(hi, p, lo));
  return _mm512_scalef_pd(y, _mm512_mul_pd(k, _mm512_set1_pd(0.0625)));
}

// exp(x) for any x: x is first limited to +-1e14, far beyond where exp is 0
// or infinite (max and min return their second operand, x, when it is NaN).
__attribute__((target("avx512f"))) inline __m512d exp_avx512_any(__m512d x, const Exp2Table& table) {
  x = _mm512_min_pd(_mm512_set1_pd(1e14), _mm512_max_pd(_mm512_set1_pd(-1e14), x));
  return exp_avx512(x, table);
}

#endif

}  // namespace talvo::detail
