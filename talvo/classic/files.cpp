#include "talvo/classic/files.hpp"

#include <cerrno>
#include <cstring>
#include <ostream>

#include "talvo/classic/print.hpp"
#include "talvo/files/write.hpp"

namespace talvo::classic {

void report_records(const RecordCounts& r, int print_level, std::ostream& out) {
  if (print_level == 1) {
    pr_int(out, "inqfilerec: Number of records in file =", r.records);
    pr_int(out, "inqfilerec: Maximum record length =", r.max_length);
  }
  if (print_level > 0 && r.max_length > kLongRecordWarning)
    out << " **WARNING** Excessively long record(s) encountered\n";
}

FileRecords inqfilerec(const std::string& name, int print_level, std::ostream& out) {
  const Result<RecordCounts> counted = count_records(name);
  if (!counted.ok()) return {};
  FileRecords r{*counted, true};
  report_records(r, print_level, out);
  return r;
}

std::optional<NewFile> open_new_file(std::ostream& console, int unit, const std::string& name, int record_length,
                                     const NewFileOptions& options) {
  Result<NewFile> file = NewFile::create(name, options);
  if (file.ok()) return std::move(*file);
  const int err = file.error().system_error != 0 ? file.error().system_error : EIO;
  console << " ** Error in open_new_file **\n"
          << " I/O status = replace\n"
          << " File name = " << name << '\n';
  pr_int(console, "Unit number = ", unit);
  pr_int(console, "Record length = ", record_length);
  pr_int(console, "Error number = ", err);
  console << " " << std::strerror(err) << '\n';
  return std::nullopt;
}

}  // namespace talvo::classic
