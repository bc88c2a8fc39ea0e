// Preloaded into a reader (LD_PRELOAD): the file that TALVO_SHRINK_FILE names
// is cut to half its size by truncate(2) the moment the reader maps it, or
// just after the reader's first read of it has returned its first half, as
// another process would cut it while it is read. The moment is fixed, so the
// test is the same every time: a mapped file then faults at the first page
// past the new end (SIGBUS); a file that is read ends early.
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>

namespace {

bool done = false;  // the file is cut once

// True when fd is open on the file to cut; its size before the cut in `size`.
bool is_target(int fd, off_t& size) {
  const char* path = std::getenv("TALVO_SHRINK_FILE");
  if (done || !path || fd < 0) return false;
  struct stat open_file {
  }, named{};
  if (fstat(fd, &open_file) != 0 || !S_ISREG(open_file.st_mode) || stat(path, &named) != 0) return false;
  size = named.st_size;
  return open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

void cut(off_t size) {
  done = true;
  if (truncate(std::getenv("TALVO_SHRINK_FILE"), size / 2) != 0) std::abort();
}

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
  static const auto real = next<void* (*)(void*, size_t, int, int, int, off_t)>("mmap");
  void* p = real(addr, length, prot, flags, fd, offset);
  off_t size = 0;
  if (p != MAP_FAILED && is_target(fd, size)) cut(size);
  return p;
}

extern "C" void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
  return mmap(addr, length, prot, flags, fd, offset);
}

extern "C" ssize_t read(int fd, void* buf, size_t count) {
  static const auto real = next<ssize_t (*)(int, void*, size_t)>("read");
  off_t size = 0;
  if (!is_target(fd, size)) return real(fd, buf, count);
  const auto half = static_cast<size_t>(size / 2);
  const ssize_t got = real(fd, buf, count < half ? count : half);
  cut(size);
  return got;
}
