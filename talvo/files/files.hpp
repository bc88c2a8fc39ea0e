// Checking, reading, creating and measuring files.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "talvo/result.hpp"
#include "talvo/status.hpp"

namespace talvo {

// ---------------------------------------------------------------------------
// Reading

// Longest line, without its line end, that the text readers accept. A longer
// line is an error: a file without line ends cannot make a reader grow one
// line without bound.
inline constexpr std::size_t kMaxLineLength = 65536;

// Success when `name` is an existing regular file (or a symbolic link to one).
// Error 1: it cannot be found or looked at; error 2: it is something else (a
// folder, a FIFO, a device, a socket), which a reader must not open: a FIFO
// without a writer would hang it and a device such as /dev/zero never ends.
Status check_regular_file(const std::string& name);

enum class LineRead {
  kLine,     // a line was read
  kEnd,      // nothing was left
  kTooLong,  // more than the limit without a line end; the reading stopped there
  kError,    // the stream failed
};

// Reads one line into `text`, without its line end (LF or CR-LF); the last
// line of a file needs no LF. At most max_length characters are accepted: a
// longer line gives kTooLong after max_length + 2 characters, never more.
// `rest_pending`, when given, is set on kTooLong to whether the rest of the
// line, with its end, is still to be read (a caller that goes on to the next
// line skips it; one of exactly max_length + 1 characters has none left).
LineRead read_line(std::istream& in, std::string& text, std::size_t max_length = kMaxLineLength,
                   bool* rest_pending = nullptr);

// A file opened for reading only when it is a regular file. The check is made
// on the opened descriptor, and the open does not wait for a FIFO's writer, so
// nothing put in the file's place between a check and the open can make the
// reader hang or read without end. A read error sets badbit on the stream.
class InputFile {
 public:
  explicit InputFile(const std::string& name);
  InputFile(InputFile&&) noexcept;
  InputFile& operator=(InputFile&&) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  bool is_open() const;
  // Why the file is not open: the errors of check_regular_file, or 3 when
  // it cannot be opened (no permission).
  const Status& status() const;
  // The file's text; at its end at once when the file is not open.
  std::istream& stream();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// True when `name` exists and is not a folder.
bool file_exists(const std::string& name);

// ---------------------------------------------------------------------------
// Writing

// The temporary files of the NewFiles being written, kept where a signal
// handler can reach them. A program that wants no temporary file left behind
// when SIGINT, SIGTERM or SIGHUP ends it owns one of these, passes it to the
// file-writing calls (NewFileOptions::pending) and calls remove_all() from its
// own handler; the library never installs a handler. Fixed slots, lock-free
// atomics and unlink() only: remove_all() is async-signal-safe. A file whose
// name does not fit, or that finds every slot taken, is written unprotected.
class PendingFiles {
 public:
  static constexpr std::size_t kSlots = 8;
  static constexpr std::size_t kNameCapacity = 4096;  // bytes, with the final NUL

  PendingFiles() = default;
  PendingFiles(const PendingFiles&) = delete;
  PendingFiles& operator=(const PendingFiles&) = delete;

  // Removes every temporary file being written now. Async-signal-safe.
  void remove_all() noexcept;
  // Temporary files being written now.
  std::size_t count() const noexcept;

 private:
  friend class NewFile;
  // Slot states: free, taken (the name is being put in), active (the handler
  // removes the named file: it is being created or written).
  enum : int { kFree = 0, kTaken = 1, kActive = 2 };
  struct Slot {
    std::atomic<int> state{kFree};
    char name[kNameCapacity] = {};
  };
  static_assert(std::atomic<int>::is_always_lock_free);
  // The slot's name buffer holds `templ`; nullptr when none is free or it is too long.
  Slot* claim(std::string_view templ) noexcept;
  Slot slots_[kSlots];
};

struct NewFileOptions {
  // Where the temporary name is kept while the file is written; may be null.
  PendingFiles* pending = nullptr;
  // Writes under a hidden temporary name even where the system offers files
  // without a name, as it must on file systems that have none.
  bool named_temporary = false;
};

// A text file being written. It is written as a file without a name in the
// folder of the final name (O_TMPFILE), which even a killed process cannot
// leave behind, and is linked into place only in commit(), so an interrupted
// or failed run never leaves a half-written file nor loses the previous one.
// Replacing a file takes a link under a hidden temporary name and a rename
// over the old one. Where the file system has no unnamed files, the file is
// written under that hidden temporary name from the start; without commit()
// it is removed. A temporary file that a killed run left is removed by the
// next NewFile of the same name, once no live writer holds it (each writer
// holds a lock on its file). The file gets the permission bits of the file it
// replaces, or, when it is new, the usual 0666 less the umask.
class NewFile {
 public:
  // Creates the temporary file for `name`; status() says whether it worked.
  static NewFile create(const std::string& name, const NewFileOptions& options = {});

