// Converting a sample density between g/cm3 and atoms per cubic Angstrom.
#pragma once

#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "talvo/classic/status.hpp"

namespace talvo::classic {

// Mass of one atomic mass unit in 1e-24 g: the conversion's own
// single-precision constant 1.660539, widened to double, so that sample
// files hold the calculator's own densities; the modern code uses
// kAtomicMassUnitGrams (talvo/elements/constants.hpp, CODATA 2018).
inline constexpr double kAmuGrams = 1.6605387926101685;

// density_in > 0 is g/cm3 and gives atoms/A3; density_in < 0 is atoms/A3
// (its magnitude) and gives g/cm3. The result is never negative. The mean
// atomic weight comes from the element table and the amounts (only their
// ratios matter). TABs in the symbols are replaced by blanks. Errors (ierr 1):
// a zero density, an unknown symbol, no elements or amounts adding to zero,
// a density or an amount that is not a finite number, a negative amount
// (the message names it), amounts whose sums or a result that pass the range
// of doubles; density_out is then not set.
Status convert_density(double density_in, double& density_out, std::vector<std::string>& symbols,
                       std::span<const double> fractions, int iprint, std::ostream& out);

}  // namespace talvo::classic
