// The standard deviation of the coordination number N(r), the running
// integral of R(r) = 4 pi r^2 rho0 + r G(r), from the errors of F(Q).
//
// With G(r) = (2/pi) sum_i w_i M_i F_i sin(Q_i r) (quadrature weights w_i,
// window M_i), the running integral from r0 is linear in the F_i:
//   N(r) - N(r0) = const + (2/pi) sum_i w_i M_i F_i [K(Q_i, r) - K(Q_i, r0)],
//   K(Q, r) = int_0^r r' sin(Q r') dr' = (sin Qr - Qr cos Qr) / Q^2,
// so for independent F_i
//   var N(r) = sum_i c_i^2 [K(Q_i, r) - K(Q_i, r0)]^2,   c_i = (2/pi) w_i M_i sigma_i.
// The errors of G at neighbouring r are strongly correlated (every F_i
// enters every G(r)), which is why sigma_N is not the running sum of r sigma_G.
#pragma once

#include <span>
#include <vector>

#include "talvo/result.hpp"

namespace talvo::pdf {

// sqrt(var N(r)) at every r for the c_i at Q_i (equally spaced by h; c_i = 0
// points cost nothing), relative to N(r0). `stop` is asked between groups
// of r; once it says stop, the result is empty.
std::vector<double> running_integral_sigma(std::span<const double> q, double h, std::span<const double> c,
                                           std::span<const double> r, double r0, const StopCheck& stop = {});

}  // namespace talvo::pdf
