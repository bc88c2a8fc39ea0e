// Speed of the routines with stated targets. Run: cmake --preset bench &&
// cmake --build --preset bench && ./build-bench/bench/talvo_bench
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/driver.hpp"
#include "talvo/numeric/filon.hpp"
#include "talvo/xray/formfactor.hpp"
#include "talvo/xrdml/xrdml.hpp"

namespace {

using namespace talvo;

// foq on 1,000,000 Q points with the 5-term Waasmaier-Kirfel sum.
void BM_Foq1M(benchmark::State& state) {
  std::vector<double> q(1000000), f(q.size());
  for (std::size_t i = 0; i < q.size(); ++i) q[i] = 75.0 * static_cast<double>(i) / static_cast<double>(q.size());
  FormFactorParams p;
  std::ostringstream out;
  for (auto _ : state) {
    foq(f, q, p, "Fe", kWaasmaierKirfel, kTablesInProgram, 0, out);
    benchmark::DoNotOptimize(f.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long long>(q.size()));
}
BENCHMARK(BM_Foq1M)->Unit(benchmark::kMillisecond);

// filon_ft with n = 4001 points and nk = 4000 k values, and the same by direct sines.
struct FilonCase {
  std::vector<double> x, f, k, r;
  FilonCase() {
    for (int i = 0; i < 4001; ++i) {
      x.push_back(0.01 * i);
      f.push_back(std::exp(-0.05 * x.back()) * std::sin(1.7 * x.back()));
    }
    for (int m = 0; m < 4000; ++m) k.push_back(0.0125 * m);
    r.resize(k.size());
  }
};

void BM_FilonFt(benchmark::State& state) {
  FilonCase c;
  for (auto _ : state) {
    filon_ft(c.x, c.f, c.k, c.r);
    benchmark::DoNotOptimize(c.r.data());
  }
}
BENCHMARK(BM_FilonFt)->Unit(benchmark::kMillisecond);

void BM_FilonDirect(benchmark::State& state) {
  FilonCase c;
  for (auto _ : state) {
    for (std::size_t m = 0; m < c.k.size(); ++m) filon_integral(c.x, c.f, 0.01, c.k[m], c.r[m]);
    benchmark::DoNotOptimize(c.r.data());
  }
}
BENCHMARK(BM_FilonDirect)->Unit(benchmark::kMillisecond);

// A 20-scan x 5000-point XRDML file read in summed mode.
void BM_Xrdml20x5000(benchmark::State& state) {
  const auto path = (std::filesystem::temp_directory_path() / "talvo_bench.xrdml").string();
  {
    std::ofstream t(path, std::ios::binary);
    t << "<?xml version=\"1.0\"?>\n<xrdMeasurements>\n<kAlpha1 unit=\"Angstrom\">1.5405980</kAlpha1>\n";
    for (int s = 0; s < 20; ++s) {
      t << "<scan appendNumber=\"" << s << "\">\n<positions axis=\"2Theta\" unit=\"deg\">\n"
        << "<startPosition>5.0</startPosition>\n<endPosition>80.0</endPosition>\n</positions>\n"
        << "<commonCountingTime unit=\"seconds\">1.5</commonCountingTime>\n<intensities unit=\"counts\">";
      for (int j = 0; j < 5000; ++j) t << (j ? " " : "") << 100 + (j * 37 + s * 11) % 1000;
      t << "</intensities>\n</scan>\n";
    }
    t << "</xrdMeasurements>\n";
  }
  const auto bytes = static_cast<long long>(std::filesystem::file_size(path));
  std::vector<double> x(5000), y(5000), e(5000);
  std::ostringstream out;
  for (auto _ : state) {
    const XrdmlResult r = readxrdml(path, x, y, e, 0, 1, 0, out);
    if (!r.status.ok()) state.SkipWithError(r.status.message.c_str());
    benchmark::DoNotOptimize(y.data());
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_Xrdml20x5000)->Unit(benchmark::kMillisecond);

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
    if (run_talvo(con, setg_f(TALVO_BENCH_DATA_DIR)) != 0) state.SkipWithError("run failed");
  }
}
BENCHMARK(BM_Talvo100ElementRun)->Unit(benchmark::kMillisecond);

}  // namespace
