// Bounded Levenberg-Marquardt against closed forms: the straight line's
// normal equations, a curved valley, bounds that hold (the differences too), a
// pair of parameters the residuals cannot tell apart, and the starts it must
// refuse.
#include "talvo/numeric/least_squares.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace talvo {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// y = a + b x at x = 0..9 with a fixed, uneven scatter.
struct Line {
  std::vector<double> x, y;
  Line() {
    const double scatter[] = {0.3, -0.2, 0.05, 0.4, -0.5, 0.1, -0.15, 0.25, -0.3, 0.2};
    for (int i = 0; i < 10; ++i) {
      x.push_back(i);
      y.push_back(1.5 + 0.7 * i + scatter[i]);
    }
  }
  ResidualFunction residuals() const {
    return [this](std::span<const double> p, std::span<double> r) -> Outcome {
      for (std::size_t i = 0; i < x.size(); ++i) r[i] = p[0] + p[1] * x[i] - y[i];
      return Done{};
    };
  }
};

TEST(LeastSquares, StraightLineMatchesTheNormalEquations) {
  const Line line;
  // The textbook regression: b = Sxy / Sxx, a = ybar - b xbar, var(b) = s^2 / Sxx,
  // var(a) = s^2 (1/n + xbar^2 / Sxx), cov(a, b) = -xbar s^2 / Sxx, s^2 = SSR / (n - 2).
  const double n = 10.0;
  double xbar = 0.0, ybar = 0.0;
  for (std::size_t i = 0; i < 10; ++i) {
    xbar += line.x[i] / n;
    ybar += line.y[i] / n;
  }
  double sxx = 0.0, sxy = 0.0;
  for (std::size_t i = 0; i < 10; ++i) {
    sxx += (line.x[i] - xbar) * (line.x[i] - xbar);
    sxy += (line.x[i] - xbar) * (line.y[i] - ybar);
  }
  const double b = sxy / sxx, a = ybar - b * xbar;
  double ssr = 0.0;
  for (std::size_t i = 0; i < 10; ++i) ssr += std::pow(line.y[i] - a - b * line.x[i], 2);
  const double s2 = ssr / (n - 2.0);

  struct Case {
    bool scale;
    double variance;
  };
  for (const Case c : {Case{true, s2}, Case{false, 1.0}}) {
    LeastSquaresOptions o;
    o.scale_covariance = c.scale;
    const std::vector<double> start{-20.0, 30.0};
    const Result<LeastSquaresFit> f = least_squares(line.residuals(), start, 10, o);
    ASSERT_TRUE(f.ok()) << f.error().message;
    EXPECT_TRUE(f->converged);
    EXPECT_NEAR(f->p[0], a, 1e-7);
    EXPECT_NEAR(f->p[1], b, 1e-8);
    EXPECT_NEAR(f->cost, 0.5 * ssr, 1e-10);
    EXPECT_NEAR(f->residual_variance, c.variance, 1e-10);
    EXPECT_NEAR(f->sigma[0], std::sqrt(c.variance * (1.0 / n + xbar * xbar / sxx)), 1e-6 * f->sigma[0]);
    EXPECT_NEAR(f->sigma[1], std::sqrt(c.variance / sxx), 1e-6 * f->sigma[1]);
    EXPECT_NEAR(f->covariance[1], -xbar * c.variance / sxx, 1e-6 * std::abs(f->covariance[1]));
    EXPECT_EQ(f->covariance[1], f->covariance[2]);
    EXPECT_GT(f->initial_cost, f->cost);
  }
}

