#include "talvo/files/write.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string_view>
#include <thread>
#include <vector>

#include "talvo/files/posix_internal.hpp"
#include "talvo/files/read.hpp"

namespace talvo {

namespace fs = std::filesystem;
using files_internal::IoBuffer;
using files_internal::retry;

PendingFiles::Slot* PendingFiles::claim(std::string_view templ) noexcept {
  if (templ.size() >= kNameCapacity) return nullptr;
  for (Slot& slot : slots_) {
    int expected = kFree;
    if (!slot.state.compare_exchange_strong(expected, kTaken)) continue;
    std::memcpy(slot.name, templ.data(), templ.size());
    slot.name[templ.size()] = '\0';
    // From here on a signal removes whatever file has this name: mkstemp
    // fills in the name in place and creates the file under it.
    slot.state.store(kActive);
    return &slot;
  }
  return nullptr;
}

void PendingFiles::remove_all() noexcept {
  for (Slot& slot : slots_)
    if (slot.state.load() == kActive) ::unlink(slot.name);
}

std::size_t PendingFiles::count() const noexcept {
  std::size_t n = 0;
  for (const Slot& slot : slots_)
    if (slot.state.load() == kActive) ++n;
  return n;
}

std::optional<unsigned> current_umask() {
  Result<InputFile> status = InputFile::open("/proc/self/status");
  if (!status.ok()) return std::nullopt;
  std::string text;
  for (;;) {
    const Result<bool> got = read_line(status->stream(), text);
    if (!got.ok() || !*got) break;
    if (text.rfind("Umask:", 0) != 0) continue;
    const std::size_t digits = text.find_first_of("01234567", 6);
    if (digits == std::string::npos) return std::nullopt;
    return static_cast<unsigned>(std::strtoul(text.c_str() + digits, nullptr, 8)) & 0777u;
  }
  return std::nullopt;
}

namespace {

// Writes to a descriptor; a failed write is kept and fails every later flush.
class FdOutBuf : public std::streambuf {
 public:
  explicit FdOutBuf(int fd) : fd_(fd), buf_(1 << 16) { setp(buf_.data(), buf_.data() + buf_.size()); }
  FdOutBuf(const FdOutBuf&) = delete;
  FdOutBuf& operator=(const FdOutBuf&) = delete;
  ~FdOutBuf() override { close_fd(); }

  int error() const { return error_; }
  // Writes out the buffer and starts the disk writes, without waiting.
  bool start_writeback() {
    if (sync() != 0) return false;
#if defined(__linux__)
    // Only a hint: commit's fsync still waits for all of it.
    (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    return true;
  }
  // Flushes to the disk; false (with error() set) on any failure. The file
  // stays open (and locked) until it is in place.
  bool flush_to_disk() {
    if (sync() != 0) return false;
    if (retry([&] { return ::fsync(fd_); }) != 0) error_ = errno;
    return error_ == 0;
  }
  // Closes; false (with error() set) when the system reports a failure.
  bool finish() {
    if (!close_fd() && error_ == 0) error_ = errno;
    return error_ == 0;
  }
  int fd() const { return fd_; }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return drain() ? 0 : -1; }
  // A piece larger than the buffer (a whole report block) goes out as it is,
  // without being copied through the buffer first.
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (n < static_cast<std::streamsize>(buf_.size())) return std::streambuf::xsputn(s, n);
    if (!drain() || !write_all(s, static_cast<std::size_t>(n))) return 0;
    return n;
  }

 private:
  bool write_all(const char* p, std::size_t size) {
    const char* end = p + size;
    while (p < end) {
      const ssize_t n = retry([&] { return ::write(fd_, p, static_cast<std::size_t>(end - p)); });
      if (n < 0) {
        error_ = errno;
        return false;
      }
      p += n;
    }
    return true;
  }
  bool drain() {
    if (error_ != 0 || fd_ < 0) return false;
    if (!write_all(pbase(), static_cast<std::size_t>(pptr() - pbase()))) return false;
    setp(buf_.data(), buf_.data() + buf_.size());
    return true;
  }
  bool close_fd() {
    if (fd_ < 0) return true;
    const int r = ::close(fd_);
    fd_ = -1;
    return r == 0;
  }

  int fd_;
  IoBuffer buf_;
  int error_ = 0;
};

// Permission bits for a file written under `name`: those of the file it
// replaces, else the usual 0666 less the umask (0600 when it is unknown).
mode_t wanted_mode(const std::string& name) {
  struct stat st {};
  if (stat(name.c_str(), &st) == 0) return st.st_mode & 0777;
  const auto mask = current_umask();
  return mask ? static_cast<mode_t>(0666u & ~*mask) : static_cast<mode_t>(0600);
}

}  // namespace

