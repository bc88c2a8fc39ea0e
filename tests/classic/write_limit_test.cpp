// A sample file that cannot be written completely leaves the file of the same
// name as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "talvo/classic/sample_file.hpp"
#include "tests/support/temp_dir.hpp"

namespace talvo::classic {
namespace {

TEST(WriteSample, FailedWriteKeepsThePreviousFile) {
  const auto dir = talvo::test_support::scratch_dir() / "talvo_write_limit";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "kept.sample").string();
  std::ofstream(path) << "previous\n";
  Composition s;
  s.elements = std::vector<Element>(50, Element{"Fe", 1.0, {{0, 1.0}}});

  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 64;  // far less than the 50 records
  setrlimit(RLIMIT_FSIZE, &small);
  std::ostringstream console;
  const Status st = write_sample(path, "talvo", "sears91.dat", s, 11, console);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous_handler);

  EXPECT_EQ(st.ierr, 2);
  EXPECT_EQ(st.message, "write_sample: Error writing file " + path);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "previous\n");
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++files;
  EXPECT_EQ(files, 1);  // no temporary file left behind
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace talvo::classic