TEST(LeastSquares, FindsTheValleyFloorFromAfar) {
  // Rosenbrock's valley as residuals: 10 (p1 - p0^2), 1 - p0; its floor is (1, 1), cost 0.
  const ResidualFunction rosen = [](std::span<const double> p, std::span<double> r) -> Outcome {
    r[0] = 10.0 * (p[1] - p[0] * p[0]);
    r[1] = 1.0 - p[0];
    return Done{};
  };
  const std::vector<double> start{-1.2, 1.0};
  const Result<LeastSquaresFit> f = least_squares(rosen, start, 2);
  ASSERT_TRUE(f.ok());
  EXPECT_NEAR(f->p[0], 1.0, 1e-6);
  EXPECT_NEAR(f->p[1], 1.0, 1e-6);
  EXPECT_LT(f->cost, 1e-12);
  EXPECT_LT(f->evaluations, 500);

  // An exponential decay, noise-free, found from a start a factor of 5 off.
  std::vector<double> t, y;
  for (int i = 0; i < 30; ++i) {
    t.push_back(0.2 * i);
    y.push_back(4.0 * std::exp(-1.3 * t.back()) + 0.5);
  }
  const ResidualFunction decay = [&](std::span<const double> p, std::span<double> r) -> Outcome {
    for (std::size_t i = 0; i < t.size(); ++i) r[i] = p[0] * std::exp(-p[1] * t[i]) + p[2] - y[i];
    return Done{};
  };
  const std::vector<double> start2{1.0, 6.0, 0.0};
  const Result<LeastSquaresFit> g = least_squares(decay, start2, t.size());
  ASSERT_TRUE(g.ok());
  EXPECT_NEAR(g->p[0], 4.0, 1e-7);
  EXPECT_NEAR(g->p[1], 1.3, 1e-7);
  EXPECT_NEAR(g->p[2], 0.5, 1e-7);
}

TEST(LeastSquares, BoundsHoldAndTheRestIsRefitted) {
  const Line line;
  // The slope held at 0.5 (below its free value, about 0.7): the intercept is then ybar - 0.5 xbar.
  double ybar = 0.0;
  for (double v : line.y) ybar += v / 10.0;
  LeastSquaresOptions o;
  o.lower = {-kInf, -kInf};
  o.upper = {kInf, 0.5};
  const std::vector<double> start{0.0, 0.2};
  const Result<LeastSquaresFit> f = least_squares(line.residuals(), start, 10, o);
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(f->p[1], 0.5);
  EXPECT_TRUE(f->at_bound[1]);
  EXPECT_FALSE(f->at_bound[0]);
  EXPECT_EQ(f->sigma[1], 0.0);
  EXPECT_NEAR(f->p[0], ybar - 0.5 * 4.5, 1e-7);
  // With one parameter free, var(a) = s^2 / n.
  EXPECT_NEAR(f->sigma[0], std::sqrt(f->residual_variance / 10.0), 1e-6 * f->sigma[0]);
  EXPECT_NEAR(f->residual_variance, 2.0 * f->cost / 9.0, 1e-12);

  // A bound the optimum does not reach changes nothing.
  o.upper = {kInf, 5.0};
  const Result<LeastSquaresFit> g = least_squares(line.residuals(), start, 10, o);
  ASSERT_TRUE(g.ok());
  EXPECT_FALSE(g->at_bound[1]);
  EXPECT_GT(g->sigma[1], 0.0);
}

TEST(LeastSquares, ParametersTheResidualsCannotTellApart) {
  // Only the sum p0 + p1 is measured: the fit reaches the valley, each sigma is infinite, a warning says so.
  const ResidualFunction sum = [](std::span<const double> p, std::span<double> r) -> Outcome {
    r[0] = p[0] + p[1] - 3.0;
    r[1] = 2.0 * (p[0] + p[1] - 3.0) + 0.1;
    r[2] = p[2] - 1.0;
    return Done{};
  };
  const std::vector<double> start{0.0, 0.0, 0.0};
  const Result<LeastSquaresFit> f = least_squares(sum, start, 3);
  ASSERT_TRUE(f.ok());
  EXPECT_NEAR(f->p[0] + f->p[1], 3.0 - 0.2 / 5.0, 1e-7);
  EXPECT_TRUE(std::isinf(f->sigma[0]));
  EXPECT_TRUE(std::isinf(f->sigma[1]));
  EXPECT_TRUE(std::isfinite(f->sigma[2]));
  ASSERT_EQ(f.warnings().size(), 1u);
  EXPECT_NE(f.warnings()[0].find("1, 2"), std::string::npos);
}

