#include "talvo/pdf/neutron_attenuation.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>

#include "talvo/neutron/material.hpp"
#include "talvo/pdf/disc_quadrature.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/number.hpp"

namespace talvo::pdf {
namespace {

using namespace detail;

constexpr double kDeg = std::numbers::pi / 180.0;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kFirstNodes = 8, kLastNodes = 512;

Error invalid(std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); }

// The part [lo, hi] of the ray from (px, py) along (ux, uy) that lies in the
// disc of radius rho, at distances from 0 on; lo >= hi: none.
struct Chord {
  double lo = 0.0, hi = 0.0;
  double length() const { return hi > lo ? hi - lo : 0.0; }
};
Chord chord(double px, double py, double ux, double uy, double rho) {
  const double b = px * ux + py * uy;
  const double disc = b * b - (px * px + py * py - rho * rho);
  if (!(disc > 0.0)) return {};
  const double s = std::sqrt(disc);
  const double t2 = -b + s;
  if (!(t2 > 0.0)) return {};
  return {std::max(-b - s, 0.0), t2};
}

// int exp(-E(z)) dz over [z0, z1] for E linear: E(z0) = e0, E(z1) = e1.
double exp_integral(double z0, double z1, double e0, double e1) {
  const double d = e1 - e0;
  if (std::abs(d) < 1e-9) return (z1 - z0) * std::exp(-e0) * (1.0 - 0.5 * d);
  return (z1 - z0) * (std::exp(-e0) - std::exp(-e1)) / d;
}

// The cylinder in its can seen by one detector.
struct Geometry {
  double r = 0.0, r_in = 0.0, r_out = 0.0;  // the sample's and the can's radii
  double hs = kInf, hc = kInf;              // half heights
  double mu_s = 0.0, mu_c = 0.0;
  bool can = false;
  double ux = 1.0, uy = 0.0;  // the exit ray's horizontal direction
  double rise = 0.0;          // its dz per horizontal length: tan(alpha)
  double stretch = 1.0;       // its length per horizontal length: 1 / cos(alpha)
  double zs = 0.5, zc = 0.5;  // the half heights lit and seen, of the sample and of the can

