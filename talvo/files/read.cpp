#include "talvo/files/read.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <istream>
#include <new>
#include <streambuf>

#include "talvo/files/posix_internal.hpp"

namespace talvo {

namespace fs = std::filesystem;
using files_internal::IoBuffer;
using files_internal::retry;

namespace {

// A file's bytes for an istream (none when there is no file). A read that
// fails sets the stream's badbit and ends its input.
class FileInBuf : public std::streambuf {
 public:
  FileInBuf(RegularFile* file, std::istream& stream) : file_(file), stream_(stream), buf_(1 << 16) {}
  FileInBuf(const FileInBuf&) = delete;
  FileInBuf& operator=(const FileInBuf&) = delete;

 protected:
  int_type underflow() override {
    if (!file_) return traits_type::eof();
    const Result<std::size_t> n = file_->read(buf_.data(), buf_.size());
    if (!n.ok()) stream_.setstate(std::ios::badbit);
    if (!n.ok() || *n == 0) return traits_type::eof();
    setg(buf_.data(), buf_.data(), buf_.data() + *n);
    return traits_type::to_int_type(buf_[0]);
  }

 private:
  RegularFile* file_;
  std::istream& stream_;
  IoBuffer buf_;
};

}  // namespace

Result<RegularFile> RegularFile::open(const std::string& name, std::uint64_t max_bytes) {
  Result<int> fd = files_internal::open_regular(name);
  if (!fd.ok()) return fd.error();
  RegularFile file(name, *fd, 0);
  struct stat st {};
  if (fstat(*fd, &st) != 0) return file.read_failure();
  file.size_ = static_cast<std::uint64_t>(st.st_size);
  if (file.size_ > max_bytes)
    return make_error(ErrorKind::kOutOfRange, files_internal::shown_name(name) + " holds " +
                                                  std::to_string(file.size_) + " bytes, more than the " +
                                                  std::to_string(max_bytes) + " that are read");
  return file;
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : name_(std::move(other.name_)), fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}

RegularFile::~RegularFile() {
  if (fd_ >= 0) ::close(fd_);
}

Error RegularFile::read_failure() const {
  const int err = errno;
  Error e = make_error(ErrorKind::kIoError,
                       "cannot read " + files_internal::shown_name(name_) + ": " + files_internal::system_text(err));
  e.system_error = err;
  return e;
}

Result<std::size_t> RegularFile::read(char* into, std::size_t n) {
  const ssize_t got = retry([&] { return ::read(fd_, into, n); });
  if (got < 0) return read_failure();
  return static_cast<std::size_t>(got);
}

Result<std::size_t> RegularFile::read_at(char* into, std::size_t n, std::uint64_t offset) const {
  const ssize_t got = retry([&] { return ::pread(fd_, into, n, static_cast<off_t>(offset)); });
  if (got < 0) return read_failure();
  return static_cast<std::size_t>(got);
}

Outcome check_regular_file(const std::string& name) {
  struct stat st {};
  if (name.empty()) return files_internal::open_error(name, ENOENT);
  if (stat(name.c_str(), &st) != 0) return files_internal::open_error(name, errno);
  if (!S_ISREG(st.st_mode)) return files_internal::not_regular(name, st.st_mode);
  return Done{};
}

namespace {

Error line_too_long(std::size_t max_length) {
  return make_error(ErrorKind::kOutOfRange, "longer than " + std::to_string(max_length) + " characters");
}
Error stream_failed() { return make_error(ErrorKind::kIoError, "the read failed"); }

}  // namespace

Result<bool> read_line(std::istream& in, std::string& text, std::size_t max_length, bool* rest_pending) {
  text.clear();
  if (rest_pending) *rest_pending = false;
  if (!in.good()) {
    in.setstate(std::ios::failbit);
    if (in.bad()) return stream_failed();
    return false;
  }
  // One more than the limit leaves room for the CR of a CR-LF.
  const std::size_t keep = max_length + 1;
  // getline finds the line end in the stream's own buffer; a long line comes
  // in several pieces.
  char piece[512];
  for (;;) {
    const std::size_t room = std::min(sizeof piece - 1, keep - text.size());
    in.getline(piece, static_cast<std::streamsize>(room + 1));
    if (in.bad()) return stream_failed();
    const auto got = static_cast<std::size_t>(in.gcount());
    if (!in.fail()) {  // the line end was taken, or the input ended after some characters
      text.append(piece, in.eof() ? got : got - 1);
      break;
    }
    if (in.eof()) {  // nothing more: the line ended with the input, or there was none
      if (text.empty()) return false;
      in.clear(std::ios::eofbit);
      break;
    }
    // The piece is full and the line goes on.
    text.append(piece, got);
    in.clear(in.rdstate() & ~std::ios::failbit);
    if (text.size() == keep) {
      // The character that makes the line too long is taken, as a reader of it
      // would; it is no line end (getline would have taken that).
      in.rdbuf()->sbumpc();
      if (rest_pending) *rest_pending = true;
      if (in.bad()) return stream_failed();
      return line_too_long(max_length);
    }
  }
  if (!text.empty() && text.back() == '\r') text.pop_back();
  if (text.size() > max_length) return line_too_long(max_length);
  return true;
}

struct InputFile::State {
  Result<RegularFile> file;
  std::unique_ptr<FileInBuf> buf;
  std::istream stream{nullptr};
  explicit State(const std::string& name) : file(RegularFile::open(name)) {}
};

InputFile::InputFile(const std::string& name) : s_(std::make_unique<State>(name)) {
  s_->buf = std::make_unique<FileInBuf>(s_->file.ok() ? &*s_->file : nullptr, s_->stream);
  s_->stream.rdbuf(s_->buf.get());
}
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;
InputFile::~InputFile() = default;

Result<InputFile> InputFile::open(const std::string& name) {
  InputFile f(name);
  if (!f.s_->file.ok()) return f.s_->file.error();
  return f;
}

std::istream& InputFile::stream() { return s_->stream; }

bool file_exists(const std::string& name) {
  std::error_code ec;
  return !name.empty() && fs::exists(name, ec) && !fs::is_directory(name, ec);
}

Result<std::string> read_whole_file(const std::string& name) {
  Result<RegularFile> file = RegularFile::open(name);
  if (!file.ok()) return file.error();
  try {
    std::string text;
    if (file->size() <= SIZE_MAX) text.reserve(static_cast<std::size_t>(file->size()));
    if (Outcome read = file->read_all([&](std::string_view chunk) { text.append(chunk); }); !read.ok())
      return read.error();
    return text;
  } catch (const std::bad_alloc&) {
    return make_error(ErrorKind::kOutOfMemory, files_internal::shown_name(name) + " does not fit in memory");
  }
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

RecordCounts RecordCounter::finish() {
  if (current_ > 0) {
    ++r_.records;
    r_.max_length = std::max(r_.max_length, current_ - (cr_ ? 1 : 0));
    current_ = 0;
  }
  return r_;
}

Result<RecordCounts> count_records(const std::string& name) {
  Result<RegularFile> file = RegularFile::open(name);
  if (!file.ok()) return file.error();
  RecordCounter counter;
  if (Outcome read = file->read_all([&](std::string_view chunk) { counter.feed(chunk); }); !read.ok())
    return read.error();
  return counter.finish();
}

Result<FileContent> FileContent::open(const std::string& name, std::uint64_t max_bytes) {
  Result<RegularFile> file = RegularFile::open(name, std::min<std::uint64_t>(max_bytes, SIZE_MAX));
  if (!file.ok()) return file.error();
  const auto size = static_cast<std::size_t>(file->size());
  try {
    FileContent c;
    if (size > 0) {
      // Read, never mapped: a file cut short by another process while it is
      // read gives a short read, not a signal that ends the program. The
      // size the file had when opened is read, no more.
      c.copy_.resize(size);
      std::size_t got = 0;
      while (got < size) {
        const Result<std::size_t> n = file->read(c.copy_.data() + got, size - got);
        if (!n.ok()) return n.error();
        if (*n == 0)
          return make_error(ErrorKind::kIoError, files_internal::shown_name(name) +
                                                     " became shorter while it was read (from " + std::to_string(size) +
                                                     " to " + std::to_string(got) + " bytes)");
        got += *n;
      }
      c.view_ = c.copy_;
    }
    return c;
  } catch (const std::bad_alloc&) {
    return make_error(ErrorKind::kOutOfMemory, files_internal::shown_name(name) + " does not fit in memory");
  }
}

FileContent::FileContent(FileContent&& other) noexcept : copy_(std::move(other.copy_)), view_(copy_) {
  other.view_ = {};
}

FileContent::~FileContent() = default;

}  // namespace talvo
