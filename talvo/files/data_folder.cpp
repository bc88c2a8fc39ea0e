#include "talvo/files/data_folder.hpp"

#include <filesystem>

#include "talvo/files/files.hpp"
#include "talvo/text/words.hpp"

namespace talvo {

namespace fs = std::filesystem;

DataFolder DataFolder::named(std::string_view folder) {
  DataFolder d;
  d.named_ = true;
  d.prefix_ = std::string(trim_end(folder));
  if (!d.prefix_.empty() && d.prefix_.back() != '/') d.prefix_ += '/';
  return d;
}

DataFolder DataFolder::searched(std::vector<std::string> folders) {
  DataFolder d;
  d.folders_ = std::move(folders);
  return d;
}

std::string DataFolder::file(std::string_view bare) const {
  const std::string name(bare);
  if (named_) return prefix_ + name;
  if (file_exists(name)) return name;
  for (const std::string& dir : folders_) {
    if (dir.empty()) continue;
    const std::string path = (fs::path(dir) / name).lexically_normal().string();
    if (file_exists(path)) return path;
  }
  return name;
}

DataFolder program_data_folder(const char* g_f, std::string_view executable_dir) {
  if (g_f && !trim_end(g_f).empty()) return DataFolder::named(g_f);
  std::vector<std::string> folders;
  // Only paths relative to the program: an installed program keeps working
  // when its prefix moves, and no build machine's folder is baked into it.
  if (!executable_dir.empty()) {
    folders.push_back(std::string(executable_dir) + "/../share/talvo/data");  // installed
    folders.push_back(std::string(executable_dir) + "/data");  // the build tree's link to the sources' data/
  }
  return DataFolder::searched(std::move(folders));
}

std::string executable_dir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

}  // namespace talvo
