// XRDML reading.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "talvo/xrdml/xrdml.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using namespace talvo;

// A 20-scan x 5000-point XRDML file read in summed mode.
void BM_Xrdml20x5000(benchmark::State& state) {
  const talvo::test_support::TempDir dir;
  const std::string path = dir.file("bench.xrdml");
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
    if (r.status.failed()) state.SkipWithError(r.status.message.c_str());
    benchmark::DoNotOptimize(y.data());
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_Xrdml20x5000)->Unit(benchmark::kMillisecond);

}  // namespace
