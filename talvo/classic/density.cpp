#include "talvo/classic/density.hpp"

#include <cmath>
#include <ostream>

#include "talvo/classic/elements.hpp"
#include "talvo/classic/print.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"
#include "talvo/classic/words.hpp"

namespace talvo::classic {

Status convert_density(double density_in, double& density_out, std::vector<std::string>& symbols,
                       std::span<const double> fractions, int iprint, std::ostream& out) {
  if (density_in == 0.0) return Status::error(1, "Error: density=zero");
  if (!std::isfinite(density_in))
    return Status::error(1, "convert_density: the density must be a finite number, not " + shortest(density_in));
  double asum = 0.0;
  double sumatfrac = 0.0;
  const std::size_t n = std::min(symbols.size(), fractions.size());
  for (std::size_t i = 0; i < n; ++i) {
    int z = 0;
    double weight = 0.0;
    Status s = ele2z(symbols[i], z, weight, iprint, out);
    if (!s.ok()) return s;
    // A negative amount would give a mean weight of no sample, and one that
    // is not finite (or adds past the double range) a NaN density.
    const std::string amount =
        "convert_density: the amount of " + std::string(trim_end(symbols[i])) + ", " + shortest(fractions[i]) + ", ";
    if (!(fractions[i] >= 0.0) || !std::isfinite(fractions[i]))
      return Status::error(1, amount + "must be a finite number not below 0");
    asum += fractions[i] * weight;
    sumatfrac += fractions[i];
    if (!std::isfinite(asum) || !std::isfinite(sumatfrac))
      return Status::error(1, amount + "is too large: the amounts times the atomic weights pass the range of numbers");
  }
  // The mean weight is 0/0 without elements or amounts; refuse it rather than return NaN.
  if (n == 0 || sumatfrac == 0.0) return Status::error(1, "convert_density: Amounts of the elements add to zero");
  const double abar = asum / sumatfrac;
  if (iprint != 0) {
    pr_dpar(out, "convert_density: Asum = ", asum);
    pr_dpar(out, "convert_density: sumatfrac = ", sumatfrac);
    pr_dpar(out, "convert_density: Abar = ", abar);
  }
  const double converted = density_in > 0 ? density_in / (kAmuGrams * abar) : std::fabs(kAmuGrams * abar * density_in);
  if (!std::isfinite(converted))
    return Status::error(1, "convert_density: the density " + shortest(density_in) +
                                " converts to a number beyond the range of numbers");
  density_out = converted;
  return {};
}

}  // namespace talvo::classic
