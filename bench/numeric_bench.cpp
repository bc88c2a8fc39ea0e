// Filon integration.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "talvo/numeric/filon.hpp"

namespace {

using namespace talvo;

// filon_ft with n = 4001 points and nk = 4000 k values, and the same by direct sines.
struct FilonCase {
  std::vector<double> x, f, k, r;
  FilonCase() {
    for (int i = 0; i < 4001; ++i) {
      x.push_back(0.01 * i);
      f.push_back(std::exp(-0.05 * x.back()) * std::sin(1.7 * x.back()));
    }
    for (int m = 0; m < 4000; ++m) k.push_back(0.0125 * m);
    r.resize(k.size());
  }
};

void BM_FilonFt(benchmark::State& state) {
  FilonCase c;
  for (auto _ : state) {
    filon_ft(c.x, c.f, c.k, c.r);
    benchmark::DoNotOptimize(c.r.data());
  }
}
BENCHMARK(BM_FilonFt)->Unit(benchmark::kMillisecond);

void BM_FilonDirect(benchmark::State& state) {
  FilonCase c;
  for (auto _ : state) {
    for (std::size_t m = 0; m < c.k.size(); ++m) filon_integral(c.x, c.f, 0.01, c.k[m], c.r[m]);
    benchmark::DoNotOptimize(c.r.data());
  }
}
BENCHMARK(BM_FilonDirect)->Unit(benchmark::kMillisecond);

}  // namespace
