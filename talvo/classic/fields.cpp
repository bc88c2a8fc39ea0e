#include "talvo/classic/fields.hpp"

#include "talvo/text/free_format.hpp"
#include "talvo/text/words.hpp"

namespace talvo::classic {

SymbolAt getnam(std::string_view text) {
  const std::string line = fixed(text, kLineLength);
  std::size_t p = 0;
  while (p < line.size() && line[p] == ' ') ++p;
  if (p == line.size()) return {"  ", -1};
  const auto is_sep = [](char c) { return c == ' ' || c == ','; };
  const bool two = p + 1 < line.size() && !is_sep(line[p + 1]);
  const std::size_t after = p + (two ? 2 : 1);
  if (after >= line.size() || !is_sep(line[after])) return {"  ", -2};
  std::string symbol(2, ' ');
  symbol[0] = line[p];
  symbol[0] = upper_ascii(symbol[0]);
  if (symbol[0] < 'A' || symbol[0] > 'Z') return {"  ", -3};
  if (two) {
    char c = line[p + 1];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c < 'a' || c > 'z') return {"  ", -4};
    symbol[1] = c;
  }
  // Columns are counted from 1: the symbol began at p + 1.
  return {symbol, static_cast<int>(after) + 2};
}

bool strip_real(std::string_view line, int p, int e, float& value) {
  if (e - p <= 1) return true;
  const auto at = [&](int col) -> char {
    return col >= 1 && col <= static_cast<int>(line.size()) ? line[static_cast<std::size_t>(col - 1)] : ' ';
  };
  const char first = at(p + 1);
  const bool number_char = (first >= '0' && first <= '9') || first == '-' || first == '+' || first == '.';
  const int start = number_char ? p + 1 : p + 2;
  int end = e;  // one past the field
  for (int col = p; col < e && col <= static_cast<int>(line.size()); ++col)
    if (col >= 1 && at(col) == '(') {
      end = col;
      break;
    }
  if (end <= start) return true;
  const auto from = static_cast<std::size_t>(start - 1);
  const auto to = std::min(static_cast<std::size_t>(end - 1), line.size());
  if (from >= to) return true;
  float read = value;
  if (!read_free(line.substr(from, to - from), {&read})) return false;
  value = read;
  return true;
}

}  // namespace talvo::classic
