#include "talvo/numeric/filon.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "talvo/numeric/filon_sums.hpp"

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
  const Result<double> v = filon_integral(g.x, g.f, g.x[1] - g.x[0], k);
  EXPECT_TRUE(v.ok()) << v.error().message;
  return v.ok() ? *v : NAN;
}

// The transform's integrals, which must be there.
std::vector<double> transform(std::span<const double> x, std::span<const double> f, std::span<const double> k,
                              const FilonOptions& o = {}) {
  const Result<FilonTransform> t = filon_ft(x, f, k, o);
  EXPECT_TRUE(t.ok()) << t.error().message;
  return t.ok() ? t->integral : std::vector<double>();
}

// The one-k integrals' refusal, or "" when there is a value.
template <class R>
std::string refusal(const R& r) {
  if (r.ok()) return "";
  EXPECT_EQ(r.kind(), ErrorKind::kInvalidArgument) << r.error().message;
  return r.error().message;
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
  const std::vector<double> two = {0, 1}, four = {0, 1, 2, 3}, k = {1.0};
  EXPECT_EQ(refusal(filon_integral(two, two, 1, 1)), "at least 3 points are needed, not 2");
  EXPECT_EQ(refusal(filon_integral(four, four, 1, 1)), "the number of points must be odd, not 4");
  EXPECT_EQ(refusal(filon_integral(four, two, 1, 1)), "x and f hold different numbers of points (4 and 2)");
  EXPECT_EQ(refusal(filon_ft(two, two, k)), "at least 3 points are needed, not 2");
  EXPECT_EQ(refusal(filon_ft(four, two, k)), "x and f hold different numbers of points (4 and 2)");
  // k is checked as sq2gr checks r: a k that is no number, or one whose k x passes the doubles, gives
  // no integral (sin(k x) of an infinite k x is NaN), rather than a NaN printed as a value.
  const std::vector<double> x = {0, 1, 2, 3, 4}, f = {1, 0.8, 0.5, 1, 2};
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(refusal(filon_ft(x, f, std::vector<double>{1.0, inf})), "k must be a finite number: k(2) = inf");
  const Result<FilonTransform> huge = filon_ft(x, f, std::vector<double>{1e300, 1.6e308});
  ASSERT_FALSE(huge.ok());
  EXPECT_EQ(huge.kind(), ErrorKind::kOutOfRange);
  EXPECT_EQ(huge.error().message,
            "the integral at k = 1.6e+308 is beyond double precision: k x passes the largest number");
}

