// The pieces of the 100-element calculator run, in-process: reading the
// isotope tables, the averages and the report text, each alone.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/hundred_elements.hpp"
#include "talvo/classic/averages.hpp"
#include "talvo/classic/nuclear_tables.hpp"
#include "talvo/classic/report.hpp"

namespace {

using namespace talvo;
using namespace talvo::classic;

const std::string kData = TALVO_BENCH_DATA_DIR;

NuclearTable isotope_table() {
  NuclearTable table;
  std::vector<AtomicWeight> weights;
  if (read_isotope_file(kData + "sears.ascii", table).failed() ||
      read_atomic_weights(kData + "at_weights.dat", weights).failed())
    return {};
  (void)attach_masses(table, weights);
  return table;
}

// The composition the whole-run benchmark types: ten elements in turn, one
// atom each, every one the natural element; matched against the tables.
struct HundredElements {
  NuclearTable table = isotope_table();
  Composition c;
  std::vector<std::vector<const NuclearEntry*>> matched;
  bool ok = false;
  HundredElements() {
    c.kind = SampleKind::kIsotopes;
    c.density = 1.5;
    for (int i = 0; i < kHundredElements; ++i) c.elements.push_back({hundred_elements_symbol(i), 1.0, {{0, 1.0}}});
    ok = match_composition(c, table, matched).ok();
  }
};

void BM_ReadIsotopeTables(benchmark::State& state) {
  for (auto _ : state) {
    const NuclearTable table = isotope_table();
    if (table.entries.empty()) state.SkipWithError("tables did not read");
    benchmark::DoNotOptimize(table.entries.data());
  }
}
BENCHMARK(BM_ReadIsotopeTables)->Unit(benchmark::kMicrosecond);

void BM_Averages100Elements(benchmark::State& state) {
  const HundredElements sample;
  if (!sample.ok) state.SkipWithError("no match");
  for (auto _ : state) {
    const Results r = compute_averages(sample.c, sample.matched);
    benchmark::DoNotOptimize(r.fz.data());
  }
}
BENCHMARK(BM_Averages100Elements)->Unit(benchmark::kMicrosecond);

void BM_ReportText100Elements(benchmark::State& state) {
  const HundredElements sample;
  if (!sample.ok) state.SkipWithError("no match");
  const Results r = compute_averages(sample.c, sample.matched);
  // Handed on in pieces, as a run writes it.
  std::size_t bytes = 0;
  for (auto _ : state) {
    TextLines text;
    text.context = &bytes;
    text.sink = [](void* context, std::string_view piece) {
      benchmark::DoNotOptimize(piece.data());
      *static_cast<std::size_t*>(context) += piece.size();
    };
    results_lines(sample.c, r, text);
    text.finish();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_ReportText100Elements)->Unit(benchmark::kMicrosecond);

}  // namespace
