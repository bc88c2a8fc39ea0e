// The sample-file reader on any file; a read sample is written and read back.
#include <sstream>

#include "fuzz_support.hpp"
#include "talvo/classic/sample_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in{std::string(fuzz::text(data, size))};
  std::ostringstream out;
  talvo::Composition s;
  if (!talvo::classic::read_sample(in, s, 1, out).ok()) return 0;
  if (s.elements.size() > 100) __builtin_trap();
  const std::string name = (fuzz::work_dir() / "again.sample").string();
  if (!talvo::classic::write_sample(name, "talvo", "sears91.dat", s, 11, out).ok()) __builtin_trap();
  std::ifstream again(name);
  talvo::Composition back;
  const talvo::classic::Status st = talvo::classic::read_sample(again, back, 0, out);
  // What was written must have the record layout the reader reads; the sums
  // of rounded fractions may move across a tolerance, which is no fault.
  if (st.ierr >= 101 && st.ierr <= 105) __builtin_trap();
  if (st.ok()) {
    if (back.elements.size() != s.elements.size()) __builtin_trap();
    for (std::size_t k = 0; k < s.elements.size(); ++k) {
      if (back.elements[k].symbol != s.elements[k].symbol) __builtin_trap();
      if (back.elements[k].isotopes.size() != s.elements[k].isotopes.size()) __builtin_trap();
      for (std::size_t l = 0; l < s.elements[k].isotopes.size(); ++l)
        if (back.elements[k].isotopes[l].a != s.elements[k].isotopes[l].a) __builtin_trap();
    }
  }
  return 0;
}
