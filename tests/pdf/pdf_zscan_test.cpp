// The z-scan: read as files hold it, fitted on profiles made here (a known
// mu D, width and centre, with and without counting noise) and on the real
// scan of a CeO2 capillary.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>

#include "talvo/pdf/options.hpp"
#include "talvo/pdf/zscan.hpp"

namespace talvo::pdf {
namespace {

constexpr double kPi = std::numbers::pi;

// The transmitted intensity of a cylinder of diameter d and mu at height z,
// by a midpoint sum across the beam (its FWHM w for a Gaussian).
double profile(double z, double d, double mu, double w, double z0, double i0, bool gaussian) {
  const double r = 0.5 * d, sigma = w / (2.0 * std::sqrt(2.0 * std::log(2.0)));
  const double half = gaussian ? 8.0 * sigma : 0.5 * w;
  const int n = 4000;
  double sum = 0.0, weight = 0.0;
  for (int i = 0; i < n; ++i) {
    const double y = -half + (i + 0.5) * 2.0 * half / n;  // across the beam, from its centre
    const double s = z - z0 + y;                          // from the axis
    const double g = gaussian ? std::exp(-0.5 * y * y / (sigma * sigma)) : 1.0;
    sum += g * (std::abs(s) < r ? std::exp(-2.0 * mu * std::sqrt(r * r - s * s)) : 1.0);
    weight += g;
  }
  return i0 * sum / weight;
}

ZScan synthetic(double d, double mu_d, double w, double z0, double i0, bool gaussian, std::uint32_t seed) {
  ZScan s;
  std::mt19937 gen(seed);
  auto uniform = [&] { return (static_cast<double>(gen()) + 0.5) / 4294967296.0; };
  for (int k = 0; k <= 120; ++k) {
    const double z = -0.6 + 0.01 * k;
    double y = profile(z, d, mu_d / d, w, z0, i0, gaussian);
    if (seed != 0) y += std::sqrt(y) * std::sqrt(-2.0 * std::log(uniform())) * std::cos(2.0 * kPi * uniform());
    s.height.push_back(z);
    s.intensity.push_back(y);
  }
  return s;
}

TEST(PdfZscan, RecoversAKnownProfile) {
  struct Case {
    double mu_d, w;
    bool gaussian;
  };
  for (const Case c : {Case{2.2, 0.12, false}, Case{3.5, 0.08, true}, Case{0.8, 0.3, false}}) {
    const ZScanFitOptions o{0.5, c.gaussian ? BeamProfile::kGaussian : BeamProfile::kTopHat, false};
    // Noise-free: the fit lands on the values made.
    const Result<ZScanFit> exact = fit_zscan(synthetic(0.5, c.mu_d, c.w, 0.03, 1e5, c.gaussian, 0), o);
    ASSERT_TRUE(exact.ok()) << exact.error().message;
    EXPECT_NEAR(exact->mu_d.value, c.mu_d, 1e-4 * c.mu_d) << c.mu_d;
    EXPECT_NEAR(exact->width.value, c.w, 1e-4 * c.w) << c.mu_d;
    EXPECT_NEAR(exact->centre.value, 0.03, 1e-6) << c.mu_d;
    EXPECT_NEAR(exact->open_beam.value, 1e5, 0.1) << c.mu_d;
    // With counting noise: within 4 sigma, and chi^2 per point near 1 (the weights are the counts' own).
    for (std::uint32_t seed : {1u, 2u, 3u}) {
      const Result<ZScanFit> f = fit_zscan(synthetic(0.5, c.mu_d, c.w, 0.03, 1e5, c.gaussian, seed), o);
      ASSERT_TRUE(f.ok());
      EXPECT_NEAR(f->mu_d.value, c.mu_d, 4.0 * f->mu_d.sigma) << c.mu_d << " seed " << seed;
      EXPECT_NEAR(f->width.value, c.w, 4.0 * f->width.sigma) << c.mu_d << " seed " << seed;
      EXPECT_NEAR(f->centre.value, 0.03, 4.0 * f->centre.sigma) << c.mu_d << " seed " << seed;
      EXPECT_GT(f->mu_d.sigma, 0.0);
      EXPECT_LT(f->mu_d.sigma, 0.05 * c.mu_d);
      EXPECT_NEAR(f->residual_variance, 1.0, 0.4) << c.mu_d << " seed " << seed;
    }
  }
}

// The real scan: a CeO2 powder in a 0.635 mm capillary, Mo Kalpha; an
// independent analysis of it gives mu D = 3.50 +- 0.01 and a top-hat beam
// 0.156 mm wide.
TEST(PdfZscan, CeO2Capillary) {
  const Result<ZScan> scan = read_zscan(TALVO_TEST_FILES_DIR "lab_xy/CeO2_635um_zscan.xy");
  ASSERT_TRUE(scan.ok()) << scan.error().message;
  EXPECT_EQ(scan->height.size(), 151u);
  const Result<ZScanFit> f = fit_zscan(*scan, {0.635, BeamProfile::kTopHat, false});
  ASSERT_TRUE(f.ok()) << f.error().message;
  EXPECT_NEAR(f->mu_d.value, 3.5, 0.1);
  EXPECT_GT(f->mu_d.sigma, 0.003);
  EXPECT_LT(f->mu_d.sigma, 0.05);
  EXPECT_NEAR(f->width.value, 0.155, 0.01);
  EXPECT_NEAR(f->centre.value, 0.38, 0.01);
  EXPECT_NEAR(f->open_beam.value, 435000.0, 3000.0);
  // The dip's floor, 3 % of the open beam, followed within its scatter.
  for (std::size_t i = 0; i < scan->height.size(); ++i)
    if (scan->height[i] > 0.3 && scan->height[i] < 0.45) {
      EXPECT_NEAR(f->model[i] / scan->intensity[i], 1.0, 0.08) << scan->height[i];
    }
  // The intensities' unit changes nothing but the open beam's level: counts scaled by 1e-20 or 1e8 fit alike.
  for (const double unit : {1e-20, 1e8}) {
    ZScan scaled = *scan;
    for (double& i : scaled.intensity) i *= unit;
    const Result<ZScanFit> u = fit_zscan(scaled, {0.635, BeamProfile::kTopHat, false});
    ASSERT_TRUE(u.ok()) << u.error().message;
    EXPECT_TRUE(u.warnings().empty()) << unit << ": " << u.warnings().front();
    EXPECT_NEAR(u->mu_d.value, f->mu_d.value, 1e-6 * f->mu_d.value) << unit;
    EXPECT_NEAR(u->width.value, f->width.value, 1e-6 * f->width.value) << unit;
    EXPECT_NEAR(u->mu_d.sigma, f->mu_d.sigma, 1e-3 * f->mu_d.sigma) << unit;
    EXPECT_NEAR(u->open_beam.value, unit * f->open_beam.value, 1e-6 * unit * f->open_beam.value) << unit;
  }
  // A Gaussian beam reads the same capillary alike.
  const Result<ZScanFit> g = fit_zscan(*scan, {0.635, BeamProfile::kGaussian, false});
  ASSERT_TRUE(g.ok());
  EXPECT_NEAR(g->mu_d.value, 3.5, 0.1);
}

// The same scan with its heights in micrometres: no fit to use, the
// parameters named and the unit questioned, never a width of 0.06 +- inf.
TEST(PdfZscan, HeightsInMicrometresAreRefusedByName) {
  Result<ZScan> scan = read_zscan(TALVO_TEST_FILES_DIR "lab_xy/CeO2_635um_zscan.xy");
  ASSERT_TRUE(scan.ok());
  for (double& z : scan->height) z *= 1000.0;
  const Result<ZScanFit> f = fit_zscan(*scan, {0.635, BeamProfile::kTopHat, false});
  ASSERT_FALSE(f.ok());
  EXPECT_EQ(f.kind(), ErrorKind::kInvalidArgument);
  const std::string& m = f.error().message;
  EXPECT_EQ(m.rfind("the z-scan fit does not determine ", 0), 0u) << m;
  EXPECT_EQ(m.find("parameter(s)"), std::string::npos) << m;
  EXPECT_NE(m.find("the heights are read in mm: are they in micrometres?"), std::string::npos) << m;
}

TEST(PdfZscan, ReadsAndRefuses) {
  std::string rows;
  for (int k = 0; k < 10; ++k) rows += std::to_string(0.1 * k) + " " + std::to_string(k == 5 ? 10 : 100) + "\n";
  const Result<ZScan> ok = parse_zscan("'Id: \"\" Scantype: \"Z\"\n# height counts\n\n" + rows, "scan");
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok->height.size(), 10u);
  EXPECT_EQ(ok->intensity[5], 10.0);

