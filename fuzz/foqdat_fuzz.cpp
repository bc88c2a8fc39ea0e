// The form-factor parameter-file lookup on any file, for a symbol from the input.
#include <cstdlib>
#include <sstream>

#include "fuzz_support.hpp"
#include "talvo/xray/formfactor.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string symbol(fuzz::text(data, 2));
  const std::string_view content = fuzz::text(data + 2, size - 2);
  fuzz::write_file("wk_neutral.foqdat", content);
  fuzz::write_file("it_neutral.foqdat", content);
  setenv("G_F", (fuzz::work_dir().string() + "/").c_str(), 1);
  std::ostringstream out;
  talvo::FormFactorParams p;
  static_cast<void>(talvo::get_wkpar_neut(symbol, p, 1, talvo::kDataFile, out));
  static_cast<void>(talvo::get_itpar_neut(symbol, p, 1, talvo::kDataFile, out));
  std::vector<double> q = {0.0, 1.0, 80.0}, f(3);
  static_cast<void>(talvo::foq(f, q, p, symbol, 1, talvo::kTablesInProgram, 1, out));
  return 0;
}
