// Questions at the console with an optional default. Each prints " Give ",
// the question and, when iopt is 1, the default in parentheses, then "> ",
// and reads one reply line. An unusable reply asks again, silently or after a
// line that says why. Each fails with read_reply's error when no reply can
// be read (the input has ended, or a reply is too long).
#pragma once

#include <string>
#include <string_view>

#include "talvo/console/console.hpp"

namespace talvo {

// Whether a question asked again says why on a line of its own first.
enum class Explain { kSilently, kSayWhy };

// Integer. The default is shown in LEN_INT(value on entry) columns. A single
// blank or TAB, or a reply beginning with f/F, asks again.
Outcome get_intd(Console& con, int& value, std::string_view text, int iopt, Explain explain = Explain::kSilently);

// Text. The default shows the first nchar characters of `string`. Any
// non-empty reply is taken (its first 80 characters, cut to `capacity`), and
// nchar becomes the number of characters typed, which is not capped.
Outcome get_stringd(Console& con, std::string& string, std::string_view text, int& nchar, int iopt,
                    std::size_t capacity, Explain explain = Explain::kSilently);

// Double-precision real, default shown as E14.7. After one unusable reply the
// default is no longer offered and iopt is set to 0 for the caller.
Outcome get_param_dp(Console& con, double& value, std::string_view text, int& iopt,
                     Explain explain = Explain::kSilently);

}  // namespace talvo
