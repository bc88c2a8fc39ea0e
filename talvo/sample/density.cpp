#include "talvo/sample/density.hpp"

#include <cmath>
#include <ostream>

#include "talvo/console/print.hpp"
#include "talvo/elements/elements.hpp"
#include "talvo/text/words.hpp"

namespace talvo {

Status convert_density(double density_in, double& density_out, std::vector<std::string>& symbols,
                       std::span<const double> fractions, int iprint, std::ostream& out) {
  if (density_in == 0.0) return Status::error(1, "Error: density=zero");
  double asum = 0.0;
  double sumatfrac = 0.0;
  const std::size_t n = std::min(symbols.size(), fractions.size());
  for (std::size_t i = 0; i < n; ++i) {
    int z = 0;
    double weight = 0.0;
    Status s = ele2z(symbols[i], z, weight, iprint, out);
    if (!s.ok()) return s;
    asum += fractions[i] * weight;
    sumatfrac += fractions[i];
  }
  // The mean weight is 0/0 without elements or amounts; refuse it rather than return NaN.
  if (n == 0 || sumatfrac == 0.0) return Status::error(1, "convert_density: Amounts of the elements add to zero");
  const double abar = asum / sumatfrac;
  if (iprint != 0) {
    pr_dpar(out, "convert_density: Asum = ", asum);
    pr_dpar(out, "convert_density: sumatfrac = ", sumatfrac);
    pr_dpar(out, "convert_density: Abar = ", abar);
  }
  if (density_in > 0)
    density_out = density_in / (kAmuGrams * abar);
  else
    density_out = std::fabs(kAmuGrams * abar * density_in);
  return {};
}

}  // namespace talvo