TEST(LeastSquares, AFailedTrialIsAStepRefused) {
  // The residuals cannot be computed beyond p = 2; the optimum of (p - 1.5)^2 is inside.
  const ResidualFunction guarded = [](std::span<const double> p, std::span<double> r) -> Outcome {
    if (p[0] > 2.0) return make_error(ErrorKind::kOutOfRange, "no value beyond 2");
    r[0] = 30.0 * (p[0] - 1.5);
    r[1] = p[0] - 1.5;
    return Done{};
  };
  const std::vector<double> start{-40.0};
  const Result<LeastSquaresFit> f = least_squares(guarded, start, 2);
  ASSERT_TRUE(f.ok());
  EXPECT_NEAR(f->p[0], 1.5, 1e-8);
  // At the start, the function's own error is the answer.
  const std::vector<double> beyond{3.0};
  const Result<LeastSquaresFit> g = least_squares(guarded, beyond, 2);
  ASSERT_FALSE(g.ok());
  EXPECT_EQ(g.kind(), ErrorKind::kOutOfRange);
  EXPECT_EQ(g.error().message, "no value beyond 2");
}

TEST(LeastSquares, DifferencesStayWithinTheBounds) {
  // The slope cannot be computed outside its bounds (as a width below 0 cannot): held there, fixed at the
  // edge of what can be computed or kept in a range narrower than a difference step, it is never tried
  // outside, and the intercept is refitted as ybar - slope xbar.
  const Line line;
  double ybar = 0.0;
  for (double v : line.y) ybar += v / 10.0;
  struct Case {
    double lower, upper, start;
  };
  for (const Case c : {Case{0.0, 0.0, 0.0}, Case{0.5, 0.5, 0.5}, Case{0.5, 0.5 + 1e-12, 0.5 + 1e-12}}) {
    bool outside = false;
    const ResidualFunction guarded = [&](std::span<const double> p, std::span<double> r) -> Outcome {
      if (p[1] < c.lower || p[1] > c.upper) {
        outside = true;
        return make_error(ErrorKind::kOutOfRange, "no value outside the bounds");
      }
      for (std::size_t i = 0; i < line.x.size(); ++i) r[i] = p[0] + p[1] * line.x[i] - line.y[i];
      return Done{};
    };
    LeastSquaresOptions o;
    o.lower = {-kInf, c.lower};
    o.upper = {kInf, c.upper};
    const std::vector<double> start{0.0, c.start};
    const Result<LeastSquaresFit> f = least_squares(guarded, start, 10, o);
    ASSERT_TRUE(f.ok()) << c.upper << ": " << f.error().message;
    EXPECT_FALSE(outside) << c.upper;
    EXPECT_TRUE(f->converged);
    EXPECT_GE(f->p[1], c.lower);
    EXPECT_LE(f->p[1], c.upper);
    EXPECT_NEAR(f->p[0], ybar - f->p[1] * 4.5, 1e-7) << c.upper;
  }
}

TEST(LeastSquares, RefusesWhatCannotBeFitted) {
  const Line line;
  const ResidualFunction nan_residuals = [](std::span<const double>, std::span<double> r) -> Outcome {
    r[0] = std::nan("");
    return Done{};
  };
  struct Case {
    std::vector<double> start, lower, upper;
    std::size_t m;
    bool nan;
  };
  const Case cases[] = {
      {{}, {}, {}, 10, false},                          // nothing to fit
      {{0.0, 0.0}, {0.0}, {}, 10, false},               // one bound for two parameters
      {{0.0, 0.0}, {0.0, 1.0}, {1.0, 0.0}, 10, false},  // lower above upper
      {{2.0, 0.0}, {0.0, 0.0}, {1.0, 1.0}, 10, false},  // starts outside
      {{0.0, std::nan("")}, {}, {}, 10, false},         // not a number
      {{0.0, 0.0}, {}, {}, 1, false},                   // fewer residuals than parameters
      {{0.0}, {}, {}, 1, true},                         // a residual that is not a number
  };
  for (const Case& c : cases) {
    LeastSquaresOptions o;
    o.lower = c.lower;
    o.upper = c.upper;
    const Result<LeastSquaresFit> f = least_squares(c.nan ? nan_residuals : line.residuals(), c.start, c.m, o);
    ASSERT_FALSE(f.ok()) << c.start.size();
    EXPECT_EQ(f.kind(), ErrorKind::kInvalidArgument);
  }
}

}  // namespace
}  // namespace talvo
