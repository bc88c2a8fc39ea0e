#include "talvo/pdf/running_integral.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "talvo/detail/instruction_sets.hpp"
#include "talvo/detail/vec_of.hpp"

namespace talvo::pdf {
namespace {

using talvo::detail::VecOf;

// Q steps between exact sin and cos: the rotation drifts by about 1e-16 a
// step, 1e-13 after this many.
constexpr std::size_t kSeed = 1024;

struct Terms {
  const double* q;
  const double* c2;   // c_i^2
  const double* iq2;  // 1 / Q_i^2
  const double* k0;   // K(Q_i, r0)
  std::size_t n;
};

// kVecs * kLanes values of r carried through every Q together, their sines,
// cosines and sums in registers.
template <std::size_t kLanes, std::size_t kVecs>
[[gnu::always_inline]] inline void block_sums(const Terms& t, const double* r, double h, double* acc) {
  using Vec = typename VecOf<kLanes>::type;
  static_assert(sizeof(Vec) == kLanes * sizeof(double));
  constexpr std::size_t kWidth = kLanes * kVecs;
  double buf_c[kWidth], buf_s[kWidth];
  for (std::size_t j = 0; j < kWidth; ++j) {
    buf_c[j] = std::cos(h * r[j]);
    buf_s[j] = std::sin(h * r[j]);
  }
  Vec rr[kVecs], ch[kVecs], sh[kVecs], cs[kVecs], sn[kVecs], a[kVecs];
  for (std::size_t u = 0; u < kVecs; ++u) {
    std::memcpy(&rr[u], r + u * kLanes, sizeof rr[u]);
    std::memcpy(&ch[u], buf_c + u * kLanes, sizeof ch[u]);
    std::memcpy(&sh[u], buf_s + u * kLanes, sizeof sh[u]);
    a[u] = Vec{};
  }
  for (std::size_t i0 = 0; i0 < t.n; i0 += kSeed) {
    for (std::size_t j = 0; j < kWidth; ++j) {
      buf_c[j] = std::cos(t.q[i0] * r[j]);
      buf_s[j] = std::sin(t.q[i0] * r[j]);
    }
    for (std::size_t u = 0; u < kVecs; ++u) {
      std::memcpy(&cs[u], buf_c + u * kLanes, sizeof cs[u]);
      std::memcpy(&sn[u], buf_s + u * kLanes, sizeof sn[u]);
    }
    const std::size_t i1 = std::min(t.n, i0 + kSeed);
    for (std::size_t i = i0; i < i1; ++i) {
      const double qi = t.q[i], c2 = t.c2[i], iq2 = t.iq2[i], k0 = t.k0[i];
      for (std::size_t u = 0; u < kVecs; ++u) {
        const Vec k = (sn[u] - (qi * rr[u]) * cs[u]) * iq2 - k0;
        a[u] += (c2 * k) * k;
        const Vec c = cs[u] * ch[u] - sn[u] * sh[u];
        sn[u] = sn[u] * ch[u] + cs[u] * sh[u];
        cs[u] = c;
      }
    }
  }
  for (std::size_t u = 0; u < kVecs; ++u) std::memcpy(acc + u * kLanes, &a[u], sizeof a[u]);
}

// The r values one call takes.
constexpr std::size_t kBlock = 32;

void sums_baseline(const Terms& t, const double* r, double h, double* acc) {
  for (std::size_t j = 0; j < kBlock; j += 4) block_sums<2, 2>(t, r + j, h, acc + j);
}
#if TALVO_INSTRUCTION_SET_BUILDS
__attribute__((target("avx2,fma"))) void sums_avx2(const Terms& t, const double* r, double h, double* acc) {
  for (std::size_t j = 0; j < kBlock; j += 8) block_sums<4, 2>(t, r + j, h, acc + j);
}
__attribute__((target("avx512f"))) void sums_avx512(const Terms& t, const double* r, double h, double* acc) {
  block_sums<8, 4>(t, r, h, acc);
}
#endif

using Sums = void (*)(const Terms&, const double*, double, double*);
Sums best_sums() {
#if TALVO_INSTRUCTION_SET_BUILDS
  if (__builtin_cpu_supports("avx512f")) return sums_avx512;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return sums_avx2;
#endif
  return sums_baseline;
}

double kernel(double q, double r) { return (std::sin(q * r) - q * r * std::cos(q * r)) / (q * q); }

}  // namespace

std::vector<double> running_integral_sigma(std::span<const double> q, double h, std::span<const double> c,
                                           std::span<const double> r, double r0, const StopCheck& stop) {
  std::vector<double> out(r.size(), 0.0);
  // Only the points that carry an error; they are equally spaced from the first.
  std::size_t first = 0, last = c.size();
  while (first < last && (c[first] == 0.0 || q[first] <= 0.0)) ++first;
  while (last > first && c[last - 1] == 0.0) --last;
  if (first == last || r.empty()) return out;
  const std::size_t n = last - first;
  std::vector<double> qs(n), c2(n), iq2(n), k0(n);
  for (std::size_t i = 0; i < n; ++i) {
    qs[i] = q[first] + static_cast<double>(i) * h;
    c2[i] = c[first + i] * c[first + i];
    iq2[i] = 1.0 / (qs[i] * qs[i]);
    k0[i] = r0 == 0.0 ? 0.0 : kernel(qs[i], r0);
  }
  const Terms t{qs.data(), c2.data(), iq2.data(), k0.data(), n};
  static const Sums sums = best_sums();
  std::array<double, kBlock> rb{}, acc{};
  for (std::size_t j0 = 0; j0 < r.size(); j0 += kBlock) {
    const std::size_t m = std::min(kBlock, r.size() - j0);
    for (std::size_t j = 0; j < kBlock; ++j) rb[j] = j < m ? r[j0 + j] : r0;
    sums(t, rb.data(), h, acc.data());
    for (std::size_t j = 0; j < m; ++j) out[j0 + j] = rb[j] == r0 ? 0.0 : std::sqrt(acc[j]);
    if (stop_asked(stop)) return {};
  }
  return out;
}

}  // namespace talvo::pdf
