#include "talvo/pdf/capillary.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <span>
#include <string>

#include "talvo/pdf/disc_quadrature.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"

namespace talvo::pdf {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using namespace detail;

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
  auto grazing = [&](double y, std::array<double, 4>& xs) -> std::size_t {
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
