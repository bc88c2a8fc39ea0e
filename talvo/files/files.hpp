// Checking, creating and measuring files.
#pragma once

#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "talvo/console/console.hpp"

namespace talvo {

// check_file options.
enum CheckFileOption {
  kCheckQuiet = 0,      // existence only, nothing printed (library callers)
  kCheckMustExist = 1,  // prints " Failure locating file " when it is missing
  kCheckAsk = 2,        // prints " File found : "; when missing asks for another name
  kCheckNew = 3,        // a file about to be written: says whether one exists already
};

// Establishes that `name` is an existing file (or, for kCheckNew, reports on
// it). Returns the name of the file to use, or nothing when the caller must
// give up: the file is missing, the user gave up, or iopt is unknown
// ("Unexpected option in check_file: iopt ="). `con` may be null for kCheckQuiet.
std::optional<std::string> check_file(const std::string& name, int iopt, Console* con);

bool file_exists(const std::string& name);

// Where a data file is read from: the "G_F" prefix and the bare name when the
// prefix is set; otherwise the bare name in the working directory when it is
// there, else the data folder the program was installed with or built from.
std::string data_file_name(const std::string& prefix, std::string_view bare);

// A text file being written. It is created under a temporary name in the same
// folder and only replaces a file of the final name in commit(), so an
// interrupted or failed run never leaves a half-written file nor loses the
// previous one. Without commit() the temporary file is removed.
class NewFile {
 public:
  NewFile(std::string final_name, std::string temp_name);
  NewFile(NewFile&&) noexcept;
  NewFile& operator=(NewFile&&) noexcept;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile();

  std::ostream& stream() { return *stream_; }
  const std::string& name() const { return final_name_; }
  bool good() const { return stream_ && stream_->good(); }
  // Flushes, closes and moves the file into place; false when any write failed.
  bool commit();

 private:
  std::string final_name_;
  std::string temp_name_;
  std::unique_ptr<std::ofstream> stream_;
};

// Creates `name` for writing lines of text. When it cannot, prints the
// "** Error in open_new_file **" block on `console` (status, name, unit,
// record length, error number) and returns nothing.
std::optional<NewFile> open_new_file(std::ostream& console, int unit, const std::string& name, int record_length);

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

// Measures a file of any size in one pass. With print level 1 it prints the
// two counts, and above 0 the warning for excessively long records.
FileRecords inqfilerec(const std::string& name, int print_level, std::ostream& out);
void report_records(const FileRecords& r, int print_level, std::ostream& out);

// Reads a whole file into memory; nothing when it cannot be read.
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
