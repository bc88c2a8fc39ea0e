// The reduction's self-checks on curves made here: each symptom measured by
// hand, and told in words only past its level.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "talvo/pdf/diagnostics.hpp"

namespace talvo::pdf {
namespace {

constexpr double kPi = std::numbers::pi;

struct Curves {
  std::vector<double> q, s, sigma, f2, fm2, r, g;
  double rho0 = 0.08;
  // S = 1 + 0.3 sin(3 Q) on Q = 0.5 .. 10.5 by 0.01, floor 1 - 2 = -1; G on its line to 3 A.
  Curves() {
    for (int i = 0; i <= 1000; ++i) {
      q.push_back(0.5 + 0.01 * i);
      s.push_back(1.0 + 0.3 * std::sin(3.0 * q.back()));
      sigma.push_back(0.02);
      f2.push_back(2.0);
      fm2.push_back(1.0);
    }
    for (int j = 0; j <= 300; ++j) {
      r.push_back(0.01 * j);
      g.push_back(-4.0 * kPi * rho0 * r.back());
    }
  }
  Result<Diagnostics> run(const DiagnosticOptions& o = {}) const {
    return diagnose(q, s, sigma, f2, fm2, r, g, rho0, o);
  }
};

bool mentions(const Diagnostics& d, const std::string& words) {
  for (const std::string& w : d.warnings)
    if (w.find(words) != std::string::npos) return true;
  return false;
}

TEST(PdfDiagnostics, ACleanReductionIsMeasuredAndSaysNothing) {
  const Curves c;
  const Result<Diagnostics> d = c.run();
  ASSERT_TRUE(d.ok());
  // The top fifth: Q from 8.5 to 10.5, 201 points; the mean of 0.3 sin(3Q) there by its integral.
  EXPECT_NEAR(d->high_q_from, 8.5, 1e-12);
  const double integral = 0.3 * (std::cos(3.0 * 8.5) - std::cos(3.0 * 10.5)) / 3.0 / 2.0;
  EXPECT_NEAR(d->high_q_mean, 1.0 + integral, 2e-3);
  EXPECT_NEAR(d->high_q_sigma, 0.02 / std::sqrt(201.0), 1e-12);
  // Smoothed over +-0.1 (21 points), the sine's trough 0.3 is lowered by sin(0.3) / 0.3.
  EXPECT_NEAR(d->lowest_smoothed, 1.0 - 0.3 * std::sin(0.3) / 0.3, 2e-3);
  EXPECT_NEAR(std::sin(3.0 * d->lowest_at), -1.0, 1e-3);
  EXPECT_EQ(d->floor_there, -1.0);
  ASSERT_TRUE(d->low_r_rms);
  EXPECT_NEAR(*d->low_r_rms, 0.0, 1e-12);
  EXPECT_NEAR(d->low_r_level, 4.0 * kPi * 0.08 * 1.0, 1e-12);
  EXPECT_TRUE(d->warnings.empty());
}

TEST(PdfDiagnostics, EachSymptomPastItsLevelIsTold) {
  {  // S 8 % high over the top fifth.
    Curves c;
    for (std::size_t i = 0; i < c.q.size(); ++i)
      if (c.q[i] > 8.0) c.s[i] += 0.08;
    const Result<Diagnostics> d = c.run();
    ASSERT_TRUE(d.ok());
    EXPECT_TRUE(mentions(*d, "does not tend to 1"));
    EXPECT_EQ(d->warnings.size(), 1u);
  }
  {  // A dip to -1.5 over 0.4 1/A at Q = 3, below the floor of -1; one point at -3 elsewhere is smoothed away.
    Curves c;
    for (std::size_t i = 0; i < c.q.size(); ++i) {
      if (std::abs(c.q[i] - 3.0) < 0.2) c.s[i] = -1.5;
      if (std::abs(c.q[i] - 6.0) < 0.005) c.s[i] = -3.0;
    }
    const Result<Diagnostics> d = c.run();
    ASSERT_TRUE(d.ok());
    EXPECT_TRUE(mentions(*d, "below the floor"));
    EXPECT_NEAR(d->lowest_smoothed, -1.5, 1e-12);
    EXPECT_NEAR(d->lowest_at, 3.0, 0.11);

    Curves spike;
    for (std::size_t i = 0; i < spike.q.size(); ++i)
      if (std::abs(spike.q[i] - 6.0) < 0.005) spike.s[i] = -3.0;
    EXPECT_TRUE(spike.run()->warnings.empty());
  }
  {  // G 1.5 above its line below 1 A: above 4 pi rho0 x 1 A = 1.005; not with the level doubled.
    Curves c;
    for (std::size_t j = 0; j < c.r.size(); ++j)
      if (c.r[j] > 0.4 && c.r[j] < 1.2) c.g[j] += 1.5;
    const Result<Diagnostics> d = c.run();
    ASSERT_TRUE(d.ok());
    EXPECT_NEAR(*d->low_r_rms, 1.5, 1e-12);
    EXPECT_TRUE(mentions(*d, "-4 pi rho0 r"));
    DiagnosticOptions lenient;
    lenient.low_r_tolerance = 2.0;
    EXPECT_TRUE(c.run(lenient)->warnings.empty());
    // rmin-check beyond G's last r: nothing measured.
    DiagnosticOptions far;
    far.rmin_check = 5.0;
    EXPECT_FALSE(c.run(far)->low_r_rms);
  }
}

TEST(PdfDiagnostics, Refusals) {
  const Curves c;
  const std::vector<double> three{1.0, 2.0, 3.0};
  EXPECT_FALSE(diagnose(c.q, three, c.sigma, c.f2, c.fm2, c.r, c.g, c.rho0).ok());
  EXPECT_FALSE(diagnose(three, three, three, three, three, c.r, c.g, c.rho0).ok());
  DiagnosticOptions o;
  o.rmin_check = 0.4;
  EXPECT_FALSE(c.run(o).ok());
}

}  // namespace
}  // namespace talvo::pdf
