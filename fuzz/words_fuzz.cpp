// Word splitting, text lengths and the case-blind comparison.
#include <sstream>

#include "fuzz_support.hpp"
#include "talvo/text/words.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view s = fuzz::text(data, size);
  const talvo::WordPositions w = talvo::count_word(s);
  if (w.count > 0 && static_cast<int>(w.ipos.size()) != w.count + 1) __builtin_trap();
  for (int k = 1; k <= w.count; ++k) talvo::word_text(s, w, k);
  if (talvo::len_string(s) > static_cast<int>(s.size())) __builtin_trap();
  std::ostringstream out;
  const std::string_view a = s.substr(0, s.size() / 2), b = s.substr(s.size() / 2);
  talvo::ach_case_blind_compare(a, b, out);
  if (talvo::ach_case_blind_compare(s, s, out) != 0) __builtin_trap();
  return 0;
}
