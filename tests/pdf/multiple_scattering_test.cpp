// Multiple scattering against a brute-force simulation written here: each
// neutron followed as it would go (free flights by Woodcock's delta tracking
// against the largest mu, absorbed or scattered by the odds at each real
// collision), the escaping ones counted by how often they scattered in a
// window of directions about each detector. A thin vanadium rod, a thick
// sample in its can, and a hydrogenous sample.
#include "talvo/pdf/multiple_scattering.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace talvo::pdf {
namespace {

constexpr double kPi = std::numbers::pi;

struct Body {
  double r, h;             // sample radius and height
  double mu_t, mu_s;       // sample
  double c_in, c_out, ch;  // can (c_out 0: none)
  double c_mu_t, c_mu_s;
};

struct Counts {
  std::vector<double> single, twice, more;  // escapes in each window by scatterings: 1, 2, 3 or more
};

// The windows: |elevation| below 10 degrees, |in-plane angle - 2theta| below
// 6 degrees on either side of the beam.
Counts brute_force(const Body& b, const std::vector<double>& detectors, long neutrons, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const double outer = b.c_out > 0 ? b.c_out : b.r, top = 0.5 * std::max(b.h, b.c_out > 0 ? b.ch : 0.0);
  const double majorant = std::max(b.mu_t, b.c_out > 0 ? b.c_mu_t : 0.0);
  Counts c{std::vector<double>(detectors.size()), std::vector<double>(detectors.size()),
           std::vector<double>(detectors.size())};
  for (long n = 0; n < neutrons; ++n) {
    const double y = outer * (2 * u(rng) - 1);
    double p[3] = {-std::sqrt(outer * outer - y * y), y, top * (2 * u(rng) - 1)};
    double d[3] = {1, 0, 0};
    int scatterings = 0;
    for (;;) {
      const double step = -std::log(1 - u(rng)) / majorant;
      for (int i = 0; i < 3; ++i) p[i] += step * d[i];
      const double rr = std::hypot(p[0], p[1]);
      if (rr > outer || std::abs(p[2]) > top) {  // out of the bounding cylinder: escaped
        break;
      }
      double mu_t = 0, mu_s = 0;
      if (rr < b.r && std::abs(p[2]) < 0.5 * b.h) {
        mu_t = b.mu_t;
        mu_s = b.mu_s;
      } else if (b.c_out > 0 && rr > b.c_in && std::abs(p[2]) < 0.5 * b.ch) {
        mu_t = b.c_mu_t;
        mu_s = b.c_mu_s;
      }
      const double x = u(rng) * majorant;
      if (x >= mu_t) continue;  // a virtual collision
      if (x >= mu_s) {          // absorbed
        scatterings = -1;
        break;
      }
      ++scatterings;
      const double cz = 2 * u(rng) - 1, phi = 2 * kPi * u(rng), sz = std::sqrt(1 - cz * cz);
      d[0] = sz * std::cos(phi);
      d[1] = sz * std::sin(phi);
      d[2] = cz;
    }
    if (scatterings < 1) continue;
    const double elevation = std::asin(d[2]) * 180 / kPi;
    if (std::abs(elevation) >= 10) continue;
    const double in_plane = std::atan2(std::abs(d[1]), d[0]) * 180 / kPi;
    for (std::size_t j = 0; j < detectors.size(); ++j) {
      if (std::abs(in_plane - detectors[j]) >= 6) continue;
      (scatterings == 1 ? c.single : scatterings == 2 ? c.twice : c.more)[j] += 1;
    }
  }
  return c;
}

TEST(MultipleScattering, AgainstABruteForceSimulation) {
  struct Case {
    const char* what;
    Body body;
    long neutrons;
  };
  const Case cases[] = {
      // Vanadium, 0.0721 atoms/A3: sigma_s 5.1 b, sigma_a 5.08 b at 1.8 A; mu R 0.22.
      {"thin vanadium rod", {0.3, 3.0, 0.734, 0.368, 0, 0, 0, 0, 0}, 3000000},
      // mu R 1.2, in a vanadium can taller than the sample.
      {"thick sample in its can", {0.6, 2.0, 2.0, 1.2, 0.6, 0.65, 2.4, 0.734, 0.368}, 1500000},
      // Mostly incoherent hydrogen: mu R 1.4, nearly all of it scattering.
      {"hydrogenous", {0.25, 1.5, 5.6, 5.45, 0, 0, 0, 0, 0}, 1500000},
  };
  const std::vector<double> detectors{30.0, 90.0, 150.0};
  for (const Case& k : cases) {
    const Body& b = k.body;
    ScatteringCylinder sc;
    sc.cylinder.radius = b.r;
    sc.cylinder.height = b.h;
    sc.cylinder.mu = b.mu_t;
    sc.mu_scatt = b.mu_s;
    if (b.c_out > 0) {
      sc.cylinder.can_inner = b.c_in;
      sc.cylinder.can_outer = b.c_out;
      sc.cylinder.can_height = b.ch;
      sc.cylinder.can_mu = b.c_mu_t;
      sc.can_mu_scatt = b.c_mu_s;
    }
    MultipleScatteringOptions o;
    o.histories = 40000;
    o.seed = 7;
    // The window's mean over elevation: midpoints at 0, +-4 and +-8 degrees
    // (the two signs alike), each a mean over the in-plane angles -4, 0, +4.
    std::vector<double> delta(detectors.size()), delta2(detectors.size()), sigma(detectors.size()),
        sigma2(detectors.size());
    for (auto [elevation, weight] : {std::pair{0.0, 0.2}, std::pair{4.0, 0.4}, std::pair{8.0, 0.4}}) {
      for (double shift : {-4.0, 0.0, 4.0}) {
        std::vector<double> at = detectors;
        for (double& t : at) t += shift;
        const Result<MultipleScatteringResult> m = multiple_scattering(at, elevation, sc, {}, o);
        ASSERT_TRUE(m.ok()) << m.error().message;
        for (std::size_t j = 0; j < detectors.size(); ++j) {
          delta[j] += weight / 3 * m->delta[j];
          delta2[j] += weight / 3 * m->delta2[j];
          sigma[j] = std::max(sigma[j], m->delta_sigma[j]);
          sigma2[j] = std::max(sigma2[j], m->delta2_sigma[j]);
        }
      }
    }
    const Counts c = brute_force(b, detectors, k.neutrons, 11);
    for (std::size_t j = 0; j < detectors.size(); ++j) {
      const double n1 = c.single[j], n2 = c.twice[j], nm = c.twice[j] + c.more[j];
      ASSERT_GT(n1, 500) << k.what;
      const double bf = nm / n1, bf2 = n2 / n1;
      const double bf_sigma = bf * std::sqrt(1 / n1 + 1 / std::max(nm, 1.0));
      const double bf2_sigma = bf2 * std::sqrt(1 / n1 + 1 / std::max(n2, 1.0));
      EXPECT_NEAR(delta[j], bf, 3.5 * std::hypot(sigma[j], bf_sigma))
          << k.what << " at " << detectors[j] << ": " << delta[j] << " +- " << sigma[j] << " against " << bf << " +- "
          << bf_sigma;
      EXPECT_NEAR(delta2[j], bf2, 3.5 * std::hypot(sigma2[j], bf2_sigma))
          << k.what << " double at " << detectors[j] << ": " << delta2[j] << " against " << bf2;
      EXPECT_LT(delta2[j], delta[j] + 1e-12) << k.what;
    }
  }
}

TEST(MultipleScattering, SeedsAndWhatItRefuses) {
  ScatteringCylinder sc;
  sc.cylinder.radius = 0.3;
  sc.cylinder.height = 2.0;
  sc.cylinder.mu = 1.0;
  sc.mu_scatt = 0.6;
  MultipleScatteringOptions o;
  o.histories = 2000;
  const std::vector<double> tt{20.0, 160.0};
  const Result<MultipleScatteringResult> a = multiple_scattering(tt, 0.0, sc, {}, o);
  const Result<MultipleScatteringResult> b = multiple_scattering(tt, 0.0, sc, {}, o);
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_EQ(a->delta, b->delta);  // the same seed, the same numbers
  o.seed = 2;
  const Result<MultipleScatteringResult> c = multiple_scattering(tt, 0.0, sc, {}, o);
  ASSERT_TRUE(c.ok());
  EXPECT_NE(a->delta, c->delta);
  EXPECT_NEAR(a->delta[0], c->delta[0], 5 * std::hypot(a->delta_sigma[0], c->delta_sigma[0]));
  // A can that neither scatters nor absorbs changes nothing.
  ScatteringCylinder clear = sc;
  clear.cylinder.can_inner = 0.3;
  clear.cylinder.can_outer = 0.35;
  clear.cylinder.can_height = 2.0;
  const Result<MultipleScatteringResult> through = multiple_scattering(tt, 0.0, clear, {}, o);
  ASSERT_TRUE(through.ok());
  EXPECT_TRUE(std::isfinite(through->delta[1]));
  EXPECT_NEAR(through->delta[1], c->delta[1], 5 * std::hypot(through->delta_sigma[1], c->delta_sigma[1]));
  // Nothing scatters: no multiple scattering.
  sc.mu_scatt = 0.0;
  const Result<MultipleScatteringResult> none = multiple_scattering(tt, 0.0, sc, {}, o);
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(none->delta[0], 0.0);
  sc.mu_scatt = 1.5;  // more scattering than attenuation
  EXPECT_EQ(multiple_scattering(tt, 0.0, sc, {}, o).kind(), ErrorKind::kInvalidArgument);
  sc.mu_scatt = 0.5;
  o.batches = 1;
  EXPECT_EQ(multiple_scattering(tt, 0.0, sc, {}, o).kind(), ErrorKind::kInvalidArgument);
  o.batches = 10;
  bool asked = false;
  o.stop = [&] { return asked = true; };
  EXPECT_EQ(multiple_scattering(tt, 0.0, sc, {}, o).kind(), ErrorKind::kCancelled);
  EXPECT_TRUE(asked);
}

}  // namespace
}  // namespace talvo::pdf
