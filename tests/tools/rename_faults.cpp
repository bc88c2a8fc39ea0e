// Preloaded into talvo-tools (LD_PRELOAD): the renames that put files in
// place, made to fail or the process stopped or killed at one of them, as a
// file owned by another user in a sticky folder, a failing disk, Ctrl-Z or
// kill -9 would, but at a fixed moment, so that a test is the same every time.
//   TALVO_RENAME_FAIL=SUFFIX  a rename onto a name ending in SUFFIX fails (EIO)
//   TALVO_RENAME_AT=N         the Nth rename of the process (counting from 1)...
//   TALVO_RENAME_SIGNAL=STOP  ...stops the process first (it goes on with the rename once continued)
//   TALVO_RENAME_SIGNAL=KILL  ...kills it instead of renaming
// Once the signal is raised, TALVO_RENAME_DONE (a file name) is created, so that
// the test knows the moment has come.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<long> renames{0};

// False (errno set) when this rename, onto `to`, is to fail.
bool before_rename(const char* to) {
  const long n = ++renames;
  const char* at = std::getenv("TALVO_RENAME_AT");
  const char* signal_name = std::getenv("TALVO_RENAME_SIGNAL");
  if (at && signal_name && std::atol(at) == n) {
    if (const char* done = std::getenv("TALVO_RENAME_DONE")) {
      const int fd = ::open(done, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
      if (fd >= 0) ::close(fd);
    }
    ::raise(std::strcmp(signal_name, "KILL") == 0 ? SIGKILL : SIGSTOP);
  }
  const char* suffix = std::getenv("TALVO_RENAME_FAIL");
  if (suffix && *suffix) {
    const std::size_t a = std::strlen(to), b = std::strlen(suffix);
    if (a >= b && std::strcmp(to + a - b, suffix) == 0) {
      errno = EIO;
      return false;
    }
  }
  return true;
}

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int rename(const char* from, const char* to) {
  static const auto real = next<int (*)(const char*, const char*)>("rename");
  if (!before_rename(to)) return -1;
  return real(from, to);
}

extern "C" int renameat(int from_dir, const char* from, int to_dir, const char* to) {
  static const auto real = next<int (*)(int, const char*, int, const char*)>("renameat");
  if (!before_rename(to)) return -1;
  return real(from_dir, from, to_dir, to);
}