// An even grid ends with its last step integrated exactly as a straight
// line, with a warning saying so, and comes within the rule's error of the
// closed-form integral; asked, it is integrated as if one more point
// x(n) + h with f = 0 ended it. The caller's arrays are constant, so untouched.
TEST(Filon, EvenGridsLastStepExactOrAZeroPoint) {
  const Grid g = tabulate(0, 9.9, 100, [](double x) { return std::exp(-0.1 * x); });
  const std::vector<double> k = {0.5, 3.0};
  FilonOptions dbl;
  dbl.single_precision = false;
  const Result<FilonTransform> t = filon_ft(g.x, g.f, k, dbl);
  ASSERT_TRUE(t.ok());
  ASSERT_EQ(t.warnings().size(), 1u);
  EXPECT_EQ(t.warnings()[0],
            "an even number of points (100): the last step is integrated exactly as the straight line through its "
            "values");
  for (std::size_t m = 0; m < k.size(); ++m) {
    // The integral of exp(a x) sin(k x) from 0 to 9.9, a = -0.1.
    const double a = -0.1, km = k[m];
    const auto primitive = [&](double x) {
      return std::exp(a * x) * (a * std::sin(km * x) - km * std::cos(km * x)) / (a * a + km * km);
    };
    EXPECT_NEAR(t->integral[m], primitive(9.9) - primitive(0.0), 2e-5) << km;
  }
  Grid ext = g;
  ext.x.push_back(g.x[99] + (g.x[1] - g.x[0]));
  ext.f.push_back(0.0);
  FilonOptions zero;
  zero.even = EvenPoints::kZeroPoint;
  const Result<FilonTransform> z = filon_ft(g.x, g.f, k, zero);
  ASSERT_TRUE(z.ok());
  ASSERT_EQ(z.warnings().size(), 1u);
  EXPECT_EQ(z.warnings()[0], "an even number of points (100): a point x(n) + h with f = 0 was added");
  for (std::size_t m = 0; m < k.size(); ++m) EXPECT_EQ(z->integral[m], static_cast<float>(integral(ext, k[m])));
  EXPECT_TRUE(filon_ft(ext.x, ext.f, k).warnings().empty());
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
      const std::vector<double> r = transform(g.x, g.f, k);
      ASSERT_EQ(r.size(), k.size());
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

// An integral is linear in f: the integral of a unit spike at point j is
// dI/df_j, so sigma from errors at single points is that integral's size.
TEST(FilonSigma, FromTheIntegralsOfSingleSpikes) {
  for (int n : {3, 7, 101})
    for (double k : {0.0, 0.003, 0.9, 13.0}) {
      const Grid g = tabulate(0.4, 0.4 + 0.1 * (n - 1), n, [](double) { return 0.0; });
      const double h = g.x[1] - g.x[0];
      std::vector<double> spike(g.x.size()), sigma(g.x.size());
      double expected = 0;
      for (int j = 0; j < n; ++j) {
        spike.assign(g.x.size(), 0.0);
        spike[static_cast<std::size_t>(j)] = 1.0;
        const Result<double> weight_r = filon_integral(g.x, spike, h, k);
        ASSERT_TRUE(weight_r.ok());
        const double weight = *weight_r;
        std::vector<double> only(g.x.size());
        only[static_cast<std::size_t>(j)] = 0.5;
        const Result<double> one_r = filon_integral_sigma(g.x, only, h, k);
        ASSERT_TRUE(one_r.ok());
        const double one = *one_r;
        EXPECT_NEAR(one, 0.5 * std::fabs(weight), 1e-15) << "n " << n << " k " << k << " j " << j;
        sigma[static_cast<std::size_t>(j)] = 0.1 + 0.01 * j;
        expected += std::pow(weight * sigma[static_cast<std::size_t>(j)], 2);
      }
      const Result<double> all = filon_integral_sigma(g.x, sigma, h, k);
      ASSERT_TRUE(all.ok());
      EXPECT_NEAR(*all, std::sqrt(expected), 1e-14) << "n " << n << " k " << k;
    }
}

TEST(FilonSigma, AgainstMonteCarlo) {
  const Grid g = tabulate(0.0, 3.0, 13, [](double x) { return std::exp(-x) + 0.3; });
  const double h = g.x[1] - g.x[0];
  std::vector<double> sigma;
  for (std::size_t i = 0; i < g.x.size(); ++i) sigma.push_back(0.05 * (1 + static_cast<double>(i % 3)));
  std::mt19937_64 rng(99);
  std::normal_distribution<double> normal;
  for (double k : {0.5, 2.2, 9.0}) {
    double sum = 0, sum2 = 0;
    const int trials = 20000;
    std::vector<double> f = g.f;
    for (int t = 0; t < trials; ++t) {
      for (std::size_t i = 0; i < f.size(); ++i) f[i] = g.f[i] + sigma[i] * normal(rng);
      const Result<double> r = filon_integral(g.x, f, h, k);
      ASSERT_TRUE(r.ok());
      const double v = *r;
      sum += v;
      sum2 += v * v;
    }
    const double mean = sum / trials, sd = std::sqrt(sum2 / trials - mean * mean);
    const Result<double> predicted = filon_integral_sigma(g.x, sigma, h, k);
    ASSERT_TRUE(predicted.ok());
    EXPECT_NEAR(*predicted / sd, 1.0, 0.025) << "k " << k;  // 0.5 % spread from 20000 draws
  }
}

// The transform with options: the same integrals, even grid or odd, as on
// the grid made odd by the zero point, and a sigma per k equal to the one-k
// routine's.
TEST(FilonSigma, GridOfKMatchesOneKAtATime) {
  for (int n : {3, 5, 101, 1000, 4001})
    for (double from : {0.0, 17.0}) {
      const Grid g = tabulate(from, from + 0.01 * (n - 1), n, [](double x) { return std::cos(0.7 * x) + 0.1; });
      std::vector<double> sigma;
      for (int i = 0; i < n; ++i) sigma.push_back(0.01 + 0.002 * (i % 7));
      std::vector<double> k;
      for (int m = 0; m < 45; ++m) k.push_back(0.0 + m * 7.1 + 0.002 * m * m);
      FilonOptions o;
      o.sigma = sigma;
      o.even = EvenPoints::kZeroPoint;
      const Result<FilonTransform> r = filon_ft(g.x, g.f, k, o);
      ASSERT_TRUE(r.ok()) << r.error().message;
      EXPECT_EQ(r.warnings().size(), n % 2 == 0 ? 1u : 0u);
      // The same grid with the zero point written out.
      Grid ext = g;
      if (n % 2 == 0) {
        ext.x.push_back(g.x.back() + (g.x[1] - g.x[0]));
        ext.f.push_back(0.0);
      }
      EXPECT_EQ(r->integral, transform(ext.x, ext.f, k)) << "n " << n;
      sigma.resize(ext.x.size(), 0.0);
      for (std::size_t m = 0; m < k.size(); ++m) {
        const Result<double> one = filon_integral_sigma(ext.x, sigma, ext.x[1] - ext.x[0], k[m]);
        ASSERT_TRUE(one.ok());
        EXPECT_NEAR(r->sigma[m], *one, 1e-12 * std::max(*one, 1e-3)) << "n " << n << " k " << k[m];
      }
      // In double precision the integrals are the direct ones to far below single precision.
      o.single_precision = false;
      const Result<FilonTransform> d = filon_ft(g.x, g.f, k, o);
      ASSERT_TRUE(d.ok());
      for (std::size_t m = 0; m < k.size(); ++m) EXPECT_NEAR(d->integral[m], integral(ext, k[m]), 1e-12) << k[m];
      EXPECT_EQ(d->sigma, r->sigma);
    }
}

TEST(Filon, RefusesUnequalSteps) {
  const Grid g = tabulate(1.0, 3.0, 21, [](double x) { return x; });
  const double h = 0.1;
  struct Case {
    std::size_t index;
    double shift;  // in steps
    bool refused;
  };
  for (const Case c : {Case{0, 0.0, false}, Case{7, 5e-4, false}, Case{7, 2e-3, true}, Case{20, -0.01, true},
                       Case{3, NAN, true}, Case{10, 0.5, true}}) {
    Grid bent = g;
    bent.x[c.index] += c.shift * h;
    const std::vector<double> k = {1.0};
    const std::string one = refusal(filon_integral(bent.x, bent.f, h, 1.0));
    const std::string sig = refusal(filon_integral_sigma(bent.x, bent.f, h, 1.0));
    const std::string ft = refusal(filon_ft(bent.x, bent.f, k));
    // The even grid without the last point: refused before any point is added.
    const std::string even =
        refusal(filon_ft(std::span<const double>(bent.x).first(20), std::span<const double>(bent.f).first(20), k));
    EXPECT_EQ(!one.empty(), c.refused) << c.index << " " << c.shift << ": " << one;
    EXPECT_EQ(sig, one);
    EXPECT_EQ(!ft.empty(), c.refused) << ft;
    if (c.index < 20) {
      EXPECT_EQ(!even.empty(), c.refused) << c.index << " " << c.shift;
    }
    if (c.refused) {
      EXPECT_EQ(one.rfind("x values are not equally spaced: x(" + std::to_string(c.index + 1) + ") = ", 0), 0u) << one;
    }
  }
  EXPECT_EQ(first_unequal_step(g.x), g.x.size());
  std::vector<double> two = {0.0, 5.0};
  EXPECT_EQ(first_unequal_step(two), 2u);
}

// Points that all lie at one x span nothing: every entry refuses them
// rather than give an integral of 0 (odd and even counts alike).
TEST(Filon, RefusesAGridOfOneX) {
  for (std::size_t n : {3u, 4u, 21u}) {
    const std::vector<double> x(n, 2.5), f(n, 1.0), k = {0.0, 1.0};
    const std::string words = "x values are not equally spaced: all " + std::to_string(n) + " points are at x = 2.5";
    if (n % 2 == 1) {
      EXPECT_EQ(refusal(filon_integral(x, f, 0.0, 1.0)), words);
      EXPECT_EQ(refusal(filon_integral_sigma(x, f, 0.0, 1.0)), words);
    }
    EXPECT_EQ(refusal(filon_ft(x, f, k, {f, false})), words);
  }
}

TEST(FilonSigma, RefusesMismatchedLengths) {
  const Grid g = tabulate(0, 1, 5, [](double x) { return x; });
  const std::vector<double> k = {1.0}, short_sigma = {0.1, 0.1};
  FilonOptions o;
  o.sigma = short_sigma;
  EXPECT_EQ(refusal(filon_ft(g.x, g.f, k, o)), "sigma and f hold different numbers of values (2 and 5)");
  EXPECT_EQ(refusal(filon_integral_sigma(g.x, short_sigma, 0.25, 1.0)),
            "x and sigma hold different numbers of points (5 and 2)");
  const std::vector<double> four = {0, 1, 2, 3};
  EXPECT_EQ(refusal(filon_integral_sigma(four, four, 1.0, 1.0)), "the number of points must be odd, not 4");
}

}  // namespace
}  // namespace talvo

