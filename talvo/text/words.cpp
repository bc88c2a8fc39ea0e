#include "talvo/text/words.hpp"

namespace talvo {

bool equal_case_blind(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper_ascii(a[i]) != upper_ascii(b[i])) return false;
  return true;
}

std::vector<std::string_view> split_words(std::string_view s) {
  std::vector<std::string_view> words;
  const auto is_sep = [](char c) { return c == ' ' || c == ',' || c == '\t'; };
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && is_sep(s[i])) ++i;
    const std::size_t from = i;
    while (i < s.size() && !is_sep(s[i])) ++i;
    if (i > from) words.push_back(s.substr(from, i - from));
  }
  return words;
}

std::string_view trim_end(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t' || s[n - 1] == '\0')) --n;
  return s.substr(0, n);
}

std::string_view trim(std::string_view s, std::string_view blanks) {
  const std::size_t a = s.find_first_not_of(blanks);
  if (a == std::string_view::npos) return {};
  return s.substr(a, s.find_last_not_of(blanks) - a + 1);
}

std::string fixed(std::string_view s, std::size_t n) {
  std::string out(s.substr(0, n));
  out.resize(n, ' ');
  return out;
}

}  // namespace talvo
