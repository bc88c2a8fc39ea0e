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
// reads back to the same double. A value that holds a line end or another
// control character, bytes that are not UTF-8, a quote or a backslash, or
// blanks at either end is written quoted, with those escaped
// (quote_for_message): no value can add a line to the header.
std::string curve_text(std::string_view title, const Parameters& parameters, std::span<const std::string> notes,
                       std::string_view columns, const Curve& curve);

// The same with any number of columns, all as long as the first.
std::string table_text(std::string_view title, const Parameters& parameters, std::span<const std::string> notes,
                       std::string_view columns, std::span<const std::span<const double>> table);
// table_text's text added to `out`: a caller writing many files reuses one buffer.
void append_table_text(std::string& out, std::string_view title, const Parameters& parameters,
                       std::span<const std::string> notes, std::string_view columns,
                       std::span<const std::span<const double>> table);

// The files of a reduction, by their extension: I(Q), S(Q), F(Q), G(r),
// g(r) and R(r) with N(r) (these two need the number density).
inline constexpr std::string_view kOutputKinds[] = {"iq", "sq", "fq", "gr", "gofr", "rdf"};

// The text of the file of one kind (title, the parameters, the notes, the
// columns and the rows) added to `out`; false, adding nothing, for a kind not
// in kOutputKinds or a gofr or rdf of a reduction without a number density.
bool append_output_text(std::string& out, std::string_view kind, const Parameters& parameters,
                        std::span<const std::string> notes, const Reduction& r);

// The parameters of a file: every line "key = value" (or "# key = value"),
// key made of lower-case letters, digits and "-"; other lines are skipped.
// A value in double quotes is read back through its escapes (unquote). An
// error when a key comes twice or a quote is not closed.
Result<Parameters> parse_parameters(std::string_view text);

}  // namespace talvo::pdf
