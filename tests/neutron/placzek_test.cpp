// The Placzek correction: the exact free-gas integral against a plain sum over
// final energies in meV done here, the first-order expansion against it where
// they must agree (their difference falls as (m_n/M)^2), a material's weights,
// and the inputs refused.
#include "talvo/neutron/placzek.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <string>

namespace talvo {
namespace {

// 1 + P by the trapezoid rule over E' in meV on a fine grid, from the
// free-gas law written in Q and energy transfer.
double direct(double two_theta, double mass_ratio, double lambda, double kelvin, std::optional<double> alpha) {
  const double c = 81.8042 / (4 * std::numbers::pi * std::numbers::pi);  // meV A^2: E = c k^2
  const double kt = 0.08617333 * kelvin;
  const double k0 = 2 * std::numbers::pi / lambda, e0 = c * k0 * k0;
  auto eff = [&](double k) { return alpha ? 1 - std::exp(-*alpha / k) : 1.0; };
  const double cos2t = std::cos(two_theta * std::numbers::pi / 180);
  const int n = 400000;
  const double top = 12 * e0 + 60 * kt;
  double sum = 0;
  for (int i = 1; i < n; ++i) {
    const double e1 = top * i / n, k1 = std::sqrt(e1 / c);
    const double q2 = k0 * k0 + k1 * k1 - 2 * k0 * k1 * cos2t;
    const double recoil = c * q2 / mass_ratio, w = e0 - e1;
    const double s =
        std::exp(-std::pow(w - recoil, 2) / (4 * recoil * kt)) / std::sqrt(4 * std::numbers::pi * recoil * kt);
    sum += (k1 / k0) * eff(k1) / eff(k0) * s;
  }
  return sum * top / n;
}

TEST(Placzek, ExactAgainstADirectSumOverFinalEnergies) {
  struct Case {
    double mass_ratio, lambda, kelvin;
    std::optional<double> alpha;
  };
  const Case cases[] = {{0.99917, 0.7, 300, std::nullopt},  // hydrogen: far from the expansion
                        {0.99917, 1.0, 20, 1.2},
                        {15.858, 0.5, 300, 0.6},  // oxygen
                        {50.5, 0.7, 600, std::nullopt}};
  for (const Case& k : cases) {
    PlaczekOptions o;
    o.wavelength = k.lambda;
    o.temperature = k.kelvin;
    o.detector_alpha = k.alpha;
    for (double tt : {5.0, 45.0, 100.0, 175.0}) {
      const Result<double> p = placzek_exact(tt, k.mass_ratio, o);
      ASSERT_TRUE(p.ok()) << p.error().message;
      EXPECT_NEAR(*p, direct(tt, k.mass_ratio, k.lambda, k.kelvin, k.alpha) - 1.0, 2e-5)
          << "M/m " << k.mass_ratio << " at " << tt;
    }
  }
}

// 1 + P near the forward direction, by the trapezoid rule in u over the
// energy transfer w = w0 + width sinh u (meV), w0 the recoil at k' = k and
// width its Doppler width, so that a line far narrower than any fixed grid is
// still sampled. At 2theta 0 the limit: in y = (k - k') / (k 2theta) the line
// tends to sqrt(x / pi) exp(-x y^2 / (1 + y^2)) / sqrt(1 + y^2) dy, x = M E / kT,
// which y = sinh v makes sqrt(x / pi) exp(-x tanh^2 v) dv; the rest of the
// final energies weighs exp(-x) or less, nothing for a heavy nucleus.
double direct_forward(double two_theta, double mass_ratio, double lambda, double kelvin, std::optional<double> alpha) {
  const double c = 81.8042 / (4 * std::numbers::pi * std::numbers::pi);  // meV A^2: E = c k^2
  const double kt = 0.08617333 * kelvin;
  const double k0 = 2 * std::numbers::pi / lambda, e0 = c * k0 * k0;
  auto eff = [&](double k) { return alpha ? 1 - std::exp(-*alpha / k) : 1.0; };
  const double sin_half = std::sin(two_theta * std::numbers::pi / 360);
  auto weight = [&](double w) {  // per meV of energy transfer
    const double e1 = e0 - w;
    if (e1 <= 0) return 0.0;
    const double k1 = std::sqrt(e1 / c);
    const double q2 = (k0 - k1) * (k0 - k1) + 4 * k0 * k1 * sin_half * sin_half;
    const double recoil = c * q2 / mass_ratio;
    if (recoil <= 0) return 0.0;
    return (k1 / k0) * eff(k1) / eff(k0) * std::exp(-std::pow(w - recoil, 2) / (4 * recoil * kt)) /
           std::sqrt(4 * std::numbers::pi * recoil * kt);
  };
  if (two_theta == 0) {
    const double x = mass_ratio * e0 / kt;
    const int m = 600000;
    double line = 0;
    for (int i = -m; i <= m; ++i) line += std::exp(-x * std::pow(std::tanh(i * 5e-5), 2));
    return line * 5e-5 * std::sqrt(x / std::numbers::pi);
  }
  const double r0 = 4 * c * k0 * k0 * sin_half * sin_half / mass_ratio;
  const double width = std::sqrt(2 * r0 * kt);
  const double u_top = std::asinh((e0 - r0) / width), u_bottom = std::asinh((-12 * e0 - 60 * kt - r0) / width);
  const int n = 1600000;
  const double du = (u_top - u_bottom) / n;
  double sum = 0;
  for (int i = 1; i < n; ++i) {
    const double u = u_bottom + du * i;
    sum += weight(r0 + width * std::sinh(u)) * width * std::cosh(u);
  }
  return sum * du;
}

TEST(Placzek, ForwardAnglesAgainstASumOverEnergyTransfer) {
  // Vanadium and hydrogen (mass ratio near 1, the widest line), with and
  // without a 1/v detector, from 5 degrees down to the forward direction.
  struct Case {
    double mass_ratio;
    std::optional<double> alpha;
  };
  const Case cases[] = {{50.5, std::nullopt}, {50.5, 1.0}, {0.99917, std::nullopt}, {0.99917, 1.0}};
  for (const Case& k : cases) {
    PlaczekOptions o;
    o.wavelength = 0.7;
    o.temperature = 300;
    o.detector_alpha = k.alpha;
    for (double tt : {0.0, 0.001, 0.1, 1.0, 5.0}) {
      const Result<double> p = placzek_exact(tt, k.mass_ratio, o);
      if (tt == 0.0 && k.mass_ratio < 2) {
        // Hydrogen's P is infinite forward (the nuclei moving with the neutron):
        // refused, not a number.
        EXPECT_EQ(p.kind(), ErrorKind::kOutOfRange);
        continue;
      }
      ASSERT_TRUE(p.ok()) << p.error().message;
      EXPECT_NEAR(*p, direct_forward(tt, k.mass_ratio, 0.7, 300, k.alpha) - 1.0, 1e-7)
          << "M/m " << k.mass_ratio << " at " << tt;
      const Result<double> f = placzek_first_order(tt, k.mass_ratio, o);
      ASSERT_TRUE(f.ok());
      if (k.mass_ratio > 2) {
        EXPECT_NEAR(*p, *f, 0.01 * std::abs(*f)) << tt;
      }
    }
    // Continuous into 0 for vanadium; for hydrogen the forward logarithm,
    // 2 A ln(1 / 2theta) with A = sqrt(M E / pi kT) exp(-M E / kT).
    const double x = k.mass_ratio * 81.8042 / (0.7 * 0.7) / (0.08617333 * 300);
    const double a = std::sqrt(x / std::numbers::pi) * std::exp(-x);
    const Result<double> p3 = placzek_exact(1e-3, k.mass_ratio, o), p5 = placzek_exact(1e-5, k.mass_ratio, o);
    ASSERT_TRUE(p3.ok() && p5.ok());
    EXPECT_NEAR(*p5 - *p3, 2 * a * std::log(100.0), 1e-3 * a + 1e-9) << k.mass_ratio;
  }
}

TEST(Placzek, FirstOrderMeetsTheExactIntegralForHeavyNuclei) {
  for (std::optional<double> alpha :
       {std::optional<double>{}, std::optional<double>{0.4}, std::optional<double>{6.0}}) {
    PlaczekOptions o;
    o.wavelength = 0.8;
    o.temperature = 300;
    o.detector_alpha = alpha;
    for (double tt : {20.0, 90.0, 160.0}) {
      // (exact - first) M^2 settles to a constant: the expansion is right to first order.
      double scaled[3];
      int i = 0;
      for (double m : {100.0, 1000.0, 10000.0}) {
        const Result<double> e = placzek_exact(tt, m, o), f = placzek_first_order(tt, m, o);
        ASSERT_TRUE(e.ok() && f.ok());
        scaled[i++] = (*e - *f) * m * m;
      }
      EXPECT_NEAR(scaled[1], scaled[2], 0.01 * std::abs(scaled[2]) + 1e-3) << tt;
      EXPECT_NEAR(scaled[0], scaled[2], 0.1 * std::abs(scaled[2]) + 1e-2) << tt;
      // And both against the direct sum for a heavy nucleus.
      const Result<double> f = placzek_first_order(tt, 1000.0, o), e = placzek_exact(tt, 1000.0, o);
      ASSERT_TRUE(f.ok() && e.ok());
      const double d = direct(tt, 1000.0, 0.8, 300, alpha) - 1.0;
      EXPECT_NEAR(*e, d, 1e-7) << tt;
      EXPECT_NEAR(*f, d, 10.0 / (1000.0 * 1000.0)) << tt;
    }
  }
  // At rest and seen by a black detector, the recoil alone: -4 (m/M) sin^2 theta.
  PlaczekOptions cold;
  cold.wavelength = 1.0;
  cold.temperature = 0.0;
  const Result<double> p = placzek_first_order(120.0, 40.0, cold);
  ASSERT_TRUE(p.ok());
  EXPECT_NEAR(*p, -4.0 / 40.0 * 0.75, 1e-15);
  const Result<double> e = placzek_exact(120.0, 4000.0, cold);
  ASSERT_TRUE(e.ok()) << e.error().message;
  EXPECT_NEAR(*e, -4.0 / 4000.0 * 0.75, 1e-6);
}

TEST(Placzek, MaterialWeightsAndRefusals) {
  Material water;
  water.formula = "H2O";
  MaterialElement h, o;
  h.symbol = "H";
  h.fraction = 2.0 / 3;
  h.sigma_scatt = 82.02;
  h.mass = 1.00794;
  o.symbol = "O";
  o.fraction = 1.0 / 3;
  o.sigma_scatt = 4.232;
  o.mass = 15.9994;
  water.elements = {h, o};
  PlaczekOptions opt;
  opt.wavelength = 0.7;
  opt.detector_alpha = 1.0;
  const std::vector<double> tt{30.0, 120.0};
  const Result<PlaczekTable> t = placzek(tt, water, opt);
  ASSERT_TRUE(t.ok()) << t.error().message;
  ASSERT_EQ(t->elements.size(), 2u);
  EXPECT_NEAR(t->elements[0].weight, 2 * 82.02 / (2 * 82.02 + 4.232), 1e-12);
  EXPECT_NEAR(t->elements[1].mass_ratio, 15.9994 / 1.00866491595, 1e-9);
  for (std::size_t i = 0; i < tt.size(); ++i) {
    const double expect = t->elements[0].weight * *placzek_exact(tt[i], t->elements[0].mass_ratio, opt) +
                          t->elements[1].weight * *placzek_exact(tt[i], t->elements[1].mass_ratio, opt);
    EXPECT_NEAR(t->exact[i], expect, 1e-14);
  }
  // alpha from an efficiency of 90 % at 1 A.
  const Result<double> a = detector_alpha(0.9, 1.0);
  ASSERT_TRUE(a.ok());
  EXPECT_NEAR(1 - std::exp(-*a / (2 * std::numbers::pi)), 0.9, 1e-14);
  EXPECT_FALSE(detector_alpha(1.0, 1.0).ok());
  PlaczekOptions bad = opt;
  bad.temperature = -1;
  EXPECT_EQ(placzek_exact(90, 10, bad).kind(), ErrorKind::kInvalidArgument);
  bad = opt;
  bad.detector_alpha = 0.0;
  EXPECT_EQ(placzek_first_order(90, 10, bad).kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(placzek_exact(90, 0.0, opt).kind(), ErrorKind::kInvalidArgument);
  bad = opt;
  bad.wavelength = 0;
  EXPECT_EQ(placzek_exact(90, 10, bad).kind(), ErrorKind::kInvalidArgument);
}

}  // namespace
}  // namespace talvo
