// The dialogue against input that would exhaust a machine: every reply and
// every file it reads has a bounded length.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "tests/support/dialogue.hpp"
#include "tests/support/temp_dir.hpp"

namespace talvo {
namespace {

int run(const std::string& input, std::string& screen) { return test_support::run_dialogue(input, screen); }

TEST(HostileInput, AnEndlessReplyEndsTheRun) {
  std::string screen;
  EXPECT_EQ(run("1\n\n" + std::string(200000, '7') + "\n", screen), 1);
  EXPECT_NE(screen.find("\n A reply is longer than 65536 characters: TALVO stops\n"), std::string::npos) << screen;
  // A reply as long as the limit is still a reply: here not a number, so asked again.
  EXPECT_EQ(run("1\n\n" + std::string(65536, 'x') + "\n", screen), 1);
  EXPECT_NE(screen.find(" Not a whole number: x"), std::string::npos);
  EXPECT_NE(screen.find(" Input ended before the question was answered"), std::string::npos);
}

TEST(HostileInput, ASampleFileThatIsNoRegularFile) {
  const test_support::TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("pipe.sample").c_str(), 0600), 0);  // no writer: reading it would wait for ever
  std::string screen;
  EXPECT_EQ(run("-1\n" + dir.file("pipe") + "\n", screen), 1);
  EXPECT_NE(screen.find(" Failure locating file " + dir.file("pipe.sample")), std::string::npos) << screen;
  EXPECT_NE(screen.find("FIFO"), std::string::npos) << screen;
}

TEST(HostileInput, ADataFileThatIsNoRegularFile) {
  std::string screen;
  EXPECT_EQ(run("1\n/dev/zero\n", screen), 1);
  EXPECT_NE(screen.find(" Failure locating file /dev/zero"), std::string::npos) << screen;
}

}  // namespace
}  // namespace talvo
