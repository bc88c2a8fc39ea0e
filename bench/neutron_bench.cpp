// Neutron materials from formulas: the library call, and 10^4 formulas
// through `talvo-tools xs --batch` as a whole process.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "talvo/neutron/material.hpp"

namespace {

using namespace talvo;

const char* const kFormulas[] = {"H2O",         "D2O",
                                 "SiO2",        "Gd2O3",
                                 "CuSO4+5H2O",  "Ca(OH)2",
                                 "Ni0.3Ti0.7",  "Li[6]0.95Li[7]0.05",
                                 "Fe2O3",       "Mg3(Si4O10)(OH)2",
                                 "K4(Fe(CN)6)", "B4C"};

void BM_MaterialFromFormula(benchmark::State& state) {
  const Result<NeutronTable> table = read_neutron_table(std::string(TALVO_BENCH_DATA_DIR) + "neutron_sears92.tsv");
  if (!table.ok()) {
    state.SkipWithError("no table");
    return;
  }
  MaterialOptions o;
  o.density = 2.0;
  std::size_t i = 0;
  for (auto _ : state) {
    Result<Material> m = material_from_formula(kFormulas[i++ % std::size(kFormulas)], *table, o);
    if (!m.ok()) state.SkipWithError("failed");
    benchmark::DoNotOptimize(m->per_atom.sigma_coh);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MaterialFromFormula);

void BM_XsBatch10k(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / ("talvo_bench_xs_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto batch = (dir / "formulas.txt").string();
  {
    std::ofstream out(batch);
    for (std::size_t i = 0; i < 10000; ++i)
      out << kFormulas[i % std::size(kFormulas)] << ' ' << 1.0 + 0.001 * static_cast<double>(i) << '\n';
  }
  const std::string command = "G_F=" + std::string(TALVO_BENCH_DATA_DIR) + " " + TALVO_TOOLS_PATH + " xs --batch " +
                              batch + " > " + (dir / "out.csv").string();
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("talvo-tools xs --batch failed");
  state.SetItemsProcessed(state.iterations() * 10000);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_XsBatch10k)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
