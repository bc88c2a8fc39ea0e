// The total-scattering reduction: a 7000-point 2theta pattern to G(r) at 3000
// r, physical mode with capillary absorption, beside its floor, the Filon
// transform with errors at the same sizes; the fit of three of its parameters
// beside one reduction; and the whole talvo-tools pdf
// process on the real ZrO2 pattern.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "talvo/numeric/filon.hpp"
#include "talvo/pdf/optimize.hpp"
#include "talvo/pdf/reduce.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using namespace talvo;

pdf::Pattern glass_pattern() {
  pdf::Pattern p;
  for (int i = 0; i < 7000; ++i) {
    const double tt = 2.0 + 0.02 * i;
    const double q = 4.0 * std::numbers::pi * std::sin(0.5 * tt * std::numbers::pi / 180.0) / 0.70932;
    const double y = 1000.0 * (1.0 + std::exp(-0.01 * q * q) * std::sin(1.6 * q) / q) * std::exp(-0.02 * q * q) + 200.0;
    p.x.push_back(tt);
    p.y.push_back(std::round(y));
    p.sigma.push_back(std::sqrt(std::round(y)));
  }
  return p;
}

void BM_PdfReduce(benchmark::State& state) {
  const pdf::Pattern p = glass_pattern();
  pdf::ReductionOptions o;
  o.sample.composition = "SiO2";
  o.sample.number_density = 0.0662;
  o.wavelength = 0.70932;
  o.absorption = {pdf::Geometry::kCapillary, 1.0};
  o.rmin = 0.01;
  o.rmax = 30.0;
  o.rstep = 0.01;
  for (auto _ : state) {
    Result<pdf::Reduction> r = pdf::reduce(p, nullptr, 1.0, o);
    if (!r.ok()) state.SkipWithError(r.error().message.c_str());
    benchmark::DoNotOptimize(r->gr.y.data());
  }
}
BENCHMARK(BM_PdfReduce)->Unit(benchmark::kMillisecond);

// The fit of --optimize mu-r,beam-width,flat on the same 7000 points (a capillary 0.6 mm across
// lit by a 0.2 mm beam), to 1 A: under 1 s, a few tens of trials of the corrections, the normalisation
// and the transform at 100 r. Its floor is BM_PdfReduce: one whole reduction per trial would cost
// `reductions` times that.
void BM_PdfOptimize(benchmark::State& state) {
  const pdf::Pattern p = glass_pattern();
  pdf::ReductionOptions o;
  o.sample.composition = "SiO2";
  o.sample.number_density = 0.0662;
  o.wavelength = 0.70932;
  o.absorption = {pdf::Geometry::kCapillary, 1.0};
  o.capillary_diameter = 0.6;
  o.beam_width = 0.2;
  o.window = Window::kLorch;
  const pdf::FitSpec fit[] = {{pdf::Fitted::kMuR, std::nullopt, std::nullopt},
                              {pdf::Fitted::kBeamWidth, std::nullopt, std::nullopt},
                              {pdf::Fitted::kFlat, std::nullopt, std::nullopt}};
  int reductions = 0;
  for (auto _ : state) {
    Result<pdf::Optimization> r = pdf::optimize(pdf::Inputs{&p}, o, fit);
    if (!r.ok()) state.SkipWithError(r.error().message.c_str());
    reductions = r->reductions;
    benchmark::DoNotOptimize(r->parameters.data());
  }
  state.counters["reductions"] = reductions;
}
BENCHMARK(BM_PdfOptimize)->Unit(benchmark::kMillisecond);

// The floor: the transform alone, with errors, on as many points as the
// reduction's Q grid holds (about 7000) at the same 3000 r.
void BM_FilonFtPdfSizes(benchmark::State& state) {
  std::vector<double> x, f, s, k;
  for (int i = 0; i < 7001; ++i) {
    x.push_back(0.0024 * i);
    f.push_back(std::sin(1.6 * x.back()) * std::exp(-0.01 * x.back() * x.back()));
    s.push_back(0.01);
  }
  for (int j = 1; j <= 3000; ++j) k.push_back(0.01 * j);
  FilonOptions fo;
  fo.sigma = s;
  fo.single_precision = false;
  for (auto _ : state) {
    Result<FilonTransform> r = filon_ft(x, f, k, fo);
    benchmark::DoNotOptimize(r->integral.data());
  }
}
BENCHMARK(BM_FilonFtPdfSizes)->Unit(benchmark::kMillisecond);

// CPU seconds of the finished child processes (and theirs) so far.
double children_cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
  };
  return seconds(u.ru_utime) + seconds(u.ru_stime);
}

// The whole command as a user runs it on the real ZrO2 pattern (5630
// points, r 0:30:0.01), writing its six files. The time is the wall clock's;
// process_cpu_ms is the CPU time of the process (and the shell that starts
// it), which a loaded machine stretches less than the wall time.
void BM_TalvoToolsPdfZrO2(benchmark::State& state) {
  talvo::test_support::TempDir dir;
  const std::string command = std::string(TALVO_TOOLS_PATH) + " pdf " + TALVO_BENCH_TEST_FILES_DIR +
                              "lab_xy/zro2_mo.xy --composition ZrO2 --density 5.68 --geometry capillary --mu-r 1.25 "
                              "--wavelength 0.71073 -o " +
                              dir.file("zro2") + " >/dev/null 2>&1";
  const double cpu0 = children_cpu_seconds();
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("talvo-tools pdf failed");
  state.counters["process_cpu_ms"] = 1e3 * (children_cpu_seconds() - cpu0) /
                                     static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
}
BENCHMARK(BM_TalvoToolsPdfZrO2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
