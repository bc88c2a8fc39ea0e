// Polarisation and absorption factors against hand values, closed forms and
// one-dimensional integrals done here another way.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "talvo/pdf/corrections.hpp"

namespace talvo::pdf {
namespace {

constexpr double kPi = std::numbers::pi;

// Composite Simpson of f over [a, b] with n (even) intervals.
template <class F>
double simpson(F f, double a, double b, int n) {
  const double h = (b - a) / n;
  double s = f(a) + f(b);
  for (int i = 1; i < n; ++i) s += (i % 2 ? 4.0 : 2.0) * f(a + i * h);
  return s * h / 3.0;
}

TEST(PdfCorrections, Polarization) {
  struct Case {
    double two_theta;
    Polarization p;
    double expected;
  };
  const double c30 = std::cos(30.0 * kPi / 180.0);
  const double c12 = std::cos(12.0 * kPi / 180.0);
  const Case cases[] = {
      {0.0, {}, 1.0},
      {90.0, {}, 0.5},                          // (1 + cos^2 90) / 2
      {60.0, {}, 0.625},                        // (1 + 1/4) / 2
      {90.0, {std::nullopt, false, 1.0}, 1.0},  // wholly normal to the plane: no loss
      {90.0, {std::nullopt, false, 0.0}, 0.0},  // wholly in the plane
      {30.0, {12.0, false, 0.5}, (1.0 + c12 * c12 * c30 * c30) / (1.0 + c12 * c12)},
      {30.0, {12.0, true, 0.5}, (1.0 + c12 * c30 * c30) / (1.0 + c12)},
      {90.0, {12.0, false, 0.5}, 1.0 / (1.0 + c12 * c12)},
  };
  for (const Case& c : cases) EXPECT_NEAR(polarization(c.two_theta, c.p), c.expected, 1e-14) << c.two_theta;
}

TEST(PdfCorrections, MonochromatorBraggAngles) {
  // HOPG 002 at Mo Kalpha1: 2 asin(0.70932 / 6.708).
  const Result<double> hopg = bragg_two_theta(monochromator_crystal_named("hopg")->d, 0.70932);
  ASSERT_TRUE(hopg.ok());
  EXPECT_NEAR(*hopg, 12.1393, 1e-3);
  // Si 111 at Cu Kalpha1: 28.44 degrees, as every powder pattern of silicon shows.
  EXPECT_NEAR(*bragg_two_theta(monochromator_crystal_named("Si111")->d, 1.5405980), 28.442, 2e-3);
  EXPECT_NEAR(*bragg_two_theta(monochromator_crystal_named("LiF200")->d, 1.5405980), 45.0, 0.1);
  EXPECT_FALSE(bragg_two_theta(2.0, 4.5).ok());
  EXPECT_EQ(monochromator_crystal_named("quartz"), nullptr);
}

// A cylinder in the beam: straight through (2theta = 0) every path is the
// chord, 2 sqrt(1 - y^2); straight back (180) it is twice the depth reached.
TEST(PdfCorrections, CylinderAgainstItsExactLimits) {
  for (double mr : {0.01, 0.3, 1.0, 2.5, 5.0, 8.0}) {
    const double forward = simpson(
        [&](double y) {
          const double w = std::sqrt(std::max(0.0, 1.0 - y * y));
          return 2.0 * w * std::exp(-2.0 * mr * w) / kPi;
        },
        -1.0, 1.0, 200000);
    const double back = simpson(
        [&](double y) {
          const double w = std::sqrt(std::max(0.0, 1.0 - y * y));
          return -std::expm1(-4.0 * mr * w) / (2.0 * mr) / kPi;
        },
        -1.0, 1.0, 200000);
    EXPECT_NEAR(cylinder_absorption(0.0, mr), forward, 1e-5 * forward) << mr;
    EXPECT_NEAR(cylinder_absorption(180.0, mr), back, 1e-5 * back) << mr;
  }
  // Thin: 1 - (16 / 3 pi) mu R, the mean path being 16 R / 3 pi.
  EXPECT_NEAR(cylinder_absorption(0.0, 1e-4), 1.0 - 16.0 / (3.0 * kPi) * 1e-4, 1e-7);
}

TEST(PdfCorrections, CylinderConvergedAtEveryAngle) {
  for (double mr : {0.5, 2.0, 5.0})
    for (double tt = 0.0; tt <= 180.0; tt += 15.0)
      EXPECT_NEAR(cylinder_absorption(tt, mr), cylinder_absorption(tt, mr, 160),
                  1e-4 * cylinder_absorption(tt, mr, 160))
          << mr << " " << tt;
}

TEST(PdfCorrections, CylinderGrowsTowardsBackScattering) {
  const Result<std::vector<double>> a =
      absorption_factors(std::vector<double>{5.0, 45.0, 90.0, 135.0, 175.0}, {Geometry::kCapillary, 2.0});
  ASSERT_TRUE(a.ok());
  for (std::size_t i = 1; i < a->size(); ++i) EXPECT_GT((*a)[i], (*a)[i - 1]);
  // The tabulated factor is interpolated: it matches the direct integral.
  for (double tt : {0.4, 33.3, 97.7, 179.5}) {
    const Result<std::vector<double>> one = absorption_factors(std::vector<double>{tt}, {Geometry::kCapillary, 2.0});
    EXPECT_NEAR((*one)[0], cylinder_absorption(tt, 2.0), 1e-6 * (*one)[0]) << tt;
  }
}

TEST(PdfCorrections, PlatesAgainstTheirDepthIntegrals) {
  const double mt = 0.7;
  for (double tt : {10.0, 40.0, 80.0}) {
    const double c = std::cos(tt * kPi / 180.0);
    // Through a plate normal to the beam: depth z in, (t - z) / cos 2theta out.
    const double trans = simpson([&](double z) { return std::exp(-mt * z - mt * (1.0 - z) / c); }, 0.0, 1.0, 2000);
    EXPECT_NEAR((*absorption_factors(std::vector<double>{tt}, {Geometry::kTransmission, mt}))[0], trans, 1e-10);
    // Reflection, symmetric: depth z at angle theta, in and out, relative to an infinite plate (1 / 2 mu).
    const double s = std::sin(0.5 * tt * kPi / 180.0);
    const double refl = simpson([&](double z) { return 2.0 * std::exp(-2.0 * z / s) / s; }, 0.0, mt, 2000);
    EXPECT_NEAR((*absorption_factors(std::vector<double>{tt}, {Geometry::kReflection, mt}))[0], refl, 1e-8);
    EXPECT_EQ((*absorption_factors(std::vector<double>{tt}, {Geometry::kReflection, std::nullopt}))[0], 1.0);
  }
  EXPECT_FALSE(absorption_factors(std::vector<double>{100.0}, {Geometry::kTransmission, 0.5}).ok());
  EXPECT_FALSE(absorption_factors(std::vector<double>{10.0}, {Geometry::kCapillary, -1.0}).ok());
}

// Ruland's window from its closed form, the Compton wavelength h / m_e c
// from h, m_e and c (CODATA 2018) in Angstrom.
TEST(PdfCorrections, RulandWindow) {
  const double compton = 6.62607015e-34 / (9.1093837015e-31 * 299792458.0) * 1e10;
  const double lambda = 0.7107, b = 0.01;
  auto by_hand = [&](double two_theta, double dl) {
    const double s = std::sin(two_theta * kPi / 360.0);
    const double shift = std::max(2.0 * compton * s * s - 1.5e-3 * lambda * lambda, 0.0);
    return 1.0 / ((1.0 + dl / b) * (1.0 + std::pow(kPi * shift / (dl + b), 2)));
  };
  // At 90 degrees: dl_c = 0.0242631 - 0.0007576 = 0.0235055 A, pi dl_c / b = 7.38446, R = 1 / 55.5303.
  EXPECT_NEAR(ruland_window(90.0, lambda, b), 0.01800821, 1e-8);
  for (double tt : {0.0, 10.0, 30.0, 90.0, 150.0})
    for (double dl : {0.0, 0.004}) EXPECT_NEAR(ruland_window(tt, lambda, b, dl), by_hand(tt, dl), 1e-10) << tt;
  // R(0) = 1 with a sharp Compton line, and 1 / (1 + dl / b) with a broad one.
  EXPECT_EQ(ruland_window(0.0, lambda, b), 1.0);
  EXPECT_NEAR(ruland_window(0.0, lambda, b, 0.005), 1.0 / 1.5, 1e-15);
  // A wide band passes everything.
  for (double tt : {20.0, 120.0}) EXPECT_NEAR(ruland_window(tt, lambda, 1e6), 1.0, 1e-9) << tt;
  // Never rising with angle, and falling once the shift passes D lambda^2.
  double last = 1.0;
  for (double tt = 0.0; tt <= 180.0; tt += 0.5) {
    const double r = ruland_window(tt, lambda, b);
    EXPECT_LE(r, last) << tt;
    if (tt > 20.0) {
      EXPECT_LT(r, last) << tt;
    }
    last = r;
  }
}

}  // namespace
}  // namespace talvo::pdf