namespace talvo {
namespace {

// filon_ft in single precision as a plain scalar loop: for each k in turn the sines by the
// angle-addition recurrence with the first step, started again at every 64th
// point from an anchor: the sine and cosine of k x themselves at every 1024th
// point, between them the anchor before turned by the angle k (64 h). However
// wide the machine and however many k go side by side, the library's
// single-precision results must be these, bit for bit.
double scalar_filon(const std::vector<double>& x, const std::vector<double>& f, double k) {
  const std::size_t n = x.size();
  const double h = x[1] - x[0], sd = std::sin(k * h), cd = std::cos(k * h);
  const double turn_s = std::sin(k * (h * 64)), turn_c = std::cos(k * (h * 64));
  double odd = 0.0, even = 0.0, sn = 0.0, cs = 0.0, anchor_s = 0.0, anchor_c = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i % 1024 == 0) {
      anchor_s = std::sin(k * x[i]);
      anchor_c = std::cos(k * x[i]);
    } else if (i % 64 == 0) {
      const double s = anchor_s * turn_c + anchor_c * turn_s;
      anchor_c = anchor_c * turn_c - anchor_s * turn_s;
      anchor_s = s;
    }
    if (i % 64 == 0) {
      sn = anchor_s;
      cs = anchor_c;
    }
    (i % 2 == 0 ? odd : even) += f[i] * sn;
    const double ns = sn * cd + cs * sd;
    cs = cs * cd - sn * sd;
    sn = ns;
  }
  const FilonWeights w = filon_abc(h * k);
  const double s_ends = f[0] * std::sin(k * x[0]) + f[n - 1] * std::sin(k * x[n - 1]);
  const double c_ends = f[0] * std::cos(k * x[0]) - f[n - 1] * std::cos(k * x[n - 1]);
  return h * (w.alpha * c_ends + w.beta * (odd - 0.5 * s_ends) + w.gamma * even);
}

