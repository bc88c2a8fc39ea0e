// A whole run of the calculator.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "app/driver.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using namespace talvo;

// A whole typed run of a 100-element isotope sample, in-process (the program
// adds its start-up to this).
void BM_Talvo100ElementRun(benchmark::State& state) {
  const char* symbols[] = {"H", "Li", "B", "C", "N", "O", "Si", "Fe", "Ni", "Cu"};
  std::string script = "2\n\n100\n";
  for (int i = 0; i < 100; ++i) script += std::string(symbols[i % 10]) + " 1 1.5\n";
  for (int i = 0; i < 100; ++i) script += "0 1\n";
  const talvo::test_support::TempDir dir;
  script += "0.5\n" + dir.file("big") + "\n";
  for (auto _ : state) {
    std::istringstream in(script);
    std::ostringstream out;
    Console con{in, out};
    if (run_talvo(con, setg_f(TALVO_BENCH_DATA_DIR)) != 0) state.SkipWithError("run failed");
  }
}
BENCHMARK(BM_Talvo100ElementRun)->Unit(benchmark::kMillisecond);

}  // namespace
