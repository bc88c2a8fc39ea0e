// XRDML reading, beside its floor: converting the same numbers, already in
// memory, with std::from_chars into a freshly allocated array.
//
// Both pay for fresh memory in every iteration, as a process that reads one
// file does: what an iteration frees is handed back to the system before the
// next one (outside the timing), so that its allocations fault their pages in
// again instead of reusing pages the allocator kept from the last iteration.
// The figures then do not depend on what ran before (alone or in the whole
// suite) or on the allocator's thresholds.
#include <benchmark/benchmark.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <charconv>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "talvo/classic/xrdml.hpp"
#include "talvo/files/files.hpp"
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

// Freed memory back to the system, untimed (see the top of the file).
void give_back_freed_memory(benchmark::State& state) {
  state.PauseTiming();
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
  state.ResumeTiming();
}

// Every number converted into an array allocated for them in the iteration
// (its size is given: the floor does not count them).
void parse_floor(benchmark::State& state, const std::string& numbers) {
  std::size_t count = 0;
  for (const char* p = numbers.data(); p < numbers.data() + numbers.size(); ++count) {
    double v = 0.0;
    p = std::from_chars(p, numbers.data() + numbers.size(), v).ptr + 1;
  }
  for (auto _ : state) {
    {
      const auto values = std::make_unique_for_overwrite<double[]>(count);
      const char* p = numbers.data();
      const char* end = p + numbers.size();
      std::size_t n = 0;
      while (p < end && n < count) {
        const auto r = std::from_chars(p, end, values[n]);
        if (r.ec != std::errc()) break;
        ++n;
        p = r.ptr + 1;
      }
      benchmark::DoNotOptimize(values.get());
    }
    give_back_freed_memory(state);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(numbers.size()));
  state.counters["numbers"] = static_cast<double>(count);
}

void read_whole(benchmark::State& state, const std::string& path) {
  const auto bytes = static_cast<long long>(std::filesystem::file_size(path));
  for (auto _ : state) {
    {
      const Result<XrdmlFile> r = read_xrdml_file(path);
      if (!r.ok()) {
        state.SkipWithError(r.error().message.c_str());
        break;
      }
      benchmark::DoNotOptimize(r->scans.data());
    }
    give_back_freed_memory(state);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}

// The whole file: read, taken apart and every number converted.
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
    const classic::XrdmlResult r = classic::readxrdml(path, x, y, e, 0, 1, 0, out);
    if (r.status.failed()) state.SkipWithError(r.status.message.c_str());
    benchmark::DoNotOptimize(y.data());
    give_back_freed_memory(state);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_Readxrdml20x5000Summed)->Unit(benchmark::kMillisecond);

}  // namespace