TEST(FilonFt, SinglePrecisionResultsAreThoseOfTheScalarRecurrence) {
  std::mt19937_64 random(20261208);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::size_t compared = 0;
  for (int trial = 0; trial < 40; ++trial) {
    const auto n = static_cast<std::size_t>(3 + 2 * (random() % 700));
    const double x0 = trial % 3 == 0 ? 0.0 : 30.0 * u(random), h = 0.001 + 0.05 * u(random);
    std::vector<double> x(n), f(n), k(1 + random() % 77);
    for (std::size_t i = 0; i < n; ++i) {
      x[i] = x0 + static_cast<double>(i) * h;
      f[i] = std::sin(3.0 * x[i]) * std::exp(-0.1 * x[i]) + 0.3 * u(random);
    }
    for (double& km : k) km = 200.0 * u(random);
    const std::vector<double> got = transform(x, f, k);
    ASSERT_EQ(got.size(), k.size());
    for (std::size_t m = 0; m < k.size(); ++m, ++compared)
      ASSERT_EQ(got[m], static_cast<double>(static_cast<float>(scalar_filon(x, f, k[m]))))
          << "n " << n << " k " << k[m];
  }
  EXPECT_GT(compared, 1000u);
}

// Each instruction set has its own build of the sums, with its own number
// of k side by side. Every build this processor runs must give the
// baseline's sums bit for bit, with f, with v and with both, for counts of
// k that fill no vector exactly and grids shorter and longer than a stretch.
TEST(FilonSums, EveryBuildGivesTheBaselineSumsBitForBit) {
  using filon_detail::SumsBuild;
  const std::vector<SumsBuild> builds = filon_detail::sums_builds();
  ASSERT_FALSE(builds.empty());
  EXPECT_EQ(builds.front(), SumsBuild::kBaseline);
  std::mt19937_64 random(20261209);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (const std::size_t n : {3u, 63u, 64u, 65u, 130u, 1001u}) {
    for (const std::size_t nk : {1u, 5u, 12u, 25u, 97u}) {
      const double h = 0.002 + 0.03 * u(random), x0 = 20.0 * u(random);
      std::vector<double> x(n), f(n), v(n), k(nk);
      for (std::size_t i = 0; i < n; ++i) {
        x[i] = x0 + static_cast<double>(i) * h;
        f[i] = std::cos(2.0 * x[i]) + u(random);
        v[i] = 0.01 + u(random);
      }
      for (double& km : k) km = 150.0 * u(random);
      struct Sums {
        std::vector<double> f_odd, f_even, v_odd, v_even;
      };
      const auto run = [&](SumsBuild build, bool with_f, bool with_v) {
        Sums s{std::vector<double>(nk), std::vector<double>(nk), std::vector<double>(nk), std::vector<double>(nk)};
        filon_detail::filon_sums(x, h, with_f ? std::span<const double>(f) : std::span<const double>(),
                                 with_v ? std::span<const double>(v) : std::span<const double>(), k,
                                 {s.f_odd, s.f_even, s.v_odd, s.v_even}, build);
        return s;
      };
      for (const auto& [with_f, with_v] : {std::pair{true, false}, {false, true}, {true, true}}) {
        const Sums base = run(SumsBuild::kBaseline, with_f, with_v);
        for (const SumsBuild build : builds) {
          const Sums got = run(build, with_f, with_v);
          const std::string where = "build " + std::to_string(static_cast<int>(build)) + " n " + std::to_string(n) +
                                    " nk " + std::to_string(nk) + (with_f ? " f" : "") + (with_v ? " v" : "");
          for (std::size_t m = 0; m < nk; ++m) {
            if (with_f) {
              ASSERT_EQ(got.f_odd[m], base.f_odd[m]) << where;
              ASSERT_EQ(got.f_even[m], base.f_even[m]) << where;
            }
            if (with_v) {
              ASSERT_EQ(got.v_odd[m], base.v_odd[m]) << where;
              ASSERT_EQ(got.v_even[m], base.v_even[m]) << where;
            }
          }
        }
        // The sums are sums of sines: a few against the plain loop.
        if (with_f) {
          double odd = 0.0;
          for (std::size_t i = 0; i < n; i += 2) odd += f[i] * std::sin(k[0] * x[i]);
          EXPECT_NEAR(base.f_odd[0], odd, 1e-9 * static_cast<double>(n)) << n;
        }
      }
    }
  }
}

