// The angle-dependent factors between what a sample scatters and what the
// detector counts: polarisation (with a monochromator), absorption for the
// usual geometries.
// Angles are the scattering angle 2theta in degrees.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

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

enum class Geometry { kReflection, kTransmission, kCapillary };
std::optional<Geometry> geometry_named(std::string_view name);
std::string_view geometry_name(Geometry g);

struct Absorption {
  Geometry geometry = Geometry::kReflection;
  // Reflection: mu t (nothing: infinitely thick); transmission: mu t (the
  // plate normal to the incident beam); capillary: mu R.
  std::optional<double> mu_x;
};

// The absorption factor A(2theta): the fraction of the scattered intensity
// that leaves the sample, relative to a sample without absorption of the same
// illuminated volume (1 without absorption). Symmetric reflection from an
// infinitely thick plate is 1 at every angle (the irradiated depth makes up
// for the attenuation); of thickness t it is 1 - exp(-2 mu t / sin theta).
// Transmission through a plate normal to the beam:
//   A = (exp(-mu t) - exp(-mu t / cos 2theta)) / (mu t (1 / cos 2theta - 1)),
// defined for 2theta < 90 degrees. A cylinder of radius R bathed in the beam
// is integrated over its cross-section by Gauss-Legendre quadrature (to about
// 1e-4 of its value for mu R up to 8: the exit path's square root is not
// smooth where it grazes the surface).
Result<std::vector<double>> absorption_factors(std::span<const double> two_theta, const Absorption& a);

// The cylinder's factor at one angle, integrated over the cross-section with
// `nodes` Gauss-Legendre nodes a direction.
double cylinder_absorption(double two_theta, double mu_r, int nodes = 48);

}  // namespace talvo::pdf
