// Free-format (list-directed) reading of numbers from one line of text.
//
// Items are separated by blanks, TABs or a comma; leading blanks are skipped.
// An integer item is an optionally signed string of decimal digits; a real item
// is any decimal or exponent form (2, 2.5, -1.e-3, 1D3, 1.0+3). An empty item
// (a comma with nothing before it) leaves its target unchanged, and a slash
// ends the reading, leaving the remaining targets unchanged; both count as
// success. Items after the last target are ignored.
#pragma once

#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <variant>

namespace talvo {

using FreeTarget = std::variant<int*, float*, double*>;

// Reads one item per target, in order. False when an item does not read as
// its target's type or the line ends before every target had its item; the
// targets read before the failure keep their new values.
bool read_free(std::string_view line, std::span<const FreeTarget> targets);
bool read_free(std::string_view line, std::initializer_list<FreeTarget> targets);

// One item on its own, the whole text: used where a field has been cut out
// of a line already.
std::optional<double> parse_real(std::string_view item);
std::optional<int> parse_int(std::string_view item);

}  // namespace talvo