// Up to eight functions on one grid, carried through it together (six, then
// two), in every build: each function's sums are the ones it has alone.
TEST(FilonSums, FunctionsTogetherGiveTheirSumsAloneBitForBit) {
  using filon_detail::SumsBuild;
  std::mt19937_64 random(20261210);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (const std::size_t n : {3u, 65u, 1001u}) {
    const std::size_t nk = 27;
    const double h = 0.01 + 0.02 * u(random);
    std::vector<double> x(n), k(nk);
    for (std::size_t i = 0; i < n; ++i) x[i] = static_cast<double>(i) * h;
    for (double& km : k) km = 100.0 * u(random);
    std::vector<std::vector<double>> f(8, std::vector<double>(n)), v(8, std::vector<double>(n));
    for (std::size_t p = 0; p < 8; ++p)
      for (std::size_t i = 0; i < n; ++i) {
        f[p][i] = std::sin(static_cast<double>(p + 1) * x[i]) + u(random);
        v[p][i] = 0.01 + u(random);
      }
    for (const SumsBuild build : filon_detail::sums_builds())
      for (const auto& [with_f, with_v] : {std::pair{true, false}, {false, true}, {true, true}})
        for (std::size_t np = 1; np <= 8; ++np) {
          std::vector<std::vector<double>> out(4 * np, std::vector<double>(nk, -1.0));
          std::vector<std::span<const double>> fs(np), vs(np);
          std::vector<filon_detail::SumsOut> outs(np);
          for (std::size_t p = 0; p < np; ++p) {
            if (with_f) fs[p] = f[p];
            if (with_v) vs[p] = v[p];
            outs[p] = {out[4 * p], out[4 * p + 1], out[4 * p + 2], out[4 * p + 3]};
          }
          filon_detail::filon_sums_many(x, h, fs, vs, k, outs, build);
          for (std::size_t p = 0; p < np; ++p) {
            std::vector<std::vector<double>> alone(4, std::vector<double>(nk, -1.0));
            filon_detail::filon_sums(x, h, fs[p], vs[p], k, {alone[0], alone[1], alone[2], alone[3]}, build);
            for (std::size_t c = 0; c < 4; ++c)
              for (std::size_t m = 0; m < nk; ++m)
                ASSERT_EQ(out[4 * p + c][m], alone[c][m])
                    << "build " << static_cast<int>(build) << " n " << n << " of " << np << ", function " << p
                    << ", sum " << c << (with_f ? " f" : "") << (with_v ? " v" : "");
          }
        }
  }
}

