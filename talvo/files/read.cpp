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

// A read error inside the buffer, turned into badbit by the stream.
struct ReadFailure {};

class FdInBuf : public std::streambuf {
 public:
  explicit FdInBuf(int fd) : fd_(fd), buf_(1 << 16) {}
  FdInBuf(const FdInBuf&) = delete;
  FdInBuf& operator=(const FdInBuf&) = delete;
  ~FdInBuf() override {
    if (fd_ >= 0) ::close(fd_);
  }

 protected:
  int_type underflow() override {
    if (fd_ < 0) return traits_type::eof();
    const ssize_t n = retry([&] { return ::read(fd_, buf_.data(), buf_.size()); });
    if (n < 0) throw ReadFailure{};
    if (n == 0) return traits_type::eof();
    setg(buf_.data(), buf_.data(), buf_.data() + n);
    return traits_type::to_int_type(buf_[0]);
  }

 private:
  int fd_;
  IoBuffer buf_;
};

// Closes a descriptor when it goes out of scope.
struct FdGuard {
  int fd;
  ~FdGuard() { ::close(fd); }
};

}  // namespace

Outcome check_regular_file(const std::string& name) {
  struct stat st {};
  if (name.empty()) return files_internal::open_error(name, ENOENT);
  if (stat(name.c_str(), &st) != 0) return files_internal::open_error(name, errno);
  if (!S_ISREG(st.st_mode)) return files_internal::not_regular(name, st.st_mode);
  return Done{};
}

LineRead read_line(std::istream& in, std::string& text, std::size_t max_length, bool* rest_pending) {
  text.clear();
  if (rest_pending) *rest_pending = false;
  if (!in.good()) {
    in.setstate(std::ios::failbit);
    return in.bad() ? LineRead::kError : LineRead::kEnd;
  }
  // One more than the limit leaves room for the CR of a CR-LF.
  const std::size_t keep = max_length + 1;
  // getline finds the line end in the stream's own buffer; a long line comes
  // in several pieces.
  char piece[512];
  for (;;) {
    const std::size_t room = std::min(sizeof piece - 1, keep - text.size());
    in.getline(piece, static_cast<std::streamsize>(room + 1));
    if (in.bad()) return LineRead::kError;
    const auto got = static_cast<std::size_t>(in.gcount());
    if (!in.fail()) {  // the line end was taken, or the input ended after some characters
      text.append(piece, in.eof() ? got : got - 1);
      break;
    }
    if (in.eof()) {  // nothing more: the line ended with the input, or there was none
      if (text.empty()) return LineRead::kEnd;
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
      return in.bad() ? LineRead::kError : LineRead::kTooLong;
    }
  }
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text.size() > max_length ? LineRead::kTooLong : LineRead::kLine;
}

struct InputFile::State {
  Outcome opened = Done{};
  std::unique_ptr<FdInBuf> buf;
  std::istream stream{nullptr};
};

InputFile::InputFile(const std::string& name) : s_(std::make_unique<State>()) {
  Result<int> fd = files_internal::open_regular(name);
  if (fd.ok()) {
    s_->buf = std::make_unique<FdInBuf>(*fd);
  } else {
    s_->opened = fd.error();
    s_->buf = std::make_unique<FdInBuf>(-1);
  }
  s_->stream.rdbuf(s_->buf.get());
}
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;
InputFile::~InputFile() = default;

Result<InputFile> InputFile::open(const std::string& name) {
  InputFile f(name);
  if (!f.is_open()) return f.error();
  return f;
}

bool InputFile::is_open() const { return s_->opened.ok(); }
const Error& InputFile::error() const { return s_->opened.error(); }
std::istream& InputFile::stream() { return s_->stream; }

bool file_exists(const std::string& name) {
  std::error_code ec;
  return !name.empty() && fs::exists(name, ec) && !fs::is_directory(name, ec);
}

namespace {

Error read_failure(const std::string& name) {
  return make_error(ErrorKind::kIoError,
                    "cannot read " + files_internal::shown_name(name) + ": " + files_internal::system_text(errno));
}

}  // namespace

Result<std::string> read_whole_file(const std::string& name) {
  Result<int> fd = files_internal::open_regular(name);
  if (!fd.ok()) return fd.error();
  const FdGuard guard{*fd};
  try {
    std::string text;
    struct stat st {};
    if (fstat(*fd, &st) == 0 && st.st_size > 0) text.reserve(static_cast<std::size_t>(st.st_size));
    // Whatever the size said (a growing file), read on to the end.
    if (!files_internal::read_all(*fd, [&](std::string_view chunk) { text.append(chunk); })) return read_failure(name);
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
  Result<int> fd = files_internal::open_regular(name);
  if (!fd.ok()) return fd.error();
  const FdGuard guard{*fd};
  RecordCounter counter;
  if (!files_internal::read_all(*fd, [&](std::string_view chunk) { counter.feed(chunk); })) return read_failure(name);
  return counter.finish();
}

Result<FileContent> FileContent::open(const std::string& name, std::uint64_t max_bytes) {
  Result<int> fd = files_internal::open_regular(name);
  if (!fd.ok()) return fd.error();
  const FdGuard guard{*fd};
  struct stat st {};
  if (fstat(*fd, &st) != 0) return read_failure(name);
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > max_bytes || size > SIZE_MAX)
    return make_error(ErrorKind::kOutOfRange, files_internal::shown_name(name) + " holds " + std::to_string(size) +
                                                  " bytes, more than the " + std::to_string(max_bytes) +
                                                  " that are read");
  try {
    FileContent c;
    if (size > 0) {
      // Read, never mapped: a file cut short by another process while it is
      // read must give a short read, not a signal that ends the program.
      c.copy_.resize(static_cast<std::size_t>(size));
      std::size_t got = 0;
      while (got < c.copy_.size()) {
        const ssize_t n = retry([&] { return ::read(*fd, c.copy_.data() + got, c.copy_.size() - got); });
        if (n < 0) return read_failure(name);
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
      }
      c.copy_.resize(got);
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
