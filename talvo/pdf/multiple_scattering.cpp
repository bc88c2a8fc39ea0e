#include "talvo/pdf/multiple_scattering.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <string>

#include "talvo/text/format.hpp"

namespace talvo::pdf {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;
constexpr double kInf = std::numeric_limits<double>::infinity();
// Below this weight a history goes on with half the chance and twice the
// weight (Russian roulette), which keeps the estimate unbiased.
constexpr double kRoulette = 1e-4;

struct Vec {
  double x, y, z;
};

// A flight's stretch through one material: distances along the ray, mu's.
struct Segment {
  double t0, t1, mu_t, mu_s;
};

// The ray's interval [lo, hi] inside the cylinder of radius rho and half
// height h (distances from 0 on); lo >= hi: none.
std::array<double, 2> in_cylinder(const Vec& p, const Vec& d, double rho, double h) {
  double lo = 0.0, hi = kInf;
  const double a = d.x * d.x + d.y * d.y;
  const double c = p.x * p.x + p.y * p.y - rho * rho;
  if (a < 1e-300) {
    if (c >= 0.0) return {0.0, 0.0};
  } else {
    const double b = p.x * d.x + p.y * d.y, disc = b * b - a * c;
    if (!(disc > 0.0)) return {0.0, 0.0};
    const double s = std::sqrt(disc);
    lo = std::max(lo, (-b - s) / a);
    hi = std::min(hi, (-b + s) / a);
  }
  if (std::isfinite(h)) {
    if (d.z == 0.0) {
      if (std::abs(p.z) >= h) return {0.0, 0.0};
    } else {
      const double t1 = (-h - p.z) / d.z, t2 = (h - p.z) / d.z;
      lo = std::max(lo, std::min(t1, t2));
      hi = std::min(hi, std::max(t1, t2));
    }
  }
  return {lo, hi};
}

struct Scene {
  double r, r_in, r_out, hs, hc;
  double mu_t_s, mu_s_s, mu_t_c, mu_s_c;
  bool can;

  // The segments of the ray in sample and can, in order; their number.
  std::size_t segments(const Vec& p, const Vec& d, std::array<Segment, 3>& out) const {
    std::size_t n = 0;
    const auto s = in_cylinder(p, d, r, hs);
    if (s[1] > s[0]) out[n++] = {s[0], s[1], mu_t_s, mu_s_s};
    if (can) {
      const auto o = in_cylinder(p, d, r_out, hc), i = in_cylinder(p, d, r_in, hc);
      if (o[1] > o[0]) {
        if (!(i[1] > i[0])) {
          out[n++] = {o[0], o[1], mu_t_c, mu_s_c};
        } else {  // the inner cylinder's interval lies within the outer's
          if (i[0] > o[0]) out[n++] = {o[0], i[0], mu_t_c, mu_s_c};
          if (o[1] > i[1]) out[n++] = {i[1], o[1], mu_t_c, mu_s_c};
        }
      }
    }
    // Nothing collides where mu is 0: such a stretch is as if empty.
    n = static_cast<std::size_t>(std::remove_if(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n),
                                                [](const Segment& g) { return !(g.mu_t > 0.0); }) -
                                 out.begin());
    std::sort(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n),
              [](const Segment& a, const Segment& b) { return a.t0 < b.t0; });
    return n;
  }
  double optical_depth(const Vec& p, const Vec& d) const {
    std::array<Segment, 3> seg{};
    const std::size_t n = segments(p, d, seg);
    double tau = 0.0;
    for (std::size_t k = 0; k < n; ++k) tau += seg[k].mu_t * (seg[k].t1 - seg[k].t0);
    return tau;
  }
};

class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  // Uniform in [0, 1): the top 53 bits, the same on every compiler.
  double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

 private:
  std::mt19937_64 engine_;
};

Error invalid(std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); }

}  // namespace

