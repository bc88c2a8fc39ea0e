#include "talvo/pdf/neutron_reduce.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <new>
#include <numbers>

#include "talvo/neutron/material.hpp"
#include "talvo/neutron/placzek.hpp"
#include "talvo/numeric/modification.hpp"
#include "talvo/pdf/multiple_scattering.hpp"
#include "talvo/pdf/neutron_attenuation.hpp"
#include "talvo/pdf/neutron_reduce_internal.hpp"
#include "talvo/pdf/option_specs_internal.hpp"
#include "talvo/pdf/stages.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/grid.hpp"
#include "talvo/text/number.hpp"

namespace talvo::pdf {
namespace {

using enum OptionType;
constexpr double kPi = std::numbers::pi;
constexpr double kInf = std::numeric_limits<double>::infinity();

constexpr OptionSpec kSpecs[] = {
    // The runs beside the sample's: read by the caller, named here so that a header reruns them.
    {.name = "can", .type = kPath, .doc = "the empty can's run", .metavar = "FILE"},
    {.name = "background", .type = kPath, .doc = "the empty instrument's run", .metavar = "FILE"},
    {.name = "vanadium", .type = kPath, .doc = "the vanadium rod's run", .metavar = "FILE"},
    {.name = "vanadium-background",
     .type = kPath,
     .doc = "the instrument's run without the rod (default: --background)",
     .metavar = "FILE"},
    option_specs::kSample,
    option_specs::kNumberDensity,
    option_specs::kDensity,
    option_specs::kRadius,
    option_specs::kHeight,
    {.name = "container", .type = kText, .doc = "the can's chemical formula", .metavar = "FORMULA"},
    option_specs::kContainerNumberDensity,
    option_specs::kContainerDensity,
    option_specs::kContainerInner,
    option_specs::kContainerOuter,
    option_specs::kContainerHeight,
    {.name = "vanadium-radius",
     .type = kNumber,
     .doc = "the vanadium rod's radius",
     .quantity = Quantity::kLengthMm,
     .low = 0.0,
     .low_open = true,
     .metavar = "MM"},
    {.name = "vanadium-height",
     .type = kNumber,
     .doc = "the vanadium rod's height (none: taller than the beam)",
     .quantity = Quantity::kLengthMm,
     .low = 0.0,
     .low_open = true,
     .metavar = "MM"},
    {.name = "vanadium-number-density",
     .type = kNumber,
     .doc = "the rod's atoms per cubic Angstrom (default: the element table's density)",
     .excludes = "vanadium-density",
     .low = 0.0,
     .low_open = true,
     .metavar = "N"},
    {.name = "vanadium-density",
     .type = kNumber,
     .doc = "the rod's density",
     .quantity = Quantity::kDensity,
     .excludes = "vanadium-number-density",
     .low = 0.0,
     .low_open = true},
    option_specs::kWavelength,
    option_specs::kBeamWidth,
    option_specs::kBeamHeight,
    option_specs::kDetectorHeight,
    option_specs::kTemperature,
    {.name = "vanadium-temperature",
     .type = kNumber,
     .doc = "the vanadium rod's temperature, K",
     .default_text = "293.15",
     .low = 0.0,
     .metavar = "K"},
    {.name = "detector-alpha",
     .type = kNumber,
     .doc = "alpha of the detectors' efficiency 1 - exp(-alpha/k), 1/A (none: 1 at every energy)",
     .low = 0.0,
     .low_open = true,
     .metavar = "A"},
    {.name = "tolerance",
     .type = kNumber,
     .doc = "the attenuation factors' convergence, absolute",
     .default_text = "1e-6",
     .low = 0.0,
     .low_open = true},
    {.name = "histories",
     .type = kWhole,
     .doc = "the multiple scattering's Monte Carlo histories, each body",
     .default_text = "100000",
     .low = 10.0,
     .high = 1e9},
    option_specs::kSeed,
    {.name = "omit",
     .type = kList,
     .doc = "corrections left out, to see what each does",
     .choices = "monitor|background|can|attenuation|multiple-scattering|placzek",
     .metavar = "LIST"},
    {.name = "sample-scale",
     .type = kNumber,
     .doc = "a scale on the sample's cross-section (its packing, its lit volume)",
     .default_text = "1",
     .low = 0.0,
     .low_open = true,
     .metavar = "S"},
    {.name = "can-scale",
     .type = kNumber,
     .doc = "the empty can's scale",
     .default_text = "1",
     .low = 0.0,
     .metavar = "S"},
    {.name = "flat",
     .type = kNumber,
     .doc = "a constant taken from dsigma/dOmega, b/sr",
     .default_text = "0",
     .metavar = "B"},
    {.name = "optimize",
     .type = kList,
     .doc = "parameters fitted first: density, sample-scale, can-scale, flat (NAME or NAME:LOW:HIGH)",
     .metavar = "LIST"},
    option_specs::kQmin,
    option_specs::kQmax,
    option_specs::kWindow,
    option_specs::kRGrid,
    {.name = "rmin-iterate",
     .type = kNumber,
     .doc = "G made to follow -4 pi rho0 r below this r",
     .low = 0.0,
     .low_open = true,
     .metavar = "R"},
    {.name = "rmin-check",
     .type = kNumber,
     .doc = "the top r of the low-r check",
     .default_text = "1",
     .low = 0.5,
     .low_open = true,
     .metavar = "R"},
};
constexpr OptionTable kTable{"the neutron reduction", kSpecs};

Error invalid(std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); }

double cm(double mm) { return mm / 10.0; }

bool omitted(const Options& o, std::string_view what) {
  const std::vector<std::string> list = o.list("omit");
  return std::find(list.begin(), list.end(), what) != list.end();
}

// Values on equally spaced nodes from `from` by `step` (at least 4), at each
// x by the four-point Lagrange polynomial about it.
std::vector<double> lagrange(double from, double step, std::span<const double> values, std::span<const double> x) {
  const int n = static_cast<int>(values.size());
  std::vector<double> out(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double u = (x[i] - from) / step;
    const int k0 = std::clamp(static_cast<int>(std::floor(u)) - 1, 0, n - 4);
    double v = 0.0;
    for (int a = 0; a < 4; ++a) {
      double l = 1.0;
      for (int b = 0; b < 4; ++b)
        if (b != a) l *= (u - (k0 + b)) / static_cast<double>(a - b);
      v += l * values[static_cast<std::size_t>(k0 + a)];
    }
    out[i] = v;
  }
  return out;
}

// Nodes `step` apart about [lo, hi], within [0, 180], at least 4.
std::vector<double> nodes_about(double lo, double hi, double step) {
  double from = std::max(0.0, std::floor(lo / step) * step - step);
  double to = std::min(180.0, std::ceil(hi / step) * step + step);
  while ((to - from) / step < 3.0 - 1e-9) {
    if (from > 0.0)
      from = std::max(0.0, from - step);
    else
      to = std::min(180.0, to + step);
  }
  std::vector<double> out;
  for (int k = 0; from + k * step <= to + 1e-9; ++k) out.push_back(from + k * step);
  return out;
}

// The area of a circle of radius r that a centred band of width w lights.
double lit_area(double r, std::optional<double> w) {
  if (!w || *w >= 2.0 * r) return kPi * r * r;
  const double x = 0.5 * *w;
  return 2.0 * (x * std::sqrt(r * r - x * x) + r * r * std::asin(x / r));
}

std::string mu_note(const char* what, const std::string& formula, const NeutronMu& m) {
  return std::string(what) + " " + formula + ": mu " + shortest(m.mu) + " /cm, n (sigma_s + sigma_a), n " +
         shortest(m.number_density) + " atoms/A3, sigma_s " + shortest(m.sigma_scatt) + " b, sigma_a " +
         shortest(m.sigma_abs) + " b: " + m.source;
}

// Each run's counts over its monitor, as the coefficients the later stages
// build on: a point of the result is sum_j c_j y_j over the runs j.
enum RunIndex : std::size_t { kSampleCan, kCan, kBackground, kVanadium, kVanadiumBackground, kRuns };

struct Normalised {
  std::array<const std::vector<double>*, kRuns> y{}, sigma{};
  std::array<double, kRuns> scale{};  // 1 / monitor
};

Outcome check_runs(const NeutronRuns& runs, const NeutronFactorSet& f, const Options& o) {
  const std::array<std::pair<const NeutronRun*, const char*>, kRuns> all{
      std::pair{runs.sample, "the sample"},
      {runs.can, "the empty can"},
      {runs.background, "the background"},
      {runs.vanadium, "the vanadium"},
      {runs.vanadium_background, "the vanadium's background"}};
  for (std::size_t j : {kSampleCan, kBackground, kVanadium})
    if (!all[j].first) return invalid(std::string("the neutron reduction needs ") + all[j].second + "'s run");
  if (o.given("container") && !runs.can)
    return invalid("--container " + o.text("container") + " is given without the empty can's run: give it");
  if (!o.given("container") && runs.can)
    return invalid("the empty can's run needs the can it was: give --container and its radii");
  const std::size_t n = f.two_theta.size();
  for (const std::vector<double>* v : {&f.q, &f.a_s_sc, &f.a_v, &f.delta_sc, &f.delta_v, &f.p_sample, &f.p_vanadium})
    if (v->size() != n) return invalid("the factors are not made for these runs: make them with neutron_factors");
  if (runs.can && (f.a_c_sc.size() != n || f.a_c_c.size() != n || f.delta_c.size() != n))
    return invalid("the factors were made without a can: make them with --container and its radii");
  const double lambda = o.number("wavelength");
  for (const auto& [run, what] : all) {
    if (!run) continue;
    if (!(run->monitor > 0.0 && std::isfinite(run->monitor)))
      return invalid(std::string(what) + "'s monitor count must be above 0, not " + shortest(run->monitor) +
                     ": its counts cannot be put per monitor");
    if (run->wavelength && !(std::abs(*run->wavelength - lambda) <= 1e-4 * lambda))
      return invalid(std::string(what) + " was measured at " + shortest(*run->wavelength) +
                     " A, not at the reduction's " + shortest(lambda) +
                     " A: runs of another wavelength cannot be "
                     "put together");
    if (run->counts.size() != run->two_theta.size() || run->sigma.size() != run->two_theta.size())
      return invalid(std::string(what) + "'s columns are not of one length");
    if (run->two_theta.size() != f.two_theta.size())
      return invalid(std::string(what) + " has " + std::to_string(run->two_theta.size()) + " points, the sample " +
                     std::to_string(f.two_theta.size()) + ": the runs' 2theta must match");
    for (std::size_t i = 0; i < f.two_theta.size(); ++i)
      if (!(std::abs(run->two_theta[i] - f.two_theta[i]) <= 1e-6))
        return invalid(std::string(what) + "'s 2theta " + shortest(run->two_theta[i]) + " at point " +
                       std::to_string(i + 1) + " is not the sample's " + shortest(f.two_theta[i]) +
                       ": the runs' 2theta must match");
  }
  return Done{};
}

}  // namespace

