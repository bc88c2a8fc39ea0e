// The form-factor parameter-file lookup on any file, for a symbol from the input.
#include <sstream>

#include "fuzz_support.hpp"
#include "talvo/classic/formfactor.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string symbol(fuzz::text(data, 2));
  const std::string_view content = fuzz::text(data + 2, size - 2);
  fuzz::write_file("wk_neutral.foqdat", content);
  fuzz::write_file("it_neutral.foqdat", content);
  const talvo::DataFolder folder = talvo::DataFolder::named(fuzz::work_dir().string());
  std::ostringstream out;
  talvo::FormFactorParams p;
  using talvo::classic::DataMode;
  (void)talvo::classic::get_wkpar_neut(symbol, p, 1, DataMode::kDataFile, out, folder);
  (void)talvo::classic::get_itpar_neut(symbol, p, 1, DataMode::kDataFile, out, folder);
  std::vector<double> q = {0.0, 1.0, 80.0}, f(3);
  (void)talvo::classic::foq(f, q, p, symbol, talvo::classic::FoqMode::kWaasmaierKirfel, DataMode::kTablesInProgram, 1,
                            out);
  return 0;
}
