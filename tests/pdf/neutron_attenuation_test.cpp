// The neutron attenuation factors: Mantid's published values for LaB6 in a
// vanadium can, a midpoint sum over the cross-section in polar coordinates at
// several mu R, a Monte Carlo of a narrow beam, finite heights and a detector
// out of the plane, the X-ray capillary's factors where the geometry is the
// same, the flat plate against a sum over its depth, the attenuation
// coefficient against hand values, and the inputs refused.
#include "talvo/pdf/neutron_attenuation.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "talvo/neutron/neutron_table.hpp"
#include "talvo/pdf/capillary.hpp"

namespace talvo::pdf {
namespace {

constexpr double kPi = std::numbers::pi;

const NeutronTable& table() {
  static const NeutronTable t = [] {
    Result<NeutronTable> read = read_neutron_table(std::string(TALVO_TEST_DATA_DIR) + "neutron_sears92.tsv");
    EXPECT_TRUE(read.ok());
    return read.ok() ? std::move(*read) : NeutronTable{};
  }();
  return t;
}

// Where a line from p along d meets the infinite cylinder x^2 + y^2 = rho^2:
// the interval of t (empty when lo >= hi).
struct Interval {
  double lo, hi;
};
Interval side(const double p[3], const double d[3], double rho) {
  const double a = d[0] * d[0] + d[1] * d[1];
  if (a == 0.0) return p[0] * p[0] + p[1] * p[1] < rho * rho ? Interval{-1e300, 1e300} : Interval{0, 0};
  const double b = p[0] * d[0] + p[1] * d[1], c = p[0] * p[0] + p[1] * p[1] - rho * rho;
  const double disc = b * b - a * c;
  if (disc <= 0.0) return {0, 0};
  return {(-b - std::sqrt(disc)) / a, (-b + std::sqrt(disc)) / a};
}
// The length of the half-line from p along the unit vector d inside the
// cylinder of radius rho and |z| < half.
double inside(const double p[3], const double d[3], double rho, double half) {
  Interval s = side(p, d, rho);
  double lo = std::max(s.lo, 0.0), hi = s.hi;
  if (d[2] != 0.0) {
    const double t1 = (-half - p[2]) / d[2], t2 = (half - p[2]) / d[2];
    lo = std::max(lo, std::min(t1, t2));
    hi = std::min(hi, std::max(t1, t2));
  } else if (std::abs(p[2]) >= half) {
    return 0.0;
  }
  return hi > lo ? hi - lo : 0.0;
}

struct Case {
  double r, r_in, r_out, hs, hc;  // full heights
  double mu_s, mu_c;
  double width, height;  // beam, centred; 0: wider than everything
  double two_theta, elevation;
};

// Monte Carlo over the lit volume of sample and can: the four factors and
// their standard errors.
struct McFactors {
  double v[4], sigma[4];
};
McFactors monte_carlo(const Case& c, int n) {
  std::mt19937_64 rng(20260);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const double tt = c.two_theta * kPi / 180.0, el = c.elevation * kPi / 180.0;
  const double out[3] = {std::cos(el) * std::cos(tt), std::cos(el) * std::sin(tt), std::sin(el)};
  const double back[3] = {-1.0, 0.0, 0.0};
  McFactors m{};
  for (int region = 0; region < 2; ++region) {
    const double rho_lo = region == 0 ? 0.0 : c.r_in, rho_hi = region == 0 ? c.r : c.r_out;
    const double half = 0.5 * std::min(region == 0 ? c.hs : c.hc, c.height > 0 ? c.height : 1e300);
    double s[2] = {0, 0}, s2[2] = {0, 0};
    int kept = 0;
    while (kept < n) {
      const double p[3] = {rho_hi * u(rng), rho_hi * u(rng), half * u(rng)};
      const double rr = std::hypot(p[0], p[1]);
      if (rr > rho_hi || rr < rho_lo) continue;
      if (c.width > 0 && std::abs(p[1]) > 0.5 * c.width) continue;
      ++kept;
      double ls = 0, lc = 0;
      for (const double* d : {back, out}) {
        ls += inside(p, d, c.r, 0.5 * c.hs);
        lc += inside(p, d, c.r_out, 0.5 * c.hc) - inside(p, d, c.r_in, 0.5 * c.hc);
      }
      const double t[2] = {region == 0 ? std::exp(-c.mu_s * ls) : std::exp(-c.mu_s * ls - c.mu_c * lc),
                           region == 0 ? std::exp(-c.mu_s * ls - c.mu_c * lc) : std::exp(-c.mu_c * lc)};
      for (int k = 0; k < 2; ++k) {
        s[k] += t[k];
        s2[k] += t[k] * t[k];
      }
    }
    for (int k = 0; k < 2; ++k) {
      const double mean = s[k] / n;
      m.v[2 * region + k] = mean;
      m.sigma[2 * region + k] = std::sqrt(std::max(s2[k] / n - mean * mean, 0.0) / n);
    }
  }
  return m;
}

// The in-plane factors of an infinitely tall cylinder by a midpoint sum over
// equal areas (r^2 and the polar angle), the paths from the chord lengths of
// circles written as sqrt(rho^2 - d^2) about the foot of the perpendicular.
std::array<double, 4> midpoint(double r, double r_out, double mu_s, double mu_c, double two_theta, int n) {
  const double tt = two_theta * kPi / 180.0, ux = std::cos(tt), uy = std::sin(tt);
  auto half_line = [](double x, double y, double dx, double dy, double rho) {
    const double along = x * dx + y * dy, perp2 = x * x + y * y - along * along;
    if (perp2 >= rho * rho) return 0.0;
    const double h = std::sqrt(rho * rho - perp2);
    return std::max(0.0, h - along) - std::max(0.0, -h - along);
  };
  std::array<double, 4> f{};
  for (int region = 0; region < 2; ++region) {
    const double a2 = region == 0 ? 0.0 : r * r, b2 = region == 0 ? r * r : r_out * r_out;
    double s[2] = {0, 0};
    for (int i = 0; i < n; ++i) {
      const double rad = std::sqrt(a2 + (b2 - a2) * (i + 0.5) / n);
      for (int j = 0; j < n; ++j) {
        const double phi = 2 * kPi * (j + 0.5) / n, x = rad * std::cos(phi), y = rad * std::sin(phi);
        const double ls = half_line(x, y, -1, 0, r) + half_line(x, y, ux, uy, r);
        const double lc = half_line(x, y, -1, 0, r_out) + half_line(x, y, ux, uy, r_out) - ls;
        if (region == 0) {
          s[0] += std::exp(-mu_s * ls);
          s[1] += std::exp(-mu_s * ls - mu_c * lc);
        } else {
          s[0] += std::exp(-mu_s * ls - mu_c * lc);
          s[1] += std::exp(-mu_c * lc);
        }
      }
    }
    f[2 * static_cast<std::size_t>(region)] = s[0] / (static_cast<double>(n) * n);
    f[2 * static_cast<std::size_t>(region) + 1] = s[1] / (static_cast<double>(n) * n);
  }
  return f;
}

TEST(NeutronAttenuation, MantidLaB6InAVanadiumCan) {
  // Mantid's published factors (its raster of the sample's cross-section).
  struct Row {
    double two_theta, a_s_s, a_s_sc;
  };
  const Row rows[] = {{10, 0.1466219, 0.1406871}, {90, 0.1977505, 0.1903367}, {170, 0.2517314, 0.2422601}};
  NeutronMuOptions o;
  o.wavelength = 1.7982;
  o.number_density = 0.1;
  const Result<NeutronMu> lab6 = neutron_mu("LaB[11]5.94B[10]0.06", table(), o);
  ASSERT_TRUE(lab6.ok()) << lab6.error().message;
  o.number_density = 0.0721;
  const Result<NeutronMu> v = neutron_mu("V", table(), o);
  ASSERT_TRUE(v.ok()) << v.error().message;
  NeutronCylinder c{0.295, 5.68, lab6->mu, 0.295, 0.315, 5.68, v->mu};
  for (const Row& row : rows) {
    const Result<NeutronFactors> f = cylinder_factors(row.two_theta, 0.0, c, {}, 1e-7);
    ASSERT_TRUE(f.ok()) << f.error().message;
    EXPECT_LE(f->error, 1e-7);
    // The raster sets them 0.15-0.3 % below the converged integral.
    for (auto [ours, theirs] : {std::pair{f->a_s_s, row.a_s_s}, std::pair{f->a_s_sc, row.a_s_sc}}) {
      const double below = (ours - theirs) / ours;
      EXPECT_GT(below, 0.0010) << row.two_theta << ": " << ours << " against " << theirs;
      EXPECT_LT(below, 0.0035) << row.two_theta << ": " << ours << " against " << theirs;
    }
  }
}

TEST(NeutronAttenuation, InPlaneFactorsAgainstAMidpointSum) {
  // Sample and can touching, mu R of the sample from thin to thick.
  for (double mu_r : {0.05, 0.3, 1.0, 2.0, 4.0}) {
    const NeutronCylinder c{1.0, std::nullopt, mu_r, 1.0, 1.12, std::nullopt, 0.7};
    for (double tt : {0.0, 35.0, 90.0, 151.0, 180.0}) {
      const Result<NeutronFactors> f = cylinder_factors(tt, 0.0, c, {}, 1e-8);
      ASSERT_TRUE(f.ok()) << f.error().message;
      const std::array<double, 4> m = midpoint(1.0, 1.12, mu_r, 0.7, tt, 500);
      const double got[4] = {f->a_s_s, f->a_s_sc, f->a_c_sc, f->a_c_c};
      for (std::size_t k = 0; k < 4; ++k)
        EXPECT_NEAR(got[k], m[k], 3e-5 * std::max(m[k], 0.05)) << mu_r << " " << tt << " " << k;
    }
  }
}

TEST(NeutronAttenuation, BeamHeightsAndElevationAgainstMonteCarlo) {
  const Case cases[] = {
      // A beam narrower and lower than the sample, detectors above the plane.
      {0.3, 0.3, 0.33, 2.0, 2.4, 1.2, 0.8, 0.25, 1.0, 70.0, 25.0},
      // A short sample in a taller can, the beam taller than both: the can
      // above and below the sample is lit, the exit rays leave through the top.
      {0.5, 0.55, 0.6, 0.4, 1.5, 0.9, 0.5, 0.0, 0.0, 120.0, -40.0},
      // Hydrogenous, thick (mu R 1.6), a thin can, in the plane.
      {0.25, 0.25, 0.26, 4.0, 4.0, 6.4, 0.2, 0.0, 2.0, 160.0, 0.0},
  };
  for (const Case& k : cases) {
    NeutronCylinder c{k.r, k.hs, k.mu_s, k.r_in, k.r_out, k.hc, k.mu_c};
    NeutronBeam beam;
    if (k.width > 0) beam.width = k.width;
    if (k.height > 0) beam.height = k.height;
    const Result<NeutronFactors> f = cylinder_factors(k.two_theta, k.elevation, c, beam, 1e-6);
    ASSERT_TRUE(f.ok()) << f.error().message;
    const McFactors m = monte_carlo(k, 400000);
    const double got[4] = {f->a_s_s, f->a_s_sc, f->a_c_sc, f->a_c_c};
    for (std::size_t i = 0; i < 4; ++i)
      EXPECT_NEAR(got[i], m.v[i], 4.0 * m.sigma[i] + 1e-6) << k.two_theta << " " << i << " sigma " << m.sigma[i];
  }
}

TEST(NeutronAttenuation, TheCapillarysFactorsWhereTheGeometryIsTheSame) {
  // A tall sample in a tube, lit by a band narrower than it, in the plane: the
  // X-ray capillary's factors, in units of the sample's radius.
  const double r = 0.2, wall = 0.03, mu = 2.5, mu_c = 1.5, width = 0.3;
  const NeutronCylinder c{r, std::nullopt, mu, r, r + wall, std::nullopt, mu_c};
  NeutronBeam beam;
  beam.width = width;
  CapillaryBeam band;
  band.width = width / r;
  for (double tt : {5.0, 60.0, 125.0}) {
    const Result<NeutronFactors> f = cylinder_factors(tt, 0.0, c, beam, 1e-9);
    ASSERT_TRUE(f.ok());
    const PaalmanPings pp = paalman_pings(tt, mu * r, {wall / r, mu_c * r}, band, 64);
    EXPECT_NEAR(f->a_s_sc, pp.a_s_sc, 1e-8);
    EXPECT_NEAR(f->a_c_sc, pp.a_c_sc, 1e-8);
    EXPECT_NEAR(f->a_c_c, pp.a_c_c, 1e-8);
    EXPECT_NEAR(f->a_s_s, capillary_absorption(tt, mu * r, band, 64), 1e-8);
  }
}

TEST(NeutronAttenuation, TableMatchesEachAngle) {
  const NeutronCylinder c{0.3, 3.0, 1.5, 0.3, 0.32, 3.0, 0.6};
  std::vector<double> tt;
  for (double t = 3.25; t < 178; t += 17.5) tt.push_back(t);
  const Result<NeutronFactorTable> table_result = cylinder_factor_table(tt, 0.0, c, {}, 1e-7);
  ASSERT_TRUE(table_result.ok()) << table_result.error().message;
  for (std::size_t i = 0; i < tt.size(); ++i) {
    const Result<NeutronFactors> f = cylinder_factors(tt[i], 0.0, c, {}, 1e-8);
    ASSERT_TRUE(f.ok());
    EXPECT_NEAR(table_result->a_s_s[i], f->a_s_s, 3e-7) << tt[i];
    EXPECT_NEAR(table_result->a_c_c[i], f->a_c_c, 3e-7) << tt[i];
  }
}

TEST(NeutronAttenuation, PlateAgainstASumOverItsDepth) {
  struct PlateCase {
    NeutronPlate p;
    double two_theta, elevation;
  };
  const PlateCase cases[] = {
      {{0.1, 3.0, 0.05, 0.05, 0.8, 0.0}, 30.0, 0.0},    // transmission
      {{0.2, 1.0, 0.02, 0.04, 2.0, 20.0}, 150.0, 0.0},  // reflection
      {{0.15, 5.0, 0.0, 0.0, 0.0, -35.0}, 80.0, 30.0},  // no cell, out of the plane
  };
  for (const PlateCase& k : cases) {
    const Result<NeutronFactors> f = plate_factors(k.two_theta, k.elevation, k.p);
    ASSERT_TRUE(f.ok()) << f.error().message;
    // Beer's law along the two straight paths, summed over 20000 slices.
    const double n_in[3] = {std::cos(k.p.angle * kPi / 180), std::sin(k.p.angle * kPi / 180), 0};
    const double el = k.elevation * kPi / 180, tt = k.two_theta * kPi / 180;
    const double c_out = std::cos(el) * std::cos(tt) * n_in[0] + std::cos(el) * std::sin(tt) * n_in[1];
    const double t1 = k.p.front_wall, t2 = t1 + k.p.thickness, t3 = t2 + k.p.back_wall;
    auto mean = [&](double lo, double hi, bool sample_absorbs, bool walls_absorb) {
      const int n = 20000;
      double s = 0;
      for (int i = 0; i < n; ++i) {
        const double d = lo + (hi - lo) * (i + 0.5) / n;
        // depth crossed in each layer, in and out
        auto crossed = [&](double a, double b) {
          const double in = std::clamp(d, a, b) - a;
          const double out = c_out > 0 ? b - std::clamp(d, a, b) : in;
          return in / n_in[0] + out / std::abs(c_out);
        };
        const double e = (sample_absorbs ? k.p.mu * crossed(t1, t2) : 0) +
                         (walls_absorb ? k.p.wall_mu * (crossed(0, t1) + crossed(t2, t3)) : 0);
        s += std::exp(-e);
      }
      return s / n;
    };
    EXPECT_NEAR(f->a_s_s, mean(t1, t2, true, false), 1e-7);
    EXPECT_NEAR(f->a_s_sc, mean(t1, t2, true, true), 1e-7);
    if (k.p.front_wall > 0) {
      const double w = (k.p.front_wall * mean(0, t1, true, true) + k.p.back_wall * mean(t2, t3, true, true)) /
                       (k.p.front_wall + k.p.back_wall);
      EXPECT_NEAR(f->a_c_sc, w, 1e-7);
    }
  }
  // The straight-through beam: exp(-mu t) exactly.
  const Result<NeutronFactors> f = plate_factors(0.0, 0.0, {0.1, 3.0});
  ASSERT_TRUE(f.ok());
  EXPECT_NEAR(f->a_s_s, std::exp(-0.3), 1e-14);
}

TEST(NeutronAttenuation, MuFromTheTableAndFromMeasurements) {
  // Water of 0.100272 atoms/A3, 1 mm, 5 to 7 A: Sears' sigma_s (H 82.02,
  // O 4.232 b) and sigma_a (H 0.3326, O 0.00019 b at 1.798 A) by the 1/v law.
  for (double lambda : {5.0, 6.0, 7.0}) {
    NeutronMuOptions o;
    o.wavelength = lambda;
    o.number_density = 0.100272;
    const Result<NeutronMu> w = neutron_mu("H2O", table(), o);
    ASSERT_TRUE(w.ok()) << w.error().message;
    const double sigma = (2 * (82.02 + 0.3326 * lambda / 1.798) + (4.232 + 0.00019 * lambda / 1.798)) / 3;
    EXPECT_NEAR(std::exp(-w->mu * 0.1), std::exp(-0.100272 * sigma * 0.1), 2e-6) << lambda;
    EXPECT_NE(w->source.find("1/v"), std::string::npos) << w->source;
  }
  // Measured sigma(lambda) of a hydrogenous sample replaces the table's.
  const Result<SigmaCurve> curve = read_sigma_curve("# lambda sigma\n1.0 40\n 3.0, 56 \n\n7.0 80\n");
  ASSERT_TRUE(curve.ok()) << curve.error().message;
  const Result<double> at5 = curve->at(5.0);
  ASSERT_TRUE(at5.ok());
  EXPECT_DOUBLE_EQ(*at5, 68.0);
  EXPECT_EQ(curve->at(8.0).kind(), ErrorKind::kOutOfRange);
  NeutronMuOptions o;
  o.wavelength = 5.0;
  o.number_density = 0.1;
  o.sigma_total = *at5;
  const Result<NeutronMu> measured = neutron_mu("H2O", table(), o);
  ASSERT_TRUE(measured.ok());
  EXPECT_DOUBLE_EQ(measured->mu, 6.8);
  EXPECT_EQ(measured->source, "the measured total cross-section");
  for (const char* bad : {"1 2\n1 3\n", "1 2 3\n", "1\n", "2 x\n", "1 5\n"}) {
    const Result<SigmaCurve> r = read_sigma_curve(bad);
    EXPECT_FALSE(r.ok()) << bad;
  }
}

TEST(NeutronAttenuation, InputsThatCannotBe) {
  struct Bad {
    NeutronCylinder c;
    NeutronBeam beam;
    double elevation;
    const char* says;
  };
  const Bad cases[] = {
      {{0.3, 1.0, 1.0, 0.3, 0.29, 1.0, 0.5}, {}, 0.0, "thinner than nothing"},
      {{0.3, 1.0, 1.0, 0.25, 0.35, 1.0, 0.5}, {}, 0.0, "at least the sample's"},
      {{-0.3, 1.0, 1.0, 0, 0, std::nullopt, 0}, {}, 0.0, "radius must be above 0"},
      {{0.3, 0.0, 1.0, 0, 0, std::nullopt, 0}, {}, 0.0, "height must be above 0"},
      {{0.3, 1.0, -1.0, 0, 0, std::nullopt, 0}, {}, 0.0, "mu must be 0 or more"},
      {{0.3, 1.0, 1.0, 0, 0, std::nullopt, 0}, {0.0, std::nullopt, std::nullopt}, 0.0, "width must be above 0"},
      {{0.3, 1.0, 1.0, 0, 0, std::nullopt, 0}, {}, 90.0, "elevation"},
  };
  for (const Bad& b : cases) {
    const Result<NeutronFactors> f = cylinder_factors(30.0, b.elevation, b.c, b.beam);
    ASSERT_FALSE(f.ok()) << b.says;
    EXPECT_EQ(f.kind(), ErrorKind::kInvalidArgument);
    EXPECT_NE(f.error().message.find(b.says), std::string::npos) << f.error().message;
  }
  EXPECT_FALSE(plate_factors(30.0, 0.0, {0.1, 1.0, 0, 0, 0, 95.0}).ok());
  NeutronMuOptions o;
  o.wavelength = 1.8;
  EXPECT_NE(neutron_mu("H2O", table(), o).error().message.find("needs a density"), std::string::npos);
}

}  // namespace
}  // namespace talvo::pdf
