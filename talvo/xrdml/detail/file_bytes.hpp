// Reading a file's bytes for the XRDML readers (internal to them).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>

namespace talvo::xrdml_detail {

enum class FileRead { kRead, kMissing, kNotRegular, kTooLarge, kShrank, kOutOfMemory, kUnreadable };

// Files are read, never mapped: a mapped file that another process cuts
// short kills the reader with SIGBUS at the first page past the new end,
// while a read just returns fewer bytes.

// A file's bytes in memory of their own.
struct FileBytes {
  std::unique_ptr<char[]> data;  // not cleared first: only what is read is touched
  std::size_t size = 0;
  std::size_t expected = 0;  // the size the file had when opened
  std::string_view text() const { return std::string_view(data.get(), size); }
};

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opens a regular file for reading; its size in `size`. The caller closes fd.
inline FileRead open_for_reading(const std::string& path, std::uint64_t max_bytes, int& fd, std::size_t& size) {
  // O_NONBLOCK: a FIFO without a writer must be refused, not waited for.
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? FileRead::kMissing : FileRead::kUnreadable;
  struct stat st {};
  FileRead refused = FileRead::kRead;
  if (fstat(fd, &st) != 0)
    refused = FileRead::kUnreadable;
  else if (!S_ISREG(st.st_mode))
    refused = FileRead::kNotRegular;
  else if (static_cast<std::uint64_t>(st.st_size) > max_bytes || static_cast<std::uint64_t>(st.st_size) > SIZE_MAX / 2)
    refused = FileRead::kTooLarge;
  if (refused != FileRead::kRead) {
    ::close(fd);
    fd = -1;
    return refused;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  size = static_cast<std::size_t>(st.st_size);
  return FileRead::kRead;
}

// The whole file in memory of its own.
inline FileRead read_file_bytes(const std::string& path, std::uint64_t max_bytes, FileBytes& out) {
  int fd = -1;
  const FileRead opened = open_for_reading(path, max_bytes, fd, out.expected);
  if (opened != FileRead::kRead) return opened;
  const Descriptor file(fd);
  if (out.expected == 0) return FileRead::kRead;
  try {
    out.data = std::make_unique_for_overwrite<char[]>(out.expected);
  } catch (const std::bad_alloc&) {
    return FileRead::kOutOfMemory;
  }
  // The size fstat gave, no more: a file that grows meanwhile is read as it was.
  while (out.size < out.expected) {
    const ssize_t got = ::read(fd, out.data.get() + out.size, out.expected - out.size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FileRead::kUnreadable;
    if (got == 0) return FileRead::kShrank;
    out.size += static_cast<std::size_t>(got);
  }
  return FileRead::kRead;
}

}  // namespace talvo::xrdml_detail
