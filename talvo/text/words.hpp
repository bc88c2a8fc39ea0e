// Text helpers shared by the whole code base: case-blind comparison, words of
// a line, trailing blanks and fixed-length texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace talvo {

// c in capitals when it is a-z; every other character as it is.
constexpr char upper_ascii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// True when a and b are the same text ignoring the case of a-z; texts of
// different lengths are simply different.
bool equal_case_blind(std::string_view a, std::string_view b);

// An element symbol as a 2-character field (blank-padded, cut after 2) in
// capitals, as one number: what same_symbol compares.
constexpr unsigned symbol_key(std::string_view s) {
  const auto upper = [](char c) -> unsigned { return static_cast<unsigned char>(upper_ascii(c)); };
  return upper(s.empty() ? ' ' : s[0]) << 8u | upper(s.size() < 2 ? ' ' : s[1]);
}

// True when two element symbols are the same as 2-character fields (blank-
// padded, cut after 2) compared case-blind: "Fe", "FE" and "fe " are one.
constexpr bool same_symbol(std::string_view a, std::string_view b) { return symbol_key(a) == symbol_key(b); }

// The words of a line, without their separators: runs of characters other
// than blanks, commas and TABs ("H2O, 1.0" gives "H2O" and "1.0").
std::vector<std::string_view> split_words(std::string_view s);

// s without trailing blanks, TABs and NUL characters.
std::string_view trim_end(std::string_view s);

// `s` without the `blanks` at either end (by default blanks, tabs and the
// carriage return of a line ended CR LF).
std::string_view trim(std::string_view s, std::string_view blanks = " \t\r");

// s cut or blank-padded to exactly n characters (a fixed-length text).
std::string fixed(std::string_view s, std::size_t n);

}  // namespace talvo
