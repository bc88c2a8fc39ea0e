// What every talvo-tools subcommand shares: its arguments, number reading,
// grids, rows on standard input and output, and how a routine's status ends
// the command.
#pragma once

#include <array>
#include <filesystem>
#include <initializer_list>
#include <iosfwd>
#include <map>
#include <optional>
#include <span>
#include <streambuf>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "talvo/files/data_folder.hpp"
#include "talvo/result.hpp"
#include "talvo/text/grid.hpp"
#include "talvo/text/number.hpp"
#include "talvo/text/options.hpp"

namespace talvo::cli {

inline constexpr int kUsage = 2;

// Options of the form --name VALUE, --name=VALUE or --name (a flag); after
// "--" every argument is a positional one.
struct Args {
  std::string command;  // the subcommand's name, for its messages
  std::vector<std::string> positional;
  // positional[operands_from] on came after "--": operands, whatever they look like.
  std::size_t operands_from = static_cast<std::size_t>(-1);
  std::map<std::string, std::string> options;
  bool flag(const std::string& name) const { return options.count(name) > 0; }
  std::optional<std::string> get(const std::string& name) const;
};

// What tells two names of one file apart from two files: the name with its links and dots resolved, and
// the file's identity where it exists (a hard link has another name).
struct FileKey {
  std::string canonical;
  std::optional<std::pair<unsigned long long, unsigned long long>> identity;  // device, inode
  explicit FileKey(const std::string& path);
  bool same(const FileKey& other) const {
    return canonical == other.canonical || (identity && identity == other.identity);
  }
};
// True when the two names are one file (an output that would replace an input).
inline bool same_file(const std::string& a, const std::string& b) { return FileKey(a).same(FileKey(b)); }

// How a subcommand ends on an error: wrong usage prints "talvo-tools COMMAND:
// TEXT; see `talvo-tools COMMAND --help`" on one line and returns kUsage;
// unusable input data (a file, standard input) prints "talvo-tools COMMAND:
// TEXT" and returns 1.
int usage(const Args& a, const std::string& text);
int usage(const Args& a, const Error& e);
int input_error(const Args& a, const std::string& text);
int input_error(const Args& a, const Error& e);

// Whose fault a refusal is: the request's (the command line, the options of a --config file) or the data's
// (the files, patterns and tables it names).
enum class Fault { kRequest, kData };
// talvo-tools' one table from an error to its exit status: a request that is malformed or contradicts itself
// (kInvalidArgument, kParseError) is wrong usage, kUsage; a request the data or the tables cannot serve (a
// value past a table, a file that is not there, what is not offered) and every fault of the data, 1. The
// error keeps the kind the library gave it.
constexpr int exit_status(ErrorKind kind, Fault fault) {
  if (fault == Fault::kData) return 1;
  return kind == ErrorKind::kInvalidArgument || kind == ErrorKind::kParseError ? kUsage : 1;
}
// An error with whose fault it is, as a command's steps return it.
struct Refusal {
  Error error;
  Fault fault = Fault::kData;
};
// A step's value, or its refusal.
template <class T>
using Checked = std::variant<T, Refusal>;
inline Refusal of_request(Error e) { return {std::move(e), Fault::kRequest}; }
inline Refusal of_data(Error e) { return {std::move(e), Fault::kData}; }
template <class T>
bool ok(const Checked<T>& c) {
  return std::holds_alternative<T>(c);
}
template <class T>
const Refusal& refusal(const Checked<T>& c) {
  return std::get<Refusal>(c);
}
// Prints the refusal as usage() or input_error() do, by exit_status(), and returns that status.
int refuse(const Args& a, const Refusal& r);

// `path` as a file written in `folder` names it, so that a rerun from that file's header finds it from
// anywhere: relative to the folder (through the folders' links as the system follows them); as it is when
// absolute, when the folder is the working one, or when no relative path can be made.
std::string path_from_folder(const std::filesystem::path& folder, const std::string& path);

// One fitted parameter as a run's notes and JSON give it.
struct FitLine {
  std::string_view name;
  double start = 0.0, value = 0.0, sigma = 0.0, lower = 0.0, upper = 0.0;
  bool at_bound = false;
};
// "fitted NAME: V +- S (from START, bounds LOW to HIGH)" for each, then "fit cost: B before, A after, N
// reductions", into notes; the JSON members ", "fitted": {NAME: {value, sigma, start, at_bound}, ...},
// "fit_cost_before": B, "fit_cost_after": A, "fit_reductions": N" onto json.
void describe_fit(std::span<const FitLine> fit, double before, double after, int reductions,
                  std::vector<std::string>& notes, std::string& json);

// The folders -o DIR/ made: DIR and those above it that were not there. A run that wrote nothing takes them
// away again (remove_if_empty), each only while it is still empty.
class FoldersMade {
 public:
  // Makes `folder` with those above it; the reason, from the system, when it cannot.
  static Result<FoldersMade> make(const std::string& folder);
  void remove_if_empty() const;

