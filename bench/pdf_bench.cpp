// The total-scattering reduction: a 7000-point 2theta pattern to G(r) at 3000
// r, physical mode with capillary absorption, beside its floor, the Filon
// transform with errors at the same sizes; the fit of three of its parameters
// beside one reduction; and the whole talvo-tools pdf process on the real ZrO2
// pattern. A series: 100 patterns of 3000 points in ad hoc mode read, reduced
// and written as text, beside 100 reductions alone (BM_PdfReduceAdhoc3000 x
// 100), and the whole process on 100 such files.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "talvo/numeric/filon.hpp"
#include "talvo/pdf/optimize.hpp"
#include "talvo/pdf/options.hpp"
#include "talvo/pdf/pdf_files.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/text/format.hpp"
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

// A series pattern: 3000 points of a crystal-like 2theta scan in counts,
// each pattern of the series a little different (the peaks grow).
std::string series_text(int k) {
  std::string text = "# 2theta I\n";
  for (int i = 0; i < 3000; ++i) {
    const double tt = 3.0 + 0.04 * i;
    const double q = 4.0 * std::numbers::pi * std::sin(0.5 * tt * std::numbers::pi / 180.0) / 0.70932;
    double y = 2000.0 * std::exp(-0.01 * q * q) + 300.0;
    for (int h = 1; h < 12; ++h) y += (1500.0 + 10.0 * k) * std::exp(-0.5 * std::pow((q - 1.9 * h) / 0.03, 2));
    text += shortest(tt) + " " + shortest(std::round(y)) + "\n";
  }
  return text;
}

pdf::ReductionOptions series_options() {
  pdf::ReductionOptions o;
  o.sample.composition = "Ni";
  o.wavelength = 0.70932;
  o.mode = pdf::Mode::kAdhoc;
  return o;  // r 0:30:0.01 by default
}

// One reduction of a series pattern, already read.
void BM_PdfReduceAdhoc3000(benchmark::State& state) {
  const Result<pdf::Pattern> p = pdf::parse_text_pattern(series_text(0), pdf::Abscissa::kTwoTheta, "bench");
  const pdf::ReductionOptions o = series_options();
  for (auto _ : state) {
    Result<pdf::Reduction> r = pdf::reduce(pdf::Inputs{&*p, nullptr}, o);
    if (!r.ok()) state.SkipWithError(r.error().message.c_str());
    benchmark::DoNotOptimize(r->gr.y.data());
  }
}
BENCHMARK(BM_PdfReduceAdhoc3000)->Unit(benchmark::kMillisecond);

// A series of 100 as talvo-tools pdf makes it on one thread, less the disk:
// each pattern's text read, reduced with the next ones (kReducedTogether at a
// time, sharing the transform's sines), and its four files' text written
// with the run's header.
void BM_PdfBatch100(benchmark::State& state) {
  std::vector<std::string> texts;
  for (int k = 0; k < 100; ++k) texts.push_back(series_text(k));
  const pdf::ReductionOptions o = series_options();
  std::string out;
  for (auto _ : state) {
    for (std::size_t first = 0; first < texts.size(); first += pdf::kReducedTogether) {
      const std::size_t count = std::min(pdf::kReducedTogether, texts.size() - first);
      std::vector<pdf::Pattern> patterns;
      for (std::size_t k = first; k < first + count; ++k) {
        Result<pdf::Pattern> p = pdf::parse_text_pattern(texts[k], pdf::Abscissa::kTwoTheta, "bench");
        if (!p.ok()) state.SkipWithError(p.error().message.c_str());
        patterns.push_back(std::move(*p));
      }
      std::vector<pdf::Inputs> inputs;
      for (const pdf::Pattern& p : patterns) inputs.push_back({&p, nullptr});
      const std::vector<pdf::ReductionOptions> options(count, o);
      std::vector<Result<pdf::Reduction>> reduced = pdf::reduce_together(inputs, options);
      for (std::size_t k = 0; k < count; ++k) {
        Result<pdf::Reduction>& r = reduced[k];
        if (!r.ok()) state.SkipWithError(r.error().message.c_str());
        pdf::RunRecord record;
        record.input = "p" + std::to_string(first + k) + ".xy";
        record.settings.options = o;
        record.qmax = r->qmax;
        const pdf::Parameters header = pdf::header_parameters(record);
        const std::string notes[] = {"ad hoc polynomial degree: " + std::to_string(r->poly_degree)};
        for (const pdf::Curve* c : {&r->iq, &r->sq, &r->fq, &r->gr}) {
          out.clear();
          const std::span<const double> table[] = {c->x, c->y, c->sigma};
          pdf::append_table_text(out, "talvo-tools pdf", header, notes, "columns: x y sigma", table);
          benchmark::DoNotOptimize(out.data());
        }
      }
    }
  }
  state.counters["per_pattern_ms"] =
      benchmark::Counter(100, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PdfBatch100)->Unit(benchmark::kMillisecond);

// The whole command on 100 such files, one thread, as a user runs it: every
// pattern read, reduced and its four files written and put in place.
void BM_TalvoToolsPdfBatch100(benchmark::State& state) {
  talvo::test_support::TempDir dir;
  std::string inputs;
  for (int k = 0; k < 100; ++k) {
    const std::string name = dir.file("p" + std::to_string(k) + ".xy");
    std::ofstream(name) << series_text(k);
    inputs += " " + name;
  }
  const std::string command = std::string(TALVO_TOOLS_PATH) + " pdf" + inputs +
                              " --composition Ni --wavelength 0.70932 -o " + dir.file("out/") + " >/dev/null 2>&1";
  std::filesystem::create_directory(dir.file("out"));
  const double cpu0 = children_cpu_seconds();
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("talvo-tools pdf failed");
  state.counters["process_cpu_ms"] = 1e3 * (children_cpu_seconds() - cpu0) /
                                     static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
}
BENCHMARK(BM_TalvoToolsPdfBatch100)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