const OptionTable& neutron_reduction_options() { return kTable; }

Result<NeutronRun> parse_neutron_run(std::string_view text, std::string_view source) {
  NeutronRun run;
  bool monitor = false;
  std::size_t line_no = 0;
  const std::string where(source);
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = std::min(text.find('\n', from), text.size());
    std::string_view line = text.substr(from, end - from);
    from = end + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string at = where + " line " + std::to_string(line_no);
    if (!line.empty() && line.front() == '#') {
      // "# monitor 1e6", "# monitor = 1e6", "# wavelength 0.7".
      std::string_view rest = line.substr(1);
      for (const auto& [key, is_monitor] : {std::pair{std::string_view("monitor"), true}, {"wavelength", false}}) {
        const std::size_t k = rest.find_first_not_of(" \t");
        if (k == std::string_view::npos || rest.substr(k, key.size()) != key) continue;
        std::string_view value = rest.substr(k + key.size());
        const std::size_t v = value.find_first_not_of(" \t=:");
        value = v == std::string_view::npos ? std::string_view() : value.substr(v);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
        Result<double> n = read_number(value, at + ": the " + std::string(key));
        if (!n.ok()) return make_error(ErrorKind::kParseError, n.error().message, line_no);
        if (is_monitor) {
          run.monitor = *n;
          monitor = true;
        } else {
          run.wavelength = *n;
        }
      }
      continue;
    }
    std::vector<double> row;
    std::size_t p = 0;
    while (p < line.size()) {
      const std::size_t a = line.find_first_not_of(" \t,", p);
      if (a == std::string_view::npos) break;
      const std::size_t b = std::min(line.find_first_of(" \t,", a), line.size());
      Result<double> n = read_number(line.substr(a, b - a), at);
      if (!n.ok()) return make_error(ErrorKind::kParseError, n.error().message, line_no);
      row.push_back(*n);
      p = b;
    }
    if (row.empty()) continue;
    if (row.size() < 2 || row.size() > 3)
      return make_error(ErrorKind::kParseError,
                        at + " holds " + std::to_string(row.size()) + " numbers, not 2theta, counts[, sigma]", line_no);
    if (!run.two_theta.empty() && !(row[0] > run.two_theta.back()))
      return invalid(at + ": 2theta " + shortest(row[0]) + " does not rise from " + shortest(run.two_theta.back()));
    const double s = row.size() == 3 ? row[2] : std::max(1.0, std::sqrt(std::max(row[1], 0.0)));
    if (!(s > 0.0)) return invalid(at + ": sigma " + shortest(s) + " must be above 0");
    run.two_theta.push_back(row[0]);
    run.counts.push_back(row[1]);
    run.sigma.push_back(s);
  }
  if (!monitor) return invalid(where + " has no monitor line (\"# monitor N\"): its counts cannot be normalised");
  if (run.two_theta.size() < 3) return invalid(where + " has fewer than 3 points");
  return run;
}

