// The file routines of the classic interface: records of a file counted and
// reported by print level, and a new file created on a unit with the
// "** Error in open_new_file **" block when it cannot be.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "talvo/files/read.hpp"
#include "talvo/files/write.hpp"

namespace talvo::classic {

// Number of records (lines) of a file and the length of its longest record,
// line ends not counted; `readable` false (and the counts 0) when the file
// could not be read.
struct FileRecords : RecordCounts {
  bool readable = false;
};

// Records longer than this draw a warning; they are still measured in full.
inline constexpr long long kLongRecordWarning = 1000000;

// Measures a regular file of any size in one pass (anything else is not
// readable). With print level 1 it prints the two counts, and above 0 the
// warning for excessively long records.
FileRecords inqfilerec(const std::string& name, int print_level, std::ostream& out);
void report_records(const RecordCounts& r, int print_level, std::ostream& out);

// Creates `name` for writing lines of text. When it cannot, prints the
// "** Error in open_new_file **" block on `console` (status, name, unit,
// record length, the system's error number and its text) and returns nothing.
std::optional<NewFile> open_new_file(std::ostream& console, int unit, const std::string& name, int record_length,
                                     const NewFileOptions& options = {});

}  // namespace talvo::classic
