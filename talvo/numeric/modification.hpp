// Modification functions M(Q): the windows that damp termination ripples
// before a total-scattering function is Fourier transformed.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"

namespace talvo {

// The windows by name, for callers that take them as words.
enum class Window { kLorch, kStep, kQuadratic, kGaussian, kSphere, kNone };

// "lorch", "step", "quadratic", "gaussian", "sphere", "none" (case-blind);
// nothing for any other name.
std::optional<Window> window_named(std::string_view name);
std::string_view window_name(Window window);

struct ModificationOptions {
  double p1 = 0.0;         // gaussian: exp(-p1^2 Q^2); sphere: the sub-option 1, 2 or 3 (rounded, halves away from 0)
  double p2 = 0.0;         // sphere sub-option 2: the scale of x = p2 Q
  bool histogram = false;  // q holds bin edges, one more than the values
};

// M(Q) of the window on the grid q: one value per point, or per bin (at its
// centre) with options.histogram. x = pi Q / Qmax; Lorch sin x / x, step 1,
// quadratic 1 - 3 (Q/Qmax)^2 below Qmax/3 and 1.5 (1 - Q/Qmax)^2 above,
// Gaussian exp(-p1^2 Q^2), sphere 3 (sin x - x cos x) / x^3 with x scaled
// so that its first zero falls at Qmax (sub-option 1), x = p2 Q (2) or
// x = pi Q / Qmax (3). Every window is 0 beyond Qmax, point by point in any
// order of the grid; kNone is 1 everywhere and takes no Qmax.
// Refused (kInvalidArgument unless said): fewer than 2 Q values (3 bin
// edges); a Q that is not a finite number at or above 0; a Qmax that is not
// above 0, or more than one step beyond the last Q (kOutOfRange when pi /
// Qmax passes the double range); a Gaussian p1 whose square is 0 or not
// finite; a sphere sub-option other than 1, 2, 3, or for 2 a p2 not above 0
// or with p2 Qmax not finite.
Result<std::vector<double>> modification(std::span<const double> q, Window window, double qmax,
                                         const ModificationOptions& options = {});

// The Q of each M value: the points, or the bin centres followed by one
// extra centre one step beyond the last. Empty when q holds neither nm
// points nor nm + 1 edges (at least 3).
std::vector<double> moq_effective_q(std::span<const double> q, std::size_t nm);

// The first positive root of tan x = x (4.493409457909064), by Newton's
// method from 4.5: the scale of the sphere window's sub-option 1.
double tan_x_root();

}  // namespace talvo
