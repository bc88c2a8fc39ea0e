// Filon integration and S(Q) -> G(r).
#include <benchmark/benchmark.h>

#include <cmath>
#include <span>
#include <vector>

#include "talvo/numeric/filon.hpp"
#include "talvo/numeric/sq2gr.hpp"

namespace {

using namespace talvo;

// n points of a damped oscillation on a step of 0.01, and nk values of k.
struct FilonCase {
  std::vector<double> x, f, k, r;
  FilonCase(int n, int nk, double k_step) {
    for (int i = 0; i < n; ++i) {
      x.push_back(0.01 * i);
      f.push_back(std::exp(-0.05 * x.back()) * std::sin(1.7 * x.back()));
    }
    for (int m = 0; m < nk; ++m) k.push_back(k_step * m);
    r.resize(k.size());
  }
};

// filon_ft (single precision) with n = 4001 points and nk = 4000 k values.
void BM_FilonFt(benchmark::State& state) {
  FilonCase c(4001, 4000, 0.0125);
  for (auto _ : state) {
    Result<FilonTransform> t = filon_ft(c.x, c.f, c.k);
    benchmark::DoNotOptimize(t->integral.data());
  }
}
BENCHMARK(BM_FilonFt)->Unit(benchmark::kMillisecond);

// A series' transform: three, four or six functions with their errors on one
// grid of 3001 points to 3000 r, in double precision, as the reduction takes
// them; one function alone beside them (floor: BM_FilonFtOneWithErrors times
// as many).
void filon_with_errors(benchmark::State& state, std::size_t functions) {
  FilonCase c(3001, 3000, 0.01);
  std::vector<double> sigma(c.f.size(), 0.01);
  const std::vector<std::span<const double>> fs(functions, c.f), ss(functions, sigma);
  FilonOptions o;
  o.single_precision = false;
  for (auto _ : state) {
    Result<std::vector<FilonTransform>> t = filon_ft_many(c.x, fs, ss, c.k, o);
    benchmark::DoNotOptimize(t->front().integral.data());
  }
}
void BM_FilonFtOneWithErrors(benchmark::State& state) { filon_with_errors(state, 1); }
void BM_FilonFtThreeWithErrors(benchmark::State& state) { filon_with_errors(state, 3); }
BENCHMARK(BM_FilonFtOneWithErrors)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilonFtThreeWithErrors)->Unit(benchmark::kMillisecond);
void BM_FilonFtFourWithErrors(benchmark::State& state) { filon_with_errors(state, 4); }
BENCHMARK(BM_FilonFtFourWithErrors)->Unit(benchmark::kMillisecond);
void BM_FilonFtSixWithErrors(benchmark::State& state) { filon_with_errors(state, 6); }
BENCHMARK(BM_FilonFtSixWithErrors)->Unit(benchmark::kMillisecond);

// The same integrals the obvious way: per k, sin(k x_i) at every point from
// the standard library, summed over odd and even points, and Filon's weights.
void BM_FilonDirect(benchmark::State& state) {
  FilonCase c(4001, 4000, 0.0125);
  const std::size_t n = c.x.size();
  const double h = c.x[1] - c.x[0];
  for (auto _ : state) {
    for (std::size_t m = 0; m < c.k.size(); ++m) {
      const double k = c.k[m];
      double odd = 0, even = 0;
      for (std::size_t i = 0; i < n; i += 2) odd += c.f[i] * std::sin(k * c.x[i]);
      for (std::size_t i = 1; i < n; i += 2) even += c.f[i] * std::sin(k * c.x[i]);
      odd -= 0.5 * (c.f[0] * std::sin(k * c.x[0]) + c.f[n - 1] * std::sin(k * c.x[n - 1]));
      const double ends = c.f[0] * std::cos(k * c.x[0]) - c.f[n - 1] * std::cos(k * c.x[n - 1]);
      const FilonWeights w = filon_abc(h * k);
      c.r[m] = static_cast<float>(h * (w.alpha * ends + w.beta * odd + w.gamma * even));
    }
    benchmark::DoNotOptimize(c.r.data());
  }
}
BENCHMARK(BM_FilonDirect)->Unit(benchmark::kMillisecond);

// filon_ft at the sizes of BM_Sq2gr: 3001 points, 2000 k values.
void BM_FilonFtSq2grSizes(benchmark::State& state) {
  FilonCase c(3001, 2000, 0.01);
  for (auto _ : state) {
    Result<FilonTransform> t = filon_ft(c.x, c.f, c.k);
    benchmark::DoNotOptimize(t->integral.data());
  }
}
BENCHMARK(BM_FilonFtSq2grSizes)->Unit(benchmark::kMillisecond);

// S(Q) on 3001 points to G(r), g(r) at 2000 r, with the Lorch window; with
// a sigma column (range(0) = 1) and without.
void BM_Sq2gr(benchmark::State& state) {
  std::vector<double> q, s, sigma, r;
  for (int i = 0; i < 3001; ++i) {
    q.push_back(0.01 * i);
    s.push_back(1.0 + std::exp(-0.02 * q.back() * q.back()) * std::sin(2.5 * q.back()));
    sigma.push_back(0.01);
  }
  for (int j = 1; j <= 2000; ++j) r.push_back(0.01 * j);
  Sq2grOptions o;
  if (state.range(0) == 1) o.sigma = sigma;
  for (auto _ : state) {
    Result<PairDistribution> g = sq2gr(q, s, r, 0.1, o);
    benchmark::DoNotOptimize(g->G.data());
  }
}
BENCHMARK(BM_Sq2gr)->Arg(0)->Arg(1)->ArgName("sigma")->Unit(benchmark::kMillisecond);

}  // namespace
