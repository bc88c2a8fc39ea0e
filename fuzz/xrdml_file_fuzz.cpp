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
  const talvo::Result<talvo::XrdmlFile> r = talvo::parse_xrdml(fuzz::text(data + 1, size - 1));
  {
    talvo::XrdmlReadOptions pieces;
    pieces.read_size = 1 + mode % 29;
    const talvo::Result<talvo::XrdmlFile> f =
        talvo::read_xrdml_file(fuzz::write_file("pieces.xrdml", fuzz::text(data + 1, size - 1)), pieces);
    if (f.ok() != r.ok() || f.warnings() != r.warnings()) __builtin_trap();
    if (!f.ok() && (f.kind() != r.kind() || f.error().message != r.error().message)) __builtin_trap();
    if (f.ok()) {
      if (f->scans.size() != r->scans.size()) __builtin_trap();
      for (std::size_t k = 0; k < f->scans.size(); ++k) {
        const talvo::XrdmlScan &a = f->scans[k], &b = r->scans[k];
        if (a.axes.size() != b.axes.size() || a.attenuation.size() != b.attenuation.size()) __builtin_trap();
        for (std::size_t j = 0; j < a.values.size() && j < b.values.size(); ++j)
          if (std::memcmp(&a.values[j], &b.values[j], sizeof(double)) != 0) __builtin_trap();
        if (a.values.size() != b.values.size()) __builtin_trap();
        for (std::size_t i = 0; i < a.axes.size(); ++i)
          if (a.axes[i].list != b.axes[i].list || a.axes[i].name != b.axes[i].name) __builtin_trap();
      }
    }
  }
  if (!r.ok()) {
    if (r.error().message.empty()) __builtin_trap();
    return 0;
  }
  if (r->scans.empty()) __builtin_trap();  // a file without scans is an error
  if (!std::isfinite(r->wavelength)) __builtin_trap();
  talvo::XrdmlValueOptions options;
  options.cps = (mode & 1) != 0;
  const char* const axes[] = {"", "2Theta", "phi", "Nothing"};
  options.axis = axes[(mode >> 1) % 4];
  for (const talvo::XrdmlScan& scan : r->scans) {
    if (scan.axes.empty()) __builtin_trap();
    for (const talvo::XrdmlAxis& a : scan.axes)
      if (a.form == talvo::XrdmlPositions::kList && a.list.size() != scan.points()) __builtin_trap();
    if (!scan.attenuation.empty() && scan.attenuation.size() != scan.points()) __builtin_trap();
    const talvo::Result<talvo::XrdmlValues> values = talvo::xrdml_values(scan, options);
    if (!values.ok()) continue;
    const talvo::XrdmlValues& v = *values;
    if (v.x.size() != scan.points() || v.y.size() != v.x.size() || v.e.size() != v.x.size()) __builtin_trap();
    for (std::size_t j = 0; j < v.y.size(); ++j) {
      if (!std::isfinite(v.x[j]) || !std::isfinite(v.y[j]) || !std::isfinite(v.e[j])) __builtin_trap();
      if (!(v.y[j] >= 0) || !(v.e[j] >= 0)) __builtin_trap();  // plain non-negative data only
    }
    (void)scan.fixed_axes();
  }
  return 0;
}
