// The quadrature a cylinder's factors share: Gauss-Legendre nodes, the band
// of the cross-section a beam lights, the path of a ray in a disc, the
// integral over a disc or ring within the band with its kinks mapped away,
// and factors tabulated every degree of 2theta. Internal to the pdf layer.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <span>
#include <vector>

#include "talvo/pdf/capillary.hpp"

namespace talvo::pdf::detail {

// A Gaussian beam is integrated to 7 sigma either side: the rest is 3e-12 of it.
inline constexpr double kGaussianReach = 7.0;

// Gauss-Legendre nodes and weights on [-1, 1] (Newton on P_n from the
// Chebyshev guesses).
inline void gauss_legendre(int n, std::vector<double>& x, std::vector<double>& w) {
  x.assign(static_cast<std::size_t>(n), 0.0);
  w.assign(static_cast<std::size_t>(n), 0.0);
  for (int i = 0; i < (n + 1) / 2; ++i) {
    double z = std::cos(std::numbers::pi * (i + 0.75) / (n + 0.5));
    double dp = 0.0;
    for (int it = 0; it < 100; ++it) {
      double p0 = 1.0, p1 = 0.0;
      for (int k = 1; k <= n; ++k) {
        const double p2 = p1;
        p1 = p0;
        p0 = ((2.0 * k - 1.0) * z * p1 - (k - 1.0) * p2) / k;
      }
      dp = n * (z * p0 - p1) / (z * z - 1.0);
      const double dz = p0 / dp;
      z -= dz;
      if (std::abs(dz) < 1e-15) break;
    }
    const auto a = static_cast<std::size_t>(i), b = static_cast<std::size_t>(n - 1 - i);
    x[a] = -z;
    x[b] = z;
    w[a] = w[b] = 2.0 / ((1.0 - z * z) * dp * dp);
  }
}

struct Nodes {
  std::vector<double> x, w;
  explicit Nodes(int n) { gauss_legendre(n, x, w); }
};

// The band of y the beam lights and its weight p(y) there.
struct Band {
  double lo = -std::numeric_limits<double>::infinity(), hi = std::numeric_limits<double>::infinity();
  bool gaussian = false;
  double centre = 0.0, sigma = 1.0;
  double weight(double y) const {
    if (!gaussian) return 1.0;
    const double u = (y - centre) / sigma;
    return std::exp(-0.5 * u * u);
  }
};

inline Band band_of(const CapillaryBeam& beam) {
  Band b;
  if (!beam.width) return b;
  if (beam.profile == BeamProfile::kGaussian) {
    b.gaussian = true;
    b.centre = beam.offset;
    b.sigma = *beam.width / (2.0 * std::sqrt(2.0 * std::numbers::ln2));
    b.lo = beam.offset - kGaussianReach * b.sigma;
    b.hi = beam.offset + kGaussianReach * b.sigma;
  } else {
    b.lo = beam.offset - 0.5 * *beam.width;
    b.hi = beam.offset + 0.5 * *beam.width;
  }
  return b;
}

// The length of the ray from (px, py) along the unit vector (ux, uy) inside
// the disc of radius rho.
inline double path_in_disc(double px, double py, double ux, double uy, double rho) {
  const double b = px * ux + py * uy;
  const double disc = b * b - (px * px + py * py - rho * rho);
  if (!(disc > 0.0)) return 0.0;
  const double s = std::sqrt(disc);
  const double t2 = -b + s;
  if (!(t2 > 0.0)) return 0.0;
  return t2 - std::max(-b - s, 0.0);
}

// int p(y) f(x, y) dx dy (f with K values) and int p(y) dx dy over
// rho_in <= |(x, y)| <= rho_out within the band. The band's edges and
// y = +-rho_in, where a chord's end moves as a square root, split y into
// pieces; on each, y = rho sin(phi) with rho the circle whose chord ends
// there, so the chords are smooth in phi. `splits(y, xs)` puts up to four x
// into xs where f has a square-root kink along the chord; the chord is cut
// there (up to four) and each piece mapped by x = m + h (3 s - s^3) / 2, whose derivative
// vanishes at its ends, so the kinks become smooth in s.
template <std::size_t K, class S, class F>
std::array<double, K + 1> band_integral(double rho_in, double rho_out, const Band& band, const Nodes& g,
                                        std::span<const double> y_cuts, S splits, F f) {
  std::array<double, K + 1> sum{};  // the K integrals, then the volume
  const double lo = std::max(band.lo, -rho_out), hi = std::min(band.hi, rho_out);
  if (!(lo < hi)) return sum;
  std::array<double, 32> cuts{lo, hi};
  std::size_t ncut = 2;
  auto cut = [&](double c) {
    if (c > lo && c < hi && ncut < cuts.size()) cuts[ncut++] = c;
  };
  if (rho_in > 0.0)
    for (double c : {-rho_in, rho_in}) cut(c);
  for (double c : y_cuts) cut(c);
  if (band.gaussian)  // pieces no wider than 2 sigma where most of the beam is
    for (double k : {-5.0, -3.0, -1.5, 0.0, 1.5, 3.0, 5.0}) cut(band.centre + k * band.sigma);
  std::sort(cuts.begin(), cuts.begin() + static_cast<std::ptrdiff_t>(ncut));
  for (std::size_t piece = 0; piece + 1 < ncut; ++piece) {
    const double a = cuts[piece], b = cuts[piece + 1];
    const bool inside = rho_in > 0.0 && std::abs(0.5 * (a + b)) < rho_in;
    const double circle = inside ? rho_in : rho_out;
    const double pa = std::asin(std::clamp(a / circle, -1.0, 1.0)), pb = std::asin(std::clamp(b / circle, -1.0, 1.0));
    const double half_phi = 0.5 * (pb - pa), mid_phi = 0.5 * (pa + pb);
    for (std::size_t i = 0; i < g.x.size(); ++i) {
      double t = g.x[i], wt = g.w[i];
      if (!y_cuts.empty()) {  // the kinks in y are at the pieces' ends: the same map as along x
        wt *= 1.5 * (1.0 - t * t);
        t = 0.5 * t * (3.0 - t * t);
      }
      const double phi = mid_phi + half_phi * t;
      const double y = circle * std::sin(phi), chord = circle * std::cos(phi);
      const double h_out = inside ? std::sqrt(std::max(rho_out * rho_out - y * y, 0.0)) : chord;
      const double h_in = inside ? chord : 0.0;
      const double wy = wt * half_phi * chord * band.weight(y);  // dy = rho cos(phi) dphi
      // The chord's pieces: [-h_out, -h_in] and [h_in, h_out], or [-h_out, h_out], cut at the kinks.
      std::array<double, 12> ends{};
      std::size_t nends = 0;
      std::array<double, 4> kinks{};
      const std::size_t nkinks = splits(y, kinks);
      auto add_segment = [&](double x0, double x1) {
        ends[nends++] = x0;
        for (std::size_t k = 0; k < nkinks; ++k)
          if (kinks[k] > x0 && kinks[k] < x1) ends[nends++] = kinks[k];
        ends[nends++] = x1;
      };
      if (h_in > 0.0) {
        add_segment(-h_out, -h_in);
        add_segment(h_in, h_out);
      } else {
        add_segment(-h_out, h_out);
      }
      // At most 2 pieces of 2 ends and 4 kinks, sorted in place: g++ 12 at -O3
      // cannot see that bound through std::sort and warns of the array's end.
      nends = std::min(nends, ends.size());
      for (std::size_t e = 1; e < nends; ++e)
        for (std::size_t d = e; d > 0 && ends[d - 1] > ends[d]; --d) std::swap(ends[d - 1], ends[d]);
      for (std::size_t e = 0; e + 1 < nends; ++e) {
        const double x0 = ends[e], x1 = ends[e + 1];
        if (h_in > 0.0 && x0 >= -h_in && x1 <= h_in) continue;  // the hole between the two segments
        const double hx = 0.5 * (x1 - x0), mx = 0.5 * (x0 + x1);
        std::array<double, K> inner{};
        for (std::size_t j = 0; j < g.x.size(); ++j) {
          double x = mx + hx * g.x[j], wx = g.w[j];
          if (!y_cuts.empty()) {
            const double v = g.x[j];
            x = mx + hx * 0.5 * v * (3.0 - v * v);
            wx *= 1.5 * (1.0 - v * v);
          }
          const std::array<double, K> v = f(x, y);
          for (std::size_t k = 0; k < K; ++k) inner[k] += wx * v[k];
        }
        for (std::size_t k = 0; k < K; ++k) sum[k] += wy * hx * inner[k];
        sum[K] += wy * 2.0 * hx;
      }
    }
  }
  return sum;
}

inline std::size_t no_kinks(double, std::array<double, 4>&) { return 0; }

// f at every whole degree the pattern's angles reach, interpolated to each
// angle by four-point Lagrange polynomials: the factors are smooth in
// 2theta (error below 1e-7 for a step of one degree).
template <std::size_t K, class F>
std::array<std::vector<double>, K> tabulated(std::span<const double> two_theta, F f) {
  constexpr int kTable = 181;
  std::vector<std::array<double, K>> table(kTable);
  double lo = 180.0, hi = 0.0;
  for (double t : two_theta) {
    lo = std::min(lo, std::clamp(t, 0.0, 180.0));
    hi = std::max(hi, std::clamp(t, 0.0, 180.0));
  }
  const int k_lo = std::clamp(static_cast<int>(std::floor(lo)) - 1, 0, kTable - 4);
  const int k_hi = std::clamp(static_cast<int>(std::floor(hi)) + 2, 3, kTable - 1);
  for (int k = k_lo; k <= k_hi; ++k) table[static_cast<std::size_t>(k)] = f(static_cast<double>(k));
  std::array<std::vector<double>, K> out;
  for (auto& v : out) v.resize(two_theta.size());
  for (std::size_t i = 0; i < two_theta.size(); ++i) {
    const double t = std::clamp(two_theta[i], 0.0, 180.0);
    const int k0 = std::clamp(static_cast<int>(std::floor(t)) - 1, 0, kTable - 4);
    std::array<double, 4> l{};
    for (int a = 0; a < 4; ++a) {
      l[static_cast<std::size_t>(a)] = 1.0;
      for (int b = 0; b < 4; ++b)
        if (b != a) l[static_cast<std::size_t>(a)] *= (t - (k0 + b)) / static_cast<double>(a - b);
    }
    for (std::size_t c = 0; c < K; ++c) {
      double v = 0.0;
      for (int a = 0; a < 4; ++a) v += l[static_cast<std::size_t>(a)] * table[static_cast<std::size_t>(k0 + a)][c];
      out[c][i] = v;
    }
  }
  return out;
}

}  // namespace talvo::pdf::detail
