#include "talvo/pdf/neutron_corrections.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <string>

#include "talvo/files/read.hpp"
#include "talvo/neutron/material.hpp"
#include "talvo/neutron/placzek.hpp"
#include "talvo/pdf/multiple_scattering.hpp"
#include "talvo/pdf/neutron_attenuation.hpp"
#include "talvo/pdf/option_specs_internal.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/grid.hpp"
#include "talvo/text/number.hpp"

namespace talvo::pdf {
namespace {

using option_specs::only_when;

constexpr OptionSpec kSpecs[] = {
    option_specs::kSample,
    option_specs::kNumberDensity,
    option_specs::kDensity,
    option_specs::kWavelength,
    {.name = "twotheta",
     .type = OptionType::kText,
     .doc = "the detectors' 2theta in degrees: a list A,B,... or a grid",
     .default_text = "0:180:5",
     .metavar = "LIST|FROM:TO:STEP"},
    {.name = "geometry",
     .type = OptionType::kChoice,
     .doc = "the sample's shape",
     .default_text = "cylinder",
     .choices = "cylinder|plate"},
    only_when(option_specs::kRadius, "geometry=cylinder"),
    only_when(option_specs::kHeight, "geometry=cylinder"),
    {.name = "thickness",
     .type = OptionType::kNumber,
     .doc = "the plate's thickness",
     .quantity = Quantity::kLengthMm,
     .when = "geometry=plate",
     .low = 0.0,
     .low_open = true,
     .metavar = "MM"},
    {.name = "plate-angle",
     .type = OptionType::kNumber,
     .doc = "the plate's normal from the beam, degrees",
     .default_text = "0",
     .when = "geometry=plate",
     .low = -90.0,
     .high = 90.0,
     .low_open = true,
     .high_open = true},
    {.name = "container",
     .type = OptionType::kText,
     .doc = "the can's (or cell's) chemical formula",
     .metavar = "FORMULA"},
    option_specs::kContainerNumberDensity,
    option_specs::kContainerDensity,
    only_when(option_specs::kContainerInner, "geometry=cylinder"),
    only_when(option_specs::kContainerOuter, "geometry=cylinder"),
    only_when(option_specs::kContainerHeight, "geometry=cylinder"),
    {.name = "front-wall",
     .type = OptionType::kNumber,
     .doc = "the cell's wall on the beam's side",
     .quantity = Quantity::kLengthMm,
     .when = "geometry=plate",
     .needs = "container",
     .low = 0.0,
     .metavar = "MM"},
    {.name = "back-wall",
     .type = OptionType::kNumber,
     .doc = "the cell's wall on the far side",
     .quantity = Quantity::kLengthMm,
     .when = "geometry=plate",
     .needs = "container",
     .low = 0.0,
     .metavar = "MM"},
    option_specs::kBeamWidth,
    option_specs::kBeamHeight,
    option_specs::kDetectorHeight,
    {.name = "elevation",
     .type = OptionType::kNumber,
     .doc = "the detectors' angle out of the scattering plane, degrees",
     .default_text = "0",
     .low = -90.0,
     .high = 90.0,
     .low_open = true,
     .high_open = true},
    {.name = "sigma-total",
     .type = OptionType::kNumber,
     .doc = "the sample's measured total cross-section per atom, barn",
     .excludes = "sigma-file",
     .low = 0.0,
     .metavar = "B"},
    {.name = "sigma-scatt",
     .type = OptionType::kNumber,
     .doc = "the sample's measured scattering cross-section per atom, barn",
     .low = 0.0,
     .metavar = "B"},
    {.name = "sigma-file",
     .type = OptionType::kPath,
     .doc = "the sample's measured total cross-section per atom: lines of wavelength (A) and barn",
     .excludes = "sigma-total"},
    {.name = "tolerance",
     .type = OptionType::kNumber,
     .doc = "the factors' convergence, absolute",
     .default_text = "1e-6",
     .low = 0.0,
     .low_open = true},
    {.name = "histories",
     .type = OptionType::kWhole,
     .doc = "the Monte Carlo's neutron histories",
     .default_text = "100000",
     .low = 2.0,
     .high = 1e9},
    option_specs::kSeed,
    option_specs::kTemperature,
    {.name = "detector-alpha",
     .type = OptionType::kNumber,
     .doc = "alpha of the detectors' efficiency 1 - exp(-alpha/k), 1/A (none: 1 at every energy)",
     .excludes = "detector-efficiency",
     .low = 0.0,
     .low_open = true,
     .metavar = "A"},
    {.name = "detector-efficiency",
     .type = OptionType::kNumber,
     .doc = "the detectors' efficiency at --efficiency-wavelength, for their alpha",
     .needs = "efficiency-wavelength",
     .excludes = "detector-alpha",
     .low = 0.0,
     .high = 1.0,
     .low_open = true,
     .high_open = true},
    {.name = "efficiency-wavelength",
     .type = OptionType::kNumber,
     .doc = "where --detector-efficiency holds",
     .quantity = Quantity::kWavelength,
     .needs = "detector-efficiency",
     .low = 0.0,
     .low_open = true},
    {.name = "order",
     .type = OptionType::kChoice,
     .doc = "the exact free-gas integral or its first-order expansion",
     .default_text = "exact",
     .choices = "exact|first"},
};
constexpr OptionTable kTable{"ncorr", kSpecs};

// The options each correction reads (the rest are refused by it).
constexpr std::array<std::string_view, 5> kCommon{"sample", "number-density", "density", "wavelength", "twotheta"};
constexpr std::array<std::string_view, 16> kGeometry{
    "geometry",          "radius",          "height",          "container",        "container-number-density",
    "container-density", "container-inner", "container-outer", "container-height", "beam-width",
    "beam-height",       "detector-height", "elevation",       "sigma-total",      "sigma-scatt",
    "sigma-file"};
constexpr std::array<std::string_view, 5> kAttenuationOnly{"tolerance", "thickness", "plate-angle", "front-wall",
                                                           "back-wall"};
constexpr std::array<std::string_view, 2> kMonteCarlo{"histories", "seed"};
constexpr std::array<std::string_view, 5> kPlaczek{"temperature", "detector-alpha", "detector-efficiency",
                                                   "efficiency-wavelength", "order"};

Error invalid(std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); }

bool reads(NeutronCorrection c, std::string_view name) {
  auto in = [&](const auto& list) { return std::find(list.begin(), list.end(), name) != list.end(); };
  if (in(kCommon)) return true;
  switch (c) {
    case NeutronCorrection::kAttenuation:
      return in(kGeometry) || in(kAttenuationOnly);
    case NeutronCorrection::kMultipleScattering:
      return in(kGeometry) || in(kMonteCarlo);
    case NeutronCorrection::kPlaczek:
      return in(kPlaczek);
  }
  return false;
}

Result<std::vector<double>> angles_of(const std::string& text) {
  std::vector<double> out;
  if (text.find(':') != std::string::npos) {
    Result<std::vector<double>> g = read_grid(text, {.most = 100000});
    if (!g.ok()) return g.error();
    out = std::move(*g);
  } else {
    std::size_t from = 0;
    while (from <= text.size()) {
      const std::size_t at = std::min(text.find(',', from), text.size());
      Result<double> v = read_number(std::string_view(text).substr(from, at - from), "--twotheta");
      if (!v.ok()) return v.error();
      out.push_back(*v);
      from = at + 1;
    }
  }
  for (double t : out)
    if (!(t >= 0.0 && t <= 180.0)) return invalid("--twotheta must lie within 0 and 180 degrees, not " + shortest(t));
  return out;
}

double cm(double mm) { return mm / 10.0; }

struct Mus {
  NeutronMu sample;
  std::optional<NeutronMu> container;
};

Result<Mus> mus_of(const Options& o, const NeutronTable& table, std::vector<std::string>& warnings) {
  NeutronMuOptions mo;
  mo.wavelength = o.number("wavelength");
  mo.number_density = o.number_if("number-density");
  mo.density = o.number_if("density");
  mo.sigma_total = o.number_if("sigma-total");
  mo.sigma_scatt = o.number_if("sigma-scatt");
  std::string measured;
  if (o.given("sigma-file")) {
    Result<std::string> text = read_whole_file(o.text("sigma-file"));
    if (!text.ok()) return text.error();
    Result<SigmaCurve> curve = read_sigma_curve(*text);
    if (!curve.ok()) return curve.error();
    Result<double> at = curve->at(mo.wavelength);
    if (!at.ok()) return at.error();
    mo.sigma_total = *at;
    measured = "the measured total cross-section of " + o.text("sigma-file") + " at " + shortest(mo.wavelength) +
               " A (linear between its points)";
  }
  Result<NeutronMu> s = neutron_mu(o.text("sample"), table, mo);
  if (!s.ok()) return s.error();
  for (const std::string& w : s.warnings()) warnings.push_back(w);
  Mus m{*s, std::nullopt};
  if (!measured.empty()) m.sample.source = measured;
  if (o.given("container")) {
    NeutronMuOptions co;
    co.wavelength = mo.wavelength;
    co.number_density = o.number_if("container-number-density");
    co.density = o.number_if("container-density");
    Result<NeutronMu> c = neutron_mu(o.text("container"), table, co);
    if (!c.ok()) return c.error();
    for (const std::string& w : c.warnings()) warnings.push_back(w);
    m.container = *c;
  }
  return m;
}

std::string mu_note(const char* what, const std::string& formula, const NeutronMu& m) {
  return std::string(what) + " " + formula + ": mu " + shortest(m.mu) + " /cm = n (sigma_s + sigma_a), n " +
         shortest(m.number_density) + " atoms/A3, sigma_s " + shortest(m.sigma_scatt) + " b, sigma_a " +
         shortest(m.sigma_abs) + " b: " + m.source;
}

Result<NeutronCylinder> cylinder_of(const Options& o, const Mus& m) {
  if (!o.given("radius")) return invalid("a cylinder needs --radius");
  NeutronCylinder c;
  c.radius = cm(o.number("radius"));
  if (o.given("height")) c.height = cm(o.number("height"));
  c.mu = m.sample.mu;
  if (m.container) {
    if (!o.given("container-outer")) return invalid("a container needs --container-outer");
    c.can_inner = o.given("container-inner") ? cm(o.number("container-inner")) : c.radius;
    c.can_outer = cm(o.number("container-outer"));
    if (o.given("container-height"))
      c.can_height = cm(o.number("container-height"));
    else
      c.can_height = c.height;
    c.can_mu = m.container->mu;
  } else {
    for (const char* name : {"container-inner", "container-outer", "container-height"})
      if (o.given(name)) return invalid(std::string("--") + name + " needs --container");
  }
  return c;
}

NeutronBeam beam_of(const Options& o) {
  NeutronBeam b;
  if (o.given("beam-width")) b.width = cm(o.number("beam-width"));
  if (o.given("beam-height")) b.height = cm(o.number("beam-height"));
  if (o.given("detector-height")) b.detector_height = cm(o.number("detector-height"));
  return b;
}

Result<NeutronCorrectionRun> attenuation(const Options& o, const NeutronTable& table, const std::vector<double>& tt,
                                         NeutronCorrectionRun run, std::vector<std::string>& warnings) {
  Result<Mus> m = mus_of(o, table, warnings);
  if (!m.ok()) return m.error();
  run.notes.push_back(mu_note("sample", o.text("sample"), m->sample));
  if (m->container) run.notes.push_back(mu_note("container", o.text("container"), *m->container));
  const bool can = m->container.has_value();
  run.columns = can ? std::vector<std::string>{"twotheta", "A_s,sc", "A_c,sc", "A_c,c"}
                    : std::vector<std::string>{"twotheta", "A_s,s"};
  const double elevation = o.number("elevation");
  if (o.text("geometry") == "plate") {
    if (!o.given("thickness")) return invalid("a plate needs --thickness");
    for (const char* name : {"beam-width", "beam-height", "detector-height"})
      if (o.given(name)) return invalid(std::string("--") + name + " does not change a plate of infinite extent");
    NeutronPlate p;
    p.thickness = cm(o.number("thickness"));
    p.mu = m->sample.mu;
    p.angle = o.number("plate-angle");
    if (can) {
      p.front_wall = cm(o.number("front-wall"));
      p.back_wall = cm(o.number("back-wall"));
      p.wall_mu = m->container->mu;
      if (!(p.front_wall + p.back_wall > 0.0)) return invalid("a cell needs --front-wall or --back-wall above 0");
    }
    for (double t : tt) {
      Result<NeutronFactors> f = plate_factors(t, elevation, p);
      if (!f.ok()) return f.error();
      run.rows.push_back(can ? std::vector<double>{t, f->a_s_sc, f->a_c_sc, f->a_c_c}
                             : std::vector<double>{t, f->a_s_s});
    }
    run.notes.push_back(
        "method: Paalman & Pings (1962) factors of a flat plate of infinite extent, in closed form over its depth");
    return run;
  }
  Result<NeutronCylinder> c = cylinder_of(o, *m);
  if (!c.ok()) return c.error();
  const double tol = o.number("tolerance");
  Result<NeutronFactorTable> f = cylinder_factor_table(tt, elevation, *c, beam_of(o), tol);
  if (!f.ok()) return f.error();
  for (std::size_t i = 0; i < tt.size(); ++i)
    run.rows.push_back(can ? std::vector<double>{tt[i], f->a_s_sc[i], f->a_c_sc[i], f->a_c_c[i]}
                           : std::vector<double>{tt[i], f->a_s_s[i]});
  run.notes.push_back(
      "method: Paalman & Pings (1962) factors, Gauss-Legendre over the lit cross-section (nodes "
      "doubled until no factor changed by more than " +
      shortest(tol) + "; the largest last change " + shortest(f->error) +
      "), exact over the height; computed each whole degree, four-point Lagrange between");
  return run;
}

Result<NeutronCorrectionRun> multiple(const Options& o, const NeutronTable& table, const std::vector<double>& tt,
                                      NeutronCorrectionRun run, std::vector<std::string>& warnings,
                                      const StopCheck& stop) {
  if (o.text("geometry") == "plate")
    return make_error(ErrorKind::kUnsupported, "the multiple scattering is made for a cylinder, not a plate");
  Result<Mus> m = mus_of(o, table, warnings);
  if (!m.ok()) return m.error();
  run.notes.push_back(mu_note("sample", o.text("sample"), m->sample));
  if (m->container) run.notes.push_back(mu_note("container", o.text("container"), *m->container));
  Result<NeutronCylinder> c = cylinder_of(o, *m);
  if (!c.ok()) return c.error();
  ScatteringCylinder sc{*c, m->sample.number_density * m->sample.sigma_scatt,
                        m->container ? m->container->number_density * m->container->sigma_scatt : 0.0};
  if (sc.mu_scatt > c->mu)
    return invalid("the sample's sigma_s (" + shortest(m->sample.sigma_scatt) +
                   " b) is above its total cross-section (" + shortest(c->mu / m->sample.number_density) + " b)");
  MultipleScatteringOptions mo;
  mo.histories = o.whole("histories");
  mo.seed = static_cast<std::uint64_t>(o.whole("seed"));
  mo.stop = stop;
  if (mo.histories < mo.batches)
    return invalid("--histories must be " + std::to_string(mo.batches) + " or more, one a batch");
  Result<MultipleScatteringResult> r = multiple_scattering(tt, o.number("elevation"), sc, beam_of(o), mo);
  if (!r.ok()) return r.error();
  run.columns = {"twotheta", "delta", "delta2"};
  double most = 0.0, most2 = 0.0;
  for (std::size_t i = 0; i < tt.size(); ++i) {
    run.rows.push_back({tt[i], r->delta[i], r->delta2[i]});
    run.sigmas.push_back({r->delta_sigma[i], r->delta2_sigma[i]});
    most = std::max(most, r->delta_sigma[i]);
    most2 = std::max(most2, r->delta2_sigma[i]);
  }
  run.notes.push_back(
      "delta: all orders of scattering beyond the first over the single, both attenuated, sample and "
      "can together; delta2: the double scattering alone over the single; isotropic elastic scattering");
  run.notes.push_back(
      "method: Monte Carlo, " + std::to_string(mo.histories) + " histories, seed " + std::to_string(mo.seed) +
      " of std::mt19937_64, collisions forced along each flight, next-event "
      "estimates at each detector; sigma from " +
      std::to_string(mo.batches) + " batches: delta to " + shortest(most) + ", delta2 to " + shortest(most2));
  return run;
}

Result<NeutronCorrectionRun> placzek_run(const Options& o, const NeutronTable& table, const std::vector<double>& tt,
                                         NeutronCorrectionRun run, std::vector<std::string>& warnings) {
  MaterialOptions mo;
  mo.wavelength = o.number("wavelength");
  Result<Material> m = material(o.text("sample"), table, mo);
  if (!m.ok()) return m.error();
  for (const std::string& w : m.warnings()) warnings.push_back(w);
  PlaczekOptions po;
  po.wavelength = mo.wavelength;
  po.temperature = o.number("temperature");
  po.detector_alpha = o.number_if("detector-alpha");
  std::string from_efficiency;
  if (o.given("detector-efficiency")) {
    Result<double> alpha = detector_alpha(o.number("detector-efficiency"), o.number("efficiency-wavelength"));
    if (!alpha.ok()) return alpha.error();
    po.detector_alpha = *alpha;
    from_efficiency = " (from its efficiency " + shortest(o.number("detector-efficiency")) + " at " +
                      shortest(o.number("efficiency-wavelength")) + " A: alpha = -ln(1 - e) 2pi/lambda)";
  }
  Result<PlaczekTable> p = placzek(tt, *m, po);
  if (!p.ok()) return p.error();
  const bool exact = o.text("order") == "exact";
  run.columns = {"twotheta", "P"};
  for (std::size_t i = 0; i < tt.size(); ++i) run.rows.push_back({tt[i], exact ? p->exact[i] : p->first_order[i]});
  run.notes.push_back(
      "P: the self scattering's departure from sigma_s/4pi as a fraction of it, (sigma_s/4pi)(1 + P), "
      "of a free gas at " +
      shortest(po.temperature) + " K");
  run.notes.push_back(exact ? "method: the exact free-gas integral over final energies (adaptive Gauss-Legendre "
                              "in asinh of k'/k about the quasi-elastic line)"
                            : "method: the first-order expansion in m_n/M (Placzek 1952)");
  if (exact && std::find(tt.begin(), tt.end(), 0.0) != tt.end())
    run.notes.push_back(
        "2theta 0: the limit 2theta -> 0, at 1e-12 rad; the forward term 2A ln(1/2theta) of the "
        "nuclei moving with the neutron, A = sqrt(ME/pi kT) exp(-ME/kT), stays below the tolerance "
        "down to there");
  run.notes.push_back(po.detector_alpha ? "detector: efficiency 1 - exp(-" + shortest(*po.detector_alpha) + "/k)" +
                                              from_efficiency + ", relative to its efficiency at the incident k"
                                        : "detector: efficiency 1 at every energy");
  for (const PlaczekElement& e : p->elements)
    run.notes.push_back("element " + e.symbol + ": M/m_n " + shortest(e.mass_ratio) + ", weight c sigma_s/<sigma_s> " +
                        shortest(e.weight) + " (Sears 1992's bound sigma_s)");
  return run;
}

}  // namespace

