// The reduction's options, declared once: each one's name, type, unit,
// choices, the mode or geometry it belongs to and a line of documentation.
// The names are those of the header lines of the files talvo-tools writes
// ("mu-r = 1.25"), so a file's header reads back as the same options.
#pragma once

#include "talvo/text/options.hpp"

namespace talvo::pdf {

// Every option of the reduction; a name outside it is refused.
const OptionTable& reduction_option_table();

// The option of the reduction named `name` ("mu-r"); null when there is none.
const OptionSpec* reduction_option(std::string_view name);

// Whether `name` is one of the reduction's options.
inline bool is_reduction_option(std::string_view name) { return reduction_option(name) != nullptr; }

}  // namespace talvo::pdf
