// Word splitting, text lengths and the case-blind comparison.
#include <sstream>

#include "fuzz_support.hpp"
#include "talvo/classic/words.hpp"
#include "talvo/text/words.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view s = fuzz::text(data, size);
  const talvo::classic::WordPositions w = talvo::classic::count_word(s);
  if (w.count > 0 && static_cast<int>(w.ipos.size()) != w.count + 1) __builtin_trap();
  for (int k = 1; k <= w.count; ++k) talvo::classic::word_text(s, w, k);
  if (talvo::classic::len_string(s) > static_cast<int>(s.size())) __builtin_trap();
  // The words split out hold no separator, and without commas (a comma after
  // a separator begins a classic word of its own) they are the classic words.
  const auto words = talvo::split_words(s);
  for (std::string_view word : words)
    if (word.empty() || word.find_first_of(" ,\t") != std::string_view::npos) __builtin_trap();
  if (s.find(',') == std::string_view::npos && static_cast<int>(words.size()) != w.count) __builtin_trap();
  std::ostringstream out;
  const std::string_view a = s.substr(0, s.size() / 2), b = s.substr(s.size() / 2);
  talvo::classic::ach_case_blind_compare(a, b, out);
  if (talvo::classic::ach_case_blind_compare(s, s, out) != 0) __builtin_trap();
  if (talvo::equal_case_blind(a, b) != (talvo::classic::ach_case_blind_compare(a, b) == 0)) __builtin_trap();
  return 0;
}
