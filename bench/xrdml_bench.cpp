// XRDML reading, beside its floor: converting the same numbers, already in
// memory, with std::from_chars.
#include <benchmark/benchmark.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "talvo/files/files.hpp"
#include "talvo/xrdml/xrdml.hpp"
#include "talvo/xrdml/xrdml_file.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using namespace talvo;

// 20 scans of 5000 points, one tag per line, as both readers take it.
const std::string& file_20x5000() {
  static const std::string path = [] {
    const auto p = (talvo::test_support::scratch_dir() / "bench_20x5000.xrdml").string();
    std::ofstream t(p, std::ios::binary);
    t << "<?xml version=\"1.0\"?>\n<xrdMeasurements>\n<kAlpha1 unit=\"Angstrom\">1.5405980</kAlpha1>\n";
    for (int s = 0; s < 20; ++s) {
      t << "<scan appendNumber=\"" << s << "\">\n<dataPoints>\n<positions axis=\"2Theta\" unit=\"deg\">\n"
        << "<startPosition>5.0</startPosition>\n<endPosition>80.0</endPosition>\n</positions>\n"
        << "<commonCountingTime unit=\"seconds\">1.5</commonCountingTime>\n<intensities unit=\"counts\">";
      for (int j = 0; j < 5000; ++j) t << (j ? " " : "") << 100 + (j * 37 + s * 11) % 1000;
      t << "</intensities>\n</dataPoints>\n</scan>\n";
    }
    t << "</xrdMeasurements>\n";
    return p;
  }();
  return path;
}

// The numbers of the element contents named, one blank between them, as a
// parse of the file meets them.
std::string numbers_of(std::string_view text, std::initializer_list<std::string_view> tags) {
  std::string numbers;
  for (std::string_view tag : tags) {
    const std::string open = "<" + std::string(tag);
    for (auto at = text.find(open); at != std::string_view::npos; at = text.find(open, at + 1)) {
      const auto begin = text.find('>', at) + 1;
      numbers.append(text.substr(begin, text.find('<', begin) - begin));
      numbers += ' ';
    }
  }
  return numbers;
}

void parse_floor(benchmark::State& state, const std::string& numbers) {
  std::vector<double> values;
  for (auto _ : state) {
    values.clear();
    const char* p = numbers.data();
    const char* end = p + numbers.size();
    while (p < end) {
      double v = 0.0;
      const auto r = std::from_chars(p, end, v);
      if (r.ec != std::errc()) break;
      values.push_back(v);
      p = r.ptr + 1;
    }
    benchmark::DoNotOptimize(values.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(numbers.size()));
  state.counters["numbers"] = static_cast<double>(values.size());
}

void read_whole(benchmark::State& state, const std::string& path) {
  const auto bytes = static_cast<long long>(std::filesystem::file_size(path));
  for (auto _ : state) {
    const XrdmlFileResult r = read_xrdml_file(path);
    if (r.status.failed()) state.SkipWithError(r.status.message.c_str());
    benchmark::DoNotOptimize(r.file.scans.data());
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

// The whole file: mapped, taken apart and every number converted.
void BM_Xrdml20x5000(benchmark::State& state) { read_whole(state, file_20x5000()); }
BENCHMARK(BM_Xrdml20x5000)->Unit(benchmark::kMillisecond);

void BM_ParseFloor20x5000(benchmark::State& state) {
  const auto file = FileContent::open(file_20x5000());
  parse_floor(state, numbers_of(file->text(), {"intensities"}));
}
BENCHMARK(BM_ParseFloor20x5000)->Unit(benchmark::kMillisecond);

// A real reciprocal-space map: 401 scans, 255 listed 2Theta positions each.
const std::string kMap = std::string(TALVO_BENCH_TEST_FILES_DIR) + "xrdml/rsm_401_scans_list_positions.xrdml";

void BM_XrdmlMap401(benchmark::State& state) { read_whole(state, kMap); }
BENCHMARK(BM_XrdmlMap401)->Unit(benchmark::kMillisecond);

void BM_ParseFloorMap401(benchmark::State& state) {
  const auto file = FileContent::open(kMap);
  parse_floor(state, numbers_of(file->text(), {"listPositions", "intensities"}));
}
BENCHMARK(BM_ParseFloorMap401)->Unit(benchmark::kMillisecond);

// The summed reading of the record-by-record reader on the same 20 x 5000 file.
void BM_Readxrdml20x5000Summed(benchmark::State& state) {
  const std::string& path = file_20x5000();
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
BENCHMARK(BM_Readxrdml20x5000Summed)->Unit(benchmark::kMillisecond);

}  // namespace