namespace {

// The hidden name a file is written under, or linked under before it
// replaces another: ".NAME." and six letters or digits, beside NAME.
constexpr std::size_t kTempSuffix = 6;

// The part of NAME the hidden name holds: all of it where the two fit in a
// name the file system takes (255 bytes), else its first bytes, cut between
// UTF-8 characters, so that a name of the longest legal length can be written.
constexpr std::size_t kNameMax = 255;
std::string_view temp_stem(std::string_view base) {
  const std::size_t room = kNameMax - 2 - kTempSuffix;
  if (base.size() <= room) return base;
  std::size_t cut = room;
  while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
  return base.substr(0, cut);
}

std::string temp_template(const std::string& name) {
  const fs::path path(name);
  const std::string dir = path.has_parent_path() ? path.parent_path().string() + "/" : std::string();
  return dir + "." + std::string(temp_stem(path.filename().string())) + "." + std::string(kTempSuffix, 'X');
}

// The folder a file of `name` goes in, as open() takes it.
std::string folder_of(const std::string& name) {
  const fs::path path(name);
  return path.has_parent_path() ? path.parent_path().string() : std::string(".");
}

// Fills the trailing X's of `templ` with letters and digits from the system's
// random source (the clock and the process number where it has none).
void fill_random(std::string& templ) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[kTempSuffix] = {};
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    static std::atomic<unsigned> counter{0};
    std::uint64_t v = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                      (static_cast<std::uint64_t>(getpid()) << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15u);
    for (unsigned char& b : bytes) {
      b = static_cast<unsigned char>(v);
      v = (v >> 8) | (v << 56);
    }
  }
  for (std::size_t i = 0; i < kTempSuffix; ++i)
    templ[templ.size() - kTempSuffix + i] = kChars[bytes[i] % (sizeof kChars - 1)];
}

