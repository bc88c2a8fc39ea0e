// A whole run of the calculator.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "app/driver.hpp"

namespace {

using namespace talvo;

// A whole typed run of a 100-element isotope sample, in-process (the program
// adds its start-up to this).
void BM_Talvo100ElementRun(benchmark::State& state) {
  const char* symbols[] = {"H", "Li", "B", "C", "N", "O", "Si", "Fe", "Ni", "Cu"};
  std::string script = "2\n\n100\n";
  for (int i = 0; i < 100; ++i) script += std::string(symbols[i % 10]) + " 1 1.5\n";
  for (int i = 0; i < 100; ++i) script += "0 1\n";
  const auto dir = std::filesystem::temp_directory_path() / "talvo_bench_run";
  std::filesystem::create_directories(dir);
  script += "0.5\n" + (dir / "big").string() + "\n";
  for (auto _ : state) {
    std::istringstream in(script);
    std::ostringstream out;
    Console con{in, out};
    if (run_talvo(con, DataFolder::named(TALVO_BENCH_DATA_DIR)) != 0) state.SkipWithError("run failed");
  }
}
BENCHMARK(BM_Talvo100ElementRun)->Unit(benchmark::kMillisecond);

}  // namespace
