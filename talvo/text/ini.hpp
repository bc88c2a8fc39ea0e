// Settings files of "[section]" blocks and "key = value" (or "key: value")
// lines, ";" and "#" comments, as Python's configparser reads them: the
// reference program's configuration and the header of its outputs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"

namespace talvo {

struct IniKey {
  std::string section, key;  // both lower case
  std::string value;         // blanks around it taken off
  int line = 0;              // from 1
};

struct IniOptions {
  // A line that is neither a section, a key nor a comment, a key before any
  // section and a key given twice in one section are refused (kParseError,
  // naming `source` and the line); else such lines are passed over and the
  // first of a key's values kept.
  bool strict = true;
  // The line at which the settings end (an output's "#### start data"); none when empty.
  std::string_view stop_at = {};
};

// The keys of `text` in file order; `source` names it in messages.
Result<std::vector<IniKey>> read_ini(std::string_view text, std::string_view source, const IniOptions& options = {});

}  // namespace talvo
