// The exact Placzek integral a point, forward, where the quasi-elastic line
// is narrowest: V and H with a 1/v detector at 300 K and 0.7 A, at 2theta
// 0.001, 0.1, 1 and 5 degrees (BM_PlaczekForward), beside its floor: the
// free-gas kernel with its detector weight at 300 nodes, ten 10-point
// Gauss-Legendre pieces each checked once by their halves (what the
// exponentials alone cost, with no search for the line's extent and no
// refinement), BM_PlaczekKernelFloor.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

#include "talvo/neutron/placzek.hpp"

namespace {

void BM_PlaczekForward(benchmark::State& state) {
  talvo::PlaczekOptions o;
  o.wavelength = 0.7;
  o.temperature = 300;
  o.detector_alpha = 1.0;
  const double mass = state.range(0) == 0 ? 50.5 : 0.99917;
  for (auto _ : state) {
    double sum = 0;
    for (double tt : {0.001, 0.1, 1.0, 5.0}) {
      const talvo::Result<double> p = talvo::placzek_exact(tt, mass, o);
      if (!p.ok()) {
        state.SkipWithError(p.error().message.c_str());
        return;
      }
      sum += *p;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(4 * state.iterations());
}
BENCHMARK(BM_PlaczekForward)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_PlaczekKernelFloor(benchmark::State& state) {
  const double inv_mass = 1 / 50.5, tau = 0.155, a = 1.0 / 8.976, sin2 = 7.6e-5;
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0; i < 300; ++i) {
      const double s = 0.99 + 2e-4 * i, d = 1 - s, e_r = (d * d + 4 * s * sin2) * inv_mass, w = d * (2 - d);
      const double g = std::exp(-(w - e_r) * (w - e_r) / (4 * e_r * tau)) / std::sqrt(4 * std::numbers::pi * e_r * tau);
      sum += 2 * s * s * std::expm1(-a / s) / std::expm1(-a) * g * std::cosh(1e-3 * i);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlaczekKernelFloor)->Unit(benchmark::kMicrosecond);

}  // namespace
