#include "talvo/xray/form_factor_sums.hpp"

#include <algorithm>
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

}  // namespace talvo