  NewFile(NewFile&&) noexcept;
  NewFile& operator=(NewFile&&) noexcept;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile();

  // Success, or the system's error number (ierr) and its text.
  const Status& status() const;
  std::ostream& stream();
  const std::string& name() const;
  // The temporary file's name while it is written under one; empty for a
  // file without a name and after commit().
  const std::string& temp_name() const;
  // True when the file is being written without a name.
  bool unnamed() const;
  bool good() const;
  // Writes out what the stream holds and asks the system to start putting it
  // on disk, so that commit() finds most of it there. Work done between the
  // two overlaps the disk's. False when the write failed.
  bool start_writeback();
  // Writes out, flushes to disk (fsync), links or renames the file into
  // place and closes it; false when any of it failed (the temporary file is
  // then removed).
  bool commit();

 private:
  NewFile();
  void discard() noexcept;
  struct State;
  std::unique_ptr<State> s_;
};

// Removes the temporary files that killed writers of `name` left in its
// folder (hidden names of the form .NAME.XXXXXX): only those that no live
// NewFile holds. The number removed; kNotFound or kIoError when the folder
// cannot be read. NewFile::create calls it.
Result<int> remove_abandoned_temporaries(const std::string& name);

// An exclusive lock on the folder that holds `name`, for a writer that
// replaces several files there as one set: two writers holding it in turn
// never leave one's file beside the other's. take() waits while another
// process holds it; the lock ends with the object (or with the process,
// however it ends; a child forked meanwhile shares it). One process holds at
// most one lock on a folder at a time. kNotFound or kIoError when the folder
// cannot be opened, kUnsupported where its file system has no locks: a
// writer may then go on without it.
class FolderLock {
 public:
  static Result<FolderLock> take(const std::string& name);
  FolderLock(FolderLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FolderLock& operator=(FolderLock&&) = delete;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

 private:
  explicit FolderLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Creates `name` for writing lines of text. When it cannot, prints the
// "** Error in open_new_file **" block on `console` (status, name, unit,
// record length, error number) and returns nothing.
std::optional<NewFile> open_new_file(std::ostream& console, int unit, const std::string& name, int record_length,
                                     const NewFileOptions& options = {});

// The process's file-creation mask, read without changing it (Linux
// /proc/self/status); nothing where the system does not tell it.
std::optional<unsigned> current_umask();

// ---------------------------------------------------------------------------
// Measuring

// Number of records (lines) of a file and the length of its longest record,
// line ends not counted.
struct FileRecords {
  long long records = 0;
  long long max_length = 0;
  bool readable = false;
};

// Counts records over text given in pieces of any size.
class RecordCounter {
 public:
  void feed(std::string_view chunk);
  FileRecords finish();

 private:
  FileRecords r_;
  long long current_ = 0;
  bool cr_ = false;  // the last character was a CR, which belongs to the line end before an LF
};

// Records longer than this draw a warning; they are still measured in full.
inline constexpr long long kLongRecordWarning = 1000000;

// Measures a regular file of any size in one pass (anything else is not
// readable). With print level 1 it prints the two counts, and above 0 the
// warning for excessively long records.
FileRecords inqfilerec(const std::string& name, int print_level, std::ostream& out);
void report_records(const FileRecords& r, int print_level, std::ostream& out);

// Reads a whole regular file into memory; nothing when it cannot be read or
// is not a regular file.
std::optional<std::string> read_whole_file(const std::string& name);

// Why FileContent::open gave nothing.
enum class OpenFailure { kNone, kMissing, kNotRegular, kTooLarge, kUnreadable };

// A file's content for reading in one pass: mapped into memory where the
// system allows it, else read whole.
class FileContent {
 public:
  // Only regular files are opened: a device, FIFO or socket may block or
  // never end. Files above max_bytes are refused before anything is read.
  static std::optional<FileContent> open(const std::string& name, std::uint64_t max_bytes = UINT64_MAX,
                                         OpenFailure* why = nullptr);
  FileContent(FileContent&&) noexcept;
  FileContent& operator=(FileContent&&) = delete;
  FileContent(const FileContent&) = delete;
  ~FileContent();
  std::string_view text() const { return view_; }

 private:
  FileContent() = default;
  void* map_ = nullptr;
  std::size_t map_size_ = 0;
  std::string copy_;
  std::string_view view_;
};

}  // namespace talvo