// filon_ft_many gives each function's filon_ft, values, errors and warnings,
// in double and single precision, on odd and even grids; it refuses what
// filon_ft refuses, and functions of different lengths.
TEST(FilonFt, ManyAtOnceGiveEachOnesTransform) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (const std::size_t n : {301u, 300u}) {
    std::vector<double> x(n), k(200);
    for (std::size_t i = 0; i < n; ++i) x[i] = 0.05 * static_cast<double>(i + 1);
    for (std::size_t m = 0; m < k.size(); ++m) k[m] = 0.1 * static_cast<double>(m);
    std::vector<std::vector<double>> f(4, std::vector<double>(n)), sigma(4, std::vector<double>(n));
    for (std::size_t p = 0; p < 4; ++p)
      for (std::size_t i = 0; i < n; ++i) {
        f[p][i] = std::exp(-0.01 * x[i] * x[i]) * std::sin(2.0 * x[i] + static_cast<double>(p)) + 0.1 * u(random);
        sigma[p][i] = 0.01 + 0.01 * u(random);
      }
    const std::vector<std::span<const double>> fs(f.begin(), f.end()), ss(sigma.begin(), sigma.end());
    for (const bool single : {false, true}) {
      FilonOptions o;
      o.single_precision = single;
      const Result<std::vector<FilonTransform>> many = filon_ft_many(x, fs, ss, k, o);
      ASSERT_TRUE(many.ok()) << many.error().message;
      ASSERT_EQ(many->size(), 4u);
      for (std::size_t p = 0; p < 4; ++p) {
        FilonOptions one = o;
        one.sigma = sigma[p];
        const Result<FilonTransform> alone = filon_ft(x, f[p], k, one);
        ASSERT_TRUE(alone.ok());
        EXPECT_EQ((*many)[p].integral, alone->integral) << n << " " << single << " " << p;
        EXPECT_EQ((*many)[p].sigma, alone->sigma) << n << " " << single << " " << p;
        EXPECT_EQ(many.warnings(), alone.warnings());
      }
    }
  }
  std::vector<double> x = {0.0, 0.1, 0.2, 0.3, 0.4}, a = {1, 2, 3, 4, 5}, b = {1, 2, 3};
  const std::span<const double> uneven[] = {a, b};
  const Result<std::vector<FilonTransform>> refused = filon_ft_many(x, uneven, {}, x);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.kind(), ErrorKind::kInvalidArgument);
  const std::span<const double> one[] = {a}, two_sigmas[] = {a, a};
  EXPECT_FALSE(filon_ft_many(x, one, two_sigmas, x).ok());
  EXPECT_TRUE(filon_ft_many(x, {}, {}, x)->empty());
}

}  // namespace
}  // namespace talvo
