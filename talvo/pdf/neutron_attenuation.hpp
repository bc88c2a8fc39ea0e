// The attenuation of a neutron sample in its container: the factors of
// H. H. Paalman and C. J. Pings, J. Appl. Phys. 33 (1962) 2635, for a solid
// cylinder in a cylindrical can and for a flat plate in its cell, in three
// dimensions (beam width and height, the sample's and the can's heights, a
// detector out of the scattering plane), and the attenuation coefficient
// mu = n sigma_total(lambda) of each material from the neutron table or from
// measured cross-sections.
//
// Lengths are in cm, mu in 1/cm, angles in degrees. The beam runs along +x,
// the cylinders' axes along z; a detector at in-plane angle 2theta and
// elevation alpha sees the direction (cos a cos 2t, cos a sin 2t, sin a),
// whose scattering angle is acos(cos a cos 2t).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/neutron/neutron_table.hpp"
#include "talvo/result.hpp"

namespace talvo::pdf {

// A solid cylindrical sample and the tube about it. No can: can_outer 0.
struct NeutronCylinder {
  double radius = 0.0;                      // the sample's
  std::optional<double> height;             // the sample's; nothing: taller than the beam
  double mu = 0.0;                          // the sample's total attenuation, 1/cm
  double can_inner = 0.0, can_outer = 0.0;  // the can's radii (can_inner at least radius)
  std::optional<double> can_height;         // nothing: taller than the beam
  double can_mu = 0.0;
};

// The beam and what the detectors see, each centred on the sample. Nothing:
// larger than the sample and its can.
struct NeutronBeam {
  std::optional<double> width, height;
  // The height of the sample and can the detectors see (the scattered beam's
  // edges at the sample, as a collimator sets them).
  std::optional<double> detector_height;
};

// A_s,s (sample through itself), A_s,sc (sample through sample and can),
// A_c,sc (can through both), A_c,c (can through itself): each the mean over
// the illuminated volume of its scatterer of exp(-sum mu l), l the path in
// and out. Without a can, A_s,sc = A_s,s and the can's are NaN.
struct NeutronFactors {
  double a_s_s = 1.0, a_s_sc = 1.0, a_c_sc = 1.0, a_c_c = 1.0;
  // The largest change of any factor between the last two quadratures, and
  // the Gauss-Legendre nodes a direction of the last.
  double error = 0.0;
  int nodes = 0;
};

// The factors at one detector, by Gauss-Legendre quadrature over the lit
// cross-section (the routine of the X-ray capillary: pieces split where a
// path's length has a kink, square-root ends mapped away) and an exact
// integral over the height, on which the exponent is piecewise linear. The
// nodes double from 8 until no factor changes by more than `tolerance`
// (absolute; the factors are at most 1). kInvalidArgument for a size or mu
// that cannot be, an elevation not within (-90, 90), a tolerance not above 0;
// kOutOfRange when 512 nodes do not reach the tolerance.
Result<NeutronFactors> cylinder_factors(double two_theta, double elevation, const NeutronCylinder& cylinder,
                                        const NeutronBeam& beam, double tolerance = 1e-6);

// The checks of cylinder_factors on the geometry alone (every error of it
// but the tolerance's).
Outcome check_neutron_geometry(const NeutronCylinder& cylinder, const NeutronBeam& beam, double elevation);

// The factors at every 2theta of a pattern at one elevation: computed each
// whole degree the angles reach, to `tolerance`, and interpolated by
// four-point Lagrange polynomials (below 1e-7 of a factor for a degree's step).
struct NeutronFactorTable {
  std::vector<double> a_s_s, a_s_sc, a_c_sc, a_c_c;
  double error = 0.0;  // the largest of the tabulated angles' errors
};
Result<NeutronFactorTable> cylinder_factor_table(std::span<const double> two_theta, double elevation,
                                                 const NeutronCylinder& cylinder, const NeutronBeam& beam,
                                                 double tolerance = 1e-6);

// A flat plate of infinite extent, its normal at `angle` degrees from the
// beam in the scattering plane (0: the beam along the normal), between a
// front and a back wall of its cell. No cell: walls of 0.
struct NeutronPlate {
  double thickness = 0.0, mu = 0.0;
  double front_wall = 0.0, back_wall = 0.0, wall_mu = 0.0;
  double angle = 0.0;
};

// The same factors for the plate, in closed form (the exponent is linear in
// the depth within each layer); error 0. A detector along the plate's faces
// sees nothing through it: its factors are 0 (1 where mu is 0).
// kInvalidArgument for a size or mu that cannot be, a plate not facing the
// beam (|angle| not below 90), an elevation not within (-90, 90).
Result<NeutronFactors> plate_factors(double two_theta, double elevation, const NeutronPlate& plate);

// A material's total attenuation at a wavelength: mu = n (sigma_s + sigma_a(lambda))
// per atom, from the neutron table (the 1/v law; Lynn & Seeger 1990 for the
// resonant nuclei), n in atoms per cubic Angstrom, or the density in g/cm3.
struct NeutronMu {
  double mu = 0.0;                            // 1/cm
  double number_density = 0.0;                // atoms per A3
  double sigma_scatt = 0.0, sigma_abs = 0.0;  // barn per atom, sigma_abs at the wavelength
  std::string source;                         // which table or measurement gave the cross-sections
};
struct NeutronMuOptions {
  std::optional<double> number_density, density;
  double wavelength = 0.0;
  // Measured per-atom cross-sections, barn: they replace the table's where given.
  std::optional<double> sigma_total, sigma_scatt;
};
Result<NeutronMu> neutron_mu(std::string_view formula, const NeutronTable& table, const NeutronMuOptions& options);

// A measured per-atom total cross-section sigma(lambda): two columns,
// wavelength in Angstrom (rising) and barn; '#' lines are comments.
struct SigmaCurve {
  std::vector<double> wavelength, sigma;
  // Linear between the points; kOutOfRange outside them.
  Result<double> at(double lambda) const;
};
// kParseError (naming the line) for a line that is not two numbers or
// wavelengths that do not rise, kInvalidArgument for a cross-section below 0
// or fewer than two points.
Result<SigmaCurve> read_sigma_curve(std::string_view text);

}  // namespace talvo::pdf
