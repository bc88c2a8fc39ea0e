// The natural-element, isotope and atomic-weights readers on any file.
#include <sstream>

#include "app/nuclear_tables.hpp"
#include "app/run_end.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name = fuzz::write_file("table.dat", fuzz::text(data, size));
  std::istringstream in;
  std::ostringstream out;
  talvo::Console con{in, out};
  std::vector<talvo::NuclearEntry> entries;
  try {
    entries = talvo::read_natural_file(con, name);
  } catch (const talvo::RunEnd&) {
  }
  try {
    entries = talvo::read_isotope_file(con, name);
  } catch (const talvo::RunEnd&) {
  }
  try {
    const auto weights = talvo::read_atomic_weights(con, name);
    talvo::attach_masses(con, entries, weights);
  } catch (const talvo::RunEnd&) {
  }
  if (entries.size() > static_cast<std::size_t>(talvo::kMaxEntries)) __builtin_trap();
  return 0;
}
