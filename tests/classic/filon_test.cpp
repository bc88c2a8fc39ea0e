#include "talvo/classic/filon.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "talvo/numeric/filon.hpp"

namespace talvo::classic {
namespace {

// The caller's arrays grow by the zero point x(n) + h when their length is
// even, and the results are the integrals over the grown grid, rounded to
// single precision.
TEST(ClassicFilonFt, EvenGridIsExtendedForTheCaller) {
  std::vector<double> x, f;
  for (int i = 0; i < 100; ++i) {
    x.push_back(0.1 * i);
    f.push_back(std::exp(-0.01 * i));
  }
  const double h = x[1] - x[0];
  const std::vector<double> k = {0.5, 3.0};
  std::vector<double> r(2);
  ASSERT_TRUE(filon_ft(x, f, k, r).ok());
  ASSERT_EQ(x.size(), 101u);
  ASSERT_EQ(f.size(), 101u);
  EXPECT_EQ(x[100], x[99] + h);
  EXPECT_EQ(f[100], 0.0);
  for (std::size_t m = 0; m < k.size(); ++m) {
    const Result<double> one = filon_integral(x, f, h, k[m]);
    ASSERT_TRUE(one.ok());
    EXPECT_EQ(r[m], static_cast<float>(*one));
  }
  // An odd grid stays as it is; results only as far as both k and result go.
  std::vector<double> longer(3, 7.0);
  ASSERT_TRUE(filon_ft(x, f, k, longer).ok());
  EXPECT_EQ(x.size(), 101u);
  EXPECT_EQ(longer[2], 7.0);
}

// Each refusal keeps its number; the arrays and the results stay as given.
TEST(ClassicFilonFt, RefusalsKeepTheirNumbers) {
  struct Case {
    const char* what;
    std::vector<double> x, f;
    int ierr;
    const char* words;
  };
  const Case cases[] = {
      {"two points", {0, 1}, {1, 1}, 1, "filon: at least 3 points are needed, not 2"},
      {"lengths", {0, 1, 2, 3}, {1, 1, 1}, 3, "filon: x and f hold different numbers of points (4 and 3)"},
      {"unequal", {0, 1, 2.5, 3}, {1, 1, 1, 1}, 4, "filon: x values are not equally spaced: x("},
      {"one x", {2, 2, 2, 2}, {1, 2, 3, 4}, 4, "filon: x values are not equally spaced: all 4 points are at x = 2"},
  };
  const std::vector<double> k = {0.0, 1.0};
  for (const Case& c : cases) {
    std::vector<double> x = c.x, f = c.f, r(2, 7.0);
    const Status s = filon_ft(x, f, k, r);
    EXPECT_EQ(s.ierr, c.ierr) << c.what;
    EXPECT_EQ(s.message.rfind(c.words, 0), 0u) << c.what << ": " << s.message;
    EXPECT_EQ(x, c.x) << c.what;
    EXPECT_EQ(f, c.f) << c.what;
    EXPECT_EQ(r, std::vector<double>(2, 7.0)) << c.what;
  }
}

// The classic routine is the modern transform in single precision, bit for
// bit, on odd grids and (once grown by its zero point) even ones, which the
// modern transform otherwise ends with its last step integrated exactly.
TEST(ClassicFilonFt, TheModernTransformInSinglePrecision) {
  std::mt19937_64 random(20261209);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 30; ++trial) {
    const auto n = static_cast<std::size_t>(3 + random() % 500);
    const double x0 = 10.0 * u(random), h = 0.001 + 0.05 * u(random);
    std::vector<double> x(n), f(n), k(1 + random() % 40);
    for (std::size_t i = 0; i < n; ++i) {
      x[i] = x0 + static_cast<double>(i) * h;
      f[i] = std::cos(2.0 * x[i]) + u(random);
    }
    for (double& km : k) km = 100.0 * u(random);
    FilonOptions zero_point;
    zero_point.even = EvenPoints::kZeroPoint;
    const Result<FilonTransform> modern = talvo::filon_ft(x, f, k, zero_point);
    ASSERT_TRUE(modern.ok());
    std::vector<double> got(k.size());
    ASSERT_TRUE(filon_ft(x, f, k, got).ok());
    EXPECT_EQ(got, modern->integral) << "n " << n;
    EXPECT_EQ(x.size(), n % 2 == 0 ? n + 1 : n);
  }
}

}  // namespace
}  // namespace talvo::classic
