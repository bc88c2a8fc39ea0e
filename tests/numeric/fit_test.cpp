// The generic numerics the reduction shares: least-squares polynomials,
// linear interpolation with its error weights, the trapezoid rule.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "talvo/numeric/interpolate.hpp"
#include "talvo/numeric/polynomial_fit.hpp"
#include "talvo/numeric/quadrature.hpp"

namespace talvo {
namespace {

// A polynomial of its own basis is fitted back exactly, through 0 or not, at
// a degree where the monomials' normal equations would have lost every digit.
TEST(PolynomialFit, ExactForItsOwnDegree) {
  for (const bool through_zero : {true, false}) {
    std::vector<double> q, y;
    for (int i = 0; i <= 3000; ++i) {
      const double x = 0.3 + 0.005 * i;
      q.push_back(x);
      // Written in powers of x, not in the fit's Chebyshev basis.
      double p = through_zero ? 0.0 : 0.7, xk = 1.0;
      for (int k = 1; k <= 20; ++k) {
        xk *= x / 15.3;
        p += std::cos(1.3 * k) * xk;
      }
      y.push_back(p);
    }
    PolynomialBasis b;
    b.top = 15.3;
    b.degree = 20;
    b.through_zero = through_zero;
    const Result<std::vector<double>> fit = polynomial_fit(q, y, b, q);
    ASSERT_TRUE(fit.ok()) << fit.error().message;
    for (std::size_t i = 0; i < q.size(); i += 50) EXPECT_NEAR((*fit)[i], y[i], 1e-9) << through_zero;
    // Through zero, the fit is 0 at 0 wherever it was fitted.
    const std::vector<double> zero = {0.0};
    if (through_zero) {
      EXPECT_EQ((*polynomial_fit(q, y, b, zero))[0], 0.0);
    }
  }
}

// The least-squares line through noisy points is the textbook one.
TEST(PolynomialFit, LineIsTheTextbookRegression) {
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 0.3);
  std::vector<double> x, y;
  for (int i = 0; i < 200; ++i) {
    x.push_back(0.05 * i);
    y.push_back(2.0 - 0.5 * x.back() + noise(rng));
  }
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    sx += x[i];
    sy += y[i];
    sxx += x[i] * x[i];
    sxy += x[i] * y[i];
  }
  const double n = static_cast<double>(x.size());
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx), cut = (sy - slope * sx) / n;
  PolynomialBasis b;
  b.top = 10.0;
  b.degree = 1;
  const std::vector<double> at = {0.0, 4.0};
  const Result<std::vector<double>> fit = polynomial_fit(x, y, b, at);
  ASSERT_TRUE(fit.ok());
  EXPECT_NEAR((*fit)[0], cut, 1e-12);
  EXPECT_NEAR((*fit)[1], cut + 4.0 * slope, 1e-12);
}

TEST(PolynomialFit, UndeterminedFitsAreRefused) {
  const std::vector<double> x = {1, 2, 3, 4, 5, 6, 7, 8}, y(8, 1.0);
  PolynomialBasis b;
  b.top = 10.0;
  b.degree = 20;
  b.through_zero = true;
  Result<std::vector<double>> r = polynomial_fit(x, y, b, x);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.kind(), ErrorKind::kInvalidArgument);
  EXPECT_NE(r.error().message.find("needs more than 20 points"), std::string::npos) << r.error().message;
  // Many points at three distinct x cannot fix a cubic and more.
  std::vector<double> xs, ys;
  for (int i = 0; i < 30; ++i) {
    xs.push_back(1.0 + i % 3);
    ys.push_back(i % 3);
  }
  b.degree = 5;
  b.through_zero = false;
  r = polynomial_fit(xs, ys, b, xs);
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.error().message.find("singular"), std::string::npos) << r.error().message;
  b.degree = 0;
  b.through_zero = true;
  EXPECT_FALSE(polynomial_fit(x, y, b, x).ok());
}

// Interpolated values and errors, and the error of a sum that draws twice on
// one datum: the weights add before they are squared.
TEST(Interpolate, ValuesErrorsAndCorrelatedSums) {
  const std::vector<double> x = {0.0, 1.0, 3.0}, y = {1.0, 3.0, -1.0}, s = {0.1, 0.2, 0.4};
  const std::vector<double> xi = {-1.0, 0.25, 1.0, 2.0, 5.0};
  const Interpolated in = interpolate_linear(x, y, s, xi);
  const double want[] = {1.0, 1.5, 3.0, 1.0, -1.0};
  for (std::size_t i = 0; i < xi.size(); ++i) EXPECT_NEAR(in.y[i], want[i], 1e-15) << xi[i];
  EXPECT_NEAR(in.sigma[1], std::sqrt(0.75 * 0.75 * 0.01 + 0.25 * 0.25 * 0.04), 1e-15);
  EXPECT_NEAR(in.sigma[3], std::sqrt(0.25 * 0.04 + 0.25 * 0.16), 1e-15);
  // 1.0 + 2.0 both draw on the datum at x = 1: weights 1 and 0.5 add to 1.5.
  const std::vector<double> a = {0.0, 0.0, 1.0, 1.0, 0.0};
  EXPECT_NEAR(sigma_of_sum(in, a, s), std::sqrt(1.5 * 1.5 * 0.04 + 0.5 * 0.5 * 0.16), 1e-15);
}

TEST(Quadrature, TrapezoidOnUnequalSteps) {
  const std::vector<double> x = {0.0, 0.5, 2.0, 2.25}, y = {1.0, 3.0, 2.0, 0.0};
  const double want = 0.25 * 4.0 + 0.75 * 5.0 + 0.125 * 2.0;
  EXPECT_DOUBLE_EQ(trapezoid(x, y), want);
  const std::vector<double> w = trapezoid_weights(x);
  double sum = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) sum += w[i] * y[i];
  EXPECT_DOUBLE_EQ(sum, want);
  EXPECT_DOUBLE_EQ(w[0] + w[1] + w[2] + w[3], 2.25);
}

}  // namespace
}  // namespace talvo
