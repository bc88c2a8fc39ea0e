// Runs a fuzz target's entry point without libFuzzer, once on each input
// named: a file, every file in a folder (recursively), or every file a
// pattern matches. The empty input comes first, as with libFuzzer.
//
// usage: NAME_replay [--regressions FOLDER] [FILE | FOLDER | PATTERN]...
// The FOLDER after --regressions may be missing; every other argument must
// name at least one file, so that a mistyped seed cannot go unnoticed.
#include <glob.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

namespace fs = std::filesystem;

// The regular files under `path`, sorted; false when there is none.
bool add_files(const fs::path& path, std::vector<fs::path>& files) {
  std::error_code ec;
  const std::size_t before = files.size();
  if (fs::is_directory(path, ec)) {
    std::vector<fs::path> found;
    for (const auto& e : fs::recursive_directory_iterator(path, ec))
      if (e.is_regular_file()) found.push_back(fs::absolute(e.path()));
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  } else if (fs::is_regular_file(path, ec)) {
    files.push_back(fs::absolute(path));
  }
  return files.size() > before;
}

bool add_pattern(const std::string& pattern, std::vector<fs::path>& files) {
  if (pattern.find_first_of("*?[") == std::string::npos) return add_files(pattern, files);
  glob_t g{};
  bool any = false;
  if (glob(pattern.c_str(), 0, nullptr, &g) == 0)
    for (std::size_t i = 0; i < g.gl_pathc; ++i) any = add_files(g.gl_pathv[i], files) || any;
  globfree(&g);
  return any;
}

// Runs one input from a buffer of exactly its size, so that the sanitizers
// see a read past its end.
void run(const std::vector<char>& bytes) {
  const auto copy = std::make_unique<uint8_t[]>(std::max<std::size_t>(bytes.size(), 1));
  std::copy(bytes.begin(), bytes.end(), copy.get());
  LLVMFuzzerTestOneInput(copy.get(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--regressions" && i + 1 < argc) {
      add_files(argv[++i], files);
    } else if (!add_pattern(arg, files)) {
      std::cerr << "replay: no input file in " << arg << '\n';
      return 2;
    }
  }
  // Paths are absolute by now: a target may change the working folder.
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  run({});
  for (const fs::path& f : files) {
    // The name first, so that a crash shows which input caused it.
    std::cout << "replaying " << f.string() << std::endl;
    std::ifstream in(f, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
      std::cerr << "replay: cannot read " << f.string() << '\n';
      return 2;
    }
    run(bytes);
  }
  std::cout << files.size() + 1 << " inputs replayed without a fault\n";
  return 0;
}