Result<NeutronFactorSet> neutron_factors(std::span<const double> two_theta, const Options& o,
                                         const NeutronTable& table) {
  for (const char* needed : {"sample", "wavelength", "radius", "vanadium-radius"})
    if (!o.given(needed)) return invalid(std::string("the neutron reduction needs --") + needed);
  if (two_theta.size() < 3) return invalid("the neutron reduction needs 3 or more points");
  for (std::size_t i = 0; i < two_theta.size(); ++i) {
    if (!(two_theta[i] > 0.0 && two_theta[i] <= 180.0))
      return invalid("2theta must lie above 0 and at most 180 degrees, not " + shortest(two_theta[i]));
    if (i && !(two_theta[i] > two_theta[i - 1])) return invalid("2theta must rise from point to point");
  }
  const double lambda = o.number("wavelength");
  NeutronFactorSet f;
  f.two_theta.assign(two_theta.begin(), two_theta.end());
  for (double t : two_theta) f.q.push_back(4.0 * kPi * std::sin(0.5 * t * kPi / 180.0) / lambda);
  std::vector<std::string> warnings;
  auto keep = [&](const auto& r) { warnings.insert(warnings.end(), r.warnings().begin(), r.warnings().end()); };

  // The materials: mu of each, the sample's lengths and the vanadium's.
  NeutronMuOptions so;
  so.wavelength = lambda;
  so.number_density = o.number_if("number-density");
  so.density = o.number_if("density");
  Result<NeutronMu> sample_mu = neutron_mu(o.text("sample"), table, so);
  if (!sample_mu.ok()) return sample_mu.error();
  keep(sample_mu);
  f.notes.push_back(mu_note("sample", o.text("sample"), *sample_mu));
  std::optional<NeutronMu> can_mu;
  if (o.given("container")) {
    NeutronMuOptions co;
    co.wavelength = lambda;
    co.number_density = o.number_if("container-number-density");
    co.density = o.number_if("container-density");
    Result<NeutronMu> c = neutron_mu(o.text("container"), table, co);
    if (!c.ok()) return c.error();
    keep(c);
    can_mu = *c;
    f.notes.push_back(mu_note("container", o.text("container"), *c));
  }
  NeutronMuOptions vo;
  vo.wavelength = lambda;
  vo.number_density = o.number_if("vanadium-number-density");
  vo.density = o.number_if("vanadium-density");
  Result<NeutronMu> v_mu = neutron_mu("V", table, vo);
  if (!v_mu.ok()) return v_mu.error();
  keep(v_mu);
  f.notes.push_back(mu_note("vanadium", "V", *v_mu));

  MaterialOptions mo;
  mo.wavelength = lambda;
  mo.number_density = sample_mu->number_density;
  Result<Material> sample = material(o.text("sample"), table, mo);
  if (!sample.ok()) return sample.error();
  MaterialOptions vmo;
  vmo.wavelength = lambda;
  vmo.number_density = v_mu->number_density;
  Result<Material> vanadium = material("V", table, vmo);
  if (!vanadium.ok()) return vanadium.error();
  f.number_density = sample_mu->number_density;
  f.self = sample->per_atom.sigma_scatt / (4.0 * kPi);
  f.b_mean_sq =
      (sample->per_atom.b_coh * sample->per_atom.b_coh + sample->per_atom.b_coh_im * sample->per_atom.b_coh_im) / 100.0;
  f.vanadium_self = vanadium->per_atom.sigma_scatt / (4.0 * kPi);
  if (!(f.b_mean_sq > 0.0))
    return invalid("the sample's mean coherent length is 0: S(Q) is not defined by Faber and Ziman's |<b>|^2");
  f.notes.push_back("sample: <b> " + shortest(sample->per_atom.b_coh) + " fm, |<b>|^2 " + shortest(f.b_mean_sq) +
                    " b, <b^2> (sigma_s/4pi) " + shortest(f.self) + " b/sr per atom (Sears 1992, bound)");
  const double v_coh = (vanadium->per_atom.b_coh * vanadium->per_atom.b_coh) / 100.0;
  f.notes.push_back("vanadium: sigma_s/4pi " + shortest(f.vanadium_self) +
                    " b/sr per atom; its coherent part |<b>|^2 " + shortest(v_coh) +
                    " b is left out (its Bragg peaks stand a few 1e-3 above its level)");

  // The bodies.
  NeutronBeam beam;
  if (o.given("beam-width")) beam.width = cm(o.number("beam-width"));
  if (o.given("beam-height")) beam.height = cm(o.number("beam-height"));
  if (o.given("detector-height")) beam.detector_height = cm(o.number("detector-height"));
  NeutronCylinder cyl;
  cyl.radius = cm(o.number("radius"));
  if (o.given("height")) cyl.height = cm(o.number("height"));
  cyl.mu = sample_mu->mu;
  if (can_mu) {
    if (!o.given("container-outer")) return invalid("a container needs --container-outer");
    cyl.can_inner = o.given("container-inner") ? cm(o.number("container-inner")) : cyl.radius;
    cyl.can_outer = cm(o.number("container-outer"));
    if (!(cyl.can_outer > cyl.can_inner))
      return invalid("the can's outer radius (" + shortest(o.number("container-outer")) +
                     " mm) must be above its inner radius (" + shortest(10.0 * cyl.can_inner) +
                     " mm): a can thinner than nothing holds no sample");
    cyl.can_height = o.given("container-height") ? std::optional<double>(cm(o.number("container-height"))) : cyl.height;
    cyl.can_mu = can_mu->mu;
  } else {
    for (const char* name : {"container-inner", "container-outer", "container-height"})
      if (o.given(name)) return invalid(std::string("--") + name + " needs --container");
  }
  NeutronCylinder rod;
  rod.radius = cm(o.number("vanadium-radius"));
  if (o.given("vanadium-height")) rod.height = cm(o.number("vanadium-height"));
  rod.mu = v_mu->mu;

  // The atoms lit: n times the lit cross-section times the lit height.
  auto lit_height = [&](std::optional<double> h) {
    double out = kInf;
    for (const std::optional<double>& b : {h, beam.height, beam.detector_height})
      if (b) out = std::min(out, *b);
    return out;
  };
  double hs = lit_height(cyl.height), hv = lit_height(rod.height);
  if (std::isinf(hs) != std::isinf(hv))
    return invalid(std::string("the ") + (std::isinf(hs) ? "sample's" : "vanadium's") +
                   " lit height is bounded by nothing, the other's is: give --beam-height, or --height and "
                   "--vanadium-height");
  if (std::isinf(hs)) {
    hs = hv = 1.0;
    f.notes.push_back("the sample and the vanadium are taken as lit over one height (no height is given)");
  }
  f.sample_atoms = sample_mu->number_density * lit_area(cyl.radius, beam.width) * hs;
  f.vanadium_atoms = v_mu->number_density * lit_area(rod.radius, beam.width) * hv;

  // Attenuation.
  const double tol = o.number("tolerance");
  Result<NeutronFactorTable> a = cylinder_factor_table(two_theta, 0.0, cyl, beam, tol);
  if (!a.ok()) return a.error();
  Result<NeutronFactorTable> av = cylinder_factor_table(two_theta, 0.0, rod, beam, tol);
  if (!av.ok()) return av.error();
  f.a_s_sc = can_mu ? a->a_s_sc : a->a_s_s;
  if (can_mu) {
    f.a_c_sc = a->a_c_sc;
    f.a_c_c = a->a_c_c;
  }
  f.a_v = av->a_s_s;
  f.notes.push_back("attenuation: Paalman & Pings (1962) factors each whole degree to " + shortest(tol) +
                    " (largest last change " + shortest(std::max(a->error, av->error)) +
                    "), four-point Lagrange between");

  // Multiple scattering at nodes 2.5 degrees apart.
  const std::vector<double> nodes = nodes_about(two_theta.front(), two_theta.back(), 2.5);
  MultipleScatteringOptions ms;
  ms.histories = o.whole("histories");
  ms.seed = static_cast<std::uint64_t>(o.whole("seed"));
  auto delta_of = [&](const NeutronCylinder& c, double mu_s, double can_mu_s) -> Result<std::vector<double>> {
    ScatteringCylinder sc{c, mu_s, can_mu_s};
    Result<MultipleScatteringResult> r = multiple_scattering(nodes, 0.0, sc, beam, ms);
    if (!r.ok()) return r.error();
    for (double s : r->delta_sigma) f.delta_sigma = std::max(f.delta_sigma, s);
    return lagrange(nodes.front(), 2.5, r->delta, two_theta);
  };
  const double can_mu_s = can_mu ? can_mu->number_density * can_mu->sigma_scatt : 0.0;
  Result<std::vector<double>> d_sc = delta_of(cyl, sample_mu->number_density * sample_mu->sigma_scatt, can_mu_s);
  if (!d_sc.ok()) return d_sc.error();
  f.delta_sc = std::move(*d_sc);
  if (can_mu) {
    NeutronCylinder empty = cyl;
    empty.mu = 0.0;
    Result<std::vector<double>> d_c = delta_of(empty, 0.0, can_mu_s);
    if (!d_c.ok()) return d_c.error();
    f.delta_c = std::move(*d_c);
  }
  Result<std::vector<double>> d_v = delta_of(rod, v_mu->number_density * v_mu->sigma_scatt, 0.0);
  if (!d_v.ok()) return d_v.error();
  f.delta_v = std::move(*d_v);
  f.notes.push_back("multiple scattering: Monte Carlo of each body, " + std::to_string(ms.histories) +
                    " histories, seed " + std::to_string(ms.seed) +
                    ", at 2theta every 2.5 degrees, four-point "
                    "Lagrange between; its largest sigma " +
                    shortest(f.delta_sigma) + "; isotropic elastic scatterers");

  // Placzek each whole degree.
  const std::vector<double> degrees = nodes_about(two_theta.front(), two_theta.back(), 1.0);
  for (const auto& [m, temperature, into] : {std::tuple{&*sample, o.number("temperature"), &f.p_sample},
                                             std::tuple{&*vanadium, o.number("vanadium-temperature"), &f.p_vanadium}}) {
    PlaczekOptions po;
    po.wavelength = lambda;
    po.temperature = temperature;
    po.detector_alpha = o.number_if("detector-alpha");
    Result<PlaczekTable> p = placzek(degrees, *m, po);
    if (!p.ok()) return p.error();
    *into = lagrange(degrees.front(), 1.0, p->exact, two_theta);
  }
  f.notes.push_back("Placzek: the exact free-gas integral each whole degree, the sample at " +
                    shortest(o.number("temperature")) + " K, the vanadium at " +
                    shortest(o.number("vanadium-temperature")) + " K; detector " +
                    (o.given("detector-alpha") ? "efficiency 1 - exp(-" + shortest(o.number("detector-alpha")) + "/k)"
                                               : std::string("efficiency 1 at every energy")));
  return Result<NeutronFactorSet>(std::move(f), std::move(warnings));
}

