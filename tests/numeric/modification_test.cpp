#include "talvo/numeric/modification.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace talvo {
namespace {

// The windows by name, each checked against its formula at one Q.
TEST(Modification, WindowsByName) {
  for (Window w :
       {Window::kLorch, Window::kStep, Window::kQuadratic, Window::kGaussian, Window::kSphere, Window::kNone})
    EXPECT_EQ(window_named(window_name(w)), w);
  EXPECT_EQ(window_named("Lorch"), Window::kLorch);
  testing::internal::CaptureStdout();  // an unknown name is no reason to print
  EXPECT_EQ(window_named("hann"), std::nullopt);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(window_name(Window::kQuadratic), "quadratic");

  const std::vector<double> q = {0.5, 2.0, 6.0, 10.0, 14.0};
  const double qmax = 6.0, x = M_PI * 2.0 / qmax;
  struct Case {
    Window window;
    double p1, expected_at_2;
  };
  const Case cases[] = {
      {Window::kLorch, 0, std::sin(x) / x},
      {Window::kStep, 0, 1.0},
      {Window::kQuadratic, 0, 2.0 / 3.0},
      {Window::kGaussian, 0.3, std::exp(-0.09 * 4.0)},
      {Window::kSphere, 3, 3 * (std::sin(x) - x * std::cos(x)) / (x * x * x)},
      {Window::kNone, 0, 1.0},
  };
  for (const Case& c : cases) {
    const Result<std::vector<double>> r = modification(q, c.window, qmax, {c.p1, 0.0, false});
    ASSERT_TRUE(r.ok()) << window_name(c.window) << ": " << r.error().message;
    EXPECT_TRUE(r.warnings().empty());
    ASSERT_EQ(r->size(), q.size());
    EXPECT_NEAR((*r)[1], c.expected_at_2, 1e-15) << window_name(c.window);
    // Past Qmax only "none" is still 1.
    EXPECT_EQ((*r)[3], c.window == Window::kNone ? 1.0 : 0.0) << window_name(c.window);
    EXPECT_EQ((*r)[4], c.window == Window::kNone ? 1.0 : 0.0) << window_name(c.window);
  }
  const Result<std::vector<double>> bins = modification(q, Window::kStep, 4.0, {0, 0, true});
  ASSERT_TRUE(bins.ok());
  EXPECT_EQ(*bins, (std::vector<double>{1, 1, 0, 0}));  // centres 1.25, 4, 8, 12
  EXPECT_EQ(*modification(q, Window::kNone, 0.0, {0, 0, true}), (std::vector<double>{1, 1, 1, 1}));
}

// Every refusal: its kind, and words that name what was wrong and quote the
// value; no routine name in front of them.
TEST(Modification, RefusalsByKindWithWholeMessages) {
  const std::vector<double> q = {0.0, 1.0, 2.0, 3.0};
  const double nan = NAN, inf = INFINITY;
  struct Case {
    const char* what;
    std::vector<double> q;
    Window window;
    double qmax, p1, p2;
    bool histogram;
    ErrorKind kind;
    const char* words;
  };
  const Case cases[] = {
      {"one point",
       {1.0},
       Window::kLorch,
       1.0,
       0,
       0,
       false,
       ErrorKind::kInvalidArgument,
       "too few Q values for the grid: point data need at least 2, not 1"},
      {"two edges",
       {1.0, 2.0},
       Window::kLorch,
       2.0,
       0,
       0,
       true,
       ErrorKind::kInvalidArgument,
       "histogram data need at least 3 bin edges, not 2"},
      {"no Q", {}, Window::kStep, 1.0, 0, 0, false, ErrorKind::kInvalidArgument, "not 0"},
      {"Q -1e300",
       {0.0, -1e300, 2.0},
       Window::kQuadratic,
       2.0,
       0,
       0,
       false,
       ErrorKind::kInvalidArgument,
       "Q must be a finite number at or above 0: Q(2) = -1e+300"},
      {"Q -0.5 with no window",
       {-0.5, 1.0, 2.0},
       Window::kNone,
       2.0,
       0,
       0,
       false,
       ErrorKind::kInvalidArgument,
       "Q(1) = -0.5"},
      {"Q NaN", {0.0, 1.0, nan}, Window::kLorch, 2.0, 0, 0, false, ErrorKind::kInvalidArgument, "Q(3) = nan"},
      {"Q inf", {inf, 1.0, 2.0}, Window::kGaussian, 2.0, 0.1, 0, true, ErrorKind::kInvalidArgument, "Q(1) = inf"},
      {"Qmax 0", q, Window::kLorch, 0.0, 0, 0, false, ErrorKind::kInvalidArgument,
       "Qmax must be a finite number above 0, not 0"},
      {"Qmax NaN", q, Window::kLorch, nan, 0, 0, false, ErrorKind::kInvalidArgument, "not nan"},
      {"Qmax inf", q, Window::kStep, inf, 0, 0, false, ErrorKind::kInvalidArgument, "not inf"},
      {"Qmax beyond", q, Window::kLorch, 4.5, 0, 0, false, ErrorKind::kInvalidArgument,
       "Qmax = 4.5 lies more than one step beyond the last Q: at most 4"},
      {"Qmax tiny", q, Window::kLorch, 1e-320, 0, 0, false, ErrorKind::kOutOfRange,
       "pi / Qmax passes the double range"},
      {"Gaussian p1 0", q, Window::kGaussian, 3.0, 0.0, 0, false, ErrorKind::kInvalidArgument, "not p1 = 0"},
      {"Gaussian p1 1e200", q, Window::kGaussian, 3.0, 1e200, 0, false, ErrorKind::kInvalidArgument,
       "the Gaussian window needs a p1 whose square is a finite number above 0, not p1 = 1e+200"},
      {"sphere p1 0.4", q, Window::kSphere, 3.0, 0.4, 0, false, ErrorKind::kInvalidArgument,
       "the sphere window's p1, its sub-option, must round to 1, 2 or 3, not p1 = 0.4"},
      {"sphere p1 3.5", q, Window::kSphere, 3.0, 3.5, 0, false, ErrorKind::kInvalidArgument, "not p1 = 3.5"},
      {"sphere p2 0", q, Window::kSphere, 3.0, 2.0, 0.0, false, ErrorKind::kInvalidArgument,
       "sub-option 2 needs a scale p2 above 0 with p2 Qmax finite, not p2 = 0"},
      {"sphere p2 1e308", q, Window::kSphere, 3.0, 2.0, 1e308, false, ErrorKind::kInvalidArgument, "p2 = 1e+308"},
      {"window 17", q, static_cast<Window>(17), 3.0, 0, 0, false, ErrorKind::kInvalidArgument, "unknown window"},
  };
  for (const Case& c : cases) {
    const Result<std::vector<double>> r = modification(c.q, c.window, c.qmax, {c.p1, c.p2, c.histogram});
    ASSERT_FALSE(r.ok()) << c.what;
    EXPECT_EQ(r.kind(), c.kind) << c.what;
    EXPECT_NE(r.error().message.find(c.words), std::string::npos) << c.what << ": " << r.error().message;
    EXPECT_EQ(r.error().message.find("moq"), std::string::npos) << c.what << ": " << r.error().message;
  }
  // The edges of the domain are taken: Q = 0 and -0, the largest finite Q, Qmax one step beyond.
  EXPECT_TRUE(modification(std::vector<double>{-0.0, 1.0, 2.0}, Window::kQuadratic, 2.0).ok());
  EXPECT_TRUE(modification(std::vector<double>{0.0, 1.0, 1.7976931348623157e308}, Window::kLorch, 2.0).ok());
  EXPECT_TRUE(modification(q, Window::kLorch, 4.0).ok());
}

// The sphere window of sub-option 1 has its first zero at Qmax: the root of
// tan x = x, here against the bisection of sin x - x cos x on (4.4, 4.6).
// Qmax^2 beyond the double range (or below its normal numbers) must not
// turn the quadratic window into inf / inf: its values are those of t = Q / Qmax.
TEST(Modification, QuadraticWindowAtExtremeQmax) {
  for (const double qmax : {1e200, 1e-160}) {
    const std::vector<double> q = {0.0, qmax / 6.0, qmax / 2.0, qmax};
    const Result<std::vector<double>> m = modification(q, Window::kQuadratic, qmax);
    ASSERT_TRUE(m.ok()) << m.error().message;
    // 1 - 3 t^2 below t = 1/3, 1.5 (1 - t)^2 above: 1, 11/12, 3/8 and 0.
    EXPECT_DOUBLE_EQ((*m)[0], 1.0) << qmax;
    EXPECT_DOUBLE_EQ((*m)[1], 11.0 / 12.0) << qmax;
    EXPECT_DOUBLE_EQ((*m)[2], 0.375) << qmax;
    EXPECT_NEAR((*m)[3], 0.0, 1e-15) << qmax;
  }
}

TEST(Modification, SphereRootAgainstBisection) {
  double lo = 4.4, hi = 4.6;
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (lo + hi);
    (std::sin(mid) - mid * std::cos(mid) > 0 ? lo : hi) = mid;  // positive below the root
  }
  EXPECT_NEAR(tan_x_root(), lo, 4e-15);
  const Result<std::vector<double>> m = modification(std::vector<double>{0.0, 5.0, 10.0}, Window::kSphere, 10.0, {1.0});
  ASSERT_TRUE(m.ok());
  EXPECT_NEAR((*m)[2], 0.0, 1e-15);
}

}  // namespace
}  // namespace talvo
