// Form factors.
#include <benchmark/benchmark.h>

#include <sstream>
#include <vector>

#include "talvo/xray/formfactor.hpp"

namespace {

using namespace talvo;

// foq on 1,000,000 Q points with the 5-term Waasmaier-Kirfel sum.
void BM_Foq1M(benchmark::State& state) {
  std::vector<double> q(1000000), f(q.size());
  for (std::size_t i = 0; i < q.size(); ++i) q[i] = 75.0 * static_cast<double>(i) / static_cast<double>(q.size());
  FormFactorParams p;
  std::ostringstream out;
  for (auto _ : state) {
    if (foq(f, q, p, "Fe", kWaasmaierKirfel, kTablesInProgram, 0, out).failed()) state.SkipWithError("foq failed");
    benchmark::DoNotOptimize(f.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long long>(q.size()));
}
BENCHMARK(BM_Foq1M)->Unit(benchmark::kMillisecond);

}  // namespace
