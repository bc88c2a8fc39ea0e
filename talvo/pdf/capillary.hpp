// A capillary as a laboratory beam sees it: the beam may be narrower than the
// capillary, so only a band of its cross-section scatters. The absorption of
// the sample alone, of a sample inside a container wall (Paalman-Pings), and
// the transmission a z-scan measures, each integrated over that band.
//
// Lengths are in units of the sample's radius R (the container's inner
// radius): mu R, the beam's width / R, the wall's thickness / R. The beam runs
// along +x through discs centred at the origin; the band is across y, in the
// scattering plane; 2theta in degrees.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "talvo/result.hpp"

namespace talvo::pdf {

enum class BeamProfile { kTopHat, kGaussian };
// "tophat", "gaussian" (case-blind); nothing for any other word.
std::optional<BeamProfile> beam_profile_named(std::string_view name);
std::string_view beam_profile_name(BeamProfile profile);

// The beam's intensity across the cross-section.
struct CapillaryBeam {
  // Top hat: its full width; Gaussian: its full width at half maximum.
  // Nothing: a uniform beam wider than the capillary.
  std::optional<double> width;
  BeamProfile profile = BeamProfile::kTopHat;
  double offset = 0.0;  // the beam's centre from the capillary's axis
};

// The absorption factor of a cylinder of mu R at 2theta: over the illuminated
// band, weighted by the beam's profile p(y),
//   A = int p(y) exp(-mu (l_in + l_out)) dx dy / int p(y) dx dy,
// l_in and l_out the paths in the sample to the point and from it towards
// 2theta: the fraction that leaves, relative to the same illuminated volume
// without absorption. A beam covering the capillary gives the usual factor
// (cylinder_absorption). Integrated by Gauss-Legendre quadrature with `nodes`
// nodes a direction on each smooth piece of the band (the beam's edges, the
// circles and the points where a path grazes a surface split it): 32 nodes
// give about 1e-7 of the value. NaN when the beam misses the capillary.
double capillary_absorption(double two_theta, double mu_r, const CapillaryBeam& beam, int nodes = 32);

// The container: a wall of glass around the sample.
struct CapillaryWall {
  double thickness = 0.0;  // / R
  double mu_r = 0.0;       // the wall's mu times the sample's radius R
};

// The cylindrical factors of H. H. Paalman and C. J. Pings, J. Appl. Phys. 33
// (1962) 2635, over the illuminated band: A_i,jk is the mean over the
// illuminated volume of scatterer i of the transmission through absorbers j
// and k, in and out,
//   A_s,sc  the sample's scattering through the sample and the container
//   A_c,sc  the container's through both
//   A_c,c   the container's through itself (the empty container)
// so that the sample's own scattering, absorption removed, is
//   I_s = [I_sc - (A_c,sc / A_c,c) I_c] / A_s,sc
// for the sample in its container I_sc and the empty container I_c measured
// alike. NaN when the beam misses what it must light.
struct PaalmanPings {
  double a_s_sc = 1.0, a_c_sc = 1.0, a_c_c = 1.0;
};
PaalmanPings paalman_pings(double two_theta, double mu_r, const CapillaryWall& wall, const CapillaryBeam& beam,
                           int nodes = 32);

// The factors at every 2theta of a pattern, computed every degree and
// interpolated by four-point Lagrange polynomials. Refused
// (kInvalidArgument): mu R or the wall's mu R below 0 or not finite, a width
// or wall not above 0, an offset that is not finite, a beam that misses the
// capillary.
Result<std::vector<double>> capillary_absorption_factors(std::span<const double> two_theta, double mu_r,
                                                         const CapillaryBeam& beam);
struct PaalmanPingsFactors {
  std::vector<double> a_s_sc, a_c_sc, a_c_c;
};
Result<PaalmanPingsFactors> paalman_pings_factors(std::span<const double> two_theta, double mu_r,
                                                  const CapillaryWall& wall, const CapillaryBeam& beam);

// The fraction of the beam a cylinder of mu R transmits, the beam's centre at
// beam.offset from its axis (a z-scan's profile, point by point):
//   T = int p(y) exp(-2 mu R sqrt(1 - y^2)) dy / int p(y) dy,
// the path 0 outside the cylinder. Refused as capillary_absorption_factors,
// but a beam that misses the cylinder is transmitted whole.
Result<double> cylinder_transmission(double mu_r, const CapillaryBeam& beam);

}  // namespace talvo::pdf