std::optional<NeutronCorrection> neutron_correction_named(std::string_view name) {
  if (name == "attenuation") return NeutronCorrection::kAttenuation;
  if (name == "multiple-scattering") return NeutronCorrection::kMultipleScattering;
  if (name == "placzek") return NeutronCorrection::kPlaczek;
  return std::nullopt;
}

std::string_view neutron_correction_name(NeutronCorrection c) {
  switch (c) {
    case NeutronCorrection::kAttenuation:
      return "attenuation";
    case NeutronCorrection::kMultipleScattering:
      return "multiple-scattering";
    case NeutronCorrection::kPlaczek:
      return "placzek";
  }
  return "";
}

const OptionTable& neutron_correction_options() { return kTable; }

Result<NeutronCorrectionRun> run_neutron_correction(NeutronCorrection correction, const Options& o,
                                                    const NeutronTable& table) {
  for (const OptionSpec& s : kTable.options)
    if (o.given(s.name) && !reads(correction, s.name))
      return invalid("--" + std::string(s.name) + " is not an option of the " +
                     std::string(neutron_correction_name(correction)));
  for (const char* needed : {"sample", "wavelength"})
    if (!o.given(needed))
      return invalid("the " + std::string(neutron_correction_name(correction)) + " needs --" + needed);
  Result<std::vector<double>> tt = angles_of(o.text("twotheta"));
  if (!tt.ok()) return tt.error();
  NeutronCorrectionRun run;
  // The settings this correction reads, so that they rerun it.
  const std::string all = header_text(kTable, o);
  for (std::size_t from = 0; from < all.size();) {
    const std::size_t end = std::min(all.find('\n', from), all.size());
    const std::string line = all.substr(from, end - from);
    if (reads(correction, line.substr(0, line.find(" = ")))) run.settings += line + "\n";
    from = end + 1;
  }
  std::vector<std::string> warnings;
  Result<NeutronCorrectionRun> r = make_error(ErrorKind::kInvalidArgument, "");
  switch (correction) {
    case NeutronCorrection::kAttenuation:
      r = attenuation(o, table, *tt, std::move(run), warnings);
      break;
    case NeutronCorrection::kMultipleScattering:
      r = multiple(o, table, *tt, std::move(run), warnings, {});
      break;
    case NeutronCorrection::kPlaczek:
      r = placzek_run(o, table, *tt, std::move(run), warnings);
      break;
  }
  if (!r.ok()) return r.error();
  return Result<NeutronCorrectionRun>(std::move(*r), std::move(warnings));
}

}  // namespace talvo::pdf
