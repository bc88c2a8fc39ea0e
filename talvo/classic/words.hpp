// The word and length routines of the classic interface: words of a record
// by their 1-based columns, case-blind comparison with its error lines, and
// the printed lengths of numbers and texts.
#pragma once

#include <iosfwd>
#include <string_view>
#include <vector>

namespace talvo::classic {

// 0 when a and b are equal ignoring the case of a-z, 1 when they differ, -1
// when their lengths differ. The first form then prints two error lines on
// `out`; the second prints nothing.
int ach_case_blind_compare(std::string_view a, std::string_view b, std::ostream& out);
int ach_case_blind_compare(std::string_view a, std::string_view b);

// Turns a-z into A-Z; every other character is left as it is.
void conv_lower_to_upper(char& c);

// Word starts of a line. Words are separated by blanks, commas or TABs, and a
// comma that follows a blank itself begins a word. ipos[k-1] is the column of
// word k and ipos[count] one column past the last word. A line of blanks only
// gives count 0 and no positions.
struct WordPositions {
  int count = 0;
  std::vector<int> ipos;
};
WordPositions count_word(std::string_view s);

// Word k (1-based) of s: from its start up to the start of word k+1,
// separators included; the last word runs to one past its end.
std::string_view word_text(std::string_view s, const WordPositions& words, int k);

// Columns needed to print i: talvo::int_columns (talvo/text/format.hpp).
int len_int(long long i);

// Columns of the integer part of x (meant for |x| >= 1).
int len_real(float x);

// Length without trailing blanks, TABs and NUL characters.
int len_string(std::string_view s);

}  // namespace talvo::classic
