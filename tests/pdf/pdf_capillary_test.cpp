// The capillary lit by a band: its absorption against a midpoint sum over the
// cross-section done here in other coordinates, the narrow-beam and wide-beam
// limits, the Paalman-Pings factors against their limits (no wall absorption,
// a wall of the sample's own mu, a vanishing wall), and the z-scan's
// transmission against one-dimensional sums.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "talvo/pdf/capillary.hpp"
#include "talvo/pdf/corrections.hpp"

namespace talvo::pdf {
namespace {

constexpr double kPi = std::numbers::pi;

struct TestBeam {
  double lo = -1.0, hi = 1.0;        // the lit band of y (unit radius)
  std::optional<double> sigma = {};  // Gaussian about centre, else uniform
  double centre = 0.0;
  double weight(double y) const {
    if (y < lo || y > hi) return 0.0;
    return sigma ? std::exp(-0.5 * std::pow((y - centre) / *sigma, 2)) : 1.0;
  }
};

// The mean of exp(-mu (l_in + l_out)) over the lit part of the unit disc, by
// a midpoint sum in (phi, psi) with y = sin(phi), x = cos(phi) sin(psi), and
// the exit path from the distance of the exit line to the axis; Richardson's
// extrapolation from n and 2n points a direction.
double independent_capillary(double two_theta, double mu_r, const TestBeam& b, int n) {
  const double ux = std::cos(two_theta * kPi / 180.0), uy = std::sin(two_theta * kPi / 180.0);
  auto sum = [&](int m) {
    const double pa = std::asin(std::max(b.lo, -1.0)), pb = std::asin(std::min(b.hi, 1.0));
    double num = 0.0, den = 0.0;
    for (int i = 0; i < m; ++i) {
      const double phi = pa + (i + 0.5) * (pb - pa) / m;
      const double y = std::sin(phi), c = std::cos(phi);
      const double w = b.weight(y);
      for (int j = 0; j < m; ++j) {
        const double psi = -kPi / 2 + (j + 0.5) * kPi / m;
        const double x = c * std::sin(psi);
        const double along = x * ux + y * uy, across = x * uy - y * ux;
        const double path = (x + c) + (-along + std::sqrt(std::max(1.0 - across * across, 0.0)));
        const double jac = c * c * std::cos(psi) * w;
        num += jac * std::exp(-mu_r * path);
        den += jac;
      }
    }
    return num / den;
  };
  const double coarse = sum(n), fine = sum(2 * n);
  return (4.0 * fine - coarse) / 3.0;
}

TEST(PdfCapillary, AgainstAnIndependentSumOverTheCrossSection) {
  struct Beam {
    CapillaryBeam beam;
    TestBeam test;
  };
  const double fwhm = 0.4, sigma = fwhm / (2.0 * std::sqrt(2.0 * std::log(2.0)));
  const Beam beams[] = {
      {{}, {}},                                                        // the whole capillary lit
      {{0.5, BeamProfile::kTopHat, 0.0}, {-0.25, 0.25}},               // a quarter of the diameter
      {{0.6, BeamProfile::kTopHat, 0.35}, {0.05, 0.65}},               // off centre
      {{0.3, BeamProfile::kTopHat, 0.85}, {0.7, 1.0}},                 // cut by the surface
      {{fwhm, BeamProfile::kGaussian, 0.1}, {-1.0, 1.0, sigma, 0.1}},  // Gaussian
  };
  for (double mr : {0.5, 2.0, 5.0})
    for (double tt : {0.0, 50.0, 90.0, 150.0})
      for (const Beam& b : beams) {
        const double expected = independent_capillary(tt, mr, b.test, 250);
        EXPECT_NEAR(capillary_absorption(tt, mr, b.beam), expected, 4e-7 * expected)
            << "mu R " << mr << " 2theta " << tt << " width " << b.beam.width.value_or(2.0);
      }
}

TEST(PdfCapillary, BeamWiderThanTheCapillaryIsTheUsualFactor) {
  for (double mr : {0.3, 1.75, 4.0})
    for (double tt : {0.0, 33.0, 121.0, 180.0}) {
      const double full = cylinder_absorption(tt, mr);
      EXPECT_EQ(capillary_absorption(tt, mr, {}), full) << mr << " " << tt;
      EXPECT_NEAR(capillary_absorption(tt, mr, {2.0}), full, 1e-14) << mr << " " << tt;
      EXPECT_NEAR(capillary_absorption(tt, mr, {3.5, BeamProfile::kTopHat, 0.4}), full, 1e-14) << mr << " " << tt;
    }
  // Through the pattern's table too.
  const std::vector<double> tt{3.0, 47.5, 140.25};
  const Result<std::vector<double>> wide = capillary_absorption_factors(tt, 1.2, {2.0});
  const Result<std::vector<double>> usual = absorption_factors(tt, {Geometry::kCapillary, 1.2});
  ASSERT_TRUE(wide.ok() && usual.ok());
  for (std::size_t i = 0; i < tt.size(); ++i) EXPECT_NEAR((*wide)[i], (*usual)[i], 1e-14);
}

// A beam along the diameter: at 2theta = 0 every path is the diameter,
// exp(-2 mu R); straight back each point's path is twice its depth,
// (1 - exp(-4 mu R)) / (4 mu R). Off the axis by s at 2theta = 0 the chord is
// 2 sqrt(1 - s^2).
TEST(PdfCapillary, ThinBeamLimits) {
  const CapillaryBeam thin{1e-4};
  for (double mr : {0.5, 1.75, 5.0}) {
    EXPECT_NEAR(capillary_absorption(0.0, mr, thin), std::exp(-2.0 * mr), 1e-7 * std::exp(-2.0 * mr)) << mr;
    const double back = -std::expm1(-4.0 * mr) / (4.0 * mr);
    EXPECT_NEAR(capillary_absorption(180.0, mr, thin), back, 1e-7 * back) << mr;
    const double chord = std::exp(-2.0 * mr * std::sqrt(1.0 - 0.36));
    EXPECT_NEAR(capillary_absorption(0.0, mr, {1e-4, BeamProfile::kTopHat, 0.6}), chord, 1e-6 * chord) << mr;
  }
  // A narrow beam through the middle sees the longest paths: less comes out than with the whole capillary lit.
  for (double tt : {10.0, 60.0, 120.0})
    EXPECT_LT(capillary_absorption(tt, 1.75, {0.5}), capillary_absorption(tt, 1.75, {}));
}

// The area of the band lo < y < hi of a disc of radius rho.
double band_area(double rho, double lo, double hi) {
  auto f = [&](double y) {
    y = std::clamp(y, -rho, rho);
    return y * std::sqrt(rho * rho - y * y) + rho * rho * std::asin(y / rho);
  };
  return f(hi) - f(lo);
}

TEST(PdfCapillary, PaalmanPingsLimits) {
  const double t = 0.15;
  for (double tt : {0.0, 45.0, 100.0, 165.0})
    for (const CapillaryBeam& beam : {CapillaryBeam{}, CapillaryBeam{0.6, BeamProfile::kTopHat, 0.2}}) {
      // A wall that absorbs nothing: the sample's factor is the bare capillary's, the empty wall's is 1.
      const PaalmanPings clear = paalman_pings(tt, 1.3, {t, 0.0}, beam);
      EXPECT_NEAR(clear.a_s_sc, capillary_absorption(tt, 1.3, beam), 1e-12) << tt;
      EXPECT_NEAR(clear.a_c_c, 1.0, 1e-13) << tt;

      // A wall of the sample's own mu: sample and wall together are one cylinder of radius 1 + t, so
      // their factors, weighted by their lit areas, make that cylinder's (lengths in its radius).
      const double mu = 0.9;
      const PaalmanPings same = paalman_pings(tt, mu, {t, mu}, beam);
      const double lo = beam.width ? beam.offset - 0.5 * *beam.width : -9.0;
      const double hi = beam.width ? beam.offset + 0.5 * *beam.width : 9.0;
      const double vs = band_area(1.0, lo, hi), vc = band_area(1.0 + t, lo, hi) - vs;
      CapillaryBeam scaled = beam;
      if (scaled.width) *scaled.width /= 1.0 + t;
      scaled.offset /= 1.0 + t;
      const double whole = capillary_absorption(tt, mu * (1.0 + t), scaled);
      EXPECT_NEAR((vs * same.a_s_sc + vc * same.a_c_sc) / (vs + vc), whole, 1e-8 * whole) << tt;
      // The wall is nearer the surface than the sample: it loses less.
      EXPECT_GT(same.a_c_sc, same.a_s_sc) << tt;
    }
}

// A vanishing wall, the whole capillary lit: the wall's points lie on the
// circle, where the beam has crossed the sample if x > 0 (the chord 2 cos a at
// the point's angle a) and the exit ray crosses it when it points inwards (the
// chord -2 cos(a - 2theta)).
TEST(PdfCapillary, ThinWallSeesTheSampleFromItsSurface) {
  const double mu_s = 1.6;
  for (double tt : {20.0, 90.0, 140.0}) {
    const double u = tt * kPi / 180.0;
    const int n = 200000;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
      const double a = (i + 0.5) * 2.0 * kPi / n;
      const double in = std::max(2.0 * std::cos(a), 0.0), out = std::max(-2.0 * std::cos(a - u), 0.0);
      sum += std::exp(-mu_s * (in + out));
    }
    const PaalmanPings pp = paalman_pings(tt, mu_s, {1e-6, 0.0}, {});
    EXPECT_NEAR(pp.a_c_sc, sum / n, 1e-5) << tt;
  }
}

TEST(PdfCapillary, FactorsOverAPatternAndWhatTheyRefuse) {
  const std::vector<double> tt{2.0, 30.5, 89.9, 150.0};
  const CapillaryBeam beam{0.5};
  const Result<PaalmanPingsFactors> f = paalman_pings_factors(tt, 1.75, {0.05, 0.12}, beam);
  ASSERT_TRUE(f.ok());
  for (std::size_t i = 0; i < tt.size(); ++i) {
    const PaalmanPings one = paalman_pings(tt[i], 1.75, {0.05, 0.12}, beam);
    EXPECT_NEAR(f->a_s_sc[i], one.a_s_sc, 1e-6 * one.a_s_sc) << tt[i];
    EXPECT_NEAR(f->a_c_sc[i], one.a_c_sc, 1e-6 * one.a_c_sc) << tt[i];
    EXPECT_NEAR(f->a_c_c[i], one.a_c_c, 1e-6 * one.a_c_c) << tt[i];
  }
  const Result<std::vector<double>> a = capillary_absorption_factors(tt, 1.75, beam);
  ASSERT_TRUE(a.ok());
  for (std::size_t i = 0; i < tt.size(); ++i)
    EXPECT_NEAR((*a)[i], capillary_absorption(tt[i], 1.75, beam), 1e-6 * (*a)[i]) << tt[i];

  EXPECT_FALSE(capillary_absorption_factors(tt, -0.1, beam).ok());
  EXPECT_FALSE(capillary_absorption_factors(tt, 1.0, {0.0}).ok());
  EXPECT_FALSE(capillary_absorption_factors(tt, 1.0, {0.2, BeamProfile::kTopHat, 1.5}).ok());  // misses
  EXPECT_FALSE(paalman_pings_factors(tt, 1.0, {0.0, 0.1}, {}).ok());
  EXPECT_FALSE(paalman_pings_factors(tt, 1.0, {0.1, -0.1}, {}).ok());
  EXPECT_EQ(beam_profile_named("Gaussian"), BeamProfile::kGaussian);
  EXPECT_EQ(beam_profile_named("tophat"), BeamProfile::kTopHat);
  EXPECT_FALSE(beam_profile_named("flat"));
}

// The z-scan's transmission: a narrow beam sees one chord; a wide top hat the
// chord averaged over the beam; a Gaussian the chord weighted by the beam.
TEST(PdfCapillary, TransmissionThroughTheCylinder) {
  const double mr = 1.75;
  for (double s : {0.0, 0.5, 0.95, 1.2}) {
    const double chord = s < 1.0 ? std::exp(-2.0 * mr * std::sqrt(1.0 - s * s)) : 1.0;
    const Result<double> t = cylinder_transmission(mr, {1e-5, BeamProfile::kTopHat, s});
    ASSERT_TRUE(t.ok());
    EXPECT_NEAR(*t, chord, 1e-6) << s;
  }
  // Wider beams: 1 - int p(y) (1 - exp(-2 mu R sqrt(1 - y^2))) dy / int p, by a midpoint sum in phi with
  // y = sin(phi) over the part of the beam on the cylinder (int p: the top hat's width, sigma sqrt(2 pi)).
  const double sigma = 0.3 / (2.0 * std::sqrt(2.0 * std::log(2.0)));
  auto loss = [&](double lo, double hi, auto p) {
    const double pa = std::asin(std::max(lo, -1.0)), pb = std::asin(std::min(hi, 1.0));
    const int n = 100000;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
      const double phi = pa + (i + 0.5) * (pb - pa) / n;
      sum += p(std::sin(phi)) * std::cos(phi) * (1.0 - std::exp(-2.0 * mr * std::cos(phi)));
    }
    return sum * (pb - pa) / n;
  };
  for (double c : {0.0, 0.7, 1.1}) {
    const double top = 1.0 - loss(c - 0.75, c + 0.75, [](double) { return 1.0; }) / 1.5;
    const double gauss = 1.0 - loss(-1.0, 1.0, [&](double y) {
                                 return std::exp(-0.5 * std::pow((y - c) / sigma, 2));
                               }) / (sigma * std::sqrt(2.0 * kPi));
    EXPECT_NEAR(*cylinder_transmission(mr, {1.5, BeamProfile::kTopHat, c}), top, 1e-9) << c;
    EXPECT_NEAR(*cylinder_transmission(mr, {0.3, BeamProfile::kGaussian, c}), gauss, 1e-9) << c;
  }
  EXPECT_FALSE(cylinder_transmission(mr, {}).ok());  // a transmission needs the beam's width
}

}  // namespace
}  // namespace talvo::pdf
