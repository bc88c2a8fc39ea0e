// Reading files: regular files only, lines of bounded length, whole files in
// one piece, and their records counted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>  // stream() is read with it
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "talvo/result.hpp"

namespace talvo {

// Longest line, without its line end, that the text readers accept. A longer
// line is an error: a file without line ends cannot make a reader grow one
// line without bound.
inline constexpr std::size_t kMaxLineLength = 65536;

// Succeeds when `name` is an existing regular file (or a symbolic link to
// one). kNotFound when it (or its folder) does not exist, kIoError when it
// cannot be looked at, kInvalidArgument when it is something else (a folder,
// a FIFO, a device, a socket), which a reader must not open: a FIFO without a
// writer would hang it and a device such as /dev/zero never ends.
Outcome check_regular_file(const std::string& name);

// Reads one line into `text`, without its line end (LF or CR-LF); the last
// line of a file needs no LF. True when a line was read, false when nothing
// was left. At most max_length characters are accepted: a longer line is
// kOutOfRange after max_length + 2 characters, never more; a stream that
// fails is kIoError. `rest_pending`, when given, is set on kOutOfRange to
// whether the rest of the line, with its end, is still to be read (a caller
// that goes on to the next line skips it; one of exactly max_length + 1
// characters has none left).
Result<bool> read_line(std::istream& in, std::string& text, std::size_t max_length = kMaxLineLength,
                       bool* rest_pending = nullptr);

// A regular file open for reading: what every reader here opens a file
// with. The check is made on the opened descriptor, and the open does not
// wait for a FIFO's writer, so nothing put in the file's place between a
// check and the open can make a reader hang or read without end. A reader
// that takes the file in pieces of its own (the XRDML reader) reads it
// through read() and read_at().
class RegularFile {
 public:
  // The errors of check_regular_file; kOutOfRange for a file above max_bytes,
  // refused before anything is read.
  static Result<RegularFile> open(const std::string& name, std::uint64_t max_bytes = UINT64_MAX);
  RegularFile(RegularFile&& other) noexcept;
  RegularFile& operator=(RegularFile&&) = delete;
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;
  ~RegularFile();

  // Its size when it was opened.
  std::uint64_t size() const { return size_; }
  // Up to n bytes into `into` from where the last read ended: how many were
  // read, 0 at the end; kIoError, with the system's reason, when the read fails.
  Result<std::size_t> read(char* into, std::size_t n);
  // The same from `offset`, without moving on.
  Result<std::size_t> read_at(char* into, std::size_t n, std::uint64_t offset) const;
  // Every byte to the end (whatever the size said: a growing file is read on),
  // handed to `use` a piece at a time.
  template <class Use>
  Outcome read_all(Use use);

 private:
  RegularFile(std::string name, int fd, std::uint64_t size) : name_(std::move(name)), fd_(fd), size_(size) {}
  Error read_failure() const;
  std::string name_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

template <class Use>
Outcome RegularFile::read_all(Use use) {
  char piece[1 << 16];
  for (;;) {
    const Result<std::size_t> got = read(piece, sizeof piece);
    if (!got.ok()) return got.error();
    if (*got == 0) return Done{};
    use(std::string_view(piece, *got));
  }
}

// A file opened for reading only when it is a regular file. The check is made
// on the opened descriptor, and the open does not wait for a FIFO's writer, so
// nothing put in the file's place between a check and the open can make the
// reader hang or read without end. A read error sets badbit on the stream.
class InputFile {
 public:
  // The file, or why it cannot be read (the errors of check_regular_file).
  static Result<InputFile> open(const std::string& name);

  InputFile(InputFile&&) noexcept;
  InputFile& operator=(InputFile&&) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // The file's text.
  std::istream& stream();

 private:
  explicit InputFile(const std::string& name);
  struct State;
  std::unique_ptr<State> s_;
};

// True when `name` exists and is not a folder.
bool file_exists(const std::string& name);

// A whole regular file in memory; the errors of check_regular_file, or
// kIoError when a read fails.
Result<std::string> read_whole_file(const std::string& name);

// A file's content for reading in one pass.
class FileContent {
 public:
  // Only regular files are opened (the errors of check_regular_file): a
  // device, FIFO or socket may block or never end. A file above max_bytes is
  // refused (kOutOfRange) before anything is read; kIoError when a read fails.
  static Result<FileContent> open(const std::string& name, std::uint64_t max_bytes = UINT64_MAX);
  FileContent(FileContent&&) noexcept;
  FileContent& operator=(FileContent&&) = delete;
  FileContent(const FileContent&) = delete;
  ~FileContent();
  std::string_view text() const { return view_; }

 private:
  FileContent() = default;
  std::string copy_;
  std::string_view view_;
};

// The number of records (lines) of a text and the length of its longest
// record, line ends (LF or CR-LF) not counted.
struct RecordCounts {
  long long records = 0;
  long long max_length = 0;
};

// Counts records over text given in pieces of any size.
class RecordCounter {
 public:
  void feed(std::string_view chunk);
  RecordCounts finish();

 private:
  RecordCounts r_;
  long long current_ = 0;
  bool cr_ = false;  // the last character was a CR, which belongs to the line end before an LF
};

// Counts the records of a regular file of any size in one pass (the errors of
// check_regular_file, or kIoError when a read fails).
Result<RecordCounts> count_records(const std::string& name);

}  // namespace talvo
