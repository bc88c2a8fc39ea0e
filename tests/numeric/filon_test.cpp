#include "talvo/numeric/filon.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace talvo {
namespace {

struct Grid {
  std::vector<double> x, f;
};

template <typename F>
Grid tabulate(double from, double to, int n, F fn) {
  Grid g;
  const double h = (to - from) / (n - 1);
  for (int i = 0; i < n; ++i) {
    g.x.push_back(from + i * h);
    g.f.push_back(fn(g.x.back()));
  }
  return g;
}

double integral(const Grid& g, double k) {
  double v = 0;
  EXPECT_TRUE(filon_integral(g.x, g.f, g.x[1] - g.x[0], k, v).ok());
  return v;
}

TEST(Filon, WeightsSimpsonAtZeroAndContinuousAcrossTheSeriesThreshold) {
  const FilonWeights w0 = filon_abc(0.0);
  EXPECT_EQ(w0.alpha, 0.0);
  EXPECT_DOUBLE_EQ(w0.beta, 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(w0.gamma, 4.0 / 3.0);
  const double below = std::nextafter(kFilonSeriesTheta, 0.0);
  const FilonWeights s = filon_abc(below), c = filon_abc(kFilonSeriesTheta);
  EXPECT_NEAR(s.alpha, c.alpha, 1e-13);
  EXPECT_NEAR(s.beta, c.beta, 1e-13);
  EXPECT_NEAR(s.gamma, c.gamma, 1e-13);
  // Far below the threshold the series keeps the weights exact where the closed forms would fail.
  const FilonWeights t = filon_abc(1e-6);
  EXPECT_NEAR(t.beta, 2.0 / 3 + 2e-12 / 15, 1e-16);
  EXPECT_NEAR(t.gamma, 4.0 / 3 - 2e-12 / 15, 1e-16);
  EXPECT_NEAR(t.alpha, 2e-18 / 45, 1e-30);
}

TEST(Filon, AgainstClosedForms) {
  EXPECT_EQ(integral(tabulate(0, 3, 31, [](double) { return 1.0; }), 0.0), 0.0);
  EXPECT_NEAR(integral(tabulate(0, M_PI, 101, [](double) { return 1.0; }), 1.0), 2.0, 1e-12);
  const double L = 2.0;
  const Grid sq = tabulate(0, L, 2001, [](double x) { return x * x; });
  const Grid ex = tabulate(0, L, 2001, [](double x) { return std::exp(-x); });
  // A coarse grid: at k = 500 sin(kx) turns about eight times per step.
  const Grid coarse = tabulate(0, L, 21, [](double x) { return x * x; });
  for (double k : {0.1, 1.0, 7.5, 50.0, 200.0, 500.0}) {
    // x^2 sin kx: exact for Filon's per-panel quadratic.
    const double c = std::cos(k * L), s = std::sin(k * L);
    const double sq_exact = -L * L * c / k + 2 * L * s / (k * k) + 2 * (c - 1) / (k * k * k);
    EXPECT_NEAR(integral(sq, k), sq_exact, 1e-10 * std::max(1.0, std::fabs(sq_exact))) << k;
    EXPECT_NEAR(integral(coarse, k), sq_exact, 1e-10 * std::max(1.0, std::fabs(sq_exact))) << k;
    // exp(-x) sin kx
    const double ex_exact = (k - std::exp(-L) * (s + k * c)) / (1 + k * k);
    EXPECT_NEAR(integral(ex, k), ex_exact, 1e-9) << k;
  }
}

TEST(Filon, RefusesGridsItCannotIntegrate) {
  double v = 0;
  const std::vector<double> two = {0, 1}, four = {0, 1, 2, 3};
  EXPECT_EQ(filon_integral(two, two, 1, 1, v).ierr, 1);
  EXPECT_EQ(filon_integral(four, four, 1, 1, v).ierr, 2);
  EXPECT_EQ(filon_integral(four, two, 1, 1, v).ierr, 3);
  std::vector<double> x = {0, 1}, f = {1, 1}, r(1);
  const std::vector<double> k = {1.0};
  EXPECT_EQ(filon_ft(x, f, k, r).ierr, 1);
  EXPECT_EQ(x.size(), 2u);
}

TEST(Filon, EvenGridIsExtendedForTheCaller) {
  Grid g = tabulate(0, 9.9, 100, [](double x) { return std::exp(-0.1 * x); });
  const double h = g.x[1] - g.x[0];
  std::vector<double> k = {0.5, 3.0}, r(2);
  ASSERT_TRUE(filon_ft(g.x, g.f, k, r).ok());
  ASSERT_EQ(g.x.size(), 101u);
  EXPECT_DOUBLE_EQ(g.x[100], g.x[99] + h);
  EXPECT_EQ(g.f[100], 0.0);
  for (std::size_t m = 0; m < k.size(); ++m) EXPECT_EQ(r[m], static_cast<float>(integral(g, k[m])));
}

// The recurrence along the grid against the direct sines, over a battery of
// grids and k values: equal after rounding to single precision, or one unit
// in its last place apart.
TEST(Filon, TransformMatchesDirectEvaluation) {
  int checked = 0;
  for (int n : {3, 5, 101, 1001, 4001})
    for (double to : {1.0, 30.0, 600.0}) {
      Grid g = tabulate(0.05, to, n, [](double x) { return std::exp(-0.01 * x) * std::cos(0.3 * x) + 0.2; });
      std::vector<double> k;
      for (int m = 0; m < 60; ++m) k.push_back(m * 0.37 + 0.013 * m * m);
      std::vector<double> r(k.size());
      ASSERT_TRUE(filon_ft(g.x, g.f, k, r).ok());
      for (std::size_t m = 0; m < k.size(); ++m) {
        const float direct = static_cast<float>(integral(g, k[m]));
        const float got = static_cast<float>(r[m]);
        EXPECT_TRUE(got == direct || std::nextafter(got, direct) == direct)
            << "n " << n << " k " << k[m] << ": " << got << " vs " << direct;
        ++checked;
      }
    }
  EXPECT_EQ(checked, 900);
}

}  // namespace
}  // namespace talvo
