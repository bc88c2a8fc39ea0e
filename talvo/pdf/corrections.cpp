#include "talvo/pdf/corrections.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "talvo/text/format.hpp"
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

// Gauss-Legendre nodes and weights on [-1, 1] (Newton on P_n from the
// Chebyshev guesses).
void gauss_legendre(int n, std::vector<double>& x, std::vector<double>& w) {
  x.assign(static_cast<std::size_t>(n), 0.0);
  w.assign(static_cast<std::size_t>(n), 0.0);
  for (int i = 0; i < (n + 1) / 2; ++i) {
    double z = std::cos(std::numbers::pi * (i + 0.75) / (n + 0.5));
    double dp = 0.0;
    for (int it = 0; it < 100; ++it) {
      double p0 = 1.0, p1 = 0.0;
      for (int k = 1; k <= n; ++k) {
        const double p2 = p1;
        p1 = p0;
        p0 = ((2.0 * k - 1.0) * z * p1 - (k - 1.0) * p2) / k;
      }
      dp = n * (z * p0 - p1) / (z * z - 1.0);
      const double dz = p0 / dp;
      z -= dz;
      if (std::abs(dz) < 1e-15) break;
    }
    const auto a = static_cast<std::size_t>(i), b = static_cast<std::size_t>(n - 1 - i);
    x[a] = -z;
    x[b] = z;
    w[a] = w[b] = 2.0 / ((1.0 - z * z) * dp * dp);
  }
}

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

namespace {

// The cylinder's factor on given Gauss-Legendre nodes and weights.
double cylinder_sum(double two_theta, double mu_r, const std::vector<double>& gx, const std::vector<double>& gw) {
  const double ux = std::cos(two_theta * kDeg), uy = std::sin(two_theta * kDeg);
  // The beam runs along +x through a disc of radius 1; y = sin(phi) puts the
  // nodes where the chords shorten, x runs along each chord.
  double sum = 0.0;
  for (std::size_t i = 0; i < gx.size(); ++i) {
    const double phi = 0.5 * std::numbers::pi * gx[i];
    const double y = std::sin(phi), half = std::cos(phi);
    double chord = 0.0;
    for (std::size_t j = 0; j < gx.size(); ++j) {
      const double x = half * gx[j];
      const double pu = x * ux + y * uy;
      const double out = -pu + std::sqrt(std::max(pu * pu + 1.0 - x * x - y * y, 0.0));
      chord += gw[j] * std::exp(-mu_r * (x + half + out));
    }
    sum += gw[i] * half * chord * half;  // dx = half dt, dy = half (pi/2) dphi
  }
  return sum * 0.5 * std::numbers::pi / std::numbers::pi;
}

}  // namespace

double cylinder_absorption(double two_theta, double mu_r, int nodes) {
  std::vector<double> gx, gw;
  gauss_legendre(nodes, gx, gw);
  return cylinder_sum(two_theta, mu_r, gx, gw);
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
    case Geometry::kCapillary: {
      const double mr = a.mu_x.value_or(0.0);
      if (mr == 0.0) break;
      // The factor is smooth in 2theta: computed every degree and
      // interpolated by four-point Lagrange polynomials (error below 1e-7).
      constexpr int kTable = 181;
      std::array<double, kTable> table{};
      // Only the degrees the interpolation reaches: the pattern's range, and the nodes found once.
      double lo = 180.0, hi = 0.0;
      for (double t : two_theta) {
        lo = std::min(lo, std::clamp(t, 0.0, 180.0));
        hi = std::max(hi, std::clamp(t, 0.0, 180.0));
      }
      const int k_lo = std::clamp(static_cast<int>(std::floor(lo)) - 1, 0, kTable - 4);
      const int k_hi = std::clamp(static_cast<int>(std::floor(hi)) + 2, 3, kTable - 1);
      std::vector<double> gx, gw;
      gauss_legendre(48, gx, gw);
      for (int k = k_lo; k <= k_hi; ++k) table[static_cast<std::size_t>(k)] = cylinder_sum(k, mr, gx, gw);
      for (std::size_t i = 0; i < f.size(); ++i) {
        const double t = std::clamp(two_theta[i], 0.0, 180.0);
        const int k0 = std::clamp(static_cast<int>(std::floor(t)) - 1, 0, kTable - 4);
        double v = 0.0;
        for (int a1 = 0; a1 < 4; ++a1) {
          double l = 1.0;
          for (int b1 = 0; b1 < 4; ++b1)
            if (b1 != a1) l *= (t - (k0 + b1)) / static_cast<double>(a1 - b1);
          v += l * table[static_cast<std::size_t>(k0 + a1)];
        }
        f[i] = v;
      }
      break;
    }
  }
  return f;
}

}  // namespace talvo::pdf
