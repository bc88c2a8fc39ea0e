// What every talvo-tools subcommand shares: its arguments, number reading,
// grids, rows on standard input and output, and how a routine's status ends
// the command.
#pragma once

#include <initializer_list>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "talvo/files/data_folder.hpp"
#include "talvo/status.hpp"

namespace talvo::cli {

inline constexpr int kUsage = 2;

// Wrong usage: the message, then the subcommand's help, exit 2.
struct UsageError {
  std::string text;
};

// Unusable input data (a file or standard input): the message, exit 1.
struct InputError {
  std::string text;
};

// The most points a FROM:TO:STEP grid may have; a larger one is refused
// before any memory is taken for it.
inline constexpr double kMaxGridPoints = 10'000'000;

// Options of the form --name [value]; anything else is a positional argument.
struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  bool flag(const std::string& name) const { return options.count(name) > 0; }
  std::optional<std::string> get(const std::string& name) const;
};

// `flags` are the options without a value, `options` those with one; any
// other option is a usage error (a mistyped --tabel must not go unnoticed).
Args parse(int argc, char** argv, int first, const std::vector<std::string>& flags,
           const std::vector<std::string>& options);

double number(const std::string& text, const std::string& what);
int integer(const std::string& text, const std::string& what);

// FROM:TO:STEP, TO included when it falls on the grid within STEP/1000.
std::vector<double> grid(const std::string& spec);

// Columns of the rows of `in` ("#" lines and blank lines skipped): the first
// `columns`, and up to `optional` more when the first row has them (every
// row must then have them too). `source` names the input in messages.
std::vector<std::vector<double>> read_columns(std::istream& in, const std::string& source, std::size_t columns,
                                              std::size_t optional = 0);
// The same from standard input.
std::vector<std::vector<double>> read_columns(std::size_t columns);

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

// Prints a routine's message on standard error; true when the values are
// still to be printed (success or a warning).
bool report(const Status& s);

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
