#include "talvo/files/data_folder.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.hpp"

namespace talvo {
namespace {

namespace fs = std::filesystem;

TEST(DataFolder, ANamedFolderWithOrWithoutItsSeparatorOfAnyLength) {
  const std::string long_name = "/data/" + std::string(200, 'd');  // far beyond the old 80 characters
  const struct {
    const char* named;
    std::string expected;
  } cases[] = {
      {"/opt/talvo/data/", "/opt/talvo/data/sears91.dat"},   {"/opt/talvo/data", "/opt/talvo/data/sears91.dat"},
      {"/opt/talvo/data   ", "/opt/talvo/data/sears91.dat"},  // trailing blanks are no part of a name
      {long_name.c_str(), long_name + "/sears91.dat"},       {"relative/dir", "relative/dir/sears91.dat"},
  };
  for (const auto& c : cases) EXPECT_EQ(DataFolder::named(c.named).file("sears91.dat"), c.expected) << c.named;
  // A named folder is the only place looked in, whether the file is there or not.
  EXPECT_EQ(program_data_folder("/no/such", "/usr/bin").file("sears91.dat"), "/no/such/sears91.dat");
}

TEST(DataFolder, SearchOrderWithoutAName) {
  const test_support::TempDir dir;
  for (const char* sub : {"work", "first", "second"}) fs::create_directories(dir.path() / sub);
  dir.write("second/a.dat", "2");
  dir.write("second/b.dat", "2");
  dir.write("first/b.dat", "1");
  dir.write("first/c.dat", "1");
  dir.write("work/c.dat", "0");
  const fs::path before = fs::current_path();
  fs::current_path(dir.path() / "work");
  const DataFolder search = DataFolder::searched({dir.file("first"), dir.file("second")});
  EXPECT_EQ(search.file("c.dat"), "c.dat");  // the working folder first
  EXPECT_EQ(search.file("b.dat"), dir.file("first/b.dat"));
  EXPECT_EQ(search.file("a.dat"), dir.file("second/a.dat"));
  EXPECT_EQ(search.file("none.dat"), "none.dat");  // found nowhere: the bare name, for the message
  // Unset and blank "G_F" both search, first beside the program: <bin>/../share/talvo/data.
  fs::create_directories(dir.path() / "prefix/bin");
  fs::create_directories(dir.path() / "prefix/share/talvo/data");
  dir.write("prefix/share/talvo/data/b.dat", "installed");
  for (const char* unset : {static_cast<const char*>(nullptr), "", "   "})
    EXPECT_EQ(program_data_folder(unset, dir.file("prefix/bin")).file("b.dat"),
              dir.file("prefix/share/talvo/data/b.dat"))
        << (unset ? unset : "unset");
  // A program in its build tree: data/ beside it (the build's link to the sources).
  fs::create_directories(dir.path() / "build/data");
  dir.write("build/data/d.dat", "built");
  EXPECT_EQ(program_data_folder(nullptr, dir.file("build")).file("d.dat"), dir.file("build/data/d.dat"));
  // Nothing else is searched: no folder of the machine the program was built on.
  EXPECT_EQ(program_data_folder(nullptr, dir.file("build")).file("sears91.dat"), "sears91.dat");
  fs::current_path(before);
}

}  // namespace
}  // namespace talvo
