// The neutron sample's attenuation factors: all four, LaB6 in a vanadium can
// lit by a beam narrower and lower than the sample, at 500 detectors, 1e-4
// converged (BM_NeutronFactors500), beside its floor: the same four means by
// a fixed 16 x 16 Gauss-Legendre rule a region at the 181 whole degrees
// the table is made on, with no pieces, no doubling and no height integral
// (what the paths and exponentials alone cost, the table's interpolation
// left out), BM_NeutronFactorsFloor.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "talvo/pdf/neutron_attenuation.hpp"

namespace {

using namespace talvo::pdf;

const NeutronCylinder kCan{0.295, 5.68, 4.046, 0.295, 0.315, 5.68, 0.734};

void BM_NeutronFactors500(benchmark::State& state) {
  std::vector<double> tt;
  for (int i = 0; i < 500; ++i) tt.push_back(0.18 * i + 0.1);
  NeutronBeam beam;
  beam.width = 0.4;
  beam.height = 3.0;
  for (auto _ : state) {
    talvo::Result<NeutronFactorTable> t = cylinder_factor_table(tt, 0.0, kCan, beam, 1e-4);
    if (!t.ok()) state.SkipWithError(t.error().message.c_str());
    benchmark::DoNotOptimize(t->a_c_c.data());
  }
}
BENCHMARK(BM_NeutronFactors500)->Unit(benchmark::kMillisecond);

double chord(double x, double y, double ux, double uy, double rho) {
  const double b = x * ux + y * uy, d = b * b - (x * x + y * y - rho * rho);
  if (d <= 0) return 0;
  const double s = std::sqrt(d), hi = -b + s;
  return hi > 0 ? hi - std::max(-b - s, 0.0) : 0;
}

void BM_NeutronFactorsFloor(benchmark::State& state) {
  // 16-point Gauss-Legendre nodes on [-1, 1], by Newton's method once.
  std::vector<double> gx(16), gw(16);
  for (int i = 0; i < 16; ++i) {
    double z = std::cos(std::numbers::pi * (i + 0.75) / 16.5), dp = 1;
    for (int it = 0; it < 50; ++it) {
      double p0 = 1, p1 = 0;
      for (int k = 1; k <= 16; ++k) {
        const double p2 = p1;
        p1 = p0;
        p0 = ((2.0 * k - 1) * z * p1 - (k - 1.0) * p2) / k;
      }
      dp = 16 * (z * p0 - p1) / (z * z - 1);
      z -= p0 / dp;
    }
    gx[static_cast<std::size_t>(i)] = z;
    gw[static_cast<std::size_t>(i)] = 2 / ((1 - z * z) * dp * dp);
  }
  const double r = kCan.radius, ro = kCan.can_outer;
  for (auto _ : state) {
    double total = 0;
    for (int deg = 0; deg <= 180; ++deg) {
      const double ux = std::cos(deg * std::numbers::pi / 180), uy = std::sin(deg * std::numbers::pi / 180);
      for (int region = 0; region < 2; ++region) {
        const double a = region == 0 ? 0 : r, b = region == 0 ? r : ro;
        double s1 = 0, s2 = 0;
        for (std::size_t i = 0; i < 16; ++i) {
          const double rad = 0.5 * (a + b) + 0.5 * (b - a) * gx[i];
          for (std::size_t j = 0; j < 16; ++j) {
            const double phi = std::numbers::pi * (1 + gx[j]), x = rad * std::cos(phi), y = rad * std::sin(phi);
            const double ls = chord(x, y, -1, 0, r) + chord(x, y, ux, uy, r);
            const double lc = chord(x, y, -1, 0, ro) + chord(x, y, ux, uy, ro) - ls;
            const double w = gw[i] * gw[j] * rad;
            s1 += w * std::exp(-kCan.mu * ls - (region ? kCan.can_mu * lc : 0));
            s2 += w * std::exp(-(region ? 0 : kCan.mu * ls) - kCan.can_mu * lc);
          }
        }
        total += s1 + s2;
      }
    }
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_NeutronFactorsFloor)->Unit(benchmark::kMillisecond);

}  // namespace
