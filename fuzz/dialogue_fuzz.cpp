// The whole talvo dialogue driven by any standard input. Every question reads
// a line or ends the run at the end of the input, so a run is bounded by the
// input's lines. Files are written in a folder of the target's own.
#include <unistd.h>

#include <sstream>

#include "app/driver.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (chdir(fuzz::work_dir().c_str()) != 0) return 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in{std::string(fuzz::text(data, size))};
  std::ostringstream out;
  talvo::Console con{in, out};
  (void)talvo::run_talvo(con, talvo::DataFolder::named(TALVO_FUZZ_DATA_DIR));
  return 0;
}
