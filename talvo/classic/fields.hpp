// Picking values out of typed lines and data-file lines: element symbols,
// reals with their uncertainties, and the free-atom conversions.
#pragma once

#include <string>
#include <string_view>

namespace talvo::classic {

// Lines are handled as fixed texts of this many characters.
inline constexpr std::size_t kLineLength = 132;

// The element symbol at the start of a line (fixed to 132 characters).
// `position` is the column after the separator that follows the symbol, or
// -1 (blank line), -2 (no blank or comma after the symbol), -3 (first letter
// not A-Z), -4 (second letter not a-z). The symbol is 2 characters, the
// first in upper and the second in lower case.
struct SymbolAt {
  std::string symbol;
  int position;
};
SymbolAt getnam(std::string_view line);

// Reads one real from the field after column p (the separator before it) that
// ends before column e or before the first "(" (an uncertainty), whichever
// comes first. One separator is skipped when the field does not begin with a
// number character. When e - p <= 1 nothing is read and value is unchanged.
// False when the field is there but does not read as a number.
bool strip_real(std::string_view line, int p, int e, float& value);

// Free-atom scattering length and cross-section from the bound ones.
inline float fn_bf(float b, float a) { return b * a / (1.0f + a); }
inline float fn_sf(float s, float a) { return s * (a * a) / ((1.0f + a) * (1.0f + a)); }

}  // namespace talvo::classic
