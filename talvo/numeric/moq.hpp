// Modification functions M(Q): the windows that damp termination ripples
// before a total-scattering function is Fourier transformed.
#pragma once

#include <array>
#include <iosfwd>
#include <span>
#include <vector>

#include "talvo/status.hpp"

namespace talvo {

// Fills m with the window `option` (1 Lorch, 2 step, 3 piecewise quadratic,
// 4 Gaussian exp(-p1^2 Q^2), 5 sphere transform with sub-option p1) on the
// grid q: point data when m has as many values as q, histogram data (bin
// edges) when it has one fewer. Codes: 1 unreasonable Qmax, 2 unknown
// option, 3 neither point nor histogram, 4 unacceptable parameter, 5 too
// few Q values for the grid (point data needs 2, histogram data 3); a later
// failing check overrides an earlier one and nothing is computed then.
Status moq(std::span<const double> q, std::span<double> m, double qmax, const std::array<double, 2>& params, int option,
           int iprint, std::ostream& out);

// The Q of each M value: the points, or the bin centres followed by one
// extra centre one step beyond the last. Empty when the grid is neither.
std::vector<double> moq_effective_q(std::span<const double> q, std::size_t nm);

// The first positive root of tan x = x (4.493409457909064), by Newton's method from 4.5.
double xtanx(int iprint, std::ostream& out);

}  // namespace talvo
