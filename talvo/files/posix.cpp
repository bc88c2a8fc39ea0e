#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "talvo/files/posix_internal.hpp"
#include "talvo/text/quote.hpp"

namespace talvo::files_internal {

std::string shown_name(const std::string& name) { return escape_for_message(name, 4096); }

std::string system_text(int err) { return std::strerror(err); }

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a special file";
}

Error open_error(const std::string& name, int err) {
  if (name.empty()) return make_error(ErrorKind::kNotFound, "no file name given");
  Error e = make_error(err == ENOENT || err == ENOTDIR ? ErrorKind::kNotFound : ErrorKind::kIoError,
                       "cannot open " + shown_name(name) + ": " + system_text(err));
  e.system_error = err;
  return e;
}

Error not_regular(const std::string& name, mode_t mode) {
  return make_error(ErrorKind::kInvalidArgument, shown_name(name) + " is " + kind_of(mode) + ", not a regular file");
}

Result<int> open_regular(const std::string& name) {
  if (name.empty()) return open_error(name, ENOENT);
  const int fd = retry([&] { return ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY); });
  if (fd < 0) return open_error(name, errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return not_regular(name, st.st_mode);
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace talvo::files_internal
