// A material at 200 wavelengths in one call, beside one wavelength of the
// same material and a material from a formula (BM_MaterialFromFormula): the
// sweep computes the parts that do not depend on the wavelength once, so it
// should cost no more than a few single materials.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "talvo/neutron/material.hpp"

namespace {

using namespace talvo;

const NeutronTable& table() {
  static const NeutronTable t = [] {
    Result<NeutronTable> read = read_neutron_table(std::string(TALVO_BENCH_DATA_DIR) + "neutron_sears92.tsv");
    return read.ok() ? std::move(*read) : NeutronTable{};
  }();
  return t;
}

void BM_MaterialGd2O3(benchmark::State& state) {
  MaterialOptions o;
  o.density = 7.41;
  o.wavelength = 4.0;
  for (auto _ : state) {
    Result<Material> m = material("Gd2O3", table(), o);
    if (!m.ok()) state.SkipWithError("failed");
    benchmark::DoNotOptimize(m->sld);
  }
}
BENCHMARK(BM_MaterialGd2O3);

// Target: at most 3 x BM_MaterialFromFormula.
void BM_MaterialSweep200(benchmark::State& state) {
  MaterialOptions o;
  o.density = 7.41;
  std::vector<double> wavelengths;
  for (int i = 0; i < 200; ++i) wavelengths.push_back(0.5 + 0.05 * i);
  for (auto _ : state) {
    Result<MaterialSweep> s = material_sweep("Gd2O3", table(), o, wavelengths);
    if (!s.ok()) state.SkipWithError("failed");
    benchmark::DoNotOptimize(s->sld.data());
  }
  state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(BM_MaterialSweep200);

}  // namespace
