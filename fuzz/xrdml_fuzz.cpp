// The XRDML reader on any content, in every scan choice and normalisation:
// every x and y it returns is finite.
#include <cmath>
#include <sstream>

#include "fuzz_support.hpp"
#include "talvo/classic/xrdml.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int choice = data[0] % 4, mode = (data[0] >> 2) % 3, print = (data[0] >> 4) % 3;
  const std::string name = fuzz::write_file("scan.xrdml", fuzz::text(data + 1, size - 1));
  const std::size_t n = 1 + data[0] % 64;
  std::vector<double> x(n), y(n), e(n);
  std::ostringstream out;
  const talvo::classic::XrdmlResult r = talvo::classic::readxrdml(name, x, y, e, choice, mode, print, out);
  if (r.points < 0 || static_cast<std::size_t>(r.points) > n) __builtin_trap();
  if (r.status.failed()) return 0;
  for (std::size_t j = 0; j < static_cast<std::size_t>(r.points); ++j)
    if (!std::isfinite(x[j]) || !std::isfinite(y[j])) __builtin_trap();
  return 0;
}
