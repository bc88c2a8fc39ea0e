// Writing files whole or not at all: a new file is written beside its final
// name and put in place only when it is complete.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "talvo/result.hpp"

namespace talvo {

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
// over the old one; a symbolic link under the final name is replaced, not
// written through. Where the file system has no unnamed files, the file is
// written under that hidden temporary name from the start; without commit()
// it is removed. A temporary file that a killed run left is removed by the
// next NewFile of the same name, once no live writer holds it (each writer
// holds a lock on its file). The file gets the permission bits of the file it
// replaces, or, when it is new, the usual 0666 less the umask.
class NewFile;
Outcome commit_together(std::span<NewFile> files);

class NewFile {
 public:
  // The file being written under `name`. kNotFound when its folder does not
  // exist, kInvalidArgument when the name is a folder or too long for the
  // system, kIoError when the file cannot be made (no permission, no space).
  static Result<NewFile> create(const std::string& name, const NewFileOptions& options = {});

  NewFile(NewFile&&) noexcept;
  NewFile& operator=(NewFile&&) noexcept;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile();

  // Appends `text` to the file. A write that fails shows in good() and
  // makes commit() fail with the system's reason.
  void write(std::string_view text);
  const std::string& name() const;
  // The temporary file's name while it is written under one; empty for a
  // file without a name and after commit().
  const std::string& temp_name() const;
  // True when the file is being written without a name.
  bool unnamed() const;
  // True while everything written so far has gone well.
  bool good() const;
  // Writes out what the stream holds and asks the system to start putting it
  // on disk, so that commit() finds most of it there. Work done between the
  // two overlaps the disk's. False when the write failed.
  bool start_writeback();
  // Writes out, flushes to disk (fsync), links or renames the file into
  // place and closes it. kIoError when any of it failed (the temporary file
  // is then removed and a file of the same name from before stays as it was).
  Outcome commit();

 private:
  friend Outcome commit_together(std::span<NewFile> files);
  friend class SetCommit;
  NewFile();
  void discard() noexcept;
  struct State;
  std::unique_ptr<State> s_;
};

// Puts the files of a set in place together, so that the files under their
// names are always one set's: the previous set, or all of this one, whatever
// ends the process and whichever other writer replaces the same names.
// Every file is written out and flushed to disk first; then, holding the
// lock of each folder (FolderLock's, waited for as FolderLock::take waits), a
// list of the set (".talvo-set.XXXXXX.list") is put beside the files, naming
// every hidden name the set will use before it exists; each file is linked
// under its hidden name, each file it replaces under another (so that it can
// be put back), the list is marked committed, the renames are made, and the
// hidden links and the list are removed.
// SIGHUP, SIGINT, SIGTERM and SIGQUIT wait while the names change (they end
// the process only once the set is in place; a program that reads them on
// several threads holds them on the others). A process killed outright
// leaves its list: the next set committed in that folder, or the next
// NewFile created there, ends it before anything else. A list not yet
// committed changed no name: its hidden files are removed. A committed one
// is completed, each rename made only onto the very file the set replaced
// (its identity, size and time as the list recorded them): a file written
// there since stays, and the set's file goes. Until then no clean-up removes
// the files it names. A file that cannot be written fails the set before any
// name changes: kIoError with the system's reason ("cannot write NAME: No
// space left on device"), every file discarded and the previous ones kept.
// A rename that fails stops the set there: the files renamed before it are
// put back, and the message says so ("...: Input/output error: none of the
// set's files was replaced, the previous ones are kept"); where even that
// fails, the list stays and the next writer in the folder puts them back.
// Files in several folders are a set in each folder. The caller must not
// hold a FolderLock of any of them: the set takes that lock itself.
Outcome commit_together(std::span<NewFile> files);

// Removes the temporary files that killed writers of `name` left in its
// folder (hidden names of the form .NAME.XXXXXX): only those that no live
// NewFile holds and that have no other name, and none that a killed set's
// list still names. Where the folder's lock is free, every killed set in the
// folder is ended first, whichever names it holds. The number
// removed; kNotFound or kIoError when the folder cannot be read.
// NewFile::create calls it.
Result<int> remove_abandoned_temporaries(const std::string& name);

// An exclusive lock on the folder that holds `name`, for a writer that
// replaces several files there as one set: two writers holding it in turn
// never leave one's file beside the other's. take() waits while another
// process holds it, for 10 seconds at most: a holder that keeps it longer (a
// run stopped with Ctrl-Z or kill -STOP) gives kIoError, "cannot lock folder
// DIR: the folder DIR is locked by process N: waited 10 s for it (...)". The
// lock ends with the object (or with the process, however it ends; a child
// forked meanwhile shares it). One process holds at most one lock on a
// folder at a time. kNotFound or kIoError when the folder cannot be opened,
// kUnsupported where its file system has no locks: a writer may then go on
// without it.
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

// The process's file-creation mask, read without changing it (Linux
// /proc/self/status); nothing where the system does not tell it.
std::optional<unsigned> current_umask();

}  // namespace talvo
