#include "talvo/files/files.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <vector>

#include "talvo/console/print.hpp"
#include "talvo/text/words.hpp"

namespace talvo {

namespace fs = std::filesystem;

bool file_exists(const std::string& name) {
  std::error_code ec;
  return !name.empty() && fs::exists(name, ec) && !fs::is_directory(name, ec);
}

std::optional<std::string> check_file(const std::string& name, int iopt, Console* con) {
  std::string current = name;
  switch (iopt) {
    case kCheckQuiet:
      if (file_exists(current)) return current;
      return std::nullopt;
    case kCheckMustExist:
      if (file_exists(current)) return current;
      line(*con, " Failure locating file " + current);
      return std::nullopt;
    case kCheckAsk:
      for (;;) {
        if (file_exists(current)) {
          line(*con, " File found : " + current);
          return current;
        }
        line(*con, " Failure locating file " + current);
        prompt(*con, " Give file name or return to stop > ");
        current = std::string(trim_end(read_reply(*con)));
        if (current.empty()) return std::nullopt;
      }
    case kCheckNew:
      if (file_exists(current))
        line(*con, " File found : " + current);
      else
        line(*con, " No pre-existing version of file exists");
      return current;
    default:
      if (con) pr_int(con->out, "Unexpected option in check_file: iopt =", iopt);
      return std::nullopt;
  }
}

namespace {

std::string executable_dir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

}  // namespace

std::string data_file_name(const std::string& prefix, std::string_view bare) {
  std::string name(bare);
  if (!prefix.empty()) return prefix + name;
  if (file_exists(name)) return name;
  std::string candidates[] = {
      executable_dir().empty() ? std::string() : executable_dir() + "/../share/talvo/data/",
      std::string(TALVO_INSTALL_DATA_DIR) + "/",
      std::string(TALVO_SOURCE_DATA_DIR) + "/",
  };
  for (const std::string& dir : candidates) {
    if (dir.empty()) continue;
    const std::string path = fs::path(dir + name).lexically_normal().string();
    if (file_exists(path)) return path;
  }
  return name;
}

NewFile::NewFile(std::string final_name, std::string temp_name)
    : final_name_(std::move(final_name)),
      temp_name_(std::move(temp_name)),
      stream_(std::make_unique<std::ofstream>(temp_name_, std::ios::out | std::ios::trunc)) {}

NewFile::NewFile(NewFile&& other) noexcept
    : final_name_(std::move(other.final_name_)),
      temp_name_(std::move(other.temp_name_)),
      stream_(std::move(other.stream_)) {
  other.temp_name_.clear();
}

NewFile& NewFile::operator=(NewFile&& other) noexcept {
  if (this != &other) {
    if (stream_) stream_->close();
    if (!temp_name_.empty()) std::remove(temp_name_.c_str());
    final_name_ = std::move(other.final_name_);
    temp_name_ = std::move(other.temp_name_);
    stream_ = std::move(other.stream_);
    other.temp_name_.clear();
  }
  return *this;
}

NewFile::~NewFile() {
  if (stream_) stream_->close();
  if (!temp_name_.empty()) std::remove(temp_name_.c_str());
}

bool NewFile::commit() {
  if (!stream_) return false;
  stream_->flush();
  const bool written = stream_->good();
  stream_->close();
  if (!written || stream_->fail()) return false;
  if (std::rename(temp_name_.c_str(), final_name_.c_str()) != 0) return false;
  temp_name_.clear();
  return true;
}

std::optional<NewFile> open_new_file(std::ostream& console, int unit, const std::string& name, int record_length) {
  const fs::path path(name);
  const std::string dir = path.has_parent_path() ? path.parent_path().string() + "/" : std::string();
  std::string templ = dir + "." + path.filename().string() + ".XXXXXX";
  int err = 0;
  if (path.filename().empty())
    err = EISDIR;
  else if (file_exists(name) && access(name.c_str(), W_OK) != 0)
    err = errno;
  int fd = -1;
  if (err == 0) {
    fd = mkstemp(templ.data());
    if (fd < 0) err = errno;
  }
  if (err == 0) {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    NewFile file(name, templ);
    if (file.good()) return file;
    err = EIO;
  }
  console << " ** Error in open_new_file **\n"
          << " I/O status = replace\n"
          << " File name = " << name << '\n';
  pr_int(console, "Unit number = ", unit);
  pr_int(console, "Record length = ", record_length);
  pr_int(console, "Error number = ", err);
  console << " " << std::strerror(err) << '\n';
  return std::nullopt;
}

std::optional<std::string> read_whole_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  std::error_code ec;
  const auto size = fs::file_size(name, ec);
  if (!ec) {
    text.resize(static_cast<std::size_t>(size));
    in.read(text.data(), static_cast<std::streamsize>(size));
    text.resize(static_cast<std::size_t>(in.gcount()));
  }
  // Whatever the size said (a pipe, a growing file), read on to the end.
  char buf[1 << 16];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) text.append(buf, static_cast<std::size_t>(in.gcount()));
  if (in.bad()) return std::nullopt;
  return text;
}

