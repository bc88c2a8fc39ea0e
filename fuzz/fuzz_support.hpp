// Helpers shared by the fuzz targets.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

inline std::string_view text(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// A folder of this process's own for the files a target writes, under a name
// no other run can have; removed with what is in it when the process exits.
class WorkDir {
 public:
  WorkDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "talvo_fuzz_XXXXXX").string();
    if (!mkdtemp(templ.data())) std::abort();
    path_ = templ;
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;
  ~WorkDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline const std::filesystem::path& work_dir() {
  static const WorkDir dir;
  return dir.path();
}

inline std::string write_file(const std::string& name, std::string_view content) {
  const auto path = (work_dir() / name).string();
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(content.data(), static_cast<std::streamsize>(content.size()));
  return path;
}

// Doubles taken from the bytes, 8 at a time.
inline std::vector<double> doubles(const uint8_t* data, size_t size) {
  std::vector<double> v(size / 8);
  if (!v.empty()) std::memcpy(v.data(), data, v.size() * 8);
  return v;
}

}  // namespace fuzz