  struct Case {
    std::string text;
    ErrorKind kind;
  };
  const Case bad[] = {
      {rows + "1.0 100 3\n", ErrorKind::kParseError},     // three columns
      {rows + "1.0 abc\n", ErrorKind::kParseError},       // not a number
      {rows + "0.5 100\n", ErrorKind::kInvalidArgument},  // heights go back
      {rows + "1.0 0\n", ErrorKind::kInvalidArgument},    // no intensity
      {"0 1\n1 1\n2 1\n", ErrorKind::kInvalidArgument},   // too few rows
  };
  for (const Case& c : bad) {
    const Result<ZScan> r = parse_zscan(c.text, "scan");
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.kind(), c.kind) << c.text;
    EXPECT_EQ(r.error().message.rfind("scan", 0), 0u) << r.error().message;
  }

  // No dip, a dip at the scan's end, no diameter.
  ZScan flat;
  for (int k = 0; k < 20; ++k) {
    flat.height.push_back(k);
    flat.intensity.push_back(1000.0 + k);
  }
  EXPECT_FALSE(fit_zscan(flat, {0.5}).ok());
  ZScan end = flat;
  for (int k = 15; k < 20; ++k) end.intensity[static_cast<std::size_t>(k)] = 50.0;
  EXPECT_FALSE(fit_zscan(end, {0.5}).ok());
  EXPECT_FALSE(fit_zscan(*ok, {0.0}).ok());
  EXPECT_FALSE(read_zscan(TALVO_TEST_FILES_DIR "lab_xy/no_such_scan.xy").ok());
}

