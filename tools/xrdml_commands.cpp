// xrdml: 2-theta, intensity and error from an XRDML file.
#include <iostream>

#include "talvo/xrdml/xrdml.hpp"
#include "tools/commands.hpp"

namespace talvo::cli {
namespace {

int run_xrdml(const Args& a) {
  if (a.positional.size() != 1) throw UsageError{"give one FILE"};
  const int scan = a.get("--scan") ? integer(*a.get("--scan"), "--scan") : 0;
  const int level = a.get("--print") ? integer(*a.get("--print"), "--print") : 0;
  std::vector<double> x(kXrdmlMaxPoints), y(kXrdmlMaxPoints), e(kXrdmlMaxPoints);
  // Progress and summary lines go to standard error, keeping standard output to the rows.
  const XrdmlResult r = readxrdml(a.positional[0], x, y, e, scan, a.flag("--cps") ? 1 : 0, level, std::cerr);
  if (!report(r.status)) return 1;
  std::cout << "# wavelength " << num(r.wavelength) << "\n# scans " << r.scans << '\n';
  for (int j = 0; j < r.points; ++j) {
    const auto k = static_cast<std::size_t>(j);
    row({x[k], y[k], e[k]});
  }
  return 0;
}

}  // namespace

const Subcommand kXrdmlCommand{
    "xrdml", run_xrdml, {"--cps"}, "2-theta, intensity and error from an XRDML file",
    "usage: talvo-tools xrdml FILE [--scan K] [--cps] [--print LEVEL]\n"
    "Prints \"# wavelength L\", \"# scans N\", then \"x y e\" rows. --scan 0 (default) sums all scans;\n"
    "--cps divides by the counting time.\n"};

}  // namespace talvo::cli
