// The whole-file XRDML reader on any content, then every scan's values with
// and without counts per second and on a chosen axis: every x, y and e it
// gives is finite. The same content read from a file in small pieces gives
// the same result as the text in memory.
#include <cmath>
#include <cstring>

#include "fuzz_support.hpp"
#include "talvo/xrdml/xrdml_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const talvo::XrdmlFileResult r = talvo::parse_xrdml(fuzz::text(data + 1, size - 1));
  {
    talvo::XrdmlReadOptions pieces;
    pieces.read_size = 1 + mode % 29;
    const talvo::XrdmlFileResult f =
        talvo::read_xrdml_file(fuzz::write_file("pieces.xrdml", fuzz::text(data + 1, size - 1)), pieces);
    if (f.status.ierr != r.status.ierr || f.status.message != r.status.message) __builtin_trap();
    if (f.file.scans.size() != r.file.scans.size()) __builtin_trap();
    for (std::size_t k = 0; k < f.file.scans.size(); ++k) {
      const talvo::XrdmlScan &a = f.file.scans[k], &b = r.file.scans[k];
      if (a.axes.size() != b.axes.size() || a.attenuation.size() != b.attenuation.size()) __builtin_trap();
      for (std::size_t j = 0; j < a.values.size() && j < b.values.size(); ++j)
        if (std::memcmp(&a.values[j], &b.values[j], sizeof(double)) != 0) __builtin_trap();
      if (a.values.size() != b.values.size()) __builtin_trap();
      for (std::size_t i = 0; i < a.axes.size(); ++i)
        if (a.axes[i].list != b.axes[i].list || a.axes[i].name != b.axes[i].name) __builtin_trap();
    }
  }
  if (r.status.failed()) {
    if (!r.file.scans.empty() || r.status.message.empty()) __builtin_trap();
    return 0;
  }
  if (r.file.scans.empty()) __builtin_trap();  // a file without scans is an error
  if (!std::isfinite(r.file.wavelength)) __builtin_trap();
  talvo::XrdmlValueOptions options;
  options.cps = (mode & 1) != 0;
  const char* const axes[] = {"", "2Theta", "phi", "Nothing"};
  options.axis = axes[(mode >> 1) % 4];
  for (const talvo::XrdmlScan& scan : r.file.scans) {
    if (scan.axes.empty()) __builtin_trap();
    for (const talvo::XrdmlAxis& a : scan.axes)
      if (a.form == talvo::XrdmlPositions::kList && a.list.size() != scan.points()) __builtin_trap();
    if (!scan.attenuation.empty() && scan.attenuation.size() != scan.points()) __builtin_trap();
    const talvo::XrdmlValues v = talvo::xrdml_values(scan, options);
    if (v.status.failed()) continue;
    if (v.x.size() != scan.points() || v.y.size() != v.x.size() || v.e.size() != v.x.size()) __builtin_trap();
    for (std::size_t j = 0; j < v.y.size(); ++j) {
      if (!std::isfinite(v.x[j]) || !std::isfinite(v.y[j]) || !std::isfinite(v.e[j])) __builtin_trap();
      if (!(v.y[j] >= 0) || !(v.e[j] >= 0)) __builtin_trap();  // plain non-negative data only
    }
    (void)scan.fixed_axes();
  }
  return 0;
}
