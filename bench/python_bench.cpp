// The library calls the Python module makes, timed from C++: the floor of
// the module's calls, which bench/python_bench.py times beside them.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "talvo/neutron/material.hpp"
#include "talvo/numeric/sq2gr.hpp"
#include "talvo/xray/xray_average.hpp"
#include "talvo/xrdml/xrdml_file.hpp"

namespace {

using namespace talvo;

std::vector<double> grid(std::size_t n, double to) {
  std::vector<double> q(n);
  for (std::size_t i = 0; i < n; ++i) q[i] = to * static_cast<double>(i) / static_cast<double>(n);
  return q;
}

// form_factor of Fe at n points up to Q = 75 (the Python bench's grid).
void BM_PythonFloorFormFactor(benchmark::State& state) {
  const std::vector<double> q = grid(static_cast<std::size_t>(state.range(0)), 75.0);
  for (auto _ : state) {
    Result<std::vector<double>> r = form_factor("Fe", q);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PythonFloorFormFactor)->Arg(1)->Arg(1000000)->Unit(benchmark::kMicrosecond);

void BM_PythonFloorXrayAverage(benchmark::State& state) {
  const std::vector<double> q = grid(100000, 30.0);
  for (auto _ : state) {
    Result<XrayAverage> a = xray_average("SiO2", q, {});
    benchmark::DoNotOptimize(a);
  }
}
BENCHMARK(BM_PythonFloorXrayAverage)->Unit(benchmark::kMicrosecond);

NeutronTable bench_table(benchmark::State& state) {
  Result<NeutronTable> table = read_neutron_table(TALVO_BENCH_DATA_DIR "neutron_sears92.tsv");
  if (!table.ok()) {
    state.SkipWithError("no table");
    return {};
  }
  return std::move(*table);
}

// The material as talvo.material builds it: the struct the Python result wraps.
void BM_PythonFloorMaterial(benchmark::State& state) {
  const NeutronTable table = bench_table(state);
  MaterialOptions o;
  o.density = 2.286;
  for (auto _ : state) {
    Result<Material> m = material_from_formula("CuSO4+5H2O", table, o);
    if (!m.ok()) state.SkipWithError("material failed");
    benchmark::DoNotOptimize(m->per_atom.sigma_coh);
  }
}
BENCHMARK(BM_PythonFloorMaterial)->Unit(benchmark::kMicrosecond);

void BM_PythonFloorMaterialWater(benchmark::State& state) {
  const NeutronTable table = bench_table(state);
  MaterialOptions o;
  o.density = 1.0;
  for (auto _ : state) {
    Result<Material> m = material_from_formula("H2O", table, o);
    if (!m.ok()) state.SkipWithError("material failed");
    benchmark::DoNotOptimize(m->per_atom.sigma_coh);
  }
}
BENCHMARK(BM_PythonFloorMaterialWater)->Unit(benchmark::kMicrosecond);

// talvo.material("Gd2O3", ..., wavelength=<200 values>): one material_sweep,
// the parts that do not depend on the wavelength computed once.
void BM_PythonFloorMaterialSweep(benchmark::State& state) {
  const NeutronTable table = bench_table(state);
  std::vector<double> wavelengths = grid(200, 10.0);
  for (double& w : wavelengths) w += 0.05;
  MaterialOptions o;
  o.density = 7.41;
  o.thickness = 0.01;
  for (auto _ : state) {
    Result<MaterialSweep> s = material_sweep("Gd2O3", table, o, wavelengths);
    if (!s.ok()) state.SkipWithError("material failed");
    benchmark::DoNotOptimize(s->transmission.data());
  }
}
BENCHMARK(BM_PythonFloorMaterialSweep)->Unit(benchmark::kMicrosecond);

// The whole file and the values of every scan, held together as read_xrdml
// gives them.
void BM_PythonFloorReadXrdml(benchmark::State& state) {
  const std::string path = TALVO_BENCH_TEST_FILES_DIR "xrdml/rsm_401_scans_list_positions.xrdml";
  for (auto _ : state) {
    Result<XrdmlFile> r = read_xrdml_file(path);
    if (!r.ok()) {
      state.SkipWithError("read failed");
      break;
    }
    std::vector<XrdmlValues> values;
    values.reserve(r->scans.size());
    for (const XrdmlScan& scan : r->scans) {
      Result<XrdmlValues> v = xrdml_values(scan);
      if (v.ok()) values.push_back(std::move(*v));
    }
    benchmark::DoNotOptimize(values.data());
  }
}
BENCHMARK(BM_PythonFloorReadXrdml)->Unit(benchmark::kMicrosecond);

void BM_PythonFloorSq2gr(benchmark::State& state) {
  const std::vector<double> q = grid(3001, 30.0);
  std::vector<double> s(q.size()), r = grid(2000, 20.0);
  for (std::size_t i = 0; i < q.size(); ++i) s[i] = 1.0 + 0.1 * static_cast<double>(i % 7);
  for (double& v : r) v += 0.01;
  for (auto _ : state) {
    Result<PairDistribution> g = sq2gr(q, s, r, 0.1);
    benchmark::DoNotOptimize(g->G.data());
  }
}
BENCHMARK(BM_PythonFloorSq2gr)->Unit(benchmark::kMicrosecond);

}  // namespace
