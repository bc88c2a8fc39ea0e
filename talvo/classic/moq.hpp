// The modification function M(Q) with its classic interface: the window by
// option number, error numbers with their fixed messages, a print flag.
#pragma once

#include <array>
#include <iosfwd>
#include <span>

#include "talvo/classic/status.hpp"

namespace talvo::classic {

// Fills m with the window `option` (1 Lorch, 2 step, 3 piecewise quadratic, 4
// Gaussian exp(-p1^2 Q^2), 5 sphere transform with sub-option p1) on the grid
// q: point data when m has as many values as q, histogram data (bin edges) when
// it has one fewer. The values are talvo::modification's. Codes, each with its
// fixed message ("ERROR in moq: ..."): 1 unreasonable Qmax (also one that is
// not a finite number), 2 unknown option, 3 neither point nor histogram, 4
// unacceptable parameter (also one that is not finite or whose window would
// overflow), 5 too few Q values for the grid (point data needs 2, histogram
// data 3), 6 a Q that is not a finite number at or above 0, 7 memory that runs
// out. Checks 1 to 5 are made in that order, a later failing one overriding an
// earlier one; 6 and 7 only when they pass. M is cleared for any valid grid,
// and nothing is computed after an error. With iprint 1 the first M is printed
// on out, and the iterations of xtanx.
Status moq(std::span<const double> q, std::span<double> m, double qmax, const std::array<double, 2>& params, int option,
           int iprint, std::ostream& out);

// The first positive root of tan x = x (4.493409457909064), by Newton's
// method from 4.5; with iprint 1 each iteration is printed on out.
double xtanx(int iprint, std::ostream& out);

}  // namespace talvo::classic
