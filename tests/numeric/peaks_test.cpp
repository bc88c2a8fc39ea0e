#include "talvo/numeric/peaks.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace talvo {
namespace {

double value(PeakShape shape, double x, double c, double w, double eta) {
  const Result<std::vector<double>> r = peak(std::vector<double>{x}, {shape, c, w, eta});
  EXPECT_TRUE(r.ok()) << r.error().message;
  return r.ok() ? (*r)[0] : NAN;
}

// Composite Simpson over [a, b] with 2m panels.
template <typename F>
double simpson(F fn, double a, double b, int m) {
  const double h = (b - a) / (2 * m);
  double sum = fn(a) + fn(b);
  for (int i = 1; i < 2 * m; ++i) sum += (i % 2 ? 4 : 2) * fn(a + i * h);
  return sum * h / 3;
}

// Where the peak falls to half its height, found by bisection from the centre outwards.
double half_point(PeakShape shape, double c, double w, double eta, double direction) {
  const double half = value(shape, c, c, w, eta) / 2;
  double in = c, out = c + direction * 10 * w;
  for (int it = 0; it < 200; ++it) {
    const double mid = (in + out) / 2;
    (value(shape, mid, c, w, eta) > half ? in : out) = mid;
  }
  return (in + out) / 2;
}

struct PeakCase {
  PeakShape shape;
  double center, fwhm, eta;
};

const PeakCase kCases[] = {
    {PeakShape::kGaussian, 0.0, 1.0, 0.0},    {PeakShape::kGaussian, 31.4, 0.05, 0.0},
    {PeakShape::kLorentzian, 0.0, 1.0, 0.0},  {PeakShape::kLorentzian, -7.0, 3.5, 0.0},
    {PeakShape::kPseudoVoigt, 2.0, 0.4, 0.3}, {PeakShape::kPseudoVoigt, 120.0, 2.0, 1.0},
    {PeakShape::kPseudoVoigt, 0.5, 0.8, 0.0},
};

TEST(Peaks, UnitAreaAndTheGivenWidth) {
  for (const PeakCase& p : kCases) {
    const double span = 40 * p.fwhm;
    const double area = simpson([&](double x) { return value(p.shape, x, p.center, p.fwhm, p.eta); }, p.center - span,
                                p.center + span, 20000);
    // A Lorentzian's tails beyond +-L hold 1 - (2/pi) atan(2L/W) of its area.
    const double lorentz_share = p.shape == PeakShape::kLorentzian ? 1.0
                                 : p.shape == PeakShape::kGaussian ? 0.0
                                                                   : p.eta;
    const double inside = lorentz_share * 2 / M_PI * std::atan(2 * span / p.fwhm) + (1 - lorentz_share);
    EXPECT_NEAR(area, inside, 1e-9) << peak_shape_name(p.shape) << " W " << p.fwhm;
    const double width =
        half_point(p.shape, p.center, p.fwhm, p.eta, 1) - half_point(p.shape, p.center, p.fwhm, p.eta, -1);
    EXPECT_NEAR(width, p.fwhm, 1e-12 * p.fwhm) << peak_shape_name(p.shape);
  }
}

TEST(Peaks, HeightsAtTheCentre) {
  // 2 sqrt(ln 2 / pi) and 2 / pi for a unit width, scaling as 1/W.
  EXPECT_NEAR(value(PeakShape::kGaussian, 0, 0, 1, 0), 0.93943727869965133, 1e-15);
  EXPECT_NEAR(value(PeakShape::kGaussian, 5, 5, 4, 0), 0.93943727869965133 / 4, 1e-15);
  EXPECT_NEAR(value(PeakShape::kLorentzian, 0, 0, 1, 0), 0.63661977236758134, 1e-15);
  EXPECT_NEAR(value(PeakShape::kPseudoVoigt, 0, 0, 1, 0.25), 0.25 * 0.63661977236758134 + 0.75 * 0.93943727869965133,
              1e-15);
  // Symmetric about the centre.
  EXPECT_DOUBLE_EQ(value(PeakShape::kLorentzian, 3.3, 3.0, 0.7, 0), value(PeakShape::kLorentzian, 2.7, 3.0, 0.7, 0));
}

TEST(Peaks, NamesAndRefusedParameters) {
  EXPECT_EQ(peak_shape_named("gaussian"), PeakShape::kGaussian);
  EXPECT_EQ(peak_shape_named("Lorentzian"), PeakShape::kLorentzian);
  EXPECT_EQ(peak_shape_named("PSEUDO-VOIGT"), PeakShape::kPseudoVoigt);
  testing::internal::CaptureStdout();  // an unknown name is no reason to print
  EXPECT_EQ(peak_shape_named("voigt"), std::nullopt);
  EXPECT_EQ(peak_shape_named(""), std::nullopt);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  const std::vector<double> x = {0, 1};
  struct Bad {
    PeakOptions options;
    ErrorKind kind;
    const char* words;
  };
  const char* width = "the full width at half maximum must be a positive number, not ";
  const char* eta = "eta, the Lorentzian share, must lie between 0 and 1, not ";
  const char* height = "is so small that the peak's height is beyond the double range";
  const Bad bad[] = {
      {{PeakShape::kGaussian, 0, 0.0, 0}, ErrorKind::kInvalidArgument, width},
      {{PeakShape::kLorentzian, 0, -1.0, 0}, ErrorKind::kInvalidArgument, width},
      {{PeakShape::kGaussian, 0, NAN, 0}, ErrorKind::kInvalidArgument, width},
      {{PeakShape::kGaussian, 0, INFINITY, 0}, ErrorKind::kInvalidArgument, width},
      {{PeakShape::kPseudoVoigt, 0, 1, 1.5}, ErrorKind::kInvalidArgument, eta},
      {{PeakShape::kPseudoVoigt, 0, 1, -0.1}, ErrorKind::kInvalidArgument, eta},
      {{PeakShape::kPseudoVoigt, 0, 1, NAN}, ErrorKind::kInvalidArgument, eta},
      {{PeakShape::kGaussian, INFINITY, 1, 0},
       ErrorKind::kInvalidArgument,
       "the centre must be a finite number, not inf"},
      // Widths whose peak height is beyond the double range.
      {{PeakShape::kGaussian, 0, 1e-320, 0}, ErrorKind::kOutOfRange, height},
      {{PeakShape::kLorentzian, 0, 1e-309, 0}, ErrorKind::kOutOfRange, height},
      {{PeakShape::kPseudoVoigt, 0, 4e-324, 0.5}, ErrorKind::kOutOfRange, height},
  };
  for (const Bad& b : bad) {
    const Result<std::vector<double>> r = peak(x, b.options);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.kind(), b.kind) << r.error().message;
    EXPECT_NE(r.error().message.find(b.words), std::string::npos) << r.error().message;
  }
  // eta is the pseudo-Voigt's alone.
  EXPECT_TRUE(peak(x, {PeakShape::kGaussian, 0, 1, 7.0}).ok());
}

