#include "talvo/pdf/corrections.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "talvo/text/format.hpp"
#include "talvo/xray/compton.hpp"
#include "talvo/text/words.hpp"

namespace talvo::pdf {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

// d-spacings: graphite 002 from c = 6.708 A (HOPG as supplied for
// monochromators); Si 111 from a = 5.431020511 A (CODATA 2018 d220 times
// sqrt 8); Ge 111 from a = 5.6579 A and LiF 200 from a = 4.0263 A
// (International Tables for Crystallography, Vol. C, and Wyckoff).
constexpr std::array<MonochromatorCrystal, 4> kCrystals = {{
    {"HOPG", 6.708 / 2.0, false},
    {"Si111", 5.431020511 / 1.7320508075688772, true},
    {"Ge111", 5.6579 / 1.7320508075688772, true},
    {"LiF200", 4.0263 / 2.0, true},
}};

}  // namespace

const MonochromatorCrystal* monochromator_crystal_named(std::string_view name) {
  for (const MonochromatorCrystal& c : kCrystals)
    if (equal_case_blind(name, c.name)) return &c;
  return nullptr;
}

Result<double> bragg_two_theta(double d, double wavelength) {
  if (!(wavelength > 0.0) || !(wavelength < 2.0 * d))
    return make_error(ErrorKind::kInvalidArgument, "a reflection of d = " + shortest(d) + " A cannot diffract " +
                                                       shortest(wavelength) + " A (lambda must be below 2d)");
  return 2.0 * std::asin(wavelength / (2.0 * d)) / kDeg;
}

double polarization(double two_theta, const Polarization& p) {
  const double c = std::cos(two_theta * kDeg);
  if (p.monochromator_two_theta) {
    const double cm = std::cos(*p.monochromator_two_theta * kDeg);
    const double m = p.perfect_crystal ? std::abs(cm) : cm * cm;
    return (1.0 + m * c * c) / (1.0 + m);
  }
  return p.normal_fraction + (1.0 - p.normal_fraction) * c * c;
}

double ruland_window(double two_theta, double wavelength, double band_pass, double profile_width) {
  constexpr double kD = 1.5e-3;  // 1/Angstrom
  const double s = std::sin(0.5 * two_theta * kDeg);
  const double shift = std::max(2.0 * kComptonWavelength * s * s - kD * wavelength * wavelength, 0.0);
  const double u = std::numbers::pi * shift / (profile_width + band_pass);
  return 1.0 / ((1.0 + profile_width / band_pass) * (1.0 + u * u));
}

std::optional<Geometry> geometry_named(std::string_view name) {
  if (equal_case_blind(name, "reflection")) return Geometry::kReflection;
  if (equal_case_blind(name, "transmission")) return Geometry::kTransmission;
  if (equal_case_blind(name, "capillary")) return Geometry::kCapillary;
  return std::nullopt;
}

std::string_view geometry_name(Geometry g) {
  switch (g) {
    case Geometry::kReflection:
      return "reflection";
    case Geometry::kTransmission:
      return "transmission";
    case Geometry::kCapillary:
      return "capillary";
  }
  return "reflection";
}

double cylinder_absorption(double two_theta, double mu_r, int nodes) {
  return capillary_absorption(two_theta, mu_r, CapillaryBeam{}, nodes);
}

Result<std::vector<double>> absorption_factors(std::span<const double> two_theta, const Absorption& a) {
  std::vector<double> f(two_theta.size(), 1.0);
  if (a.mu_x && !(*a.mu_x >= 0.0 && std::isfinite(*a.mu_x)))
    return make_error(ErrorKind::kInvalidArgument, "mu R or mu t must be 0 or more, not " + shortest(*a.mu_x));
  switch (a.geometry) {
    case Geometry::kReflection:
      if (a.mu_x)
        for (std::size_t i = 0; i < f.size(); ++i)
          f[i] = -std::expm1(-2.0 * *a.mu_x / std::sin(0.5 * two_theta[i] * kDeg));
      break;
    case Geometry::kTransmission: {
      const double mt = a.mu_x.value_or(0.0);
      for (std::size_t i = 0; i < f.size(); ++i) {
        const double c = std::cos(two_theta[i] * kDeg);
        if (!(c > 0.0))
          return make_error(ErrorKind::kInvalidArgument,
                            "a plate in transmission cannot be measured at 2theta = " + shortest(two_theta[i]) +
                                " degrees (90 or more); cut the pattern with qmax or use another geometry");
        const double d = 1.0 / c - 1.0;
        // (e^{-mt} - e^{-mt/c}) / (mt d) = e^{-mt} (1 - e^{-mt d}) / (mt d), 1 - mt d/2 ... for small mt d.
        f[i] = mt * d < 1e-12 ? std::exp(-mt) : std::exp(-mt) * -std::expm1(-mt * d) / (mt * d);
      }
      break;
    }
    case Geometry::kCapillary:
      return capillary_absorption_factors(two_theta, a.mu_x.value_or(0.0), a.beam);
  }
  return f;
}

}  // namespace talvo::pdf