// Whether `entry` is a temporary name of a file `base` (".base.XXXXXX", base cut as temp_stem cuts it).
bool is_temp_of(std::string_view entry, std::string_view base) {
  base = temp_stem(base);
  if (entry.size() != base.size() + 2 + kTempSuffix || entry[0] != '.' || entry.substr(1, base.size()) != base ||
      entry[base.size() + 1] != '.')
    return false;
  const std::string_view suffix = entry.substr(base.size() + 2);
  return std::all_of(suffix.begin(), suffix.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// Whether files without a name can be linked into place here: through
// /proc/self/fd, which needs no privilege (AT_EMPTY_PATH does).
bool can_link_unnamed() {
  static const bool can = access("/proc/self/fd", X_OK) == 0;
  return can;
}

// Errors of an O_TMPFILE open that mean the kernel or the file system has no
// unnamed files, not that the folder is unusable.
bool no_unnamed_files(int err) { return err == EOPNOTSUPP || err == EISDIR || err == EINVAL; }

}  // namespace

namespace {

// The error of a folder that cannot be opened or read.
Error folder_error(const std::string& folder, int err) {
  return make_error(err == ENOENT || err == ENOTDIR ? ErrorKind::kNotFound : ErrorKind::kIoError,
                    "cannot read folder " + files_internal::shown_name(folder) + ": " + std::strerror(err));
}

}  // namespace

namespace {

// A set's list: ".talvo-set." six letters or digits ".list". The first form
// holds (hidden name, final name) pairs, all to be renamed. The second holds
// the set's state (prepared: no name changed yet; committed: the renames are
// being made; rolling back: the previous files are being put back) and, for
// each file, its hidden name, its final name, the hidden link to the file it
// replaces (none for a new name), what that file was (device, inode, size and
// modification time, or "-" for none) and what the new file is (device and
// inode).
constexpr std::string_view kSetPrefix = ".talvo-set.";
constexpr std::string_view kSetSuffix = ".list";
constexpr std::string_view kSetMagic = "talvo file set 1\n";
constexpr std::string_view kSetMagic2 = "talvo file set 2\n";
constexpr char kPrepared = 'P', kCommitted = 'C', kRollingBack = 'R';

bool is_set_list(std::string_view entry) {
  return entry.size() == kSetPrefix.size() + kTempSuffix + kSetSuffix.size() && entry.starts_with(kSetPrefix) &&
         entry.ends_with(kSetSuffix);
}

// What a name holds: nothing, or a file of this identity, size and time.
struct Mark {
  bool exists = false;
  unsigned long long dev = 0, ino = 0, size = 0;
  long long sec = 0, nsec = 0;
  static Mark of(const struct stat& st) {
    return {true,
            static_cast<unsigned long long>(st.st_dev),
            static_cast<unsigned long long>(st.st_ino),
            static_cast<unsigned long long>(st.st_size),
            static_cast<long long>(st.st_mtim.tv_sec),
            static_cast<long long>(st.st_mtim.tv_nsec)};
  }
  bool same_file(const Mark& o) const { return exists && o.exists && dev == o.dev && ino == o.ino; }
  bool operator==(const Mark&) const = default;
  std::string text() const {
    if (!exists) return "-";
    char buf[128];
    std::snprintf(buf, sizeof buf, "%llu %llu %llu %lld %lld", dev, ino, size, sec, nsec);
    return buf;
  }
  static std::optional<Mark> parse(std::string_view t) {
    if (t == "-") return Mark{};
    Mark m{true};
    const std::string s(t);
    int used = 0;
    if (std::sscanf(s.c_str(), "%llu %llu %llu %lld %lld%n", &m.dev, &m.ino, &m.size, &m.sec, &m.nsec, &used) != 5 ||
        static_cast<std::size_t>(used) != s.size())
      return std::nullopt;
    return m;
  }
};

// What `name` in the folder holds now; nothing when it cannot be looked at.
std::optional<Mark> mark_at(int dir_fd, const std::string& name) {
  struct stat st {};
  if (fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return Mark::of(st);
  if (errno == ENOENT) return Mark{};
  return std::nullopt;
}

// One file of a set's list (names in its folder).
struct SetEntry {
  std::string temp, final_name, backup;
  std::optional<Mark> old;  // none in a list of the first form: not recorded
  Mark fresh;
};

struct SetRecord {
  char state = kCommitted;
  std::vector<SetEntry> entries;
};

// A set's list read whole; nothing when it cannot be.
std::optional<SetRecord> read_set(int dir_fd, const char* list) {
  const int fd = retry([&] { return ::openat(dir_fd, list, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); });
  if (fd < 0) return std::nullopt;
  std::string text;
  bool read = true;
  char piece[4096];
  for (;;) {
    const ssize_t got = retry([&] { return ::read(fd, piece, sizeof piece); });
    if (got <= 0) {
      read = got == 0;
      break;
    }
    text.append(piece, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (!read) return std::nullopt;
  std::string_view rest = text;
  SetRecord record;
  std::size_t fields = 2;
  if (rest.starts_with(kSetMagic)) {
    rest.remove_prefix(kSetMagic.size());
  } else if (rest.starts_with(kSetMagic2) && rest.size() >= kSetMagic2.size() + 2 &&
             rest[kSetMagic2.size() + 1] == '\n') {
    record.state = rest[kSetMagic2.size()];
    if (record.state != kPrepared && record.state != kCommitted && record.state != kRollingBack) return std::nullopt;
    rest.remove_prefix(kSetMagic2.size() + 2);
    fields = 5;
  } else {
    return std::nullopt;
  }
  while (!rest.empty()) {
    std::string_view field[5];
    for (std::size_t i = 0; i < fields; ++i) {
      const std::size_t end = rest.find('\0');
      if (end == std::string_view::npos) return std::nullopt;
      field[i] = rest.substr(0, end);
      rest.remove_prefix(end + 1);
    }
    SetEntry e{std::string(field[0]), std::string(field[1]), std::string(field[2]), std::nullopt, {}};
    // Only a file's own hidden names beside it: a damaged list moves nothing else.
    if (e.final_name.empty() || e.final_name.find('/') != std::string::npos || !is_temp_of(e.temp, e.final_name) ||
        (!e.backup.empty() && !is_temp_of(e.backup, e.final_name)))
      return std::nullopt;
    if (fields == 5) {
      e.old = Mark::parse(field[3]);
      const std::optional<Mark> fresh = Mark::parse(field[4]);
      if (!e.old || !fresh) return std::nullopt;
      e.fresh = *fresh;
    }
    record.entries.push_back(std::move(e));
  }
  return record;
}

// The text of a set's list in the second form.
std::string set_text(char state, const std::vector<const SetEntry*>& entries) {
  std::string content(kSetMagic2);
  (content += state) += '\n';
  for (const SetEntry* e : entries) {
    for (const std::string* f : {&e->temp, &e->final_name, &e->backup}) (content += *f) += '\0';
    (content += e->old->text()) += '\0';
    (content += e->fresh.text()) += '\0';
  }
  return content;
}

// Removes a hidden name of the folder where it is a file (never a folder).
void remove_hidden(int dir_fd, const std::string& name) {
  if (!name.empty()) (void)unlinkat(dir_fd, name.c_str(), 0);
}

// Ends a set a killed writer left, with the folder locked by the caller. A
// prepared set changed no name: its hidden files go. A committed one is
// completed, each rename made only onto the file the set replaces (a file
// put there since stays, and the new one goes). One being rolled back puts
// back the previous files where the new ones still are.
void finish_set(int dir_fd, const SetRecord& record) {
  for (const SetEntry& e : record.entries) {
    const std::optional<Mark> temp = mark_at(dir_fd, e.temp);
    if (record.state == kCommitted && temp && temp->exists) {
      const std::optional<Mark> now = mark_at(dir_fd, e.final_name);
      if (!e.old || (now && *now == *e.old))
        (void)renameat(dir_fd, e.temp.c_str(), dir_fd, e.final_name.c_str());
      else
        remove_hidden(dir_fd, e.temp);
    } else if (temp && temp->exists) {
      remove_hidden(dir_fd, e.temp);
    }
    if (record.state == kRollingBack) {
      const std::optional<Mark> now = mark_at(dir_fd, e.final_name);
      if (now && now->same_file(e.fresh)) {
        if (!e.old->exists)
          (void)unlinkat(dir_fd, e.final_name.c_str(), 0);
        else if (!e.backup.empty())
          (void)renameat(dir_fd, e.backup.c_str(), dir_fd, e.final_name.c_str());
      }
    }
    remove_hidden(dir_fd, e.backup);
  }
}

// Ends every set that killed writers left in the folder and removes their
// lists, with the folder locked by the caller: a list there is a killed
// writer's.
void finish_killed_sets(int dir_fd) {
  const int scan_fd = retry([&] { return ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (scan_fd < 0) return;
  DIR* dir = fdopendir(scan_fd);
  if (!dir) {
    ::close(scan_fd);
    return;
  }
  std::vector<std::string> lists;
  while (const dirent* e = readdir(dir)) {
    const std::string_view n = e->d_name;
    if (is_set_list(n)) lists.emplace_back(n);
    // A list not yet complete when its writer was killed: no rename was made by it.
    if (n.starts_with(kSetPrefix) && n.ends_with(".part")) (void)unlinkat(dir_fd, e->d_name, 0);
  }
  closedir(dir);
  for (const std::string& list : lists) {
    if (const std::optional<SetRecord> record = read_set(dir_fd, list.c_str())) finish_set(dir_fd, *record);
    (void)unlinkat(dir_fd, list.c_str(), 0);
  }
}

// How long a writer waits for a folder's lock before it says who holds it.
constexpr int kLockWaitSeconds = 10;

// Takes the lock of an open folder, waiting at most kLockWaitSeconds: 0,
// EWOULDBLOCK when another holder kept it all that time, or the system's error.
int lock_folder(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kLockWaitSeconds);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return errno;
    if (std::chrono::steady_clock::now() >= deadline) return EWOULDBLOCK;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

// Why a folder's lock was not had after the wait: who holds it, where the
// system tells (Linux /proc/locks).
std::string locked_text(int fd, const std::string& folder) {
  std::string holder = "another process";
  struct stat st {};
  Result<InputFile> locks = InputFile::open("/proc/locks");
  if (fstat(fd, &st) == 0 && locks.ok()) {
    char want[96];
    std::snprintf(want, sizeof want, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::string line;
    for (;;) {
      const Result<bool> got = read_line(locks->stream(), line);
      if (!got.ok() || !*got) break;
      // "1: FLOCK  ADVISORY  WRITE PID MAJ:MIN:INODE 0 EOF"; waiters have "->" after the number.
      char kind[16] = {}, mode[16] = {}, access_mode[16] = {}, where[96] = {};
      long pid = 0;
      if (line.find("->") == std::string::npos &&
          std::sscanf(line.c_str(), "%*d: %15s %15s %15s %ld %95s", kind, mode, access_mode, &pid, where) == 5 &&
          std::string_view(kind) == "FLOCK" && std::string_view(where) == want && pid > 0) {
        holder = "process " + std::to_string(pid);
        break;
      }
    }
  }
  return "the folder " + files_internal::shown_name(folder) + " is locked by " + holder + ": waited " +
         std::to_string(kLockWaitSeconds) +
         " s for it (a run stopped with Ctrl-Z or kill -STOP keeps it until it goes on or ends)";
}

}  // namespace

Result<int> remove_abandoned_temporaries(const std::string& name) {
  const std::string base = fs::path(name).filename().string();
  if (base.empty()) return 0;
  const std::string folder = folder_of(name);
  const int dir_fd = retry([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (dir_fd < 0) return folder_error(folder, errno);
  DIR* dir = fdopendir(dir_fd);
  if (!dir) {
    const int err = errno;
    ::close(dir_fd);
    return folder_error(folder, err);
  }
  std::vector<std::string> temps;
  bool sets = false;
  while (const dirent* e = readdir(dir)) {
    if (is_temp_of(e->d_name, base)) temps.emplace_back(e->d_name);
    sets = sets || is_set_list(e->d_name);
  }
  // A killed set is ended first where the folder is free, whichever names
  // it holds; where the folder is held (by a writer now, or by this
  // process), what its lists name stays.
  std::vector<std::string> listed;
  if (sets) {
    const int lock_fd = retry([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (lock_fd >= 0 && flock(lock_fd, LOCK_EX | LOCK_NB) == 0) {
      finish_killed_sets(dir_fd);
    } else {
      rewinddir(dir);
      while (const dirent* e = readdir(dir))
        if (is_set_list(e->d_name))
          if (std::optional<SetRecord> record = read_set(dir_fd, e->d_name))
            for (SetEntry& entry : record->entries) {
              listed.push_back(std::move(entry.temp));
              listed.push_back(std::move(entry.backup));
            }
    }
    if (lock_fd >= 0) ::close(lock_fd);
  }
  int removed = 0;
  for (const std::string& t : temps) {
    if (std::find(listed.begin(), listed.end(), t) != listed.end()) continue;
    const int fd =
        retry([&] { return ::openat(dir_fd, t.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY); });
    if (fd < 0) continue;
    struct stat held {};
    struct stat named {};
    // A writer holds its file locked from before the name exists until the
    // name is gone: a file that can be locked has no writer left. It is
    // removed only while the name still is that file, and never while it has
    // another name (a set's link to the file it replaces, which its list names).
    if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_nlink == 1 && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        fstatat(dir_fd, t.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino && unlinkat(dir_fd, t.c_str(), 0) == 0)
      ++removed;
    ::close(fd);
  }
  closedir(dir);
  return removed;
}

Result<FolderLock> FolderLock::take(const std::string& name) {
  const std::string folder = folder_of(name);
  const int fd = retry([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (fd < 0) return folder_error(folder, errno);
  if (const int err = lock_folder(fd); err != 0) {
    const std::string why = err == EWOULDBLOCK ? locked_text(fd, folder) : std::strerror(err);
    ::close(fd);
    return make_error(
        err == ENOLCK || err == EINVAL || err == EOPNOTSUPP ? ErrorKind::kUnsupported : ErrorKind::kIoError,
        "cannot lock folder " + files_internal::shown_name(folder) + ": " + why);
  }
  return FolderLock(fd);
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);
}

struct NewFile::State {
  std::string final_name;
  std::string temp_name;
  bool unnamed = false;
  PendingFiles* pending = nullptr;
  PendingFiles::Slot* slot = nullptr;
  std::unique_ptr<FdOutBuf> buf;
  std::ostream stream{nullptr};

  // The temporary name is gone (renamed or removed): the slot is free again.
  void release_slot() noexcept {
    if (slot) slot->state.store(PendingFiles::kFree);
    slot = nullptr;
  }
  // Takes a slot for a temporary name that is about to exist.
  void claim_slot(const std::string& name) noexcept {
    if (pending) slot = pending->claim(name);
  }
  // Links the file without a name under a fresh hidden name beside its
  // final one (then temp_name): 0, or the system's error (EEXIST when 100
  // names were all taken).
  int link_temporary();
};

NewFile::NewFile() : s_(std::make_unique<State>()) {}
NewFile::NewFile(NewFile&&) noexcept = default;

NewFile& NewFile::operator=(NewFile&& other) noexcept {
  if (this != &other) {
    discard();
    s_ = std::move(other.s_);
  }
  return *this;
}

NewFile::~NewFile() { discard(); }

void NewFile::discard() noexcept {
  if (!s_) return;
  s_->stream.rdbuf(nullptr);
  // The name goes first, while the file is still locked: no other writer's
  // clean-up can meet it half-removed.
  if (!s_->temp_name.empty()) ::unlink(s_->temp_name.c_str());
  s_->temp_name.clear();
  s_->release_slot();
  s_->buf.reset();
}

namespace {

// The error of a file that cannot be created.
Error create_error(const std::string& name, int err) {
  const ErrorKind kind = err == ENOENT || err == ENOTDIR                         ? ErrorKind::kNotFound
                         : err == EISDIR || err == ENAMETOOLONG || err == EINVAL ? ErrorKind::kInvalidArgument
                                                                                 : ErrorKind::kIoError;
  Error e = make_error(kind, "cannot create " + files_internal::shown_name(name) + ": " + std::strerror(err));
  e.system_error = err;
  return e;
}

}  // namespace

Result<NewFile> NewFile::create(const std::string& name, const NewFileOptions& options) {
  NewFile f;
  NewFile::State& s = *f.s_;
  s.final_name = name;
  s.pending = options.pending;
  const auto fail = [&](int err) -> Result<NewFile> {
    f.discard();
    return create_error(name, err);
  };
  const fs::path path(name);
  if (path.filename().empty()) return fail(EISDIR);
  // A folder of the final name would be found only when the file is put in
  // place, after all of it was written: it is refused now.
  // So is a name the system cannot take, which an unnamed file would meet
  // only then too.
  struct stat existing {};
  if (stat(name.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) return fail(EISDIR);
  } else if (errno == ENAMETOOLONG) {
    return fail(ENAMETOOLONG);
  }
  if (file_exists(name) && access(name.c_str(), W_OK) != 0) return fail(errno);
  const mode_t mode = wanted_mode(name);
  // What killed writers left is removed where it can be; nothing else depends on it.
  (void)remove_abandoned_temporaries(name);

  if (!options.named_temporary && can_link_unnamed()) {
    const int fd = retry([&] { return ::open(folder_of(name).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode); });
    if (fd >= 0) {
      s.unnamed = true;
      s.buf = std::make_unique<FdOutBuf>(fd);
      // Locked before it can have a name, so that no clean-up takes it for
      // abandoned. (Where files cannot be locked, no clean-up can lock it
      // either, and none removes it.)
      (void)flock(fd, LOCK_EX);
      if (fchmod(fd, mode) != 0) return fail(errno);
      s.stream.rdbuf(s.buf.get());
      return f;
    }
    if (!no_unnamed_files(errno)) return fail(errno);
  }

  // A named temporary file. Between its creation and the lock another run's
  // clean-up may take it for abandoned and remove it: then it is made again.
  for (int attempt = 0;; ++attempt) {
    std::string templ = temp_template(name);
    s.claim_slot(templ);
    // mkstemp fills the name in where a signal handler can see it.
    char* buffer = s.slot ? s.slot->name : templ.data();
    const int fd = mkostemp(buffer, O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      s.release_slot();
      return fail(err);
    }
    s.temp_name = buffer;
    s.buf = std::make_unique<FdOutBuf>(fd);
    (void)retry([&] { return flock(fd, LOCK_EX); });
    struct stat held {};
    struct stat named {};
    if (fstat(fd, &held) == 0 && stat(buffer, &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino)
      break;
    s.temp_name.clear();  // not ours any more: nothing to remove
    s.release_slot();
    s.buf.reset();
    if (attempt == 10) return fail(EAGAIN);
  }
  if (fchmod(s.buf->fd(), mode) != 0) return fail(errno);
  s.stream.rdbuf(s.buf.get());
  return f;
}

void NewFile::write(std::string_view text) {
  if (s_->buf) s_->stream.write(text.data(), static_cast<std::streamsize>(text.size()));
}
const std::string& NewFile::name() const { return s_->final_name; }
const std::string& NewFile::temp_name() const { return s_->temp_name; }
bool NewFile::unnamed() const { return s_ && s_->unnamed && s_->buf; }
bool NewFile::good() const { return s_ && s_->buf && s_->stream.good(); }

bool NewFile::start_writeback() {
  if (!good()) return false;
  s_->stream.flush();
  return s_->stream.good() && s_->buf->start_writeback();
}

namespace {

// Gives a file without a name the name `target` through its descriptor; the
// system's error number, 0 on success.
int link_unnamed(int fd, const std::string& target) {
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  return linkat(AT_FDCWD, proc, AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

}  // namespace

int NewFile::State::link_temporary() {
  int err = EEXIST;
  for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
    std::string temp = temp_template(final_name);
    fill_random(temp);
    claim_slot(temp);
    err = link_unnamed(buf->fd(), temp);
    if (err == 0)
      temp_name = temp;
    else
      release_slot();
  }
  return err;
}

Outcome NewFile::commit() {
  State& s = *s_;
  // Why the file could not be put in place; the temporary file goes.
  const auto fail = [&](int err) -> Outcome {
    discard();
    Error e = make_error(ErrorKind::kIoError,
                         "cannot write " + files_internal::shown_name(s.final_name) + ": " + std::strerror(err));
    e.system_error = err;
    return e;
  };
  if (!s.buf) return fail(EBADF);
  if (!s.stream.good()) return fail(s.buf->error() != 0 ? s.buf->error() : EIO);
  s.stream.flush();
  if (!s.stream.good() || !s.buf->flush_to_disk()) return fail(s.buf->error() != 0 ? s.buf->error() : EIO);
  if (s.unnamed) {
    // A new name takes the file at once; an existing one is replaced by a
    // link under a temporary name and a rename over it.
    int err = link_unnamed(s.buf->fd(), s.final_name);
    if (err == EEXIST) {
      err = s.link_temporary();
      if (err == 0 && std::rename(s.temp_name.c_str(), s.final_name.c_str()) != 0) err = errno;
    }
    if (err != 0) return fail(err);
  } else if (std::rename(s.temp_name.c_str(), s.final_name.c_str()) != 0) {
    return fail(errno);
  }
  s.temp_name.clear();
  s.release_slot();
  s.stream.rdbuf(nullptr);
  // Closing ends the lock. The file is on disk and in place: what close
  // might say no longer changes that.
  (void)s.buf->finish();
  s.buf.reset();
  return Done{};
}

namespace {

// The signals a user sends to end a process: they wait while a set's names change.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGHUP, SIGINT, SIGTERM, SIGQUIT}) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t old_;
};

bool write_fd(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = retry([&] { return ::write(fd, text.data(), text.size()); });
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Puts a set's list in the folder under a fresh name, with the descriptor it
// is written through kept open (then `fd`) for its state to change: 0 or the
// system's error number. Its writer holds the folder's lock, and a list cut
// short by a kill is read as none: nothing it would name exists yet.
int write_set_list(int dir_fd, std::string_view content, std::string& name, int& fd) {
  std::string templ = std::string(kSetPrefix) + std::string(kTempSuffix, 'X');
  fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    fill_random(templ);
    name = templ + std::string(kSetSuffix);
    fd = retry([&] { return ::openat(dir_fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600); });
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return EEXIST;
  if (!write_fd(fd, content)) {
    const int err = errno;
    ::close(fd);
    fd = -1;
    (void)unlinkat(dir_fd, name.c_str(), 0);
    name.clear();
    return err;
  }
  return 0;
}

// A folder of a set: open, and locked while the set's names change.
struct SetFolder {
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  std::vector<std::size_t> files;
  std::string list;
  int list_fd = -1;
};

// A file of a set, as its folder's list records it.
struct Planned {
  std::size_t folder = 0;
  SetEntry entry;
  std::string backup_path;  // the hidden link to the file it replaces, when there is one
  bool renamed = false;
};

// A hidden name beside `final_path` that nothing has now.
std::string fresh_hidden_name(const std::string& final_path) {
  std::string name = temp_template(final_path);
  struct stat st {};
  for (int attempt = 0; attempt < 100; ++attempt) {
    fill_random(name);
    if (lstat(name.c_str(), &st) != 0 && errno == ENOENT) break;
  }
  return name;
}

}  // namespace

// Puts a set of files in place together, step by step: each file on disk; each folder opened once and locked,
// in one order for every writer; the plan of names; then, with the ending signals held, the folders' lists,
// the hidden links and the renames, put back at the first that fails.
class SetCommit {
 public:
  explicit SetCommit(std::span<NewFile> files) : files_(files), plan_(files.size()), failed_(files.size()) {}
  ~SetCommit() { close_folders(); }
  SetCommit(const SetCommit&) = delete;
  SetCommit& operator=(const SetCommit&) = delete;

  Outcome run() {
    TALVO_RETURN_IF_ERROR(flush());
    TALVO_RETURN_IF_ERROR(open_folders());
    TALVO_RETURN_IF_ERROR(lock_folders());
    TALVO_RETURN_IF_ERROR(plan_names());
    {
      const HeldSignals held;
      TALVO_RETURN_IF_ERROR(write_lists());
      TALVO_RETURN_IF_ERROR(link_hidden());
      TALVO_RETURN_IF_ERROR(rename_in_order());
      if (rename_error_ != 0) roll_back();
      for (NewFile& f : files_)
        if (!f.s_->temp_name.empty()) f.discard();
      if (put_back_) {
        remove_backups();
        remove_lists();
      }
    }
    close_files();
    close_folders();
    if (rename_error_ != 0)
      return make_error(ErrorKind::kIoError,
                        "cannot write " + files_internal::shown_name(state(failed_).final_name) + ": " +
                            std::strerror(rename_error_) +
                            (put_back_ ? ": none of the set's files was replaced, the previous ones are kept"
                                       : ": the set is partly in place, its previous files could not all be put back"));
    return Done{};
  }

 private:
  NewFile::State& state(std::size_t k) { return *files_[k].s_; }

  void close_folders() {
    for (SetFolder& f : folders_) {
      if (f.list_fd >= 0) ::close(f.list_fd);
      if (f.fd >= 0) ::close(f.fd);
    }
    folders_.clear();
  }
  // The set fails as a whole: every file goes, the previous ones stay.
  Outcome fail_with(std::size_t k, const std::string& why) {
    const std::string name = files_[k].s_ ? files_[k].s_->final_name : std::string();
    for (NewFile& f : files_) f.discard();
    close_folders();
    return make_error(ErrorKind::kIoError, "cannot write " + files_internal::shown_name(name) + ": " + why);
  }
  Outcome fail(std::size_t k, int err) { return fail_with(k, std::strerror(err)); }

  // Everything on disk before any name changes; the disk's writes overlap.
  Outcome flush() {
    for (std::size_t k = 0; k < files_.size(); ++k) {
      NewFile::State& s = state(k);
      if (!s.buf) return fail(k, EBADF);
      s.stream.flush();
      if (!s.stream.good()) return fail(k, s.buf->error() != 0 ? s.buf->error() : EIO);
      (void)s.buf->start_writeback();
    }
    for (std::size_t k = 0; k < files_.size(); ++k) {
      NewFile::State& s = state(k);
      if (!s.buf->flush_to_disk()) return fail(k, s.buf->error() != 0 ? s.buf->error() : EIO);
    }
    return Done{};
  }

  // Each file's folder, opened once however many of the set it holds.
  Outcome open_folders() {
    for (std::size_t k = 0; k < files_.size(); ++k) {
      const std::string folder = folder_of(state(k).final_name);
      const int fd = retry([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
      if (fd < 0) return fail(k, errno);
      struct stat st {};
      if (fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return fail(k, err);
      }
      const auto same = std::find_if(folders_.begin(), folders_.end(),
                                     [&](const SetFolder& f) { return f.dev == st.st_dev && f.ino == st.st_ino; });
      if (same != folders_.end()) {
        ::close(fd);
        same->files.push_back(k);
      } else {
        SetFolder f;
        f.fd = fd;
        f.dev = st.st_dev;
        f.ino = st.st_ino;
        f.files = {k};
        folders_.push_back(std::move(f));
      }
    }
    return Done{};
  }

  // One order of locking for every writer: no two wait for each other. A holder that keeps a folder past the
  // wait (a stopped run) fails the set before any name changes, saying which process it is. Each folder's
  // sets that a killed run left are ended first.
  Outcome lock_folders() {
    std::sort(folders_.begin(), folders_.end(),
              [](const SetFolder& a, const SetFolder& b) { return a.dev != b.dev ? a.dev < b.dev : a.ino < b.ino; });
    for (SetFolder& f : folders_) {
      // Where the file system has no locks the set goes on without one.
      if (lock_folder(f.fd) == EWOULDBLOCK)
        return fail_with(f.files.front(), locked_text(f.fd, folder_of(state(f.files.front()).final_name)));
      finish_killed_sets(f.fd);
    }
    return Done{};
  }

  // What each name holds now, and the hidden names the set will use.
  Outcome plan_names() {
    for (std::size_t g = 0; g < folders_.size(); ++g)
      for (const std::size_t k : folders_[g].files) plan_[k].folder = g;
    for (std::size_t k = 0; k < files_.size(); ++k) {
      NewFile::State& s = state(k);
      Planned& p = plan_[k];
      const int dir_fd = folders_[p.folder].fd;
      p.entry.final_name = fs::path(s.final_name).filename().string();
      struct stat st {};
      if (fstat(s.buf->fd(), &st) != 0) return fail(k, errno);
      p.entry.fresh = Mark::of(st);
      p.entry.old = mark_at(dir_fd, p.entry.final_name);
      if (!p.entry.old) return fail(k, errno);
      p.entry.temp = fs::path(s.unnamed ? fresh_hidden_name(s.final_name) : s.temp_name).filename().string();
      if (p.entry.old->exists) {
        p.backup_path = fresh_hidden_name(s.final_name);
        p.entry.backup = fs::path(p.backup_path).filename().string();
      }
    }
    return Done{};
  }

  // The state byte of every folder's list, on disk: 0 or the first system error number.
  int write_state(char state) {
    int err = 0;
    for (SetFolder& f : folders_)
      if (f.list_fd >= 0 &&
          (retry([&] { return ::pwrite(f.list_fd, &state, 1, kSetMagic2.size()); }) != 1 ||
           retry([&] { return ::fsync(f.list_fd); }) != 0) &&
          err == 0)
        err = errno != 0 ? errno : EIO;
    return err;
  }
  void remove_lists() {
    for (SetFolder& f : folders_)
      if (!f.list.empty()) (void)unlinkat(f.fd, f.list.c_str(), 0);
  }
  void remove_backups() {
    for (const Planned& p : plan_)
      if (!p.backup_path.empty()) (void)::unlink(p.backup_path.c_str());
  }
  // Nothing renamed yet: what the set linked goes, and so do its lists.
  Outcome abandon(std::size_t k, int err) {
    remove_backups();
    for (NewFile& f : files_) f.discard();
    remove_lists();
    return fail(k, err);
  }

  // The lists first, naming every hidden file before it exists: a run killed from here on leaves nothing
  // that the next writer does not end.
  Outcome write_lists() {
    for (SetFolder& f : folders_) {
      std::vector<const SetEntry*> entries;
      for (const std::size_t k : f.files) entries.push_back(&plan_[k].entry);
      if (const int err = write_set_list(f.fd, set_text(kPrepared, entries), f.list, f.list_fd); err != 0)
        return abandon(f.files.front(), err);
    }
    return Done{};
  }

  // Each new file under its hidden name, and each file it replaces linked under another, so that a set that
  // fails halfway can be put back.
  Outcome link_hidden() {
    for (std::size_t k = 0; k < files_.size(); ++k) {
      NewFile::State& s = state(k);
      Planned& p = plan_[k];
      if (s.unnamed) {
        const std::string path = (fs::path(s.final_name).parent_path() / p.entry.temp).string();
        s.claim_slot(path);
        if (const int err = link_unnamed(s.buf->fd(), path); err != 0) {
          s.release_slot();
          return abandon(k, err);
        }
        s.temp_name = path;
      }
      // A file that cannot be linked (another user's; a file system without links) is replaced without a way
      // back.
      if (!p.backup_path.empty() && linkat(AT_FDCWD, s.final_name.c_str(), AT_FDCWD, p.backup_path.c_str(), 0) != 0)
        p.backup_path.clear();
    }
    return Done{};
  }

  // The renames, those replaced without a way back last: when the first of them fails, all before it can be
  // put back. A rename that fails stops them (rename_error_, failed_).
  Outcome rename_in_order() {
    order_.resize(files_.size());
    for (std::size_t k = 0; k < files_.size(); ++k) order_[k] = k;
    std::stable_partition(order_.begin(), order_.end(),
                          [&](std::size_t k) { return !plan_[k].entry.old->exists || !plan_[k].backup_path.empty(); });
    if (const int err = write_state(kCommitted); err != 0) return abandon(order_.front(), err);
    for (const std::size_t k : order_) {
      NewFile::State& s = state(k);
      if (std::rename(s.temp_name.c_str(), s.final_name.c_str()) != 0) {
        rename_error_ = errno, failed_ = k;
        break;
      }
      plan_[k].renamed = true;
      s.temp_name.clear();
      s.release_slot();
    }
    return Done{};
  }

  // Stopped at the first rename that failed: those before it are undone (put_back_ false where one could not
  // be).
  void roll_back() {
    put_back_ = write_state(kRollingBack) == 0;
    for (const std::size_t k : order_) {
      if (!plan_[k].renamed) continue;
      const std::string& name = state(k).final_name;
      const bool undone = plan_[k].entry.old->exists ? !plan_[k].backup_path.empty() &&
                                                           std::rename(plan_[k].backup_path.c_str(), name.c_str()) == 0
                                                     : ::unlink(name.c_str()) == 0;
      if (undone)
        plan_[k].backup_path.clear();
      else
        put_back_ = false;
    }
  }

  void close_files() {
    for (NewFile& f : files_) {
      NewFile::State& s = *f.s_;
      if (!s.buf) continue;
      s.stream.rdbuf(nullptr);
      (void)s.buf->finish();
      s.buf.reset();
    }
  }

  std::span<NewFile> files_;
  std::vector<SetFolder> folders_;
  std::vector<Planned> plan_;
  std::vector<std::size_t> order_;
  std::size_t failed_;
  int rename_error_ = 0;
  bool put_back_ = true;
};

Outcome commit_together(std::span<NewFile> files) {
  if (files.size() == 1) return files[0].commit();
  return SetCommit(files).run();
}

}  // namespace talvo