  double in_path(double x, double y, double z, double rho, double h) const {
    return std::abs(z) < h ? chord(x, y, -1.0, 0.0, rho).length() : 0.0;
  }
  double out_path(double x, double y, double z, double rho, double h) const {
    const Chord c = chord(x, y, ux, uy, rho);
    if (!(c.hi > c.lo)) return 0.0;
    if (rise == 0.0 || !std::isfinite(h)) return std::abs(z) < h ? c.length() * stretch : 0.0;
    const double a = (-h - z) / rise, b = (h - z) / rise;
    const double lo = std::max(c.lo, std::min(a, b)), hi = std::min(c.hi, std::max(a, b));
    return hi > lo ? (hi - lo) * stretch : 0.0;
  }
  // The paths in the sample and in the can, in and out.
  std::array<double, 2> paths(double x, double y, double z) const {
    const double ps = in_path(x, y, z, r, hs) + out_path(x, y, z, r, hs);
    if (!can) return {ps, 0.0};
    const double pc = in_path(x, y, z, r_out, hc) - in_path(x, y, z, r_in, hc) + out_path(x, y, z, r_out, hc) -
                      out_path(x, y, z, r_in, hc);
    return {ps, std::max(pc, 0.0)};
  }
  // The heights in [-zl, zl] where a path's length has a kink or a step.
  std::size_t breaks(double x, double y, double zl, std::array<double, 20>& at) const {
    std::size_t n = 0;
    auto add = [&](double z) {
      if (z > -zl && z < zl && n < at.size()) at[n++] = z;
    };
    auto disc = [&](double rho, double h) {
      if (!std::isfinite(h)) return;
      add(h);
      add(-h);
      if (rise == 0.0) return;
      const Chord c = chord(x, y, ux, uy, rho);
      if (!(c.hi > c.lo)) return;
      for (double t : {c.lo, c.hi})
        for (double e : {h, -h}) add(e - rise * t);
    };
    disc(r, hs);
    if (can) {
      disc(r_in, hc);
      disc(r_out, hc);
    }
    std::sort(at.begin(), at.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
  }
  // The mean over the lit heights of exp(-mu_s l_s - mu_c l_c) for each pair
  // (mu_s, mu_c) of `mus`, the exponent linear on each piece between breaks.
  template <std::size_t K>
  std::array<double, K> over_height(double x, double y, double zl,
                                    const std::array<std::array<double, 2>, K>& mus) const {
    std::array<double, 20> at{};
    const std::size_t nb = breaks(x, y, zl, at);
    std::array<double, K> sum{};
    if (nb == 0 && rise == 0.0) {  // the paths do not change with the height
      const std::array<double, 2> a = paths(x, y, 0.0);
      for (std::size_t k = 0; k < K; ++k) sum[k] = std::exp(-(mus[k][0] * a[0] + mus[k][1] * a[1]));
      return sum;
    }
    double z0 = -zl;
    for (std::size_t p = 0; p <= nb; ++p) {
      const double z1 = p < nb ? at[p] : zl;
      if (z1 > z0) {
        // The paths at a quarter and three quarters of the piece, extended
        // linearly to its ends: the steps at the ends do not enter.
        const double q = 0.25 * (z1 - z0);
        const std::array<double, 2> a = paths(x, y, z0 + q), b = paths(x, y, z1 - q);
        for (std::size_t k = 0; k < K; ++k) {
          const double ea = mus[k][0] * a[0] + mus[k][1] * a[1], eb = mus[k][0] * b[0] + mus[k][1] * b[1];
          const double slope = (eb - ea) / (2.0 * q);
          sum[k] += exp_integral(z0, z1, ea - slope * q, eb + slope * q);
        }
      }
      z0 = std::max(z0, z1);
    }
    for (double& s : sum) s /= 2.0 * zl;
    return sum;
  }
};

NeutronFactors factors_with(const Geometry& g, const Band& band, const Nodes& nodes) {
  NeutronFactors f;
  // Where the exit ray is tangent to the sample's surface.
  const std::array<double, 2> edge{g.r * g.ux, -g.r * g.ux};
  const std::array<std::array<double, 2>, 2> sample_mus{{{g.mu_s, 0.0}, {g.mu_s, g.mu_c}}};
  const std::array<double, 3> s = band_integral<2>(
      0.0, g.r, band, nodes, edge, no_kinks, [&](double x, double y) { return g.over_height(x, y, g.zs, sample_mus); });
  f.a_s_s = s[2] > 0.0 ? s[0] / s[2] : kNaN;
  f.a_s_sc = s[2] > 0.0 ? s[1] / s[2] : kNaN;
  if (!g.can) {
    f.a_s_sc = f.a_s_s;
    f.a_c_sc = f.a_c_c = kNaN;
    return f;
  }
  // Along a chord of the can, the exit ray grazes the sample and the can's
  // inner surface where x uy - y ux = +-rho.
  const bool gap = g.r_in > g.r;
  auto grazing = [&](double y, std::array<double, 4>& xs) -> std::size_t {
    if (std::abs(g.uy) < 1e-12) return 0;
    xs[0] = (y * g.ux - g.r) / g.uy;
    xs[1] = (y * g.ux + g.r) / g.uy;
    if (!gap) return 2;
    xs[2] = (y * g.ux - g.r_in) / g.uy;
    xs[3] = (y * g.ux + g.r_in) / g.uy;
    return 4;
  };
  // Across the chords: where those grazing lines meet the can's surfaces,
  // where the exit ray is tangent to them, and where the beam grazes the sample.
  std::array<double, 24> y_cuts{};
  std::size_t nc = 0;
  auto tangent_lines = [&](double rho_t, double rho_c) {
    if (rho_c < rho_t) return;
    const double reach = std::sqrt(rho_c * rho_c - rho_t * rho_t);
    for (double a : {rho_t, -rho_t})
      for (double b : {reach, -reach}) y_cuts[nc++] = a * g.ux + b * g.uy;
  };
  tangent_lines(g.r, g.r_in);
  tangent_lines(g.r, g.r_out);
  tangent_lines(g.r_out, g.r_out);
  if (gap) {
    tangent_lines(g.r_in, g.r_out);
    y_cuts[nc++] = g.r;
    y_cuts[nc++] = -g.r;
  }
  const std::array<std::array<double, 2>, 2> can_mus{{{g.mu_s, g.mu_c}, {0.0, g.mu_c}}};
  const std::array<double, 3> c =
      band_integral<2>(g.r_in, g.r_out, band, nodes, std::span<const double>(y_cuts.data(), nc), grazing,
                       [&](double x, double y) { return g.over_height(x, y, g.zc, can_mus); });
  f.a_c_sc = c[2] > 0.0 ? c[0] / c[2] : kNaN;
  f.a_c_c = c[2] > 0.0 ? c[1] / c[2] : kNaN;
  return f;
}

bool positive(double v) { return v > 0.0 && std::isfinite(v); }

Outcome check_cylinder(const NeutronCylinder& c, const NeutronBeam& beam, double elevation, double tolerance) {
  if (!positive(tolerance)) return invalid("the tolerance must be above 0, not " + shortest(tolerance));
  if (!positive(c.radius)) return invalid("the sample's radius must be above 0, not " + shortest(c.radius));
  if (c.height && !positive(*c.height))
    return invalid("the sample's height must be above 0, not " + shortest(*c.height));
  if (!(c.mu >= 0.0 && std::isfinite(c.mu))) return invalid("the sample's mu must be 0 or more, not " + shortest(c.mu));
  if (c.can_outer != 0.0) {
    if (!(c.can_inner >= c.radius && std::isfinite(c.can_inner)))
      return invalid("the can's inner radius (" + shortest(c.can_inner) + " cm) must be at least the sample's (" +
                     shortest(c.radius) + " cm)");
    if (!(c.can_outer > c.can_inner && std::isfinite(c.can_outer)))
      return invalid("the can's outer radius (" + shortest(c.can_outer) + " cm) must be above its inner radius (" +
                     shortest(c.can_inner) + " cm): a can thinner than nothing");
    if (c.can_height && !positive(*c.can_height))
      return invalid("the can's height must be above 0, not " + shortest(*c.can_height));
    if (!(c.can_mu >= 0.0 && std::isfinite(c.can_mu)))
      return invalid("the can's mu must be 0 or more, not " + shortest(c.can_mu));
  }
  for (const auto& [v, what] : {std::pair{beam.width, "the beam's width"}, std::pair{beam.height, "the beam's height"},
                                std::pair{beam.detector_height, "the height the detectors see"}})
    if (v && !positive(*v)) return invalid(std::string(what) + " must be above 0, not " + shortest(*v));
  if (!(elevation > -90.0 && elevation < 90.0))
    return invalid("the detector's elevation must be within (-90, 90) degrees, not " + shortest(elevation));
  return Done{};
}

Geometry geometry_of(double two_theta, double elevation, const NeutronCylinder& c, const NeutronBeam& beam) {
  Geometry g;
  g.r = c.radius;
  g.can = c.can_outer != 0.0;
  g.r_in = g.can ? c.can_inner : c.radius;
  g.r_out = g.can ? c.can_outer : c.radius;
  g.mu_s = c.mu;
  g.mu_c = g.can ? c.can_mu : 0.0;
  g.hs = c.height ? 0.5 * *c.height : kInf;
  g.hc = g.can && c.can_height ? 0.5 * *c.can_height : kInf;
  g.ux = std::cos(two_theta * kDeg);
  g.uy = std::sin(two_theta * kDeg);
  g.rise = std::tan(elevation * kDeg);
  g.stretch = 1.0 / std::cos(elevation * kDeg);
  const double lit = std::min(beam.height.value_or(kInf), beam.detector_height.value_or(kInf)) * 0.5;
  g.zs = std::min(lit, g.hs);
  g.zc = std::min(lit, g.hc);
  // Nothing bounds the height: every height sees the same paths.
  if (!std::isfinite(g.zs)) g.zs = 0.5;
  if (!std::isfinite(g.zc)) g.zc = 0.5;
  return g;
}

Band band_for(const NeutronBeam& beam) {
  CapillaryBeam b;
  b.width = beam.width;
  return band_of(b);
}

// The nodes double until no factor moves by more than the tolerance.
Result<NeutronFactors> converged(const Geometry& g, const Band& band, double tolerance) {
  NeutronFactors last = factors_with(g, band, Nodes(kFirstNodes));
  for (int n = 2 * kFirstNodes; n <= kLastNodes; n *= 2) {
    NeutronFactors next = factors_with(g, band, Nodes(n));
    double change = 0.0;
    for (auto [a, b] : {std::pair{last.a_s_s, next.a_s_s}, std::pair{last.a_s_sc, next.a_s_sc},
                        std::pair{last.a_c_sc, next.a_c_sc}, std::pair{last.a_c_c, next.a_c_c}})
      if (std::isfinite(a) && std::isfinite(b)) change = std::max(change, std::abs(a - b));
    next.error = change;
    next.nodes = n;
    if (change <= tolerance) return next;
    last = next;
  }
  return make_error(ErrorKind::kOutOfRange, "the attenuation factors did not converge to " + shortest(tolerance) +
                                                " with " + std::to_string(kLastNodes) + " nodes (last change " +
                                                shortest(last.error) + ")");
}

}  // namespace

Outcome check_neutron_geometry(const NeutronCylinder& cylinder, const NeutronBeam& beam, double elevation) {
  return check_cylinder(cylinder, beam, elevation, 1.0);
}

Result<NeutronFactors> cylinder_factors(double two_theta, double elevation, const NeutronCylinder& cylinder,
                                        const NeutronBeam& beam, double tolerance) {
  if (Outcome o = check_cylinder(cylinder, beam, elevation, tolerance); !o.ok()) return o.error();
  if (!std::isfinite(two_theta)) return invalid("2theta must be a finite number");
  return converged(geometry_of(two_theta, elevation, cylinder, beam), band_for(beam), tolerance);
}

Result<NeutronFactorTable> cylinder_factor_table(std::span<const double> two_theta, double elevation,
                                                 const NeutronCylinder& cylinder, const NeutronBeam& beam,
                                                 double tolerance) {
  if (Outcome o = check_cylinder(cylinder, beam, elevation, tolerance); !o.ok()) return o.error();
  for (double t : two_theta)
    if (!(t >= 0.0 && t <= 180.0)) return invalid("2theta must be within [0, 180] degrees, not " + shortest(t));
  const Band band = band_for(beam);
  double error = 0.0;
  std::optional<Error> failed;
  auto [s_s, s_sc, c_sc, c_c] = tabulated<4>(two_theta, [&](double t) {
    Result<NeutronFactors> f = converged(geometry_of(t, elevation, cylinder, beam), band, tolerance);
    if (!f.ok()) {
      if (!failed) failed = f.error();
      return std::array<double, 4>{kNaN, kNaN, kNaN, kNaN};
    }
    error = std::max(error, f->error);
    return std::array<double, 4>{f->a_s_s, f->a_s_sc, f->a_c_sc, f->a_c_c};
  });
  if (failed) return *failed;
  return NeutronFactorTable{std::move(s_s), std::move(s_sc), std::move(c_sc), std::move(c_c), error};
}

Result<NeutronFactors> plate_factors(double two_theta, double elevation, const NeutronPlate& p) {
  for (const auto& [v, what] : {std::pair{p.thickness, "the plate's thickness"}, std::pair{p.mu, "the plate's mu"},
                                std::pair{p.front_wall, "the cell's front wall"},
                                std::pair{p.back_wall, "the cell's back wall"}, std::pair{p.wall_mu, "the cell's mu"}})
    if (!(v >= 0.0 && std::isfinite(v))) return invalid(std::string(what) + " must be 0 or more, not " + shortest(v));
  if (!(p.thickness > 0.0)) return invalid("the plate's thickness must be above 0");
  if (!(std::abs(p.angle) < 90.0)) return invalid("the plate must face the beam: its angle within (-90, 90) degrees");
  if (!(elevation > -90.0 && elevation < 90.0) || !std::isfinite(two_theta))
    return invalid("the detector's elevation must be within (-90, 90) degrees, and 2theta finite");
  const double c_in = std::cos(p.angle * kDeg);
  const double c_out = std::cos(elevation * kDeg) * (std::cos(two_theta * kDeg) * std::cos(p.angle * kDeg) +
                                                     std::sin(two_theta * kDeg) * std::sin(p.angle * kDeg));
  // The layers by depth along the normal: front wall, sample, back wall.
  const std::array<double, 4> edge{0.0, p.front_wall, p.front_wall + p.thickness,
                                   p.front_wall + p.thickness + p.back_wall};
  // The exponent at depth d for the absorbers' mu per layer.
  auto exponent = [&](double d, const std::array<double, 3>& mu) {
    double e = 0.0;
    for (std::size_t j = 0; j < 3; ++j) {
      const double lo = edge[j], hi = edge[j + 1];
      const double in = std::max(0.0, std::min(d, hi) - lo);
      const double out = c_out > 0.0 ? std::max(0.0, hi - std::max(d, lo)) : in;
      e += mu[j] * (in / c_in + out / std::abs(c_out));
    }
    return e;
  };
  // The mean over the scatterer's layers of exp(-exponent).
  auto mean = [&](std::initializer_list<std::size_t> layers, const std::array<double, 3>& mu) {
    double sum = 0.0, volume = 0.0;
    for (std::size_t j : layers) {
      const double lo = edge[j], hi = edge[j + 1];
      if (!(hi > lo)) continue;
      volume += hi - lo;
      if (std::abs(c_out) < 1e-12) {
        sum += (mu[0] + mu[1] + mu[2]) == 0.0 ? hi - lo : 0.0;
        continue;
      }
      const double q = 0.25 * (hi - lo);
      const double ea = exponent(lo + q, mu), eb = exponent(hi - q, mu), slope = (eb - ea) / (2.0 * q);
      sum += exp_integral(lo, hi, ea - slope * q, eb + slope * q);
    }
    return volume > 0.0 ? sum / volume : kNaN;
  };
  NeutronFactors f;
  f.a_s_s = mean({1}, {0.0, p.mu, 0.0});
  f.a_s_sc = mean({1}, {p.wall_mu, p.mu, p.wall_mu});
  f.a_c_sc = mean({0, 2}, {p.wall_mu, p.mu, p.wall_mu});
  f.a_c_c = mean({0, 2}, {p.wall_mu, 0.0, p.wall_mu});
  return f;
}

Result<NeutronMu> neutron_mu(std::string_view formula, const NeutronTable& table, const NeutronMuOptions& options) {
  if (!positive(options.wavelength))
    return invalid("the wavelength must be above 0, not " + shortest(options.wavelength));
  if (options.number_density && options.density) return invalid("give a number density or a density, not both");
  for (const auto& [v, what] : {std::pair{options.sigma_total, "the measured total cross-section"},
                                std::pair{options.sigma_scatt, "the measured scattering cross-section"}})
    if (v && !(*v >= 0.0 && std::isfinite(*v))) return invalid(std::string(what) + " must be 0 or more barn");
  MaterialOptions mo;
  mo.density = options.density;
  mo.number_density = options.number_density;
  mo.wavelength = options.wavelength;
  Result<Material> m = material(formula, table, mo);
  if (!m.ok()) return m.error();
  if (!m->number_density)
    return invalid("the attenuation of " + std::string(formula) + " needs a density (--density or --number-density)");
  NeutronMu out;
  out.number_density = *m->number_density;
  out.sigma_scatt = options.sigma_scatt.value_or(m->per_atom.sigma_scatt);
  out.sigma_abs = m->per_atom.sigma_abs;
  const double total = options.sigma_total.value_or(out.sigma_scatt + out.sigma_abs);
  out.mu = out.number_density * total;  // atoms/A3 times barn is 1/cm
  bool resonant = false;
  for (const MaterialElement& e : m->elements) resonant = resonant || e.source == LengthSource::kEnergyDependent;
  const std::string absorption = resonant ? "sigma_a of Lynn & Seeger 1990 for the resonant nuclei and by the 1/v law "
                                            "for the rest"
                                          : "sigma_a by the 1/v law";
  if (options.sigma_total)
    out.source = "the measured total cross-section";
  else
    out.source =
        (options.sigma_scatt ? "the measured sigma_s" : "Sears 1992's sigma_s") + std::string(" plus ") + absorption;
  Result<NeutronMu> r(std::move(out), m.warnings());
  return r;
}

Result<double> SigmaCurve::at(double lambda) const {
  if (wavelength.size() < 2 || !(lambda >= wavelength.front() && lambda <= wavelength.back()))
    return make_error(ErrorKind::kOutOfRange, "the measured cross-sections cover " +
                                                  (wavelength.empty() ? std::string("no wavelength")
                                                                      : shortest(wavelength.front()) + " to " +
                                                                            shortest(wavelength.back()) + " A") +
                                                  ", not " + shortest(lambda) + " A");
  const auto hi = std::upper_bound(wavelength.begin(), wavelength.end(), lambda);
  const std::size_t j = std::min(static_cast<std::size_t>(hi - wavelength.begin()), wavelength.size() - 1);
  const std::size_t i = j - 1;
  const double t = (lambda - wavelength[i]) / (wavelength[j] - wavelength[i]);
  return sigma[i] + t * (sigma[j] - sigma[i]);
}

Result<SigmaCurve> read_sigma_curve(std::string_view text) {
  SigmaCurve c;
  std::size_t line_no = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++line_no;
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || line[first] == '#') continue;
    std::array<double, 2> v{};
    std::size_t got = 0;
    std::string_view rest = line.substr(first);
    while (!rest.empty()) {
      const std::size_t a = rest.find_first_not_of(" \t\r,");
      if (a == std::string_view::npos) break;
      rest = rest.substr(a);
      const std::size_t b = std::min(rest.find_first_of(" \t\r,"), rest.size());
      const Result<double> x = read_number(rest.substr(0, b), "a cross-section");
      if (!x.ok() || got == 2) {
        got = 3;
        break;
      }
      v[got++] = *x;
      rest = rest.substr(b);
    }
    const std::string where = "line " + std::to_string(line_no) + " of the cross-sections";
    if (got != 2) return make_error(ErrorKind::kParseError, where + " is not two numbers (wavelength, barn)");
    if (!c.wavelength.empty() && !(v[0] > c.wavelength.back()))
      return make_error(ErrorKind::kParseError, where + ": the wavelengths must rise");
    if (!(v[0] > 0.0 && std::isfinite(v[0]) && v[1] >= 0.0 && std::isfinite(v[1])))
      return invalid(where + ": a wavelength above 0 and a cross-section of 0 or more");
    c.wavelength.push_back(v[0]);
    c.sigma.push_back(v[1]);
  }
  if (c.wavelength.size() < 2) return invalid("the measured cross-sections need two points at least");
  return c;
}

}  // namespace talvo::pdf
