// Modification functions M(Q): the windows that damp termination ripples
// before a total-scattering function is Fourier transformed.
#pragma once

#include <array>
#include <iosfwd>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "talvo/status.hpp"

namespace talvo {

// Fills m with the window `option` (1 Lorch, 2 step, 3 piecewise quadratic,
// 4 Gaussian exp(-p1^2 Q^2), 5 sphere transform with sub-option p1) on the
// grid q: point data when m has as many values as q, histogram data (bin
// edges) when it has one fewer. M is 0 at every point (or bin centre) beyond
// Qmax, in any order of the grid. Codes: 1 unreasonable Qmax (also one that
// is not a finite number), 2 unknown option, 3 neither point nor histogram,
// 4 unacceptable parameter (also one that is not finite or whose window
// would overflow), 5 too few Q values for the grid (point data needs 2,
// histogram data 3); a later failing check overrides an earlier one and
// nothing is computed then.
Status moq(std::span<const double> q, std::span<double> m, double qmax, const std::array<double, 2>& params, int option,
           int iprint, std::ostream& out);

// The Q of each M value: the points, or the bin centres followed by one
// extra centre one step beyond the last. Empty when the grid is neither.
std::vector<double> moq_effective_q(std::span<const double> q, std::size_t nm);

// The windows by name, for callers that take them as words.
enum class Window { kLorch, kStep, kQuadratic, kGaussian, kSphere, kNone };

// "lorch", "step", "quadratic", "gaussian", "sphere", "none" (case-blind);
// nothing for any other name.
std::optional<Window> window_from_name(std::string_view name);
std::string_view window_name(Window window);

struct ModificationOptions {
  double p1 = 0.0;         // gaussian: exp(-p1^2 Q^2); sphere: the sub-option 1, 2 or 3
  double p2 = 0.0;         // sphere sub-option 2: the scale of x
  bool histogram = false;  // q holds bin edges, one more than the values
};

struct ModificationResult {
  std::vector<double> m;  // one per point, or per bin
  Status status;
};

// M(Q) of the window, as moq computes it (option 1 to 5 in the order of
// Window), 0 beyond Qmax; kNone is 1 everywhere and takes no Qmax. Errors
// are moq's.
ModificationResult modification(std::span<const double> q, Window window, double qmax,
                                const ModificationOptions& options = {});

// The first positive root of tan x = x (4.493409457909064), by Newton's method from 4.5.
double xtanx(int iprint, std::ostream& out);

}  // namespace talvo
