#include "talvo/classic/words.hpp"

#include <cmath>
#include <cstdlib>
#include <ostream>

#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"

namespace talvo::classic {

void conv_lower_to_upper(char& c) {
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

int ach_case_blind_compare(std::string_view a, std::string_view b, std::ostream& out) {
  const int r = ach_case_blind_compare(a, b);
  if (r < 0) out << " **ERROR in ach$case_blind_compare\n **Strings are of unequal length\n";
  return r;
}

int ach_case_blind_compare(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return -1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char ca = a[i], cb = b[i];
    conv_lower_to_upper(ca);
    conv_lower_to_upper(cb);
    if (ca != cb) return 1;
  }
  return 0;
}

WordPositions count_word(std::string_view s) {
  WordPositions w;
  const auto is_space = [](char c) { return c == ' ' || c == '\t'; };
  const auto is_sep = [](char c) { return c == ' ' || c == ',' || c == '\t'; };
  const int len = static_cast<int>(s.size());
  bool all_blank = true, all_separators = true, has_tab = false;
  bool after_sep = true;  // position 1 begins a word unless it is a blank or a TAB
  for (int p = 1; p <= len; ++p) {
    const char c = s[static_cast<std::size_t>(p - 1)];
    all_blank = all_blank && c == ' ';
    has_tab = has_tab || c == '\t';
    if (after_sep && !is_space(c)) w.ipos.push_back(p);
    after_sep = is_sep(c);
    all_separators = all_separators && after_sep;
  }
  if (all_blank) return {};
  if (all_separators && has_tab) {  // no word, only one past the end
    w.ipos.assign(1, len + 1);
    return w;
  }
  w.count = static_cast<int>(w.ipos.size());
  int end = len + 1;
  if (is_sep(s[static_cast<std::size_t>(len - 1)])) {
    end = len;
    while (end - 1 > w.ipos.back() && is_sep(s[static_cast<std::size_t>(end - 2)])) --end;
  }
  w.ipos.push_back(end);
  return w;
}

std::string_view word_text(std::string_view s, const WordPositions& words, int k) {
  if (k < 1 || k > words.count) return {};
  const auto from = static_cast<std::size_t>(words.ipos[static_cast<std::size_t>(k - 1)] - 1);
  auto to = static_cast<std::size_t>(words.ipos[static_cast<std::size_t>(k)] - 1);
  if (to > s.size()) to = s.size();
  return s.substr(from, to - from);
}

int len_int(long long i) { return int_columns(i); }

int len_real(float x) {
  if (x == 0.0f) return 1;
  int n = static_cast<int>(std::trunc(std::log10(std::fabs(x)))) + 1;
  return x < 0 ? n + 1 : n;
}

int len_string(std::string_view s) { return static_cast<int>(trim_end(s).size()); }

}  // namespace talvo::classic
