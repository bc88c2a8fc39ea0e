// The classic file routines: records counted and reported by print level, and
// the error block of a file that cannot be created.
#include "talvo/classic/files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>

#include "tests/support/temp_dir.hpp"

namespace talvo::classic {
namespace {

using test_support::TempDir;

TEST(OpenNewFile, ErrorBlock) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("folder.talvo"));
  struct Case {
    std::string name;
    int err;
    std::string text;
  } cases[] = {
      {dir.file("missing/x.talvo"), 2, "No such file or directory"},
      // A folder of the name is refused when the file is created, not after it was written.
      {dir.file("folder.talvo"), 21, "Is a directory"},
  };
  for (const Case& c : cases) {
    std::ostringstream console;
    EXPECT_FALSE(open_new_file(console, 10, c.name, 132).has_value());
    EXPECT_EQ(console.str(), " ** Error in open_new_file **\n I/O status = replace\n File name = " + c.name +
                                 "\n Unit number = 10\n Record length = 132\n Error number = " + std::to_string(c.err) +
                                 "\n " + c.text + "\n");
  }
  std::ostringstream quiet;
  auto made = open_new_file(quiet, 10, dir.file("x.talvo"), 132);
  ASSERT_TRUE(made.has_value());
  EXPECT_EQ(quiet.str(), "");
}

TEST(Inqfilerec, CountsAndWhatEachPrintLevelShows) {
  TempDir dir;
  const std::string name = dir.write("f.dat", "one\r\n\nthree3\n");
  const std::string counts = " inqfilerec: Number of records in file =3\n inqfilerec: Maximum record length =6\n";
  const std::string very_long = dir.write("long.dat", std::string(kLongRecordWarning + 1, 'x'));
  const std::string warning = " **WARNING** Excessively long record(s) encountered\n";
  struct Case {
    std::string name;
    int print_level;
    std::string screen;
  } cases[] = {
      {name, 0, ""},
      {name, 1, counts},
      {name, 2, ""},
      {very_long, 0, ""},
      {very_long, 1,
       " inqfilerec: Number of records in file =1\n inqfilerec: Maximum record length =1000001\n" + warning},
      {very_long, 2, warning},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    const FileRecords r = inqfilerec(c.name, c.print_level, out);
    EXPECT_TRUE(r.readable);
    EXPECT_EQ(out.str(), c.screen) << c.name << ' ' << c.print_level;
  }
  EXPECT_EQ(inqfilerec(name, 0, std::cout).records, 3);
  EXPECT_EQ(inqfilerec(name, 0, std::cout).max_length, 6);
  // What is not a readable regular file gives nothing, and prints nothing.
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  for (const std::string& unreadable : {dir.file("missing"), dir.file("fifo"), dir.path().string()}) {
    std::ostringstream out;
    const FileRecords r = inqfilerec(unreadable, 1, out);
    EXPECT_FALSE(r.readable) << unreadable;
    EXPECT_EQ(r.records, 0);
    EXPECT_EQ(out.str(), "");
  }
}

}  // namespace
}  // namespace talvo::classic