 private:
  std::vector<std::string> made_;  // the outermost first
};

// `flags` are the options without a value, `options` those with one; any
// other option is wrong usage (a mistyped --tabel must not go unnoticed),
// so is an option given twice (which of the two was meant?).
Result<Args> parse(int argc, char** argv, int first, const std::vector<std::string>& flags,
                   const std::vector<std::string>& options);

// A command whose options a table declares: the table's options (a flag
// for kFlag, else with a value) read and checked by read_options, beside the
// command's own presentation options (`flags`, `options`: --json, --digits,
// -o), which stay in args.options unread.
struct TableArgs {
  Args args;
  talvo::Options options;
};
Result<TableArgs> parse(int argc, char** argv, int first, const OptionTable& table,
                        const std::vector<std::string>& flags = {}, const std::vector<std::string>& options = {});

// A number as read_number reads it: `what` names it in the message
// ("--density"); a quantity comes back in its canonical unit (cm, keV, A,
// g/cm3). The options that carry a unit (--density, --thickness,
// --wavelength, --energy) take it without being told.
Result<double> number(const std::string& text, const std::string& what, NumberOptions options = {});
Result<double> quantity(const std::string& text, const std::string& what, Quantity quantity);
Result<int> integer(const std::string& text, const std::string& what);

// FROM:TO:STEP by read_grid, TO included when it falls on the grid within
// STEP/1000; TO below FROM is refused (a grid of no points computes
// nothing), so is one of more than `most` points, before any is made.
Result<std::vector<double>> grid(const std::string& spec, double most = kMaxGridPoints,
                                 Quantity quantity = Quantity::kNumber);

// Columns of the rows of `in` ("#" lines and blank lines skipped): the first
// `columns`, and up to `optional` more when the first row has them (every
// row must then have them too). `source` names the input in messages.
Result<std::vector<std::vector<double>>> read_columns(std::istream& in, const std::string& source, std::size_t columns,
                                                      std::size_t optional = 0);
// The same from standard input.
Result<std::vector<std::vector<double>>> read_columns(std::size_t columns);

// A number as printed: the shortest text that reads back to the same value,
// in the precision it was computed in (a float from a double holds a value
// computed in single precision, such as filon_ft's integrals).
struct Num {
  double value;
  bool single = false;
  Num(double v) : value(v) {}               // NOLINT: rows are written as {x, y}
  Num(float v) : value(v), single(true) {}  // NOLINT
};
std::string num(Num v);
// One row: the values separated by one blank, into standard output.
void row(std::initializer_list<Num> values);

// Plain and CSV numbers have this many significant digits unless --digits N
// (1 to 17) asks for others; JSON numbers are the shortest text that reads
// back to the same double.
inline constexpr int kPlainDigits = 6;
// The value of --digits, or kPlainDigits; refused outside 1 to 17.
Result<int> digits_option(const Args& a);
// A number with `digits` significant digits; "-" when it is missing or not finite.
std::string digits_text(std::optional<double> v, int digits);

// The plain output of a material: "formula  TEXT", then "name  value  unit"
// lines, names and values padded to the widest of each.
struct NamedValue {
  std::string name;
  std::string value;  // as printed
  std::string unit;
};
struct NamedValueTable {
  std::string text;
  std::size_t name_width;  // for lines added below in the same columns
};
NamedValueTable named_value_table(const std::string& formula, const std::vector<NamedValue>& rows);

// Prints a result's warnings ("talvo-tools COMMAND: warning: ...") and its
// error ("talvo-tools COMMAND: ...") on standard error, the library's words
// unchanged; true when the value is there.
void report_messages(const std::string& command, const std::vector<std::string>& warnings, const Error* error);
template <class T>
bool report(const std::string& command, const Result<T>& r) {
  report_messages(command, r.warnings(), r.ok() ? nullptr : &r.error());
  return r.ok();
}

// Standard output under std::cout: a buffer that writes to a file
// descriptor and keeps the reason (errno) of the first write that failed, so
// that a full disk or a closed device ends the command with that reason
// instead of exit 0. After a failure every later write fails at once.
class OutputBuffer : public std::streambuf {
 public:
  explicit OutputBuffer(int fd);
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  // errno of the first write that failed; 0 when all went out.
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool drain();
  bool write_all(const char* data, std::size_t n);
  int fd_;
  int error_ = 0;
  std::array<char, 1 << 16> buffer_{};
};

// Where talvo-tools reads data files: the folder "G_F" names, else the
// installed or source-tree data folder.
DataFolder tools_data_folder();

// One subcommand: its name, what it does, the options that take no value and
// its help text.
struct Subcommand {
  const char* name;
  int (*run)(const Args&);
  std::vector<std::string> flags;    // options without a value
  std::vector<std::string> options;  // options with a value
  const char* summary;
  const char* help;
};

}  // namespace talvo::cli
