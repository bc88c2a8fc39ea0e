// The POSIX plumbing under the file routines: calls retried after a signal,
// regular files opened by descriptor, buffers taken as they are used, and the
// system's error texts. Internal to the files layer: not installed.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "talvo/result.hpp"

namespace talvo::files_internal {

// Retries a system call that a signal interrupted.
template <typename Call>
auto retry(Call call) {
  for (;;) {
    const auto r = call();
    if (r >= 0 || errno != EINTR) return r;
  }
}

// A file name as a message shows it: whole, control characters escaped.
std::string shown_name(const std::string& name);

// The system's text for an error number ("No such file or directory").
std::string system_text(int err);

// What a file of this mode is, for a message: "a folder", "a FIFO", ...
const char* kind_of(mode_t mode);

// The error of a file that cannot be looked at or opened: kNotFound when it
// (or a folder on its way) does not exist, kIoError otherwise.
Error open_error(const std::string& name, int err);

// The error of a name that is not a regular file.
Error not_regular(const std::string& name, mode_t mode);

// Opens a regular file for reading. O_NONBLOCK keeps the open of a FIFO from
// waiting for a writer; the descriptor is then checked, not the name, so
// nothing swapped in between gets read. The descriptor, blocking again.
Result<int> open_regular(const std::string& name);

// A buffer for reads and writes whose memory is taken only as it is used:
// not cleared first, so that a small file touches a page of it, not sixteen.
class IoBuffer {
 public:
  explicit IoBuffer(std::size_t size) : data_(std::make_unique_for_overwrite<char[]>(size)), size_(size) {}
  char* data() { return data_.get(); }
  std::size_t size() const { return size_; }
  char& operator[](std::size_t i) { return data_[i]; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_;
};

}  // namespace talvo::files_internal
