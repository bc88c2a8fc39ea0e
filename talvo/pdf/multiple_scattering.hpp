// Multiple scattering of neutrons in a cylindrical sample and its can, both
// isotropic elastic scatterers: the ratio of the scattering of every order
// beyond the first to the single scattering, both attenuated, as a detector
// sees them, and the double scattering's part of it. By a Monte Carlo with a
// fixed seed (its statistical sigma beside each value): each history enters
// with the beam, is made to collide somewhere along every flight (weighted
// by the chance that it does, and by the scattering's share of mu there),
// scatters isotropically, and at each collision adds to its order what
// reaches each detector through the sample and can (next-event estimation).
// Geometry and units as in neutron_attenuation.hpp.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "talvo/pdf/neutron_attenuation.hpp"
#include "talvo/result.hpp"

namespace talvo::pdf {

// The cylinder's total mu (NeutronCylinder::mu, can_mu) and the scattering
// part of each.
struct ScatteringCylinder {
  NeutronCylinder cylinder;
  double mu_scatt = 0.0, can_mu_scatt = 0.0;  // 1/cm
};

struct MultipleScatteringOptions {
  long histories = 100000;
  std::uint64_t seed = 1;  // of the 64-bit Mersenne twister (std::mt19937_64)
  int batches = 10;        // sigma from the spread of the batches' ratios
  int max_order = 100;
  StopCheck stop{};
};

struct MultipleScatteringResult {
  // At each 2theta: all orders beyond the first over the single, the double
  // alone over the single, and the sigma of each.
  std::vector<double> delta, delta_sigma, delta2, delta2_sigma;
  long histories = 0;
  std::uint64_t seed = 0;
  int batches = 0;
};

// kInvalidArgument for a geometry cylinder_factors refuses, a scattering mu
// below 0 or above its total, fewer histories than batches or fewer than 2
// batches; kCancelled when `stop` asks.
Result<MultipleScatteringResult> multiple_scattering(std::span<const double> two_theta, double elevation,
                                                     const ScatteringCylinder& cylinder, const NeutronBeam& beam,
                                                     const MultipleScatteringOptions& options = {});

}  // namespace talvo::pdf
