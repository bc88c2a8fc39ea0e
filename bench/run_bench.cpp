// Whole runs of the built calculator as a process with scripted input: a
// typed 100-element isotope sample (about 45,000 numbers to the screen and as
// many to the report), beside its floor, the same program answering 0 at the
// menu (starting a process and printing the banner).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "bench/hundred_elements.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;

// Runs the calculator in `dir` with standard input from `input`; its screen
// goes to a file there, as to a terminal that keeps up. The exit status.
int run_talvo(const fs::path& dir, const fs::path& input) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(input.c_str(), O_RDONLY);
    const int out = open((dir / "screen").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || chdir(dir.c_str()) != 0) _exit(127);
    setenv("G_F", TALVO_BENCH_DATA_DIR, 1);
    execl(TALVO_PROGRAM_PATH, "talvo", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Script {
  talvo::test_support::TempDir temp;
  fs::path dir = temp.path();
  fs::path input;
  explicit Script(const std::string& text) : input(temp.write("input", text)) {}
};

// One timed run. The previous run's screen is removed untimed first: a
// terminal has no old screen to empty, and what the last run printed is no
// part of this one's work. Its report and sample stay, to be replaced as a
// user's second run replaces them.
void time_run(benchmark::State& state, const Script& script) {
  state.PauseTiming();
  fs::remove(script.dir / "screen");
  state.ResumeTiming();
  if (run_talvo(script.dir, script.input) != 0) state.SkipWithError("run failed");
}

void BM_Talvo100ElementRun(benchmark::State& state) {
  std::string text = "2\n\n" + std::to_string(kHundredElements) + "\n";
  for (int i = 0; i < kHundredElements; ++i) text += std::string(hundred_elements_symbol(i)) + " 1 1.5\n";
  for (int i = 0; i < kHundredElements; ++i) text += "0 1\n";
  text += "0.5\nbig\n";
  const Script script(text);
  for (auto _ : state) time_run(state, script);
}
BENCHMARK(BM_Talvo100ElementRun)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TalvoStartOnly(benchmark::State& state) {
  const Script script("0\n");
  for (auto _ : state) time_run(state, script);
}
BENCHMARK(BM_TalvoStartOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the 100-element run must do beside starting, as the run does it: a
// new screen (about 740 KB), and a report (as much) and a sample, each
// written under a temporary name, flushed to disk and renamed over the
// previous run's file.
void BM_TalvoWriteFloor(benchmark::State& state) {
  const talvo::test_support::TempDir dir;
  const std::string block(740000, 'x');
  const auto put = [&](const std::string& name, std::size_t size, bool replace) {
    const std::string path = dir.file(replace ? "." + name + ".tmp" : name);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, block.data(), size) != static_cast<ssize_t>(size) || (replace && fsync(fd) != 0))
      state.SkipWithError("write failed");
    close(fd);
    if (replace && rename(path.c_str(), dir.file(name).c_str()) != 0) state.SkipWithError("rename failed");
  };
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(dir.file("screen"));
    state.ResumeTiming();
    put("screen", block.size(), false);
    put("report", block.size(), true);
    put("sample", 3351, true);
  }
}
BENCHMARK(BM_TalvoWriteFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
