// A structure's G(r): fcc nickel from 0 to 30 A by 0.01 with Qmax 25, beside
// its floor, the same work with nothing around it: as many exponentials as
// the model's pair Gaussians take (each pair's points within 5 sigma) and
// the termination's multiply-adds (each output r against every point of the
// range extended by 6 ripples each side). The model sums each Gaussian by
// its exact recurrence on the grid (three exponentials a pair), so it runs
// below this exp-throughput floor. And PDFgui's refinement of
// measured nickel data (a, U, sratio, scale over r 1.5-10, Qmax 40), whose
// target is 50 ms a fit. And a finite box of 19 652 atoms (a cube of fcc
// nickel, 17 cells a side, no periodicity) from 0 to 20 A, whose target is
// 1 s on one core, beside the same floor: its pairs' Gaussians.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "talvo/model/pdf_model.hpp"
#include "talvo/model/refine.hpp"
#include "talvo/structure/structure_files.hpp"

#include <sstream>

namespace {

using namespace talvo;

const Structure& nickel() {
  static const Structure s = read_stru(std::string(TALVO_BENCH_TEST_FILES_DIR) + "pdf_model/Ni.stru")->structure;
  return s;
}

ModelOptions ni30() {
  ModelOptions o;
  o.rmin = 0, o.rmax = 30, o.rstep = 0.01, o.qmax = 25;
  return o;
}

void BM_ModelNi30(benchmark::State& state) {
  const ModelOptions o = ni30();
  for (auto _ : state) {
    Result<ModelResult> m = pdf_model(nickel(), o);
    benchmark::DoNotOptimize(m);
    if (!m.ok()) state.SkipWithError(m.error().message.c_str());
  }
}
BENCHMARK(BM_ModelNi30)->Unit(benchmark::kMillisecond);

void BM_ModelNi30Floor(benchmark::State& state) {
  const ModelOptions o = ni30();
  const Result<ModelResult> m = pdf_model(nickel(), o);
  if (!m.ok()) {
    state.SkipWithError(m.error().message.c_str());
    return;
  }
  // Every pair has one width here, sqrt(2 U); its Gaussian spans 10 sigma / h points.
  const double sigma = std::sqrt(2 * 0.00126651), h = 0.01;
  const std::size_t per_pair = static_cast<std::size_t>(10 * sigma / h) + 1;
  const std::size_t exps = m->pairs * per_pair;
  const std::size_t n_out = m->r.size();
  const std::size_t n_ext = n_out + 2 * static_cast<std::size_t>(std::ceil(6 * 2 * std::numbers::pi / o.qmax / h));
  std::vector<double> grid(n_ext, 0.0), kernel(2 * n_ext, 0.5);
  for (auto _ : state) {
    double inv = 1.0 / (2 * sigma * sigma);
    for (std::size_t i = 0; i < exps; ++i) {
      const double x = static_cast<double>(i % per_pair) * h - 5 * sigma;
      grid[i % n_ext] += std::exp(-x * x * inv);
    }
    double sum = 0;
    for (std::size_t i = 0; i < n_out; ++i)
      for (std::size_t j = 0; j < n_ext; ++j) sum += kernel[i + j] * grid[j];
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(grid.data());
  }
  state.counters["exps"] = static_cast<double>(exps);
}
BENCHMARK(BM_ModelNi30Floor)->Unit(benchmark::kMillisecond);

void BM_RefineNiDdp(benchmark::State& state) {
  const std::string dir = std::string(TALVO_BENCH_TEST_FILES_DIR) + "pdf_model/";
  const Result<MeasuredPdf> data = read_measured_pdf(dir + "Ni_2-8.chi.gr");
  if (!data.ok()) {
    state.SkipWithError(data.error().message.c_str());
    return;
  }
  RefineOptions o;
  o.model.qmax = 40, o.model.qdamp = 0.001, o.model.rcut = 3, o.model.xray_weights = XrayWeights::kElectrons;
  o.model.peak_norm = PeakNorm::kGridR, o.model.line_terminated = true;
  o.rmin = 1.5, o.rmax = 10;
  o.parameters = *parse_refine_list("a,uiso,sratio=1,scale");
  for (auto _ : state) {
    Result<RefineResult> fit = refine(nickel(), *data, o);
    benchmark::DoNotOptimize(fit);
    if (!fit.ok()) state.SkipWithError(fit.error().message.c_str());
  }
}
BENCHMARK(BM_RefineNiDdp)->Unit(benchmark::kMillisecond);

// A cube of fcc nickel, n cells a side, as an xyz box (U 0.005 on every atom).
const Structure& nickel_box() {
  static const Structure s = [] {
    const int n = 17;
    const double a = 3.524;
    const double basis[4][3] = {{0, 0, 0}, {0.5, 0.5, 0}, {0.5, 0, 0.5}, {0, 0.5, 0.5}};
    std::ostringstream xyz;
    xyz << 4 * n * n * n << "\nnickel cube\n";
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        for (int k = 0; k < n; ++k)
          for (const auto& b : basis)
            xyz << "Ni " << (i + b[0]) * a << ' ' << (j + b[1]) * a << ' ' << (k + b[2]) * a << '\n';
    return *read_xyz_text(xyz.str(), "box");
  }();
  return s;
}

ModelOptions box20() {
  ModelOptions o;
  o.rmin = 0, o.rmax = 20, o.rstep = 0.01, o.qmax = 0, o.uiso = 0.005;
  return o;
}

void BM_ModelBox20k(benchmark::State& state) {
  const ModelOptions o = box20();
  std::size_t pairs = 0;
  for (auto _ : state) {
    Result<ModelResult> m = pdf_model(nickel_box(), o);
    benchmark::DoNotOptimize(m);
    if (!m.ok()) {
      state.SkipWithError(m.error().message.c_str());
      return;
    }
    pairs = m->pairs;
  }
  state.counters["atoms"] = static_cast<double>(nickel_box().sites.size());
  state.counters["pairs"] = static_cast<double>(pairs);
}
BENCHMARK(BM_ModelBox20k)->Unit(benchmark::kMillisecond);

// Its floor: one exponential for each point of each pair's Gaussian within 5 sigma.
void BM_ModelBox20kFloor(benchmark::State& state) {
  const ModelOptions o = box20();
  const Result<ModelResult> m = pdf_model(nickel_box(), o);
  if (!m.ok()) {
    state.SkipWithError(m.error().message.c_str());
    return;
  }
  const double sigma = std::sqrt(2 * 0.005), h = 0.01;
  const std::size_t per_pair = static_cast<std::size_t>(10 * sigma / h) + 1;
  const std::size_t exps = m->pairs * per_pair;
  std::vector<double> grid(m->r.size(), 0.0);
  for (auto _ : state) {
    const double inv = 1.0 / (2 * sigma * sigma);
    for (std::size_t i = 0; i < exps; ++i) {
      const double x = static_cast<double>(i % per_pair) * h - 5 * sigma;
      grid[i % grid.size()] += std::exp(-x * x * inv);
    }
    benchmark::DoNotOptimize(grid.data());
  }
  state.counters["exps"] = static_cast<double>(exps);
}
BENCHMARK(BM_ModelBox20kFloor)->Unit(benchmark::kMillisecond);

}  // namespace
