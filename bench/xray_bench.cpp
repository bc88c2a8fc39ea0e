// Form factors, beside their floor: the exponentials they evaluate, alone.
// Compton scattering beside the form factors of the same atoms, and the X-ray
// material beside the neutron material of the same formulas.
#include <benchmark/benchmark.h>

#include <sstream>
#include <vector>

#include "talvo/classic/formfactor.hpp"
#include "talvo/neutron/material.hpp"
#include "talvo/xray/compton.hpp"
#include "talvo/xray/fast_exp.hpp"
#include "talvo/xray/formfactor.hpp"
#include "talvo/xray/xray_average.hpp"
#include "talvo/xray/xray_material.hpp"

namespace {

using namespace talvo;

// foq on 1,000,000 Q points with the 5-term Waasmaier-Kirfel sum.
void BM_Foq1M(benchmark::State& state) {
  std::vector<double> q(1000000), f(q.size());
  for (std::size_t i = 0; i < q.size(); ++i) q[i] = 75.0 * static_cast<double>(i) / static_cast<double>(q.size());
  FormFactorParams p;
  std::ostringstream out;
  for (auto _ : state) {
    if (classic::foq(f, q, p, "Fe", classic::FoqMode::kWaasmaierKirfel, classic::DataMode::kTablesInProgram, 0, out)
            .failed())
      state.SkipWithError("foq failed");
    benchmark::DoNotOptimize(f.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long long>(q.size()));
}
BENCHMARK(BM_Foq1M)->Unit(benchmark::kMillisecond);

// The floor of BM_Foq1M: as many exponentials (5 per point) and nothing else,
// over a plain array small enough to stay in the level-1 cache, so that
// memory never limits it. The arguments span those of foq's terms.
constexpr std::size_t kFloorArray = 1000, kFloorPasses = 5000;

std::vector<double> floor_arguments() {
  std::vector<double> x(kFloorArray);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = -50.0 * static_cast<double>(i) / static_cast<double>(x.size());
  return x;
}

#ifdef TALVO_HAVE_EXP_AVX512
__attribute__((target("avx512f"))) void exp_array_avx512(double* y, const double* x, std::size_t n) {
  const detail::Exp2Table table = detail::exp2_table();
  for (std::size_t i = 0; i + 8 <= n; i += 8)
    _mm512_storeu_pd(y + i, detail::exp_avx512_any(_mm512_loadu_pd(x + i), table));
}
#endif

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void exp_array(double* __restrict y, const double* __restrict x, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) y[i] = detail::fast_exp(x[i]);
}

#ifdef TALVO_BENCH_LIBMVEC
// glibc's vectorised exponential: eight at a time with AVX-512, four with AVX2.
extern "C" __m512d _ZGVeN8v_exp(__m512d);
extern "C" __m256d _ZGVdN4v_exp(__m256d);

__attribute__((target("avx512f"))) void exp_array_libmvec512(double* y, const double* x, std::size_t n) {
  for (std::size_t i = 0; i + 8 <= n; i += 8) _mm512_storeu_pd(y + i, _ZGVeN8v_exp(_mm512_loadu_pd(x + i)));
}

__attribute__((target("avx2"))) void exp_array_libmvec256(double* y, const double* x, std::size_t n) {
  for (std::size_t i = 0; i + 4 <= n; i += 4) _mm256_storeu_pd(y + i, _ZGVdN4v_exp(_mm256_loadu_pd(x + i)));
}
#endif

using ExpArray = void (*)(double*, const double*, std::size_t);

// 5*10^6 exponentials of the floor's arguments through `run`.
void time_exponentials(benchmark::State& state, ExpArray run) {
  const std::vector<double> x = floor_arguments();
  std::vector<double> y(x.size());
  for (auto _ : state) {
    for (std::size_t pass = 0; pass < kFloorPasses; ++pass) {
      run(y.data(), x.data(), x.size());
      benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(y.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long long>(kFloorArray * kFloorPasses));
}

// The best exponential the library has on this processor, as foq chooses
// it: the AVX-512 one where there is AVX-512, here taking any argument (foq
// bounds its arguments once per point instead); else the scalar form,
// several at a time (four with AVX2).
void BM_ExpFloor5M(benchmark::State& state) {
  ExpArray run = exp_array;
#ifdef TALVO_HAVE_EXP_AVX512
  if (__builtin_cpu_supports("avx512f")) run = exp_array_avx512;
#endif
  time_exponentials(state, run);
}
BENCHMARK(BM_ExpFloor5M)->Unit(benchmark::kMillisecond);

#ifdef TALVO_BENCH_LIBMVEC
// glibc's vectorised exponential at the widest this processor takes, for
// comparison with the floor.
void BM_ExpLibmvec5M(benchmark::State& state) {
  if (__builtin_cpu_supports("avx512f")) return time_exponentials(state, exp_array_libmvec512);
  if (__builtin_cpu_supports("avx2")) return time_exponentials(state, exp_array_libmvec256);
  state.SkipWithError("neither AVX-512 nor AVX2");
}
BENCHMARK(BM_ExpLibmvec5M)->Unit(benchmark::kMillisecond);
#endif

// Compton scattering of SiO2 on 10^6 Q from 0 to 25 per Angstrom (the
// Hubbell splines of Si and O, in a fresh result each call) ...
std::vector<double> q_1m() {
  std::vector<double> q(1000000);
  for (std::size_t i = 0; i < q.size(); ++i) q[i] = 25.0 * static_cast<double>(i) / static_cast<double>(q.size());
  return q;
}

void BM_ComptonSiO2_1M(benchmark::State& state) {
  const std::vector<double> q = q_1m();
  for (auto _ : state) {
    Result<std::vector<double>> c = compton("SiO2", q);
    if (!c.ok()) state.SkipWithError("compton failed");
    benchmark::DoNotOptimize(c->data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long long>(q.size()));
}
BENCHMARK(BM_ComptonSiO2_1M)->Unit(benchmark::kMillisecond);

// ... and its reference: the form factors of the same atoms, Si and O, on the
// same grid (target: Compton within 2x of this).
void BM_FormFactorSiO_1M(benchmark::State& state) {
  const std::vector<double> q = q_1m();
  for (auto _ : state) {
    Result<std::vector<double>> si = form_factor("Si", q), o = form_factor("O", q);
    if (!si.ok() || !o.ok()) state.SkipWithError("form_factor failed");
    benchmark::DoNotOptimize(si);
    benchmark::DoNotOptimize(o);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long long>(q.size()));
}
BENCHMARK(BM_FormFactorSiO_1M)->Unit(benchmark::kMillisecond);

// The X-ray material of the neutron benchmark's formulas at Cu K alpha 1 with
// a density (target: within 2x of BM_MaterialFromFormula).
const char* const kXrayFormulas[] = {"H2O",         "D2O",        "SiO2", "Gd2O3", "CuSO4+5H2O",
                                     "Ca(OH)2",     "Ni0.3Ti0.7", "LiF",  "Fe2O3", "Mg3(Si4O10)(OH)2",
                                     "K4(Fe(CN)6)", "B4C"};

void BM_XrayMaterialFromFormula(benchmark::State& state) {
  XrayMaterialOptions o;
  o.density = 2.0;
  std::size_t i = 0;
  for (auto _ : state) {
    Result<XrayMaterial> m = xray_material_from_formula(kXrayFormulas[i++ % std::size(kXrayFormulas)], 8.04778, o);
    if (!m.ok()) state.SkipWithError("xray material failed");
    benchmark::DoNotOptimize(m->mu_total);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_XrayMaterialFromFormula);

}  // namespace