void RecordCounter::feed(std::string_view chunk) {
  while (!chunk.empty()) {
    const auto nl = chunk.find('\n');
    const std::string_view part = chunk.substr(0, nl);
    if (!part.empty()) {
      current_ += static_cast<long long>(part.size());
      cr_ = part.back() == '\r';
    }
    if (nl == std::string_view::npos) return;
    ++r_.records;
    r_.max_length = std::max(r_.max_length, current_ - (cr_ ? 1 : 0));
    current_ = 0;
    cr_ = false;
    chunk.remove_prefix(nl + 1);
  }
}

FileRecords RecordCounter::finish() {
  if (current_ > 0) {
    ++r_.records;
    r_.max_length = std::max(r_.max_length, current_ - (cr_ ? 1 : 0));
    current_ = 0;
  }
  r_.readable = true;
  return r_;
}

void report_records(const FileRecords& r, int print_level, std::ostream& out) {
  if (print_level == 1) {
    pr_int(out, "inqfilerec: Number of records in file =", r.records);
    pr_int(out, "inqfilerec: Maximum record length =", r.max_length);
  }
  if (print_level > 0 && r.max_length > kLongRecordWarning)
    out << " **WARNING** Excessively long record(s) encountered\n";
}

std::optional<FileContent> FileContent::open(const std::string& name, std::uint64_t max_bytes, OpenFailure* why) {
  OpenFailure failure_storage = OpenFailure::kNone;
  OpenFailure& failure = why ? *why : failure_storage;
  failure = OpenFailure::kNone;
  // O_NONBLOCK: opening a FIFO without a writer must not wait for one.
  const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    failure = errno == ENOENT || errno == ENOTDIR ? OpenFailure::kMissing : OpenFailure::kUnreadable;
    return std::nullopt;
  }
  struct stat st {};
  const bool known = fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode)) {
    failure = known ? OpenFailure::kNotRegular : OpenFailure::kUnreadable;
    ::close(fd);
    return std::nullopt;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > max_bytes || size > SIZE_MAX) {
    failure = OpenFailure::kTooLarge;
    ::close(fd);
    return std::nullopt;
  }
  FileContent c;
  if (size > 0) {
#ifdef MAP_POPULATE
    // The whole content is about to be read: mapped in one go, not page by page.
    constexpr int kFlags = MAP_PRIVATE | MAP_POPULATE;
#else
    constexpr int kFlags = MAP_PRIVATE;
#endif
    void* p = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, kFlags, fd, 0);
    if (p != MAP_FAILED) {
      c.map_ = p;
      c.map_size_ = static_cast<std::size_t>(size);
      c.view_ = std::string_view(static_cast<const char*>(p), c.map_size_);
    } else {
      // No mapping (some file systems): read the size stat gave, no more.
      c.copy_.resize(static_cast<std::size_t>(size));
      std::size_t got = 0;
      while (got < c.copy_.size()) {
        const ssize_t n = ::read(fd, c.copy_.data() + got, c.copy_.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          failure = OpenFailure::kUnreadable;
          ::close(fd);
          return std::nullopt;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
      }
      c.copy_.resize(got);
      c.view_ = c.copy_;
    }
  }
  ::close(fd);
  return c;
}

FileContent::FileContent(FileContent&& other) noexcept
    : map_(other.map_), map_size_(other.map_size_), copy_(std::move(other.copy_)) {
  view_ = map_ ? other.view_ : std::string_view(copy_);
  other.map_ = nullptr;
  other.view_ = {};
}

FileContent::~FileContent() {
  if (map_) munmap(map_, map_size_);
}

FileRecords inqfilerec(const std::string& name, int print_level, std::ostream& out) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return {};
  RecordCounter counter;
  std::vector<char> buf(1 << 16);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    counter.feed(std::string_view(buf.data(), static_cast<std::size_t>(in.gcount())));
  }
  if (in.bad()) return {};
  FileRecords r = counter.finish();
  report_records(r, print_level, out);
  return r;
}

}  // namespace talvo
