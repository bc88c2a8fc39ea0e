// From the structure factor S(Q) to the pair distribution functions G(r) and
// g(r), with the standard deviation of G(r) from that of S(Q).
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "talvo/numeric/modification.hpp"
#include "talvo/result.hpp"

namespace talvo {

struct Sq2grOptions {
  // The standard deviation of each S(Q) value; none when empty.
  std::span<const double> sigma;
  Window window = Window::kLorch;
  // The window's Qmax, and the last Q integrated: points beyond it are left
  // out. The last Q of the data when not given.
  std::optional<double> qmax;
  // The window's parameters (ModificationOptions).
  double p1 = 0.0;
  double p2 = 0.0;
  // Asked between groups of r (kCancelled once it says stop).
  StopCheck stop{};
};

struct PairDistribution {
  std::vector<double> G;        // (2/pi) integral of Q (S(Q) - 1) M(Q) sin(Qr) dQ
  std::vector<double> g;        // 1 + G(r) / (4 pi r rho0)
  std::vector<double> sigma_G;  // 0 without sigma
};

// G(r) and g(r) at every r from S(Q) on an increasing grid of Q >= 0,
// integrated up to Qmax (the whole grid without one) by Filon's rule (in
// double precision), with M(Q) the chosen window; rho0 is the number density
// in atoms per cubic Angstrom. A grid that is not equally spaced (Q from a
// 2theta scan) is first interpolated linearly onto the equally spaced grid
// of as many points, S and sigma alike, as the reduction's transform does,
// with a warning. An even number of points up to Qmax has its last step
// integrated exactly as the straight line through its values
// (EvenPoints::kLastStepExact, as every transform of the library), with a
// warning saying so. Refused (kInvalidArgument): q, s and sigma of different
// lengths, fewer than 3 points (up to Qmax), a negative Q, Q values that do
// not increase, an r
// or a rho0 that is not a finite number above 0, the window's own refusals
// (modification's, with their kinds); kOutOfRange: g(r) beyond the double
// range (4 pi r rho0 too small).
Result<PairDistribution> sq2gr(std::span<const double> q, std::span<const double> s, std::span<const double> r,
                               double rho0, const Sq2grOptions& options = {});

}  // namespace talvo