NeutronKnobs knobs_of(const Options& o) { return {o.number("sample-scale"), o.number("can-scale"), o.number("flat")}; }

Result<NeutronReduction> reduce_neutron(const NeutronRuns& runs, const NeutronFactorSet& f, const Options& o) {
  return reduce_neutron_with(runs, f, o, knobs_of(o), {});
}

Result<NeutronReduction> reduce_neutron_with(const NeutronRuns& runs, const NeutronFactorSet& f, const Options& o,
                                             const NeutronKnobs& knobs, std::span<const double> r_of_g) {
  try {
    if (Outcome c = check_runs(runs, f, o); !c.ok()) return c.error();
    const bool use_monitor = !omitted(o, "monitor"), use_bg = !omitted(o, "background"),
               use_can = !omitted(o, "can") && runs.can, use_att = !omitted(o, "attenuation"),
               use_ms = !omitted(o, "multiple-scattering"), use_p = !omitted(o, "placzek");
    NeutronReduction red;
    red.settings = header_text(kTable, o);
    red.notes = f.notes;
    std::vector<std::string> warnings;
    for (const std::string& w : o.list("omit")) red.notes.push_back("left out: " + w);

    // normalise_monitor
    const std::array<const NeutronRun*, kRuns> run{
        runs.sample, runs.can, runs.background, runs.vanadium,
        runs.vanadium_background ? runs.vanadium_background : runs.background};
    std::array<double, kRuns> per{};
    for (std::size_t j = 0; j < kRuns; ++j) per[j] = run[j] && use_monitor ? 1.0 / run[j]->monitor : 1.0;

    const std::size_t n = f.two_theta.size();
    red.two_theta = f.two_theta;
    red.dcs.x = f.q;
    red.dcs.y.resize(n);
    red.dcs.sigma.resize(n);
    red.self.resize(n);
    const double atoms = f.vanadium_atoms / f.sample_atoms;
    for (std::size_t i = 0; i < n; ++i) {
      // The sample's and the vanadium's corrected intensities as sums over the runs' counts,
      // num = sum_j a_j y_j, den = sum_j b_j y_j (the vanadium's background is the instrument's
      // when it has none of its own: then both land on one run).
      std::array<double, kRuns> a{}, b{};
      const double d_sc = use_ms ? 1.0 + f.delta_sc[i] : 1.0;
      const double d_c = use_ms && runs.can ? 1.0 + f.delta_c[i] : 1.0;
      const double d_v = use_ms ? 1.0 + f.delta_v[i] : 1.0;
      const double a_s = use_att ? f.a_s_sc[i] : 1.0, a_v = use_att ? f.a_v[i] : 1.0;
      const double k = use_can ? knobs.can_scale * (use_att ? f.a_c_sc[i] / f.a_c_c[i] : 1.0) : 0.0;
      // subtract_background, remove_multiple, subtract_can
      a[kSampleCan] = per[kSampleCan] / (d_sc * a_s);
      if (use_bg) a[kBackground] += -per[kBackground] / (d_sc * a_s);
      if (use_can) {
        a[kCan] = -k * per[kCan] / (d_c * a_s);
        if (use_bg) a[kBackground] += k * per[kBackground] / (d_c * a_s);
      }
      b[kVanadium] = per[kVanadium] / (d_v * a_v);
      if (use_bg) {
        const std::size_t vb = runs.vanadium_background ? kVanadiumBackground : kBackground;
        b[vb] += -per[vb] / (d_v * a_v);
      }
      double num = 0.0, den = 0.0;
      for (std::size_t j = 0; j < kRuns; ++j) {
        if (!run[j]) continue;
        num += a[j] * run[j]->counts[i];
        den += b[j] * run[j]->counts[i];
      }
      if (!(den > 0.0))
        return invalid("the vanadium's corrected counts at 2theta " + shortest(f.two_theta[i]) +
                       " are not above 0: its background is as high as it");
      // normalise_vanadium
      const double scale = knobs.sample_scale * atoms * f.vanadium_self * (1.0 + (use_p ? f.p_vanadium[i] : 0.0));
      const double ratio = num / den;
      double var = 0.0;
      for (std::size_t j = 0; j < kRuns; ++j) {
        // Two slots on one run (the instrument's background for both) are one datum.
        if (!run[j] || std::find(run.begin(), run.begin() + static_cast<std::ptrdiff_t>(j), run[j]) !=
                           run.begin() + static_cast<std::ptrdiff_t>(j))
          continue;
        double ca = 0.0, cb = 0.0;
        for (std::size_t m = j; m < kRuns; ++m)
          if (run[m] == run[j]) {
            ca += a[m];
            cb += b[m];
          }
        const double d = ca / den - num * cb / (den * den);
        var += d * d * run[j]->sigma[i] * run[j]->sigma[i];
      }
      red.dcs.y[i] = scale * ratio - knobs.flat;
      red.dcs.sigma[i] = scale * std::sqrt(var);
      red.self[i] = f.self * (1.0 + (use_p ? f.p_sample[i] : 0.0));
    }
    red.notes.push_back("dsigma/dOmega: b/sr per atom, the atoms lit (n times the lit volume) " +
                        shortest(f.sample_atoms) + " of the sample and " + shortest(f.vanadium_atoms) +
                        " of the vanadium (atoms/A3 cm3)");

    // structure
    red.b_mean_sq = f.b_mean_sq;
    red.self_static = f.self;
    red.number_density = f.number_density;
    const double qmin = o.number("qmin");
    const double qmax = o.number_if("qmax").value_or(f.q.back());
    if (!(qmax > qmin)) return invalid("qmax (" + shortest(qmax) + ") must be above qmin (" + shortest(qmin) + ")");
    if (qmax > f.q.back() * (1.0 + 1e-12))
      return invalid("qmax " + shortest(qmax) + " is beyond the data's last Q, " + shortest(f.q.back()));
    std::vector<double> self_used;
    for (std::size_t i = 0; i < n; ++i) {
      const double q = f.q[i];
      if (q < qmin || q > qmax) continue;
      const double s = 1.0 + (red.dcs.y[i] - red.self[i]) / f.b_mean_sq, ss = red.dcs.sigma[i] / f.b_mean_sq;
      red.sq.x.push_back(q);
      red.sq.y.push_back(s);
      red.sq.sigma.push_back(ss);
      red.fq.x.push_back(q);
      red.fq.y.push_back(q * (s - 1.0));
      red.fq.sigma.push_back(q * ss);
      self_used.push_back(red.self[i]);
    }
    if (red.sq.x.size() < 5) return invalid("fewer than 5 points lie within qmin and qmax");
    red.qmin = red.sq.x.front();
    red.qmax = red.sq.x.back();
    red.notes.push_back("S(Q) - 1: [dsigma/dOmega - (sigma_s/4pi)(1 + P)] / |<b>|^2 (Faber-Ziman)");

    // transform
    const std::optional<Window> window = window_named(o.text("window"));
    if (!window) return invalid("no window is called " + o.text("window"));
    if (o.given("rmin-iterate")) {
      Result<LowR> low = iterate_low_r(red.fq, f.number_density, o.number("rmin-iterate"), *window);
      if (!low.ok()) return low.error();
      red.iterations = low->iterations;
      red.residual = low->residual;
      for (std::size_t i = 0; i < red.fq.x.size(); ++i) red.sq.y[i] = 1.0 + red.fq.y[i] / red.fq.x[i];
    }
    const std::array<double, 3> rg = *o.grid("r");
    const std::vector<double> r = r_of_g.empty()
                                      ? grid_points(rg[0], rg[1], rg[2], static_cast<std::size_t>(kMaxGridPoints))
                                      : std::vector<double>(r_of_g.begin(), r_of_g.end());
    Result<Curve> gr = transform_fq(red.fq, r, *window);
    if (!gr.ok()) return gr.error();
    red.gr = std::move(*gr);

    // diagnose
    const double rmin_check = o.number("rmin-check");
    const std::vector<double> rc = grid_points(0.5, rmin_check, 0.01, 100000);
    Result<Curve> gc = transform_fq(red.fq, rc, *window);
    if (!gc.ok()) return gc.error();
    const std::vector<double> bsq(red.sq.x.size(), f.b_mean_sq);
    DiagnosticOptions dopt;
    dopt.rmin_check = rmin_check;
    Result<Diagnostics> d =
        diagnose(red.sq.x, red.sq.y, red.sq.sigma, self_used, bsq, gc->x, gc->y, f.number_density, dopt);
    if (!d.ok()) return d.error();
    red.diagnostics = std::move(*d);
    warnings.insert(warnings.end(), red.diagnostics.warnings.begin(), red.diagnostics.warnings.end());
    red.notes.push_back("floor of S: 1 - (sigma_s/4pi)(1 + P) / |<b>|^2, " + shortest(1.0 - f.self / f.b_mean_sq) +
                        " without Placzek's part");
    return Result<NeutronReduction>(std::move(red), std::move(warnings));
  } catch (const std::bad_alloc&) {
    return make_error(ErrorKind::kOutOfMemory, "out of memory: the neutron reduction needs more than there is");
  }
}

Result<NeutronReduction> reduce_neutron(const NeutronRuns& runs, const Options& options, const NeutronTable& table) {
  if (!runs.sample) return invalid("the neutron reduction needs the sample's run");
  Result<NeutronFactorSet> f = neutron_factors(runs.sample->two_theta, options, table);
  if (!f.ok()) return f.error();
  Result<NeutronReduction> r = reduce_neutron(runs, *f, options);
  if (!r.ok()) return r;
  std::vector<std::string> w = f.warnings();
  w.insert(w.end(), r.warnings().begin(), r.warnings().end());
  return Result<NeutronReduction>(std::move(*r), std::move(w));
}

}  // namespace talvo::pdf
