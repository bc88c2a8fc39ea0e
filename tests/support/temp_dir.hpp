// A folder of the test's own under the system's temporary folder, with a
// name no other test run can have; removed with everything in it at the end.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace talvo::test_support {

class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "talvo_test_XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = templ;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }

  const std::filesystem::path& path() const { return path_; }
  // The full name of a file in the folder.
  std::string file(std::string_view name) const { return (path_ / name).string(); }
  // Writes a file in the folder and returns its full name.
  std::string write(std::string_view name, std::string_view content) const {
    const std::string p = file(name);
    std::ofstream(p, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    return p;
  }

 private:
  std::filesystem::path path_;
};

// One folder for the whole test process, for helpers that write files by name.
inline const std::filesystem::path& scratch_dir() {
  static const TempDir dir;
  return dir.path();
}

}  // namespace talvo::test_support