// The z-scan's mu D and width go into the reduction only where the user gave none.
TEST(PdfZscan, UsedWhereNotGiven) {
  const Result<ZScan> scan = read_zscan(TALVO_TEST_FILES_DIR "lab_xy/CeO2_635um_zscan.xy");
  ASSERT_TRUE(scan.ok());
  ReductionSettings s;
  s.options.absorption.geometry = Geometry::kCapillary;
  const Result<ZScanFit> none = apply_zscan(*scan, s);
  ASSERT_FALSE(none.ok());
  EXPECT_EQ(none.kind(), ErrorKind::kNotFound);
  s.options.capillary_diameter = 0.635;
  const Result<ZScanFit> f = apply_zscan(*scan, s);
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(s.options.absorption.mu_x, 0.5 * f->mu_d.value);
  EXPECT_EQ(s.options.beam_width, f->width.value);
  ReductionSettings given;
  given.options.capillary_diameter = 0.635;
  given.options.absorption.mu_x = 1.9;
  given.options.beam_width = 0.2;
  ASSERT_TRUE(apply_zscan(*scan, given).ok());
  EXPECT_EQ(given.options.absorption.mu_x, 1.9);
  EXPECT_EQ(given.options.beam_width, 0.2);
}

}  // namespace
}  // namespace talvo::pdf