// Unit area makes height times width the same for every width: widths near
// the ends of the double range give the height of width 1 scaled, finite,
// and half of it half a width away, never 0, inf or NaN.
TEST(Peaks, WidthsNearTheEndsOfTheDoubleRange) {
  for (const PeakShape shape : {PeakShape::kGaussian, PeakShape::kLorentzian, PeakShape::kPseudoVoigt}) {
    const double unit_height = value(shape, 0, 0, 1, 0.5);
    for (const double w : {1e-300, 1e-307, 1e300, 1e308}) {
      const std::vector<double> x = {0, w / 2, -w / 2, 1e308, -1e308};
      const Result<std::vector<double>> res = peak(x, {shape, 0, w, 0.5});
      ASSERT_TRUE(res.ok()) << peak_shape_name(shape) << " W " << w << ": " << res.error().message;
      const std::vector<double>& y = *res;
      for (const double v : y) EXPECT_TRUE(std::isfinite(v) && v >= 0) << peak_shape_name(shape) << " W " << w;
      EXPECT_NEAR(y[0] * w / unit_height, 1.0, 1e-12) << peak_shape_name(shape) << " W " << w;
      EXPECT_NEAR(y[1] / y[0], 0.5, 1e-12) << peak_shape_name(shape) << " W " << w;
      EXPECT_NEAR(y[2] / y[0], 0.5, 1e-12) << peak_shape_name(shape) << " W " << w;
    }
  }
}

}  // namespace
}  // namespace talvo