Result<MultipleScatteringResult> multiple_scattering(std::span<const double> two_theta, double elevation,
                                                     const ScatteringCylinder& sc, const NeutronBeam& beam,
                                                     const MultipleScatteringOptions& options) {
  const NeutronCylinder& c = sc.cylinder;
  if (Outcome o = check_neutron_geometry(c, beam, elevation); !o.ok()) return o.error();
  const bool can = c.can_outer != 0.0;
  if (!(sc.mu_scatt >= 0.0 && sc.mu_scatt <= c.mu))
    return invalid("the sample's scattering mu (" + shortest(sc.mu_scatt) + ") must be within 0 and its total mu (" +
                   shortest(c.mu) + ")");
  if (can && !(sc.can_mu_scatt >= 0.0 && sc.can_mu_scatt <= c.can_mu))
    return invalid("the can's scattering mu (" + shortest(sc.can_mu_scatt) + ") must be within 0 and its total mu (" +
                   shortest(c.can_mu) + ")");
  if (!(options.batches >= 2 && options.histories >= options.batches))
    return invalid("the multiple scattering needs 2 batches or more and a history a batch at least");
  if (options.max_order < 2) return invalid("the multiple scattering needs orders up to 2 at least");
  for (double t : two_theta)
    if (!std::isfinite(t)) return invalid("2theta must be a finite number");

  Scene scene{c.radius,
              can ? c.can_inner : c.radius,
              can ? c.can_outer : c.radius,
              c.height ? 0.5 * *c.height : kInf,
              can && c.can_height ? 0.5 * *c.can_height : kInf,
              c.mu,
              sc.mu_scatt,
              can ? c.can_mu : 0.0,
              can ? sc.can_mu_scatt : 0.0,
              can};
  // Where the beam enters: a band of y and of z, centred.
  const double reach = scene.r_out;
  const double y_half = std::min(beam.width.value_or(kInf) * 0.5, reach);
  const double tallest = std::max(scene.hs, can ? scene.hc : 0.0);
  const double z_half = std::min(beam.height.value_or(kInf) * 0.5, tallest);
  const double seen = beam.detector_height.value_or(kInf) * 0.5;
  std::vector<Vec> detectors;
  for (double t : two_theta)
    detectors.push_back({std::cos(elevation * kDeg) * std::cos(t * kDeg),
                         std::cos(elevation * kDeg) * std::sin(t * kDeg), std::sin(elevation * kDeg)});
  const std::size_t nd = detectors.size();

  const int nb = options.batches;
  std::vector<double> first(nd), second(nd), beyond(nd);  // a batch's sums
  std::vector<double> sum_d(nd), sum_d2(nd), sum_e(nd), sum_e2(nd), all1(nd), all2(nd), all_beyond(nd);
  Random rng(options.seed);
  for (int b = 0; b < nb; ++b) {
    if (stop_asked(options.stop)) return cancelled();
    std::fill(first.begin(), first.end(), 0.0);
    std::fill(second.begin(), second.end(), 0.0);
    std::fill(beyond.begin(), beyond.end(), 0.0);
    const long n = options.histories / nb + (b < options.histories % nb ? 1 : 0);
    for (long h = 0; h < n; ++h) {
      const double y = y_half * (2.0 * rng.uniform() - 1.0);
      const double z = std::isfinite(z_half) ? z_half * (2.0 * rng.uniform() - 1.0) : 0.0;
      Vec p{-2.0 * reach - 1.0, y, z}, d{1.0, 0.0, 0.0};
      double w = 1.0;
      for (int order = 1; order <= options.max_order; ++order) {
        std::array<Segment, 3> seg{};
        const std::size_t ns = scene.segments(p, d, seg);
        double tau_all = 0.0;
        for (std::size_t k = 0; k < ns; ++k) tau_all += seg[k].mu_t * (seg[k].t1 - seg[k].t0);
        if (!(tau_all > 0.0)) break;
        // Collide at an optical depth drawn from the exponential cut at tau_all.
        const double hit = -std::expm1(-tau_all);
        const double tau = -std::log1p(-rng.uniform() * hit);
        double left = tau, t = seg[0].t0;
        std::size_t k = 0;
        for (; k < ns; ++k) {
          const double here = seg[k].mu_t * (seg[k].t1 - seg[k].t0);
          if (left <= here || k + 1 == ns) {
            t = seg[k].t0 + std::min(left / seg[k].mu_t, seg[k].t1 - seg[k].t0);
            break;
          }
          left -= here;
        }
        w *= hit * seg[k].mu_s / seg[k].mu_t;
        p = {p.x + t * d.x, p.y + t * d.y, p.z + t * d.z};
        if (!(w > 0.0)) break;
        if (std::abs(p.z) < seen) {
          std::vector<double>& into = order == 1 ? first : order == 2 ? second : beyond;
          for (std::size_t j = 0; j < nd; ++j) into[j] += w * std::exp(-scene.optical_depth(p, detectors[j]));
        }
        // An isotropic new direction.
        const double cz = 2.0 * rng.uniform() - 1.0, phi = 2.0 * std::numbers::pi * rng.uniform();
        const double sz = std::sqrt(std::max(0.0, 1.0 - cz * cz));
        d = {sz * std::cos(phi), sz * std::sin(phi), cz};
        if (w < kRoulette) {
          if (rng.uniform() < 0.5) break;
          w *= 2.0;
        }
      }
    }
    for (std::size_t j = 0; j < nd; ++j) {
      const double all = second[j] + beyond[j];
      const double dd = first[j] > 0.0 ? all / first[j] : 0.0, d2 = first[j] > 0.0 ? second[j] / first[j] : 0.0;
      sum_d[j] += dd;
      sum_d2[j] += dd * dd;
      sum_e[j] += d2;
      sum_e2[j] += d2 * d2;
      all1[j] += first[j];
      all2[j] += second[j];
      all_beyond[j] += all;
    }
  }
  MultipleScatteringResult r;
  r.histories = options.histories;
  r.seed = options.seed;
  r.batches = nb;
  auto spread = [&](double s, double s2) {
    const double mean = s / nb;
    return std::sqrt(std::max(0.0, (s2 / nb - mean * mean) * nb / (nb - 1.0)) / nb);
  };
  for (std::size_t j = 0; j < nd; ++j) {
    r.delta.push_back(all1[j] > 0.0 ? all_beyond[j] / all1[j] : 0.0);
    r.delta2.push_back(all1[j] > 0.0 ? all2[j] / all1[j] : 0.0);
    r.delta_sigma.push_back(spread(sum_d[j], sum_d2[j]));
    r.delta2_sigma.push_back(spread(sum_e[j], sum_e2[j]));
  }
  return r;
}

}  // namespace talvo::pdf
