#include "talvo/pdf/capillary.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <span>
#include <string>

#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"

namespace talvo::pdf {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A Gaussian beam is integrated to 7 sigma either side: the rest is 3e-12 of it.
constexpr double kGaussianReach = 7.0;

// Gauss-Legendre nodes and weights on [-1, 1] (Newton on P_n from the
// Chebyshev guesses).
void gauss_legendre(int n, std::vector<double>& x, std::vector<double>& w) {
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

Band band_of(const CapillaryBeam& beam) {
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
double path_in_disc(double px, double py, double ux, double uy, double rho) {
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
// there, so the chords are smooth in phi. `splits(y, xs)` puts up to two x
// into xs where f has a square-root kink along the chord; the chord is cut
// there and each piece mapped by x = m + h (3 s - s^3) / 2, whose derivative
// vanishes at its ends, so the kinks become smooth in s.
template <std::size_t K, class S, class F>
std::array<double, K + 1> band_integral(double rho_in, double rho_out, const Band& band, const Nodes& g,
                                        std::span<const double> y_cuts, S splits, F f) {
  std::array<double, K + 1> sum{};  // the K integrals, then the volume
  const double lo = std::max(band.lo, -rho_out), hi = std::min(band.hi, rho_out);
  if (!(lo < hi)) return sum;
  std::array<double, 20> cuts{lo, hi};
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
      std::array<double, 8> ends{};
      std::size_t nends = 0;
      std::array<double, 2> kinks{};
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
      // At most 2 pieces of 2 ends and 2 kinks, sorted in place: g++ 12 at -O3
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

std::size_t no_kinks(double, std::array<double, 2>&) { return 0; }

double capillary_with(double two_theta, double mu_r, const Band& band, const Nodes& g) {
  const double ux = std::cos(two_theta * kDeg), uy = std::sin(two_theta * kDeg);
  const std::array<double, 2> edge{ux, -ux};  // where the exit ray grazes the surface
  const std::array<double, 2> s = band_integral<1>(0.0, 1.0, band, g, edge, no_kinks, [&](double x, double y) {
    return std::array<double, 1>{
        std::exp(-mu_r * (path_in_disc(x, y, -1.0, 0.0, 1.0) + path_in_disc(x, y, ux, uy, 1.0)))};
  });
  return s[1] > 0.0 ? s[0] / s[1] : kNaN;
}

// The wall about the sample: mu is mu_c in the wall and mu_s in the sample.
PaalmanPings paalman_pings_with(double two_theta, double mu_r, const CapillaryWall& wall, const Band& band,
                                const Nodes& g) {
  const double outer = 1.0 + wall.thickness, mu_c = wall.mu_r;
  const double ux = std::cos(two_theta * kDeg), uy = std::sin(two_theta * kDeg);
  auto paths = [&](double x, double y, double rho) {
    return path_in_disc(x, y, -1.0, 0.0, rho) + path_in_disc(x, y, ux, uy, rho);
  };
  const std::array<double, 2> edge{ux, -ux};
  const std::array<double, 2> s = band_integral<1>(0.0, 1.0, band, g, edge, no_kinks, [&](double x, double y) {
    return std::array<double, 1>{std::exp(-mu_c * paths(x, y, outer) - (mu_r - mu_c) * paths(x, y, 1.0))};
  });
  // The exit ray grazes the sample where x uy - y ux = +-1.
  auto grazing = [&](double y, std::array<double, 2>& xs) -> std::size_t {
    if (std::abs(uy) < 1e-12) return 0;
    xs[0] = (y * ux - 1.0) / uy;
    xs[1] = (y * ux + 1.0) / uy;
    return 2;
  };
  // The inner integral's kinks in y: where the grazing lines touch the sample
  // and where they cross the wall's outer surface.
  const double reach = std::sqrt(outer * outer - 1.0);
  const std::array<double, 6> y_cuts{ux, -ux, ux + reach * uy, ux - reach * uy, -ux + reach * uy, -ux - reach * uy};
  const std::array<double, 3> c = band_integral<2>(1.0, outer, band, g, y_cuts, grazing, [&](double x, double y) {
    const double in_wall = paths(x, y, outer), in_sample = paths(x, y, 1.0);
    return std::array<double, 2>{std::exp(-mu_c * in_wall - (mu_r - mu_c) * in_sample),
                                 std::exp(-mu_c * (in_wall - in_sample))};
  });
  return {s[1] > 0.0 ? s[0] / s[1] : kNaN, c[2] > 0.0 ? c[0] / c[2] : kNaN, c[2] > 0.0 ? c[1] / c[2] : kNaN};
}

Error invalid(std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); }

Outcome check_beam(const CapillaryBeam& beam) {
  if (beam.width && !(*beam.width > 0.0 && std::isfinite(*beam.width)))
    return invalid("the beam's width must be a number above 0, not " + shortest(*beam.width));
  if (!std::isfinite(beam.offset)) return invalid("the beam's offset must be a finite number");
  return Done{};
}

Outcome check_mu(double mu_r, const char* what) {
  if (!(mu_r >= 0.0 && std::isfinite(mu_r)))
    return invalid(std::string(what) + " must be 0 or more, not " + shortest(mu_r));
  return Done{};
}

Outcome check_lit(const CapillaryBeam& beam, double radius) {
  const Band b = band_of(beam);
  if (!(b.lo < radius && b.hi > -radius))
    return invalid("the beam (centre " + shortest(beam.offset) + ", width " + shortest(beam.width.value_or(0.0)) +
                   " in units of the capillary's radius) misses the capillary");
  return Done{};
}

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

}  // namespace

std::optional<BeamProfile> beam_profile_named(std::string_view name) {
  if (equal_case_blind(name, "tophat")) return BeamProfile::kTopHat;
  if (equal_case_blind(name, "gaussian")) return BeamProfile::kGaussian;
  return std::nullopt;
}

std::string_view beam_profile_name(BeamProfile profile) {
  return profile == BeamProfile::kGaussian ? "gaussian" : "tophat";
}

double capillary_absorption(double two_theta, double mu_r, const CapillaryBeam& beam, int nodes) {
  return capillary_with(two_theta, mu_r, band_of(beam), Nodes(nodes));
}

PaalmanPings paalman_pings(double two_theta, double mu_r, const CapillaryWall& wall, const CapillaryBeam& beam,
                           int nodes) {
  return paalman_pings_with(two_theta, mu_r, wall, band_of(beam), Nodes(nodes));
}

Result<std::vector<double>> capillary_absorption_factors(std::span<const double> two_theta, double mu_r,
                                                         const CapillaryBeam& beam) {
  for (const Outcome& o : {check_mu(mu_r, "mu R"), check_beam(beam)})
    if (!o.ok()) return o.error();
  if (Outcome o = check_lit(beam, 1.0); !o.ok()) return o.error();
  if (mu_r == 0.0) return std::vector<double>(two_theta.size(), 1.0);
  const Band band = band_of(beam);
  const Nodes g(32);
  auto [a] = tabulated<1>(two_theta, [&](double t) { return std::array<double, 1>{capillary_with(t, mu_r, band, g)}; });
  return a;
}

Result<PaalmanPingsFactors> paalman_pings_factors(std::span<const double> two_theta, double mu_r,
                                                  const CapillaryWall& wall, const CapillaryBeam& beam) {
  for (const Outcome& o : {check_mu(mu_r, "mu R"), check_mu(wall.mu_r, "the container's mu R"), check_beam(beam)})
    if (!o.ok()) return o.error();
  if (!(wall.thickness > 0.0 && std::isfinite(wall.thickness)))
    return invalid("the container's wall must be thicker than 0, not " + shortest(wall.thickness));
  if (Outcome o = check_lit(beam, 1.0); !o.ok()) return o.error();
  const Band band = band_of(beam);
  const Nodes g(32);
  auto [s_sc, c_sc, c_c] = tabulated<3>(two_theta, [&](double t) {
    const PaalmanPings pp = paalman_pings_with(t, mu_r, wall, band, g);
    return std::array<double, 3>{pp.a_s_sc, pp.a_c_sc, pp.a_c_c};
  });
  return PaalmanPingsFactors{std::move(s_sc), std::move(c_sc), std::move(c_c)};
}

Result<double> cylinder_transmission(double mu_r, const CapillaryBeam& beam) {
  for (const Outcome& o : {check_mu(mu_r, "mu R"), check_beam(beam)})
    if (!o.ok()) return o.error();
  if (!beam.width) return invalid("the transmission through a cylinder needs the beam's width");
  const Band band = band_of(beam);
  const double total = band.gaussian ? band.sigma * std::sqrt(2.0 * std::numbers::pi) : *beam.width;
  const double lo = std::max(band.lo, -1.0), hi = std::min(band.hi, 1.0);
  if (!(lo < hi) || mu_r == 0.0) return 1.0;
  // The loss, int p(y) (1 - exp(-2 mu R sqrt(1 - y^2))) dy, with y = sin(phi).
  static const Nodes g(64);
  const double pa = std::asin(lo), pb = std::asin(hi);
  const double half_phi = 0.5 * (pb - pa), mid_phi = 0.5 * (pa + pb);
  double loss = 0.0;
  for (std::size_t i = 0; i < g.x.size(); ++i) {
    const double phi = mid_phi + half_phi * g.x[i];
    const double c = std::cos(phi);
    loss += g.w[i] * c * band.weight(std::sin(phi)) * -std::expm1(-2.0 * mu_r * c);
  }
  return 1.0 - loss * half_phi / total;
}

}  // namespace talvo::pdf
