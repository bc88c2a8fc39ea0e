#pragma once

#include <cstddef>

namespace talvo {

// The most characters write_shortest writes: -1.2345678901234567e-308.
inline constexpr std::size_t kShortestChars = 24;
// The room it needs after `at`: it copies in blocks of fixed length and may
// write past the text's end, though never past this.
inline constexpr std::size_t kShortestRoom = 40;

// Writes at `at` the shortest text that reads back to `value`, the same bytes
// as std::to_chars(at, end, value) (fixed or exponent form, whichever is
// shorter, fixed on a tie; "inf", "-inf", "nan"), and returns its end.
char* write_shortest(char* at, double value);

}  // namespace talvo
