// The free-format reader on any line, into every kind of target.
#include "fuzz_support.hpp"
#include "talvo/text/free_format.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line = fuzz::text(data, size);
  int i = 0;
  float f = 0;
  double d = 0;
  talvo::read_free(line, {&i});
  talvo::read_free(line, {&f, &d, &i});
  talvo::read_free(line, {&d});
  talvo::parse_real(line);
  talvo::parse_int(line);
  return 0;
}
