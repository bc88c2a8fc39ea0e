// Element symbols and bracketed values picked out of typed and data-file lines.
#include "talvo/classic/fields.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int p = data[0] % 140, e = data[1] % 140;
  const std::string_view line = fuzz::text(data + 2, size - 2);
  const talvo::classic::SymbolAt s = talvo::classic::getnam(line);
  if (s.symbol.size() != 2) __builtin_trap();
  float v = 0;
  (void)talvo::classic::strip_real(line, p, e, v);
  (void)talvo::classic::strip_real(line, p, 132, v);
  return 0;
}
