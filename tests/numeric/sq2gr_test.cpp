#include "talvo/numeric/sq2gr.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace talvo {
namespace {

// A shell of neighbours at R, broadened by a Gaussian of width w:
// G(r) = A [exp(-(r-R)^2 / 2w^2) - exp(-(r+R)^2 / 2w^2)], whose sine
// transform is Q (S(Q) - 1) = A sqrt(2 pi) w exp(-Q^2 w^2 / 2) sin(QR).
struct Shell {
  double a = 1.0, radius = 2.5, width = 0.2;
  double q_s_minus_1(double q) const {
    return a * std::sqrt(2 * M_PI) * width * std::exp(-q * q * width * width / 2) * std::sin(q * radius);
  }
  double s(double q) const { return 1 + (q == 0 ? a * std::sqrt(2 * M_PI) * width * radius : q_s_minus_1(q) / q); }
  double G(double r) const {
    const double w2 = 2 * width * width;
    return a * (std::exp(-(r - radius) * (r - radius) / w2) - std::exp(-(r + radius) * (r + radius) / w2));
  }
};

struct Data {
  std::vector<double> q, s;
};

Data tabulate(const Shell& shell, double from, double step, int n) {
  Data d;
  for (int i = 0; i < n; ++i) {
    d.q.push_back(from + i * step);
    d.s.push_back(shell.s(d.q.back()));
  }
  return d;
}

std::vector<double> r_grid(double from, double step, int n) {
  std::vector<double> r;
  for (int j = 0; j < n; ++j) r.push_back(from + j * step);
  return r;
}

TEST(Sq2gr, GaussianShellInClosedForm) {
  const Shell shell;
  const Data d = tabulate(shell, 0.0, 0.01, 4501);  // to Q = 45, where S - 1 has died away
  const std::vector<double> r = r_grid(0.05, 0.05, 400);
  const double rho0 = 0.1;
  Sq2grOptions o;
  o.window = Window::kNone;
  const Result<PairDistribution> res = sq2gr(d.q, d.s, r, rho0, o);
  ASSERT_TRUE(res.ok()) << res.error().message;
  ASSERT_EQ(res->G.size(), r.size());
  for (std::size_t j = 0; j < r.size(); ++j) {
    EXPECT_NEAR(res->G[j], shell.G(r[j]), 2e-8) << "r " << r[j];
    EXPECT_NEAR(res->g[j], 1 + shell.G(r[j]) / (4 * M_PI * r[j] * rho0), 2e-8 / (4 * M_PI * r[j] * rho0));
    EXPECT_EQ(res->sigma_G[j], 0.0);
  }
}

// A grid starting above 0 and the Lorch window, against Simpson's rule on a
// grid forty times finer.
TEST(Sq2gr, LorchWindowOverAGridStartingAboveZero) {
  const Shell shell{1.3, 3.1, 0.15};
  const double q0 = 0.6, qmax = 24.6;
  const Data d = tabulate(shell, q0, 0.01, 2401);
  const std::vector<double> r = r_grid(0.1, 0.37, 60);
  const Result<PairDistribution> res = sq2gr(d.q, d.s, r, 0.05);
  ASSERT_TRUE(res.ok()) << res.error().message;
  for (std::size_t j = 0; j < r.size(); ++j) {
    auto integrand = [&](double q) {
      const double x = M_PI * q / qmax;
      return shell.q_s_minus_1(q) * std::sin(x) / x * std::sin(q * r[j]);
    };
    const int panels = 48000;
    const double h = (qmax - q0) / panels;
    double sum = integrand(q0) + integrand(qmax);
    for (int i = 1; i < panels; ++i) sum += (i % 2 ? 4 : 2) * integrand(q0 + i * h);
    // Filon on a step of 0.01 is good to 2e-8 here, sixteen times better for every halving.
    EXPECT_NEAR(res->G[j], 2 / M_PI * sum * h / 3, 3e-8) << "r " << r[j];
  }
  // The window's Qmax is the last Q unless given; one beyond the next step is refused.
  Sq2grOptions o;
  o.qmax = qmax;
  EXPECT_EQ(sq2gr(d.q, d.s, r, 0.05, o)->G, res->G);
  o.qmax = qmax + 0.015;
  const Result<PairDistribution> far = sq2gr(d.q, d.s, r, 0.05, o);
  ASSERT_FALSE(far.ok());
  EXPECT_EQ(far.kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(far.error().message.rfind("Qmax = ", 0), 0u) << far.error().message;
  EXPECT_NE(far.error().message.find("more than one step beyond the last Q"), std::string::npos);
}

TEST(Sq2gr, SigmaAgainstMonteCarlo) {
  const Shell shell{1.0, 2.0, 0.3};
  const Data d = tabulate(shell, 0.2, 0.5, 21);
  std::vector<double> sigma;
  for (std::size_t i = 0; i < d.q.size(); ++i) sigma.push_back(0.02 + 0.01 * static_cast<double>(i % 4));
  const std::vector<double> r = {0.3, 1.0, 2.0, 3.7, 6.1};
  Sq2grOptions o;
  o.sigma = sigma;
  const Result<PairDistribution> exact = sq2gr(d.q, d.s, r, 0.08, o);
  ASSERT_TRUE(exact.ok());

  std::mt19937_64 rng(12345);
  std::normal_distribution<double> normal;
  const int trials = 20000;
  std::vector<double> sum(r.size()), sum2(r.size());
  std::vector<double> noisy = d.s;
  for (int t = 0; t < trials; ++t) {
    for (std::size_t i = 0; i < noisy.size(); ++i) noisy[i] = d.s[i] + sigma[i] * normal(rng);
    const Result<PairDistribution> one = sq2gr(d.q, noisy, r, 0.08);
    for (std::size_t j = 0; j < r.size(); ++j) {
      sum[j] += one->G[j];
      sum2[j] += one->G[j] * one->G[j];
    }
  }
  for (std::size_t j = 0; j < r.size(); ++j) {
    const double mean = sum[j] / trials;
    const double sd = std::sqrt(sum2[j] / trials - mean * mean);
    // The spread of a standard deviation from 20000 draws is 0.5 %.
    EXPECT_NEAR(exact->sigma_G[j] / sd, 1.0, 0.025) << "r " << r[j];
    EXPECT_NEAR(mean, exact->G[j], 4 * sd / std::sqrt(trials));
  }
}

// Data that run past Qmax: only Q up to Qmax are integrated. Q (S(Q) - 1) =
// sin(2Q) / 2 is far from 0 at Qmax = 20, and so is the Gaussian window
// exp(-a^2 Q^2), 0.37 there: the point one step beyond would add ~1e-3.
// Checked against Simpson's rule on [0, Qmax] with 200000 panels, and
// against the same data cut at Qmax, for every window.
TEST(Sq2gr, IntegratesOnlyUpToQmax) {
  const double a = 0.05, qmax = 20.0, step = 0.01;
  const auto q_s_minus_1 = [](double q) { return std::sin(2 * q) / 2; };
  Data full, cut;
  for (int i = 0; i <= 3000; ++i) {
    const double q = i * step;
    full.q.push_back(q);
    full.s.push_back(1 + (q == 0 ? 1.0 : q_s_minus_1(q) / q));
    if (i <= 2000) {
      cut.q.push_back(q);
      cut.s.push_back(full.s.back());
    }
  }
  const std::vector<double> r = {0.39, 1.0, 2.0, 3.3, 5.7};
  Sq2grOptions o;
  o.window = Window::kGaussian;
  o.p1 = a;
  o.qmax = qmax;
  const Result<PairDistribution> res = sq2gr(full.q, full.s, r, 0.1, o);
  ASSERT_TRUE(res.ok()) << res.error().message;
  for (std::size_t j = 0; j < r.size(); ++j) {
    const int panels = 200000;
    const double h = qmax / panels;
    const auto integrand = [&](double q) { return q_s_minus_1(q) * std::exp(-a * a * q * q) * std::sin(q * r[j]); };
    double sum = integrand(0) + integrand(qmax);
    for (int i = 1; i < panels; ++i) sum += (i % 2 ? 4 : 2) * integrand(i * h);
    EXPECT_NEAR(res->G[j], 2 / M_PI * sum * h / 3, 1e-8) << "r " << r[j];
  }

  for (Window w : {Window::kLorch, Window::kStep, Window::kQuadratic, Window::kGaussian, Window::kSphere}) {
    Sq2grOptions wo;
    wo.window = w;
    wo.p1 = w == Window::kGaussian ? a : w == Window::kSphere ? 1.0 : 0.0;
    wo.qmax = qmax;
    const Result<PairDistribution> longer = sq2gr(full.q, full.s, r, 0.1, wo),
                                   shorter = sq2gr(cut.q, cut.s, r, 0.1, wo);
    ASSERT_TRUE(longer.ok()) << window_name(w) << ": " << longer.error().message;
    for (std::size_t j = 0; j < r.size(); ++j) EXPECT_NEAR(longer->G[j], shorter->G[j], 1e-14) << window_name(w);
  }

  // A Qmax between grid points takes the points below it, as for data that
  // end there, an even number of them with a warning.
  o.qmax = 20.005;
  Data cut_odd{{full.q.begin(), full.q.begin() + 2001}, {full.s.begin(), full.s.begin() + 2001}};
  EXPECT_EQ(sq2gr(full.q, full.s, r, 0.1, o)->G, sq2gr(cut_odd.q, cut_odd.s, r, 0.1, o)->G);
  o.qmax = 20.01;
  Data cut_even{{full.q.begin(), full.q.begin() + 2002}, {full.s.begin(), full.s.begin() + 2002}};
  const Result<PairDistribution> even = sq2gr(full.q, full.s, r, 0.1, o);
  ASSERT_TRUE(even.ok());
  ASSERT_EQ(even.warnings().size(), 1u);
  EXPECT_NE(even.warnings()[0].find("(2002)"), std::string::npos) << even.warnings()[0];
  EXPECT_EQ(even->G, sq2gr(cut_even.q, cut_even.s, r, 0.1, o)->G);
  // Fewer than 3 points up to Qmax.
  o.qmax = 0.015;
  const Result<PairDistribution> two = sq2gr(full.q, full.s, r, 0.1, o);
  ASSERT_FALSE(two.ok());
  EXPECT_EQ(two.kind(), ErrorKind::kInvalidArgument);
  EXPECT_NE(two.error().message.find("up to Qmax"), std::string::npos) << two.error().message;
}

// An even count keeps its last point: the last step is integrated exactly,
// so G moves from the odd count's no more than that step's share.
TEST(Sq2gr, EvenCountIntegratesItsLastStep) {
  const Shell shell;
  const Data even = tabulate(shell, 0.0, 0.05, 400);
  const Data odd{{even.q.begin(), even.q.end() - 1}, {even.s.begin(), even.s.end() - 1}};
  const std::vector<double> r = r_grid(0.5, 0.5, 20);
  Sq2grOptions o;
  o.window = Window::kNone;
  const Result<PairDistribution> a = sq2gr(even.q, even.s, r, 0.1, o), b = sq2gr(odd.q, odd.s, r, 0.1, o);
  ASSERT_TRUE(a.ok());
  ASSERT_EQ(a.warnings().size(), 1u);
  EXPECT_EQ(a.warnings()[0],
            "an even number of points (400): the last step is integrated exactly as the straight line through its "
            "values");
  ASSERT_TRUE(b.ok());
  EXPECT_TRUE(b.warnings().empty());
  for (std::size_t j = 0; j < r.size(); ++j) {
    // The last step by 1000 trapezoids of the straight line through Q (S - 1) at its ends, times sin(Q r).
    const double qa = even.q[398], qb = even.q[399];
    const double fa = qa * (even.s[398] - 1.0), fb = qb * (even.s[399] - 1.0);
    double step = 0.0;
    for (int i = 0; i <= 1000; ++i) {
      const double t = i / 1000.0, qt = qa + t * (qb - qa);
      step += (i == 0 || i == 1000 ? 0.5 : 1.0) * (fa + t * (fb - fa)) * std::sin(qt * r[j]);
    }
    step *= 2.0 / std::numbers::pi * (qb - qa) / 1000.0;
    EXPECT_NEAR(a->G[j] - b->G[j], step, 1e-5 * std::abs(step) + 1e-12) << r[j];
  }
}

// Q of a scan equally spaced in 2theta, as a reduction writes its .sq: S is
// interpolated onto an equally spaced grid, and G is the shell's still.
TEST(Sq2gr, GridOfA2ThetaScanIsInterpolated) {
  const Shell shell;
  const double wavelength = 0.3;
  Data d;
  std::vector<double> sigma;
  for (int i = 0; i <= 13000; ++i) {  // 2theta 0 to 130 degrees, Q to 37.96
    const double theta = 0.5 * (i * 0.01) * M_PI / 180;
    d.q.push_back(4 * M_PI * std::sin(theta) / wavelength);
    d.s.push_back(shell.s(d.q.back()));
    sigma.push_back(0.01);
  }
  const std::vector<double> r = r_grid(0.5, 0.25, 20);
  Sq2grOptions o;
  o.window = Window::kNone;
  o.sigma = sigma;
  const Result<PairDistribution> res = sq2gr(d.q, d.s, r, 0.1, o);
  ASSERT_TRUE(res.ok()) << res.error().message;
  ASSERT_EQ(res.warnings().size(), 1u);
  EXPECT_NE(res.warnings()[0].find("not equally spaced"), std::string::npos) << res.warnings()[0];
  EXPECT_NE(res.warnings()[0].find("interpolated linearly onto 13001 equally spaced points"), std::string::npos)
      << res.warnings()[0];
  for (std::size_t j = 0; j < r.size(); ++j) {
    EXPECT_NEAR(res->G[j], shell.G(r[j]), 1e-5) << "r " << r[j];
    EXPECT_GT(res->sigma_G[j], 0.0);
    EXPECT_TRUE(std::isfinite(res->sigma_G[j]));
  }
}

TEST(Sq2gr, RefusesWhatItCannotTransform) {
  const std::vector<double> q = {0.0, 0.1, 0.2, 0.3, 0.4}, s = {1, 1.1, 1.2, 1.1, 1.0}, r = {1.0, 2.0};
  const std::vector<double> repeated = {0.0, 0.1, 0.1, 0.3, 0.4}, falling = {0.4, 0.3, 0.2, 0.1, 0.0};
  const std::vector<double> negative = {-0.2, -0.1, 0.0, 0.1, 0.2}, short_q = {0.0, 0.1}, short_s = {1, 1};
  const std::vector<double> zero_r = {1.0, 0.0}, minus_r = {-1.0}, infinite_r = {INFINITY}, three = {1, 2, 3};
  Sq2grOptions gaussian;
  gaussian.window = Window::kGaussian;  // needs p1
  Sq2grOptions wrong_sigma;
  wrong_sigma.sigma = three;
  struct Case {
    const char* what;
    Result<PairDistribution> result;
    ErrorKind kind;
    const char* names;
  };
  const Case cases[] = {
      {"repeated Q", sq2gr(repeated, s, r, 0.1), ErrorKind::kInvalidArgument, "increase: Q(2) = 0.1, Q(3) = 0.1"},
      {"too few", sq2gr(short_q, short_s, r, 0.1), ErrorKind::kInvalidArgument,
       "at least 3 Q values are needed, not 2"},
      {"r = 0", sq2gr(q, s, zero_r, 0.1), ErrorKind::kInvalidArgument, "r(2) = 0"},
      {"r < 0", sq2gr(q, s, minus_r, 0.1), ErrorKind::kInvalidArgument, "r(1) = -1"},
      {"r infinite", sq2gr(q, s, infinite_r, 0.1), ErrorKind::kInvalidArgument, "r(1) = inf"},
      {"falling Q", sq2gr(falling, s, r, 0.1), ErrorKind::kInvalidArgument, "increase"},
      {"negative Q", sq2gr(negative, s, r, 0.1), ErrorKind::kInvalidArgument, "Q(1) = -0.2"},
      {"S too short", sq2gr(q, three, r, 0.1), ErrorKind::kInvalidArgument, "(5 and 3)"},
      {"sigma too short", sq2gr(q, s, r, 0.1, wrong_sigma), ErrorKind::kInvalidArgument, "sigma"},
      {"no density", sq2gr(q, s, r, 0.0), ErrorKind::kInvalidArgument, "rho0"},
      {"window", sq2gr(q, s, r, 0.1, gaussian), ErrorKind::kInvalidArgument, "the Gaussian window needs a p1"},
      // 4 pi r rho0 so small that G / (4 pi r rho0) overflows: g would be inf.
      {"tiny density", sq2gr(q, s, r, 1e-320), ErrorKind::kOutOfRange, "g(r) at r = 1"},
      {"tiny density and r", sq2gr(q, s, std::vector<double>{1e-300}, 1e-30), ErrorKind::kOutOfRange, "r = 1e-300"},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.result.ok()) << c.what;
    EXPECT_EQ(c.result.kind(), c.kind) << c.what;
    EXPECT_NE(c.result.error().message.find(c.names), std::string::npos) << c.what << ": " << c.result.error().message;
    // Whole messages, without a routine's name in front.
    EXPECT_NE(c.result.error().message.rfind("sq2gr", 0), 0u) << c.what << ": " << c.result.error().message;
  }
}

}  // namespace
}  // namespace talvo
