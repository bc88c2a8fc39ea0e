#include "talvo/classic/moq.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <vector>

#include "talvo/numeric/modification.hpp"

namespace talvo::classic {
namespace {

std::vector<double> steps(double from, double to, double step) {
  std::vector<double> q;
  for (int i = 0; from + i * step <= to + step / 1000; ++i) q.push_back(from + i * step);
  return q;
}

Status run(const std::vector<double>& q, std::vector<double>& m, double qmax, int option, double p1 = 0,
           double p2 = 0) {
  std::ostringstream out;
  return moq(q, m, qmax, {p1, p2}, option, 0, out);
}

TEST(Moq, LorchOnAPointGrid) {
  const std::vector<double> q = steps(0.1, 30.0, 0.1);
  std::vector<double> m(q.size());
  ASSERT_TRUE(run(q, m, 30.0, 1).ok());
  const double x1 = M_PI * 0.1 / 30.0;
  EXPECT_DOUBLE_EQ(m[0], std::sin(x1) / x1);
  EXPECT_NEAR(m.back(), 0.0, 1e-12);  // sin(pi)/pi
  std::ostringstream out;
  ASSERT_TRUE(moq(q, m, 30.0, {0, 0}, 1, 1, out).ok());
  EXPECT_EQ(out.str().rfind(" moq: First point is M(Q)= 0.99998", 0), 0u);
}

TEST(Moq, ChecksInOrderLaterOverridingEarlier) {
  const std::vector<double> q = {1.0, 2.0, 3.0};
  std::vector<double> m(3, 7.0);
  EXPECT_TRUE(run(q, m, 4.0, 2).ok());  // exactly one step beyond the last Q
  EXPECT_EQ(run(q, m, std::nextafter(4.0, 5.0), 2).ierr, 1);
  EXPECT_EQ(run(q, m, 0.0, 2).message, "ERROR in moq: Unreasonable value of Qmax");
  EXPECT_EQ(run(q, m, 0.0, 6).message, "ERROR in moq: Unknown option for modification function");
  EXPECT_EQ(run(q, m, 3.0, 4, 0.0).ierr, 4);
  EXPECT_EQ(run(q, m, 3.0, 5, 0.4).message, "ERROR in moq: Unacceptable parameter value");
  EXPECT_EQ(run(q, m, 3.0, 5, 2.0, 0.0).ierr, 4);
  EXPECT_EQ(run(q, m, 3.0, 5, 3.5).ierr, 4);  // rounds to 4
  EXPECT_TRUE(run(q, m, 3.0, 5, 2.5).ok());   // rounds away from zero to 3
  EXPECT_TRUE(run(q, m, 3.0, 5, 1.0).ok());
  std::vector<double> wrong(5);
  EXPECT_EQ(run(q, wrong, 0.0, 9).message, "ERROR in moq: Data are neither point nor histogram");
  // Grids too short for the formulas are refused without reading beyond them.
  std::vector<double> one(1);
  EXPECT_EQ(run({1.0}, one, 1.0, 1).ierr, 5);
  std::vector<double> bin(1);
  EXPECT_EQ(run({1.0, 2.0}, bin, 2.0, 1).ierr, 5);
  std::vector<double> empty;
  EXPECT_EQ(run({}, empty, 1.0, 1).ierr, 5);
}

TEST(Moq, WindowShapes) {
  const double qmax = 9.0;
  const std::vector<double> q = {0.0, 3.0, 4.5, 9.0};
  std::vector<double> m(4);
  ASSERT_TRUE(run(q, m, qmax, 3).ok());
  EXPECT_DOUBLE_EQ(m[0], 1.0);
  EXPECT_NEAR(m[1], 2.0 / 3.0, 1e-15);                   // both branches meet at Qmax/3
  std::vector<double> below = {3.0 - 1e-9, 9.0}, mb(2);  // just inside the first branch
  ASSERT_TRUE(run(below, mb, qmax, 3).ok());
  EXPECT_NEAR(mb[0], 2.0 / 3.0, 1e-9);
  EXPECT_NEAR(m[3], 0.0, 1e-15);
  ASSERT_TRUE(run(q, m, qmax, 4, 0.5).ok());
  EXPECT_DOUBLE_EQ(m[2], std::exp(-0.25 * 4.5 * 4.5));
  ASSERT_TRUE(run(q, m, qmax, 5, 1.0).ok());  // first zero of the sphere transform at Qmax
  EXPECT_DOUBLE_EQ(m[0], 1.0);
  EXPECT_NEAR(m[3], 0.0, 1e-12);
  ASSERT_TRUE(run(q, m, qmax, 5, 2.0, 0.1).ok());
  const double x = 0.1 * 4.5;
  EXPECT_NEAR(m[2], 3 * (std::sin(x) - x * std::cos(x)) / (x * x * x), 1e-15);
  // Near x = 0 the sphere transform keeps its digits.
  std::vector<double> tiny = {1e-7, 1.0}, mt(2);
  ASSERT_TRUE(run(tiny, mt, 1.0, 5, 3.0).ok());
  EXPECT_NEAR(mt[0], 1.0 - std::pow(M_PI * 1e-7, 2) / 10, 1e-15);
}

TEST(Moq, WalkStopsAtQmax) {
  // Point data: a point exactly at Qmax is computed, the next one is 0.
  const std::vector<double> q = {1, 2, 3, 4, 5, 6};
  std::vector<double> m(6, 9.0);
  ASSERT_TRUE(run(q, m, 3.0, 2).ok());
  EXPECT_EQ(m, (std::vector<double>{1, 1, 1, 0, 0, 0}));
  ASSERT_TRUE(run(q, m, 3.5, 1).ok());
  const double x3 = M_PI * 3 / 3.5;
  EXPECT_DOUBLE_EQ(m[2], std::sin(x3) / x3);
  EXPECT_EQ(m[3], 0.0);  // Q = 4 is the first beyond Qmax: the window has closed
  EXPECT_EQ(m[4], 0.0);
  // Histogram data: centres 1.5 .. 5.5 plus an extra 6.5; a bin whose next centre lies beyond Qmax is the last.
  std::vector<double> h(5, 9.0);
  ASSERT_TRUE(run(q, h, 3.0, 2).ok());
  EXPECT_EQ(h, (std::vector<double>{1, 1, 0, 0, 0}));
  EXPECT_EQ(moq_effective_q(q, 5), (std::vector<double>{1.5, 2.5, 3.5, 4.5, 5.5, 6.5}));
}

// Every window, written out here from its definition, on grids in any order:
// M is the window at each Q up to Qmax and exactly 0 beyond it (where the
// Lorch, Gaussian and sphere windows are not 0 and the quadratic one rises
// again). Histogram data take the bin centres.
TEST(Moq, EveryWindowIsZeroBeyondQmaxPointByPoint) {
  const double qmax = 20.0, a = 0.05, c = 0.3;
  const double root = 4.493409457909064;  // the first positive root of tan x = x
  const auto sphere = [](double x) { return 3 * (std::sin(x) - x * std::cos(x)) / (x * x * x); };
  struct Case {
    int option;
    double p1, p2;
    std::function<double(double)> window;
  };
  const Case cases[] = {
      {1, 0, 0, [&](double q) { return std::sin(M_PI * q / qmax) / (M_PI * q / qmax); }},
      {2, 0, 0, [](double) { return 1.0; }},
      {3, 0, 0,
       [&](double q) {
         const double t = q / qmax;
         return t < 1.0 / 3 ? 1 - 3 * t * t : 1.5 * (1 - t) * (1 - t);
       }},
      {4, a, 0, [&](double q) { return std::exp(-a * a * q * q); }},
      {5, 1, 0, [&](double q) { return sphere(root * q / qmax); }},
      {5, 2, c, [&](double q) { return sphere(c * q); }},
      {5, 3, 0, [&](double q) { return sphere(M_PI * q / qmax); }},
  };
  // Unsorted, with points beyond Qmax before those inside it.
  const std::vector<double> q = {25.0, 10.0, 21.0, 0.5, 40.0, 19.0, 3.0, 20.0, 30.0};
  for (const Case& k : cases) {
    std::vector<double> m(q.size(), 9.0);
    ASSERT_TRUE(run(q, m, qmax, k.option, k.p1, k.p2).ok()) << "option " << k.option;
    for (std::size_t i = 0; i < q.size(); ++i) {
      if (q[i] > qmax)
        EXPECT_EQ(m[i], 0.0) << "option " << k.option << " p1 " << k.p1 << " Q " << q[i];
      else
        EXPECT_NEAR(m[i], k.window(q[i]), 1e-14) << "option " << k.option << " p1 " << k.p1 << " Q " << q[i];
    }
  }
  // Lorch at Q = 1 = Qmax / 2 after a Q beyond Qmax: 2 / pi, not 0.
  std::vector<double> four(4);
  ASSERT_TRUE(run({0.0, 3.0, 1.0, 2.0}, four, 2.0, 1).ok());
  EXPECT_EQ(four[0], 1.0);
  EXPECT_EQ(four[1], 0.0);
  EXPECT_NEAR(four[2], 2 / M_PI, 1e-15);
  EXPECT_NEAR(four[3], 0.0, 1e-15);
  // Histogram: edges 0, 19, 21, 30 have centres 9.5, 20, 25.5.
  std::vector<double> bins(3, 9.0);
  ASSERT_TRUE(run({0.0, 19.0, 21.0, 30.0}, bins, qmax, 4, a).ok());
  EXPECT_DOUBLE_EQ(bins[0], std::exp(-a * a * 9.5 * 9.5));
  EXPECT_DOUBLE_EQ(bins[1], std::exp(-a * a * 20 * 20));
  EXPECT_EQ(bins[2], 0.0);
}

// Parameters whose window would be NaN or infinite are refused; the largest
// that still give numbers give them.
TEST(Moq, ParametersThatCannotBeComputedAreRefused) {
  const std::vector<double> q = {0.0, 10.0, 20.0, 30.0};
  const double inf = INFINITY, nan = NAN;
  struct Case {
    double qmax;
    int option;
    double p1, p2;
    int ierr;
  };
  const Case cases[] = {
      {20, 4, 1e200, 0, 4},  {20, 4, nan, 0, 4},   {20, 4, inf, 0, 4},   {20, 4, -inf, 0, 4},
      {20, 4, 1e-200, 0, 4},  // p1^2 is 0
      {20, 5, nan, 0, 4},    {20, 5, inf, 0, 4},   {20, 5, 1e200, 0, 4}, {20, 5, -1e200, 0, 4},
      {20, 5, 2, nan, 4},    {20, 5, 2, inf, 4},   {20, 5, 2, 1e307, 4},  // p2 Qmax overflows
      {nan, 1, 0, 0, 1},     {inf, 2, 0, 0, 1},    {1e-320, 1, 0, 0, 1},  // pi / Qmax overflows
      {20, 4, 1e150, 0, 0},  {20, 5, 2, 1e300, 0}, {1e-300, 1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<double> m(q.size(), 9.0);
    const Status s = run(q, m, c.qmax, c.option, c.p1, c.p2);
    EXPECT_EQ(s.ierr, c.ierr) << "Qmax " << c.qmax << " option " << c.option << " p1 " << c.p1 << " p2 " << c.p2;
    if (c.ierr == 0)
      for (double v : m) EXPECT_TRUE(std::isfinite(v)) << "option " << c.option << " p1 " << c.p1;
    else
      EXPECT_EQ(m, std::vector<double>(q.size(), 0.0));
    // The named windows go the same way.
    if (c.option != 2 && c.option != 3) {
      const Window w = c.option == 1 ? Window::kLorch : c.option == 4 ? Window::kGaussian : Window::kSphere;
      const Result<std::vector<double>> r = modification(q, w, c.qmax, {c.p1, c.p2, false});
      EXPECT_EQ(r.ok(), c.ierr == 0) << "modification, option " << c.option << " p1 " << c.p1;
      if (r.ok()) {
        EXPECT_EQ(*r, m) << "modification, option " << c.option << " p1 " << c.p1;
      }
    }
  }
}

TEST(Xtanx, FirstRootOfTanXEqualsX) {
  std::ostringstream out;
  EXPECT_DOUBLE_EQ(xtanx(0, out), 4.493409457909064);
  EXPECT_EQ(out.str(), "");
  xtanx(1, out);
  EXPECT_EQ(out.str().rfind(" 1 4.49", 0), 0u);
  EXPECT_NE(out.str().find(" T\n"), std::string::npos);
  // The window's own root, taken without printing, is the same double.
  EXPECT_EQ(xtanx(0, out), tan_x_root());
}

// With the print flag the sphere window of sub-option 1 prints the
// iterations of xtanx, then the first M; without it nothing.
TEST(Moq, PrintFlag) {
  const std::vector<double> q = {0.0, 1.0, 2.0};
  std::vector<double> m(3);
  std::ostringstream quiet, loud;
  ASSERT_TRUE(moq(q, m, 2.0, {1.0, 0.0}, 5, 0, quiet).ok());
  EXPECT_EQ(quiet.str(), "");
  ASSERT_TRUE(moq(q, m, 2.0, {1.0, 0.0}, 5, 1, loud).ok());
  EXPECT_EQ(loud.str().rfind(" 1 4.49", 0), 0u) << loud.str();
  EXPECT_NE(loud.str().find(" T\n moq: First point is M(Q)="), std::string::npos) << loud.str();
}

// A Q that is no magnitude (negative, not finite) was once taken: the
// quadratic window of Q = -1e300 was -inf. Code 6 once the classic checks
// pass; M is cleared and nothing else computed.
TEST(Moq, QOutsideItsDomainIsCode6) {
  const double nan = NAN, inf = INFINITY;
  for (const std::vector<double>& q : {std::vector<double>{-1e300, 1.0, 2.0}, std::vector<double>{0.0, -0.5, 2.0},
                                       std::vector<double>{0.0, nan, 2.0}, std::vector<double>{inf, 1.0, 2.0}}) {
    for (int option : {1, 2, 3, 4, 5}) {
      std::vector<double> m(q.size(), 9.0);
      const Status s = run(q, m, 2.0, option, option == 4 ? 0.1 : 1.0);
      EXPECT_EQ(s.ierr, 6) << "option " << option << " Q(1) " << q[0] << " Q(2) " << q[1];
      EXPECT_EQ(s.message, "ERROR in moq: Q values must be finite numbers not below 0");
      EXPECT_EQ(m, std::vector<double>(q.size(), 0.0));
    }
  }
  // A failing classic check keeps its own code.
  std::vector<double> m(3);
  EXPECT_EQ(run({-1.0, 1.0, 2.0}, m, 2.0, 7).ierr, 2);
}

}  // namespace
}  // namespace talvo::classic
