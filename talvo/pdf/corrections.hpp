// The angle-dependent factors between what a sample scatters and what the
// detector counts: polarisation (with a monochromator), absorption for the
// usual geometries.
// Angles are the scattering angle 2theta in degrees.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "talvo/pdf/capillary.hpp"
#include "talvo/result.hpp"

namespace talvo::pdf {

// A crystal monochromator's reflection: the named ones and their d-spacings.
struct MonochromatorCrystal {
  const char* name;
  double d;      // Angstrom
  bool perfect;  // a perfect crystal by default (else mosaic)
};
// HOPG (002), Si (111), Ge (111) or LiF (200) by name; null for another.
const MonochromatorCrystal* monochromator_crystal_named(std::string_view name);

// The Bragg angle 2theta_m (degrees) of a reflection of spacing d for the
// wavelength; an error when lambda > 2d.
Result<double> bragg_two_theta(double d, double wavelength);

struct Polarization {
  // The monochromator's 2theta_m in degrees, when there is one; its plane of
  // diffraction is taken as the sample's.
  std::optional<double> monochromator_two_theta;
  bool perfect_crystal = false;  // |cos 2theta_m| in place of cos^2 2theta_m
  // The fraction of the beam polarised normal to the scattering plane: 0.5
  // for a laboratory source, near 1 at a synchrotron measuring in the
  // vertical plane. Ignored with a monochromator (whose source is unpolarised).
  double normal_fraction = 0.5;
};

// P(2theta), 1 at 2theta = 0:
//   without a monochromator  P = f + (1 - f) cos^2 2theta
//   with one                 P = (1 + M cos^2 2theta) / (1 + M),
//                            M = cos^2 2theta_m (mosaic), |cos 2theta_m| (perfect)
// (Azaroff, Acta Cryst. 8 (1955) 701; Klug & Alexander, X-ray Diffraction Procedures, 1974).
double polarization(double two_theta, const Polarization& p);

// Ruland's window: the fraction of the Compton scattering at 2theta that a
// monochromator in the diffracted beam passes (W. Ruland, Br. J. Appl. Phys.
// 15 (1964) 1301, in the closed form used since):
//   R(2theta) = 1 / [(1 + dl / b) (1 + (pi dl_c / (dl + b))^2)],
//   dl_c = 2 (h / m_e c) sin^2 theta - D lambda^2,
// every length in Angstrom: the Compton wavelength h / m_e c = 0.0242631 A,
// D = 1.5e-3 1/A (so D lambda^2 is in A), lambda the wavelength, b the
// monochromator's band pass and dl the width of the Compton profile (0: a
// sharp line); the ratios are pure numbers. dl_c is the Compton line's shift
// from the band's centre; D lambda^2, the shift's defect from the electrons'
// binding, is taken to lower the shift but never to reverse it (dl_c >= 0),
// so R is 1 at 2theta = 0, where the Compton scattering vanishes, and falls as
// the shift grows. R -> 1 as b -> infinity.
double ruland_window(double two_theta, double wavelength, double band_pass, double profile_width = 0.0);

enum class Geometry { kReflection, kTransmission, kCapillary };
std::optional<Geometry> geometry_named(std::string_view name);
std::string_view geometry_name(Geometry g);

struct Absorption {
  Geometry geometry = Geometry::kReflection;
  // Reflection: mu t (nothing: infinitely thick); transmission: mu t (the
  // plate normal to the incident beam); capillary: mu R.
  std::optional<double> mu_x;
  // Capillary: the beam across it, in units of its radius (the whole
  // cross-section lit by default).
  CapillaryBeam beam = {};
};

// The absorption factor A(2theta): the fraction of the scattered intensity
// that leaves the sample, relative to a sample without absorption of the same
// illuminated volume (1 without absorption). Symmetric reflection from an
// infinitely thick plate is 1 at every angle (the irradiated depth makes up
// for the attenuation); of thickness t it is 1 - exp(-2 mu t / sin theta).
// Transmission through a plate normal to the beam:
//   A = (exp(-mu t) - exp(-mu t / cos 2theta)) / (mu t (1 / cos 2theta - 1)),
// defined for 2theta < 90 degrees. A cylinder of radius R is integrated over
// the band of its cross-section the beam lights (capillary_absorption_factors),
// by Gauss-Legendre quadrature on pieces split where the paths are not smooth
// (to about 1e-7 of its value).
Result<std::vector<double>> absorption_factors(std::span<const double> two_theta, const Absorption& a);

// The cylinder's factor at one angle, the whole cross-section lit, with
// `nodes` Gauss-Legendre nodes a direction (capillary_absorption).
double cylinder_absorption(double two_theta, double mu_r, int nodes = 32);

}  // namespace talvo::pdf
