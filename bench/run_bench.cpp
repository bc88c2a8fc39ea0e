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

void BM_Talvo100ElementRun(benchmark::State& state) {
  const char* symbols[] = {"H", "Li", "B", "C", "N", "O", "Si", "Fe", "Ni", "Cu"};
  std::string text = "2\n\n100\n";
  for (int i = 0; i < 100; ++i) text += std::string(symbols[i % 10]) + " 1 1.5\n";
  for (int i = 0; i < 100; ++i) text += "0 1\n";
  text += "0.5\nbig\n";
  const Script script(text);
  for (auto _ : state)
    if (run_talvo(script.dir, script.input) != 0) state.SkipWithError("run failed");
}
BENCHMARK(BM_Talvo100ElementRun)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TalvoStartOnly(benchmark::State& state) {
  const Script script("0\n");
  for (auto _ : state)
    if (run_talvo(script.dir, script.input) != 0) state.SkipWithError("run failed");
}
BENCHMARK(BM_TalvoStartOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the 100-element run must do beside starting: write its screen and its
// report (about 740 KB each) and its sample, the last two flushed to disk.
void BM_TalvoWriteFloor(benchmark::State& state) {
  const talvo::test_support::TempDir dir;
  const std::string block(740000, 'x');
  const auto put = [&](const std::string& name, std::size_t size, bool sync) {
    const int fd = open(dir.file(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, block.data(), size) != static_cast<ssize_t>(size) || (sync && fsync(fd) != 0))
      state.SkipWithError("write failed");
    close(fd);
  };
  for (auto _ : state) {
    put("screen", block.size(), false);
    put("report", block.size(), true);
    put("sample", 2000, true);
  }
}
BENCHMARK(BM_TalvoWriteFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
