// A capability's options declared once, as a table: each option's name,
// type, unit, default, choices, range, the value of another option it
// belongs to, what it needs and excludes, and a line of documentation. From
// the table come the checking of what a user gives (one error kind for one
// kind of fault, the option named the way the user writes it), the --help
// lines and man page entries, Python's keywords, and the "key = value" text
// of an output's header that reruns the same work.
//
// The names are those of the header lines ("mu-r = 1.25"); a command line
// writes them "--mu-r", Python "mu_r".
#pragma once

#include <array>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "talvo/result.hpp"
#include "talvo/text/number.hpp"

namespace talvo {

enum class OptionType {
  kFlag,    // on when given, no value
  kNumber,  // a decimal number, in `quantity`'s unit
  kWhole,   // a whole number
  kText,    // any text (a formula, a name)
  kChoice,  // one of `choices`
  kPath,    // a file's path
  kGrid,    // FROM:TO:STEP
  kList,    // comma-separated items, each one of `choices` (any text when there are none)
};

// How the caller's user writes an option's name.
enum class Spelling {
  kCommandLine,  // --mu-r
  kKeyword,      // mu_r
};
std::string spelled(std::string_view name, Spelling spelling);

inline constexpr double kNoBound = std::numeric_limits<double>::infinity();

struct OptionSpec {
  std::string_view name;  // "mu-r"
  OptionType type;
  std::string_view doc;                   // one line: what it is, as --help and a docstring say it
  Quantity quantity = Quantity::kNumber;  // the unit a number is read in and given back in
  std::string_view default_text = {};     // the value when none is given, as text; empty: none
  std::string_view choices = {};          // "none|lorch|cosine"
  std::string_view when = {};             // "mode=physical": only with that value of another option
  std::string_view needs = {};            // options it needs, comma-separated
  std::string_view excludes = {};         // options it cannot stand with, comma-separated
  double low = -kNoBound;                 // a number's range; a bound of +-kNoBound is none
  double high = kNoBound;
  bool low_open = false;  // low itself is refused ("above 0")
  bool high_open = false;
  std::string_view metavar = {};  // "MM", "FROM:TO:STEP"; empty: from the type
};

struct OptionTable {
  std::string_view what;  // "the reduction": the messages' "--x is not an option of the reduction"
  std::span<const OptionSpec> options;
};

// The option of `table` named `name`; null when there is none.
const OptionSpec* find_option(const OptionTable& table, std::string_view name);

// An option's value as the caller has it: text as typed ("1.25", "CeO2",
// "0:30:0.01", a path), or filled in directly: a number, a whole number, or
// a grid {from, to, step}. Text that should be a number is read with the one
// decimal-number parser.
using OptionValue = std::variant<std::string, double, int, std::array<double, 3>>;

struct OptionValues {
  // The options given, by name ("mu-r").
  std::map<std::string, OptionValue, std::less<>> values;
  // The names whose value came from a file of earlier settings rather than
  // from the user now: such a value yields where it conflicts, and is not
  // refused for belonging to another choice.
  std::set<std::string, std::less<>> from_file;
  // Where such a value was read ("run.cfg line 5"), for the messages that
  // name its option.
  std::map<std::string, std::string, std::less<>> origins;
};

// A value as text: text as it is, a number as the shortest text that reads
// back to it, a grid as "FROM:TO:STEP".
std::string option_text(const OptionValue& value);

// The checked values of one table: each given option read as its type, the
// others at their defaults.
class Options {
 public:
  bool given(std::string_view name) const { return values_.count(name) > 0; }
  // Given by the user now, not only carried over from a file.
  bool asked(std::string_view name) const { return given(name) && from_file_.count(name) == 0; }
  bool flag(std::string_view name) const;
  // The number given, else the default; nothing when neither is there.
  std::optional<double> number_if(std::string_view name) const;
  double number(std::string_view name) const { return number_if(name).value_or(0.0); }
  std::optional<int> whole_if(std::string_view name) const;
  int whole(std::string_view name) const { return whole_if(name).value_or(0); }
  // Text, a choice or a path as given, else the default ("" for none).
  std::string text(std::string_view name) const;
  std::optional<std::array<double, 3>> grid(std::string_view name) const;
  std::vector<std::string> list(std::string_view name) const;

  // Every value in effect, given or by default, in the table's order: name and text.
  const std::vector<std::pair<std::string, std::string>>& in_effect() const { return in_effect_; }

 private:
  friend Result<Options> read_options(const OptionTable&, const OptionValues&, Spelling);
  friend Result<Options> with_values(const OptionTable&, const Options&, const OptionValues&);
  std::span<const OptionSpec> specs_;
  std::map<std::string, OptionValue, std::less<>> values_;    // read: double, int, text or grid
  std::map<std::string, OptionValue, std::less<>> defaults_;  // of the options not given
  std::set<std::string, std::less<>> from_file_;
  std::vector<std::pair<std::string, std::string>> in_effect_;
  const OptionValue* effective(std::string_view name) const;
};

// True when either option declares that it cannot stand with the other.
bool options_exclude(const OptionSpec& a, const OptionSpec& b);

// The values checked against the table, each fault of one kind, the message
// naming the option as `spelling` writes it and Error::option its name:
//  - a name that is no option, a choice not among the option's, an option
//    given with one it excludes (both asked, or both from one file), one
//    without an option it needs, one that belongs to another value of an
//    option (asked now): kInvalidArgument;
//  - text that is no number (or no whole number, or no FROM:TO:STEP grid): kParseError;
//  - a number outside the option's range: kOutOfRange.
// An option asked now replaces an option from a file that it excludes.
Result<Options> read_options(const OptionTable& table, const OptionValues& given, Spelling spelling);

// `options` (read from `table`) with the values of `changed` put in, each as
// if asked now, and read again: a fit's values in the settings that rerun it.
// The errors of read_options.
Result<Options> with_values(const OptionTable& table, const Options& options, const OptionValues& changed);

// The --help lines: "  --name METAVAR  doc (default D)", the names padded
// to one column; the options of one `when` together after those of every
// choice, under a line naming it.
std::string usage_text(const OptionTable& table);

// The man page's entries: ".TP", "\fB\-\-name\fR \fIMETAVAR\fR", the doc.
std::string man_text(const OptionTable& table);

// Python's keywords as a signature's text: "name: float | None = None, ..."
// in the table's order (every keyword optional: the defaults are the library's).
std::string python_keywords(const OptionTable& table);

// The header's lines "name = value" of every value in effect of `options`,
// in the table's order, each a line; a flag is written "name = 1" when on.
std::string header_text(const OptionTable& table, const Options& options);

// The table as JSON for the page: [{"name":..,"type":..,"unit":..,"default":..,
// "choices":[..],"when":..,"doc":..}, ...].
std::string options_json(const OptionTable& table);

}  // namespace talvo
