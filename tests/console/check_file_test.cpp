// The dialogue's check of a file it is told to read.
#include "talvo/console/check_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <sstream>
#include <string>

#include "tests/support/temp_dir.hpp"

namespace talvo {
namespace {

using test_support::TempDir;

TEST(CheckFile, RefusesWhatIsNotARegularFile) {
  TempDir dir;
  const std::string file = dir.write("w.sample", "x\n");
  const std::string fifo = dir.file("f.sample");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string name;
    CheckFile iopt;
    std::string replies;
    std::optional<std::string> result;
    std::string screen;
    ErrorKind kind = ErrorKind::kInvalidArgument;  // of a refusal
  } cases[] = {
      {file, CheckFile::kQuiet, "", file, ""},
      {fifo, CheckFile::kQuiet, "", std::nullopt, ""},
      {file, CheckFile::kMustExist, "", file, ""},
      {fifo, CheckFile::kMustExist, "", std::nullopt,
       " Failure locating file " + fifo + "\n " + fifo + " is a FIFO, not a regular file\n"},
      {dir.file("none"), CheckFile::kMustExist, "", std::nullopt, " Failure locating file " + dir.file("none") + "\n",
       ErrorKind::kNotFound},
      {fifo, CheckFile::kAsk, file + "\n", file,
       " Failure locating file " + fifo + "\n " + fifo +
           " is a FIFO, not a regular file\n Give file name or return to stop >  File found : " + file + "\n"},
      {"/dev/zero", CheckFile::kAsk, "\n", std::nullopt,
       " Failure locating file /dev/zero\n /dev/zero is a character device, not a regular "
       "file\n Give file name or return to stop > ",
       ErrorKind::kNotFound},
      {file, CheckFile::kNew, "", file, " File found : " + file + "\n"},
      {dir.file("new"), CheckFile::kNew, "", dir.file("new"), " No pre-existing version of file exists\n"},
      {file, static_cast<CheckFile>(7), "", std::nullopt, " Unexpected option in check_file: iopt =7\n"},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.replies);
    std::ostringstream out;
    Console con{in, out};
    const Result<std::string> r = check_file(c.name, c.iopt, &con);
    EXPECT_EQ(r.ok(), c.result.has_value()) << c.name << ' ' << static_cast<int>(c.iopt);
    if (r.ok() && c.result) {
      EXPECT_EQ(*r, *c.result);
    } else if (!r.ok()) {
      EXPECT_EQ(r.kind(), c.kind) << c.name << ' ' << static_cast<int>(c.iopt);
    }
    EXPECT_EQ(out.str(), c.screen) << c.name << ' ' << static_cast<int>(c.iopt);
  }
}

}  // namespace
}  // namespace talvo
