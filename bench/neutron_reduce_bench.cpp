// The neutron reduction of one 3000-point 2theta pattern (silica in a
// vanadium can at 0.7 A, with the empty can, the background, a vanadium rod
// and its background) to G(r) at 3001 r, every correction on, the factors
// made once beforehand as a series makes them (BM_NeutronReduce), beside its
// floor: the Filon transform with errors on as many points at the same r,
// which the reduction cannot do without (BM_FilonFtNeutronSizes). The
// reduction should stay below 50 ms a pattern.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "talvo/numeric/filon.hpp"
#include "talvo/pdf/neutron_reduce.hpp"

namespace {

using namespace talvo;

Options reduction_options() {
  OptionValues v;
  for (const auto& [k, t] : std::vector<std::pair<std::string, std::string>>{{"sample", "SiO2"},
                                                                             {"number-density", "0.0662"},
                                                                             {"radius", "3"},
                                                                             {"height", "40"},
                                                                             {"container", "V"},
                                                                             {"container-number-density", "0.0722"},
                                                                             {"container-outer", "3.1"},
                                                                             {"vanadium-radius", "3"},
                                                                             {"vanadium-height", "40"},
                                                                             {"vanadium-number-density", "0.0722"},
                                                                             {"beam-height", "20"},
                                                                             {"wavelength", "0.7"},
                                                                             {"histories", "20000"}})
    v.values[k] = t;
  Result<Options> o = read_options(pdf::neutron_reduction_options(), v, Spelling::kCommandLine);
  return o.ok() ? *o : Options{};
}

pdf::NeutronRun run(double monitor, double level, double wiggle) {
  pdf::NeutronRun r;
  r.monitor = monitor;
  for (int i = 0; i < 3000; ++i) {
    const double tt = 3.0 + 0.042 * i;
    const double q = 4.0 * std::numbers::pi * std::sin(0.5 * tt * std::numbers::pi / 180.0) / 0.7;
    const double c = std::round(monitor * level * (1.0 + wiggle * std::sin(2.0 * q) * std::exp(-0.02 * q * q)));
    r.two_theta.push_back(tt);
    r.counts.push_back(c);
    r.sigma.push_back(std::sqrt(c));
  }
  return r;
}

void BM_NeutronReduce(benchmark::State& state) {
  const NeutronTable table = [] {
    Result<NeutronTable> t = read_neutron_table(std::string(TALVO_BENCH_DATA_DIR) + "neutron_sears92.tsv");
    return t.ok() ? std::move(*t) : NeutronTable{};
  }();
  const Options o = reduction_options();
  const pdf::NeutronRun sample = run(1e6, 1.0, 0.3), can = run(0.6e6, 0.2, 0.0), bg = run(0.3e6, 0.08, 0.0),
                        v = run(0.8e6, 1.2, 0.0), vb = run(0.25e6, 0.05, 0.0);
  Result<pdf::NeutronFactorSet> f = pdf::neutron_factors(sample.two_theta, o, table);
  if (!f.ok()) {
    state.SkipWithError(f.error().message.c_str());
    return;
  }
  const pdf::NeutronRuns runs{&sample, &can, &bg, &v, &vb};
  for (auto _ : state) {
    Result<pdf::NeutronReduction> r = pdf::reduce_neutron(runs, *f, o);
    if (!r.ok()) {
      state.SkipWithError(r.error().message.c_str());
      break;
    }
    benchmark::DoNotOptimize(r->gr.y.data());
  }
}
BENCHMARK(BM_NeutronReduce)->Unit(benchmark::kMillisecond);

// The floor: the transform alone, with errors, on 3000 equally spaced Q at the same 3001 r.
void BM_FilonFtNeutronSizes(benchmark::State& state) {
  std::vector<double> x, f, s, k;
  for (int i = 0; i < 3000; ++i) {
    x.push_back(0.3 + 0.0054 * i);
    f.push_back(std::sin(2.0 * x.back()) * std::exp(-0.02 * x.back() * x.back()));
    s.push_back(0.01);
  }
  for (int j = 0; j <= 3000; ++j) k.push_back(0.01 * j);
  FilonOptions fo;
  fo.sigma = s;
  fo.single_precision = false;
  for (auto _ : state) {
    Result<FilonTransform> r = filon_ft(x, f, k, fo);
    benchmark::DoNotOptimize(r->integral.data());
  }
}
BENCHMARK(BM_FilonFtNeutronSizes)->Unit(benchmark::kMillisecond);

}  // namespace
