// Where a program finds its data files: the folder the user names in "G_F",
// or the working folder and then the folders the program was installed with
// or built from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace talvo {

class DataFolder {
 public:
  // The working folder only.
  DataFolder() = default;

  // A folder the user named: every data file is taken from there and only
  // there. A name without a trailing "/" gets one; trailing blanks are dropped.
  static DataFolder named(std::string_view folder);

  // No folder named: a data file in the working folder is used when there is
  // one, otherwise the first of `folders` that holds it.
  static DataFolder searched(std::vector<std::string> folders);

  // The name to open a data file under; its bare name when no folder holds it.
  std::string file(std::string_view bare) const;

 private:
  std::string prefix_;
  bool named_ = false;
  std::vector<std::string> folders_;
};

// The data folder of TALVO's programs. `g_f` is the value of the environment
// variable "G_F" (null when it is unset; a blank value counts as unset), and
// `executable_dir` the folder of the running program: without "G_F" the
// files are searched in <executable_dir>/../share/talvo/data (an installed
// program, wherever its prefix now lies) and in <executable_dir>/data (a
// program in its build tree, where the build links the sources' data/). A
// program or library user with the data elsewhere names the folder:
// DataFolder::named (the CMake package's talvo_DATA_DIR, pkg-config's datadir).
DataFolder program_data_folder(const char* g_f, std::string_view executable_dir);

// The folder of the running program, or "" when the system does not say.
std::string executable_dir();

}  // namespace talvo
