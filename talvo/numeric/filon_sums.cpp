#include "talvo/numeric/filon_sums.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "talvo/detail/instruction_sets.hpp"
#include "talvo/detail/vec_of.hpp"

namespace talvo::filon_detail {
namespace {

using talvo::detail::VecOf;

// Points between anchors, and anchors between fresh ones. Within a stretch
// the recurrence drifts by about one rounding per point. Every kFresh-th
// anchor takes the sines afresh at the grid point itself; the anchors between
// come from the one before, turned by the stretch's angle (its sine and
// cosine taken once), which drifts by a rounding or two an anchor. Both keep
// the drift far below single precision, and the standard library's sine,
// the costliest step, is called once every kStretch * kFresh points. The
// results are the same, bit for bit, whatever the width of the machine.
constexpr std::size_t kStretch = 64, kFresh = 16;

// The most functions carried through the grid together.
constexpr std::size_t kMostTogether = 6;

// P functions on one grid; each one's sums land in its own outputs.
struct Arrays {
  const double* x;
  std::size_t n;
  const double* k;
  std::size_t nk;
  std::size_t patterns;
  const double* f[kMostTogether];
  const double* v[kMostTogether];
  double* f_odd[kMostTogether];
  double* f_even[kMostTogether];
  double* v_odd[kMostTogether];
  double* v_even[kMostTogether];
};

// kVecs * kLanes values of k are carried through the grid together: enough
// independent recurrences to keep the multipliers busy, few enough to stay
// in registers. With P functions on the grid each sine serves all P, and the
// sums of all P take the multipliers' time. Each lane and each function does
// the same operations in the same order, so every build and every grouping
// of functions gives the same sums.
template <bool kWithF, bool kWithV, std::size_t kLanes, std::size_t kVecs, std::size_t kP>
[[gnu::always_inline]] inline void sums_in(double h, const Arrays& a) {
  using Vec = typename VecOf<kLanes>::type;
  constexpr std::size_t kWidth = kVecs * kLanes;
  for (std::size_t m0 = 0; m0 < a.nk; m0 += kWidth) {
    const std::size_t nb = std::min(kWidth, a.nk - m0);
    double kv[kWidth];
    for (std::size_t b = 0; b < kWidth; ++b) kv[b] = b < nb ? a.k[m0 + b] : 0.0;
    // sin(k x) and cos(k x) of every k, each from the standard library.
    const auto sines = [&kv](double x, Vec(&sn)[kVecs], Vec(&cs)[kVecs]) {
      for (std::size_t u = 0; u < kVecs; ++u) {
        double s[kLanes], c[kLanes];
        for (std::size_t l = 0; l < kLanes; ++l) {
          s[l] = std::sin(kv[u * kLanes + l] * x);
          c[l] = std::cos(kv[u * kLanes + l] * x);
        }
        std::memcpy(&sn[u], s, sizeof s);
        std::memcpy(&cs[u], c, sizeof c);
      }
    };
    Vec step_s[kVecs], step_c[kVecs], turn_s[kVecs]{}, turn_c[kVecs]{}, anchor_s[kVecs]{}, anchor_c[kVecs]{};
    sines(h, step_s, step_c);
    if (a.n > kStretch) sines(h * static_cast<double>(kStretch), turn_s, turn_c);
    Vec f_odd[kP][kVecs], f_even[kP][kVecs], v_odd[kP][kVecs], v_even[kP][kVecs];
    for (std::size_t p = 0; p < kP; ++p)
      for (std::size_t u = 0; u < kVecs; ++u) f_odd[p][u] = f_even[p][u] = v_odd[p][u] = v_even[p][u] = Vec{};
    for (std::size_t i0 = 0, stretch = 0; i0 < a.n; i0 += kStretch, ++stretch) {
      if (stretch % kFresh == 0) {
        sines(a.x[i0], anchor_s, anchor_c);
      } else {
        for (std::size_t u = 0; u < kVecs; ++u) {
          const Vec s = anchor_s[u] * turn_c[u] + anchor_c[u] * turn_s[u];
          anchor_c[u] = anchor_c[u] * turn_c[u] - anchor_s[u] * turn_s[u];
          anchor_s[u] = s;
        }
      }
      Vec sn[kVecs], cs[kVecs];
      for (std::size_t u = 0; u < kVecs; ++u) {
        sn[u] = anchor_s[u];
        cs[u] = anchor_c[u];
      }
      const std::size_t i1 = std::min(a.n, i0 + kStretch);
      // Stretches start on an odd point number, so points go in (odd, even) pairs.
      std::size_t i = i0;
      for (; i + 1 < i1; i += 2) {
        double f0[kP], f1[kP], v0[kP], v1[kP];
        for (std::size_t p = 0; p < kP; ++p) {
          f0[p] = kWithF ? a.f[p][i] : 0.0;
          f1[p] = kWithF ? a.f[p][i + 1] : 0.0;
          v0[p] = kWithV ? a.v[p][i] : 0.0;
          v1[p] = kWithV ? a.v[p][i + 1] : 0.0;
        }
        for (std::size_t u = 0; u < kVecs; ++u) {
          for (std::size_t p = 0; p < kP; ++p) {
            if constexpr (kWithF) f_odd[p][u] += f0[p] * sn[u];
            if constexpr (kWithV) v_odd[p][u] += v0[p] * (sn[u] * sn[u]);
          }
          const Vec s1 = sn[u] * step_c[u] + cs[u] * step_s[u];
          const Vec c1 = cs[u] * step_c[u] - sn[u] * step_s[u];
          for (std::size_t p = 0; p < kP; ++p) {
            if constexpr (kWithF) f_even[p][u] += f1[p] * s1;
            if constexpr (kWithV) v_even[p][u] += v1[p] * (s1 * s1);
          }
          sn[u] = s1 * step_c[u] + c1 * step_s[u];
          cs[u] = c1 * step_c[u] - s1 * step_s[u];
        }
      }
      if (i < i1) {
        for (std::size_t u = 0; u < kVecs; ++u)
          for (std::size_t p = 0; p < kP; ++p) {
            if constexpr (kWithF) f_odd[p][u] += a.f[p][i] * sn[u];
            if constexpr (kWithV) v_odd[p][u] += a.v[p][i] * (sn[u] * sn[u]);
          }
      }
    }
    for (std::size_t p = 0; p < kP; ++p)
      for (std::size_t b = 0; b < nb; ++b) {
        const std::size_t u = b / kLanes, l = b % kLanes;
        if constexpr (kWithF) {
          a.f_odd[p][m0 + b] = f_odd[p][u][l];
          a.f_even[p][m0 + b] = f_even[p][u][l];
        }
        if constexpr (kWithV) {
          a.v_odd[p][m0 + b] = v_odd[p][u][l];
          a.v_even[p][m0 + b] = v_even[p][u][l];
        }
      }
  }
}

// One function alone, or up to six together. Alone it goes in as many
// vectors as the registers hold: sixteen (AVX2, SSE2) hold three vectors'
// sines, cosines and sums, thirty-two (AVX-512) four. Together they go one
// vector at a time: each further function sharing the sines gains more than
// the registers it spills lose (on AVX2 six take 57 % of the time of six
// alone, three 80 %).
template <bool kWithF, bool kWithV, std::size_t kLanes, std::size_t kVecsAlone>
[[gnu::always_inline]] inline void sums_of(double h, const Arrays& a) {
  switch (a.patterns) {
    case 1:
      return sums_in<kWithF, kWithV, kLanes, kVecsAlone, 1>(h, a);
    case 2:
      return sums_in<kWithF, kWithV, kLanes, 1, 2>(h, a);
    case 3:
      return sums_in<kWithF, kWithV, kLanes, 1, 3>(h, a);
    case 4:
      return sums_in<kWithF, kWithV, kLanes, 1, 4>(h, a);
    case 5:
      return sums_in<kWithF, kWithV, kLanes, 1, 5>(h, a);
    default:
      return sums_in<kWithF, kWithV, kLanes, 1, 6>(h, a);
  }
}

// One build per instruction set.
template <bool kWithF, bool kWithV>
void sums_baseline(double h, const Arrays& a) {
  sums_of<kWithF, kWithV, 2, 3>(h, a);
}

#if TALVO_INSTRUCTION_SET_BUILDS
template <bool kWithF, bool kWithV>
__attribute__((target("avx2"))) void sums_avx2(double h, const Arrays& a) {
  sums_of<kWithF, kWithV, 4, 3>(h, a);
}

template <bool kWithF, bool kWithV>
__attribute__((target("avx512f"))) void sums_avx512(double h, const Arrays& a) {
  sums_of<kWithF, kWithV, 8, (kWithF && kWithV) ? 3 : 4>(h, a);
}
#endif

template <bool kWithF, bool kWithV>
void sums(SumsBuild build, double h, const Arrays& a) {
  switch (build) {
#if TALVO_INSTRUCTION_SET_BUILDS
    case SumsBuild::kAvx512:
      return sums_avx512<kWithF, kWithV>(h, a);
    case SumsBuild::kAvx2:
      return sums_avx2<kWithF, kWithV>(h, a);
#endif
    default:
      return sums_baseline<kWithF, kWithV>(h, a);
  }
}

}  // namespace

std::vector<SumsBuild> sums_builds() {
  std::vector<SumsBuild> builds{SumsBuild::kBaseline};
#if TALVO_INSTRUCTION_SET_BUILDS
  if (__builtin_cpu_supports("avx2")) builds.push_back(SumsBuild::kAvx2);
  if (__builtin_cpu_supports("avx512f")) builds.push_back(SumsBuild::kAvx512);
#endif
  return builds;
}

void filon_sums(std::span<const double> x, double h, std::span<const double> f, std::span<const double> v,
                std::span<const double> k, const SumsOut& out, SumsBuild build) {
  const std::span<const double> fs[] = {f}, vs[] = {v};
  filon_sums_many(x, h, fs, vs, k, std::span<const SumsOut>(&out, 1), build);
}

void filon_sums_many(std::span<const double> x, double h, std::span<const std::span<const double>> f,
                     std::span<const std::span<const double>> v, std::span<const double> k,
                     std::span<const SumsOut> out, SumsBuild build) {
  if (build == SumsBuild::kBest) {
    static const SumsBuild best = sums_builds().back();
    build = best;
  }
  const std::size_t patterns = out.size();
  if (patterns == 0) return;
  const bool with_f = !f.front().empty(), with_v = !v.front().empty();
  for (std::size_t first = 0; first < patterns; first += kMostTogether) {
    Arrays a{};
    a.x = x.data();
    a.n = with_f ? f.front().size() : v.front().size();
    a.k = k.data();
    a.nk = k.size();
    a.patterns = std::min(kMostTogether, patterns - first);
    for (std::size_t p = 0; p < a.patterns; ++p) {
      const std::size_t q = first + p;
      a.f[p] = with_f ? f[q].data() : nullptr;
      a.v[p] = with_v ? v[q].data() : nullptr;
      a.f_odd[p] = out[q].f_odd.data();
      a.f_even[p] = out[q].f_even.data();
      a.v_odd[p] = out[q].v_odd.data();
      a.v_even[p] = out[q].v_even.data();
    }
    if (with_f && with_v)
      sums<true, true>(build, h, a);
    else if (with_f)
      sums<true, false>(build, h, a);
    else if (with_v)
      sums<false, true>(build, h, a);
  }
}

EndTerms end_terms(double h, double k, double x_first, double x_last) {
  return {filon_abc(h * k), std::sin(k * x_first), std::cos(k * x_first), std::sin(k * x_last),
          std::cos(k * x_last)};
}

double filon_value(double h, const EndTerms& t, const Ends& e, double odd, double even) {
  const double s_first = e.f_first * t.s_first, s_last = e.f_last * t.s_last;
  const double ends = e.f_first * t.c_first - e.f_last * t.c_last;
  return h * (t.w.alpha * ends + t.w.beta * (odd - 0.5 * (s_first + s_last)) + t.w.gamma * even);
}

double filon_variance(double h, const EndTerms& t, const Ends& e, double v_odd, double v_even) {
  const FilonWeights& w = t.w;
  const double s1 = t.s_first, c1 = t.c_first, sn = t.s_last, cn = t.c_last;
  // The end points carry half the odd weight and the cosine term: their
  // share of the odd sum is taken out and put back with their own weight.
  const double interior_odd = v_odd - e.f_first * s1 * s1 - e.f_last * sn * sn;
  const double w_first = w.alpha * c1 + 0.5 * w.beta * s1, w_last = -w.alpha * cn + 0.5 * w.beta * sn;
  const double var = w.beta * w.beta * interior_odd + w.gamma * w.gamma * v_even + w_first * w_first * e.f_first +
                     w_last * w_last * e.f_last;
  return h * h * std::max(0.0, var);
}

double filon_value(double h, double k, const Ends& e, double odd, double even) {
  return filon_value(h, end_terms(h, k, e.x_first, e.x_last), e, odd, even);
}

}  // namespace talvo::filon_detail
