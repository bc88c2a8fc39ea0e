// The text of a reduction's output files, the parameters their headers carry
// (read back to rerun the reduction). The picture is in plot.hpp.
// Nothing here touches a file: callers write the text where they want it.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "talvo/pdf/reduce.hpp"
#include "talvo/result.hpp"

namespace talvo::pdf {

// Parameters in the order they are written: key (an option's name without
// its dashes), value as the option takes it.
using Parameters = std::vector<std::pair<std::string, std::string>>;

// A curve's file: "# title", every parameter as "# key = value", then the
// `notes` as "# " lines (derived values; they hold no " = "), the column
// names, and one "x y sigma" row a point, each number the shortest text that
// reads back to the same double.
std::string curve_text(std::string_view title, const Parameters& parameters, std::span<const std::string> notes,
                       std::string_view columns, const Curve& curve);

// The same with any number of columns, all as long as the first.
std::string table_text(std::string_view title, const Parameters& parameters, std::span<const std::string> notes,
                       std::string_view columns, std::span<const std::span<const double>> table);
// table_text's text added to `out`: a caller writing many files reuses one buffer.
void append_table_text(std::string& out, std::string_view title, const Parameters& parameters,
                       std::span<const std::string> notes, std::string_view columns,
                       std::span<const std::span<const double>> table);

// The parameters of a file: every line "key = value" (or "# key = value"),
// key made of lower-case letters, digits and "-"; other lines are skipped.
// An error when a key comes twice.
Result<Parameters> parse_parameters(std::string_view text);

}  // namespace talvo::pdf
