#include "talvo/neutron/material.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

#include "talvo/elements/formula.hpp"
#include "talvo/elements/mixture.hpp"
#include "talvo/neutron/lengths.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

constexpr double kPi = std::numbers::pi;

// An error of the classic codes, with its kind for the modern entry points.
struct Failure {
  int code;
  ErrorKind kind;
  std::string message;
};

Failure bad_option(const std::string& what) { return {kMaterialBadOption, ErrorKind::kInvalidArgument, what}; }
Failure bad_composition(const std::string& what) {
  return {kMaterialBadComposition, ErrorKind::kInvalidArgument, what};
}
Failure not_in_table(const std::string& what) { return {kMaterialNotInTable, ErrorKind::kNotFound, what}; }
Failure not_finite(const std::string& what) {
  return {kMaterialBadComposition, ErrorKind::kOutOfRange, what + " is not finite: the numbers are too large"};
}

// Four significant digits, for the ranges in messages.
std::string short_text(double v) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 4);
  return std::string(buffer, r.ptr);
}

std::string isotope_name(const std::string& symbol, int a) {
  return a == 0 ? "element " + symbol : "isotope " + free_int(a) + symbol;
}

// The bound scattering cross-section of a row: the total, or where the list
// gives none, its coherent and incoherent parts.
std::optional<double> total_of(const NeutronRow& r) {
  if (r.sig_scatt) return r.sig_scatt;
  if (r.sig_coh && r.sig_inc) return *r.sig_coh + *r.sig_inc;
  return std::nullopt;
}

struct PreparedIsotope {
  double y = 0.0;  // share of the element
  std::complex<double> b;
  double free = 0.0;  // A / (A + m_n)
  double sigma_abs_2200 = 0.0;
  const LengthCurve* curve = nullptr;
};

struct PreparedElement {
  std::vector<PreparedIsotope> isotopes;
  bool resonant = false;
  double free = 0.0;  // of the element's mean mass
  // Wavelengths outside a curve of the element.
  double outside_min = std::numeric_limits<double>::infinity(), outside_max = 0.0;
  std::size_t outside_count = 0;
  std::string ranges;  // the tabulated ranges of its curves, for the warning
};

// What does not depend on the wavelength.
struct Prepared {
  Material m;
  std::vector<PreparedElement> elements;
  std::optional<double> thickness;
};

std::optional<Failure> element_values(const Element& e, bool natural, const NeutronTable& table, bool energy_dependent,
                                      MaterialElement& m, PreparedElement& p) {
  const std::string symbol(trim_end(e.symbol));
  m.symbol = symbol;
  std::complex<double> bbar = 0.0;
  for (const Isotope& iso : e.isotopes) {
    const int a = natural ? 0 : iso.a;
    const double y = natural ? 1.0 : iso.fraction;
    if (!(y > 0.0 && std::isfinite(y)))
      return bad_composition("the share of " + isotope_name(symbol, a) + " must be above 0");
    const NeutronRow* row = table.find(symbol, a);
    if (!row) return not_in_table(isotope_name(symbol, a) + " is not in " + table.file);
    const std::optional<double> total = total_of(*row);
    const char* missing = !row->b_coh     ? "scattering length"
                          : !total        ? "scattering cross-section"
                          : !row->sig_abs ? "absorption cross-section"
                                          : nullptr;
    if (missing) return not_in_table("the table gives no " + std::string(missing) + " for " + isotope_name(symbol, a));
    const double b = *row->b_coh;
    const double free = row->mass / (row->mass + kNeutronMass);
    const std::complex<double> bc(b, row->b_coh_im.value_or(0.0));
    bbar += y * bc;
    m.b_free += y * b * free;
    m.sigma_scatt += y * *total;
    m.sigma_free += y * *total * free * free;
    m.sigma_abs_2200 += y * *row->sig_abs;
    m.mass += y * row->mass;
    PreparedIsotope pi{y, bc, free, *row->sig_abs, energy_dependent ? find_length_curve(symbol, a) : nullptr};
    if (pi.curve) {
      p.resonant = true;
      if (!p.ranges.empty()) p.ranges += ", ";
      p.ranges += (a ? free_int(a) + symbol + " " : "") + shortest(pi.curve->lowest_energy()) + "-" +
                  shortest(pi.curve->highest_energy()) + " eV (" +
                  short_text(neutron_wavelength(pi.curve->highest_energy())) + "-" +
                  short_text(neutron_wavelength(pi.curve->lowest_energy())) + " A)";
    }
    p.isotopes.push_back(pi);
  }
  m.b_coh = bbar.real();
  m.b_coh_im = bbar.imag();
  m.sigma_coh = 4.0 * kPi * std::norm(bbar) / 100.0;
  // The published values are rounded one by one: for nuclei without incoherent
  // scattering the difference can come out a little below zero.
  m.sigma_inc = std::max(m.sigma_scatt - m.sigma_coh, 0.0);
  m.source = p.resonant ? LengthSource::kEnergyDependent : LengthSource::kThermalList;
  p.free = m.mass / (m.mass + kNeutronMass);
  return std::nullopt;
}

std::optional<Failure> check_options(const MaterialOptions& options) {
  if (options.density && options.number_density) return bad_option("give a density or a number density, not both");
  if (options.density && !(*options.density > 0.0 && std::isfinite(*options.density)))
    return bad_option("the density must be above 0 g/cm3");
  if (options.number_density && !(*options.number_density > 0.0 && std::isfinite(*options.number_density)))
    return bad_option("the number density must be above 0 atoms per cubic Angstrom");
  if (options.thickness && !(*options.thickness >= 0.0 && std::isfinite(*options.thickness)))
    return bad_option("the thickness must not be below 0 cm");
  return std::nullopt;
}

std::optional<Failure> check_wavelength(double wavelength) {
  if (!(wavelength > 0.0 && std::isfinite(wavelength))) return bad_option("the wavelength must be above 0 Angstrom");
  return std::nullopt;
}

std::optional<Failure> prepare(const Composition& c, const NeutronTable& table, const MaterialOptions& options,
                               Prepared& p) {
  if (auto f = check_options(options)) return f;
  if (c.elements.empty()) return bad_composition("the composition has no elements");
  Material& m = p.m;
  p.thickness = options.thickness;
  const bool natural = c.kind == SampleKind::kNaturalElements;
  for (const Element& e : c.elements) {
    if (!(e.amount > 0.0))
      return bad_composition("the amount of " + std::string(trim_end(e.symbol)) + " must be above 0");
    if (!std::isfinite(e.amount)) return not_finite("the amount of " + std::string(trim_end(e.symbol)));
    if (e.isotopes.empty()) return bad_composition(std::string(trim_end(e.symbol)) + " has no isotopes");
    MaterialElement me;
    PreparedElement pe;
    me.count = e.amount;
    if (auto f = element_values(e, natural, table, options.energy_dependent, me, pe)) return f;
    m.atoms += e.amount;
    m.mass += e.amount * me.mass;
    m.elements.push_back(std::move(me));
    p.elements.push_back(std::move(pe));
  }
  if (!std::isfinite(m.atoms)) return not_finite("the number of atoms in the formula");
  if (!std::isfinite(m.mass)) return not_finite("the mass of the formula");

  PerAtom& a = m.per_atom;
  for (MaterialElement& e : m.elements) {
    e.fraction = e.count / m.atoms;
    a.sigma_abs_2200 += e.fraction * e.sigma_abs_2200;
  }
  if (options.density) {
    m.density = options.density;
    m.number_density = m.atoms * *options.density / (kAtomicMassUnitGrams * m.mass);
  } else if (options.number_density) {
    m.number_density = options.number_density;
    m.density = *options.number_density * kAtomicMassUnitGrams * m.mass / m.atoms;
  }
  if (m.number_density && !(std::isfinite(*m.number_density) && std::isfinite(*m.density)))
    return not_finite("the number density");
  // Like pairs in element order, then the unlike ones.
  for (const MaterialElement& e : m.elements) m.partials.push_back({e.symbol + "-" + e.symbol, 0.0, 0.0});
  for (std::size_t i = 0; i < m.elements.size(); ++i)
    for (std::size_t j = i + 1; j < m.elements.size(); ++j)
      m.partials.push_back({m.elements[i].symbol + "-" + m.elements[j].symbol, 0.0, 0.0});
  return std::nullopt;
}

// The values at one wavelength, into the prepared material's own fields.
std::optional<Failure> evaluate(Prepared& p, double wavelength) {
  if (auto f = check_wavelength(wavelength)) return f;
  Material& m = p.m;
  m.wavelength = wavelength;
  const double one_over_v = wavelength / kThermalWavelength;
  PerAtom& a = m.per_atom;
  const double sigma_abs_2200 = a.sigma_abs_2200;
  a = PerAtom{};
  a.sigma_abs_2200 = sigma_abs_2200;
  std::complex<double> mean_b = 0.0;
  for (std::size_t i = 0; i < m.elements.size(); ++i) {
    MaterialElement& e = m.elements[i];
    PreparedElement& pe = p.elements[i];
    if (pe.resonant) {
      // sigma_abs = -(4 pi / k) Im b = -2000 lambda Im b (barn, A, fm), the
      // optical theorem; sigma_scatt = 4 pi |b|^2 / 100 + the thermal
      // incoherent cross-section; the free-atom values scale by A / (A + m_n)
      // of the element's mean mass.
      std::complex<double> bbar = 0.0;
      double b_free = 0.0, sigma_abs = 0.0;
      bool outside = false;
      for (const PreparedIsotope& iso : pe.isotopes) {
        if (iso.curve) {
          const CurveValue v = length_at(*iso.curve, wavelength);
          outside = outside || v.outside;
          bbar += iso.y * v.b;
          b_free += iso.y * v.b.real() * iso.free;
          sigma_abs += iso.y * -2000.0 * wavelength * v.b.imag();
        } else {
          bbar += iso.y * iso.b;
          b_free += iso.y * iso.b.real() * iso.free;
          sigma_abs += iso.y * iso.sigma_abs_2200 * one_over_v;
        }
      }
      if (outside) {
        ++pe.outside_count;
        pe.outside_min = std::min(pe.outside_min, wavelength);
        pe.outside_max = std::max(pe.outside_max, wavelength);
      }
      e.b_coh = bbar.real();
      e.b_coh_im = bbar.imag();
      e.b_free = b_free;
      e.sigma_coh = 4.0 * kPi * std::norm(bbar) / 100.0;
      e.sigma_scatt = e.sigma_coh + e.sigma_inc;
      e.sigma_free = e.sigma_scatt * pe.free * pe.free;
      e.sigma_abs = sigma_abs;
    } else {
      e.sigma_abs = e.sigma_abs_2200 * one_over_v;
    }
    mean_b += e.fraction * std::complex<double>(e.b_coh, e.b_coh_im);
    a.b_free += e.fraction * e.b_free;
    a.sigma_coh += e.fraction * e.sigma_coh;
    a.sigma_scatt += e.fraction * e.sigma_scatt;
    a.sigma_free += e.fraction * e.sigma_free;
    a.sigma_abs += e.fraction * e.sigma_abs;
  }
  a.b_coh = mean_b.real();
  a.b_coh_im = mean_b.imag();
  a.sigma_inc = std::max(a.sigma_scatt - a.sigma_coh, 0.0);
  m.per_formula = {a.sigma_coh * m.atoms, a.sigma_inc * m.atoms, a.sigma_scatt * m.atoms, a.sigma_abs * m.atoms};

  if (m.number_density) {
    const double n = *m.number_density;
    m.sld = 10.0 * n * a.b_coh;
    m.sld_im = 0.01 * n * a.sigma_abs / (2.0 * wavelength);
    m.sld_inc = 10.0 * n * std::sqrt(100.0 * a.sigma_inc / (4.0 * kPi));
    m.mu_abs = n * a.sigma_abs;
    m.mu_scatt = n * a.sigma_scatt;
    m.mu_total = *m.mu_abs + *m.mu_scatt;
    m.absorption_length.reset();
    m.penetration_depth.reset();
    if (*m.mu_abs > 0.0) m.absorption_length = 1.0 / *m.mu_abs;
    if (*m.mu_total > 0.0) m.penetration_depth = 1.0 / *m.mu_total;
    if (p.thickness) m.transmission = std::exp(-*m.mu_total * *p.thickness);
    if (!std::isfinite(*m.sld) || !std::isfinite(*m.mu_total)) return not_finite("the scattering-length density");
  }

  // Weights with complex lengths: c^2 |b|^2 and 2 c c' Re(b b'*).
  const double mean2 = std::norm(mean_b);
  const std::size_t n = m.elements.size();
  std::size_t k = 0;
  const auto weight = [&](std::size_t i, std::size_t j) {
    const MaterialElement& l = m.elements[i];
    const MaterialElement& r = m.elements[j];
    const double re = l.b_coh * r.b_coh + l.b_coh_im * r.b_coh_im;
    const double w = (i == j ? 1.0 : 2.0) * l.fraction * r.fraction * re;
    m.partials[k].weight = w / 100.0;
    m.partials[k].faber_ziman = w / mean2;
    ++k;
  };
  for (std::size_t i = 0; i < n; ++i) weight(i, i);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) weight(i, j);
  if (!std::isfinite(a.sigma_scatt) || !std::isfinite(a.sigma_abs)) return not_finite("a cross-section");
  return std::nullopt;
}

// Warnings and notes that a sweep's wavelengths call for.
void remarks(const Prepared& p, std::span<const double> wavelengths, std::vector<std::string>& warnings,
             std::vector<std::string>& notes) {
  const Material& m = p.m;
  for (std::size_t i = 0; i < m.elements.size(); ++i) {
    const MaterialElement& e = m.elements[i];
    const PreparedElement& pe = p.elements[i];
    if (pe.resonant) {
      notes.push_back(e.symbol + ": length and absorption from " +
                      std::string(length_source_name(LengthSource::kEnergyDependent)) +
                      "; its incoherent cross-section is the thermal (2200 m/s) value");
      if (pe.outside_count) {
        std::string w = e.symbol + ": the energy-dependent lengths are tabulated for " + pe.ranges + "; at " +
                        shortest(pe.outside_min) + " A";
        if (pe.outside_count > 1)
          w += " to " + shortest(pe.outside_max) + " A (" + free_int(static_cast<long long>(pe.outside_count)) +
               " wavelengths)";
        warnings.push_back(w + " the value at the table's end is used");
      }
    } else if (e.symbol == "Lu" && find_length_curve("Lu", 176)) {
      notes.push_back("Lu: natural Lu has no energy-dependent curve; its absorption follows the 1/v law");
    }
    if (e.symbol == "Cd")
      for (const double l : wavelengths)
        if (l < 1.0) {
          warnings.push_back(
              "Cd: below 1 A (the 113Cd resonance at 0.18 eV) its absorption follows the 1/v law "
              "only approximately");
          break;
        }
  }
}

void record(MaterialSweep& s, const Material& m) {
  s.wavelength.push_back(m.wavelength);
  const PerAtom& a = m.per_atom;
  s.b_coh.push_back(a.b_coh);
  s.b_coh_im.push_back(a.b_coh_im);
  s.b_free.push_back(a.b_free);
  s.sigma_coh.push_back(a.sigma_coh);
  s.sigma_inc.push_back(a.sigma_inc);
  s.sigma_scatt.push_back(a.sigma_scatt);
  s.sigma_free.push_back(a.sigma_free);
  s.sigma_abs.push_back(a.sigma_abs);
  if (m.number_density) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    s.sld.push_back(*m.sld);
    s.sld_im.push_back(*m.sld_im);
    s.sld_inc.push_back(*m.sld_inc);
    s.mu_abs.push_back(*m.mu_abs);
    s.mu_scatt.push_back(*m.mu_scatt);
    s.mu_total.push_back(*m.mu_total);
    s.absorption_length.push_back(m.absorption_length.value_or(nan));
    s.penetration_depth.push_back(m.penetration_depth.value_or(nan));
    if (m.transmission) s.transmission.push_back(*m.transmission);
  }
  for (std::size_t i = 0; i < m.elements.size(); ++i) {
    const MaterialElement& e = m.elements[i];
    MaterialSweep::Element& se = s.elements[i];
    se.b_coh.push_back(e.b_coh);
    se.b_coh_im.push_back(e.b_coh_im);
    se.b_free.push_back(e.b_free);
    se.sigma_coh.push_back(e.sigma_coh);
    se.sigma_scatt.push_back(e.sigma_scatt);
    se.sigma_free.push_back(e.sigma_free);
    se.sigma_abs.push_back(e.sigma_abs);
  }
  for (std::size_t i = 0; i < m.partials.size(); ++i) {
    s.partials[i].weight.push_back(m.partials[i].weight);
    s.partials[i].faber_ziman.push_back(m.partials[i].faber_ziman);
  }
}

Result<MaterialSweep> run_sweep(Prepared& p, std::span<const double> wavelengths, std::vector<std::string> notes) {
  if (wavelengths.empty()) return make_error(ErrorKind::kInvalidArgument, "no wavelengths");
  MaterialSweep s;
  s.elements.resize(p.m.elements.size());
  s.partials.resize(p.m.partials.size());
  const auto reserve = [&](std::vector<double>& v) { v.reserve(wavelengths.size()); };
  for (auto* v : {&s.wavelength, &s.b_coh, &s.b_coh_im, &s.b_free, &s.sigma_coh, &s.sigma_inc, &s.sigma_scatt,
                  &s.sigma_free, &s.sigma_abs})
    reserve(*v);
  if (p.m.number_density)
    for (auto* v : {&s.sld, &s.sld_im, &s.sld_inc, &s.mu_abs, &s.mu_scatt, &s.mu_total, &s.absorption_length,
                    &s.penetration_depth, &s.transmission})
      reserve(*v);
  for (auto& e : s.elements)
    for (auto* v : {&e.b_coh, &e.b_coh_im, &e.b_free, &e.sigma_coh, &e.sigma_scatt, &e.sigma_free, &e.sigma_abs})
      reserve(*v);
  for (auto& q : s.partials) {
    reserve(q.weight);
    reserve(q.faber_ziman);
  }
  for (std::size_t i = wavelengths.size(); i-- > 0;) {
    // The last first, so that the material is left at the first wavelength.
    if (auto f = evaluate(p, wavelengths[i])) return make_error(f->kind, f->message);
    record(s, p.m);
  }
  const auto reverse = [](std::vector<double>& v) { std::reverse(v.begin(), v.end()); };
  for (auto* v : {&s.wavelength, &s.b_coh, &s.b_coh_im, &s.b_free, &s.sigma_coh, &s.sigma_inc, &s.sigma_scatt,
                  &s.sigma_free, &s.sigma_abs, &s.sld, &s.sld_im, &s.sld_inc, &s.mu_abs, &s.mu_scatt, &s.mu_total,
                  &s.absorption_length, &s.penetration_depth, &s.transmission})
    reverse(*v);
  for (auto& e : s.elements)
    for (auto* v : {&e.b_coh, &e.b_coh_im, &e.b_free, &e.sigma_coh, &e.sigma_scatt, &e.sigma_free, &e.sigma_abs})
      reverse(*v);
  for (auto& q : s.partials) {
    reverse(q.weight);
    reverse(q.faber_ziman);
  }
  std::vector<std::string> warnings;
  remarks(p, wavelengths, warnings, notes);
  p.m.notes = std::move(notes);
  s.material = std::move(p.m);
  return Result<MaterialSweep>(std::move(s), std::move(warnings));
}

struct ParsedFormula {
  Composition composition;
  std::string text;
  MaterialOptions options;
  std::vector<std::string> notes;
};

// The formula's composition, and the density it gives merged with the options'.
Result<ParsedFormula> parse(std::string_view formula, const NeutronTable& table, const MaterialOptions& options) {
  const MassOf mass_of = [&table](std::string_view symbol, int a) -> std::optional<double> {
    const NeutronRow* row = table.find(symbol, a);
    if (!row) return std::nullopt;
    return row->mass;
  };
  Result<Mixture> mix = parse_mixture(formula, mass_of);
  if (!mix.ok()) return mix.error();
  ParsedFormula out;
  out.text = mix->formula.text;
  out.composition = composition_of(mix->formula);
  out.options = options;
  const bool option_density = options.density || options.number_density;
  // The same density again (a batch reading back what it wrote) is no conflict.
  const bool same =
      options.density && mix->density && std::fabs(*options.density - *mix->density) <= 1e-12 * *mix->density;
  if (mix->density_typed && option_density && !same)
    return make_error(ErrorKind::kInvalidArgument,
                      "formula \"" + std::string(formula) + "\" gives its density already: give no other");
  if (!option_density && mix->density) {
    out.options.density = mix->density;
    out.notes = std::move(mix->notes);
  }
  if (mix->components.size() > 1 && mix->density && !option_density)
    out.notes.push_back("density of the mixture (ideal mixing: volumes add): " + shortest(*mix->density) + " g/cm3");
  if (!out.options.density && !out.options.number_density)
    out.notes.push_back(
        "no density: values per atom only; the SLD, attenuation and transmission need a density "
        "(@DENSITY in the formula, or --density)");
  return out;
}

}  // namespace

std::string_view length_source_name(LengthSource source) {
  return source == LengthSource::kEnergyDependent ? "Lynn & Seeger 1990 (energy-dependent)"
                                                  : "Sears 1992 (2200 m/s, 1/v law)";
}

Material MaterialSweep::at(std::size_t i) const {
  Material m = material;
  m.wavelength = wavelength[i];
  PerAtom& a = m.per_atom;
  a.b_coh = b_coh[i];
  a.b_coh_im = b_coh_im[i];
  a.b_free = b_free[i];
  a.sigma_coh = sigma_coh[i];
  a.sigma_inc = sigma_inc[i];
  a.sigma_scatt = sigma_scatt[i];
  a.sigma_free = sigma_free[i];
  a.sigma_abs = sigma_abs[i];
  m.per_formula = {a.sigma_coh * m.atoms, a.sigma_inc * m.atoms, a.sigma_scatt * m.atoms, a.sigma_abs * m.atoms};
  const auto opt = [](const std::vector<double>& v, std::size_t k) -> std::optional<double> {
    if (k >= v.size() || std::isnan(v[k])) return std::nullopt;
    return v[k];
  };
  m.sld = opt(sld, i);
  m.sld_im = opt(sld_im, i);
  m.sld_inc = opt(sld_inc, i);
  m.mu_abs = opt(mu_abs, i);
  m.mu_scatt = opt(mu_scatt, i);
  m.mu_total = opt(mu_total, i);
  m.absorption_length = opt(absorption_length, i);
  m.penetration_depth = opt(penetration_depth, i);
  m.transmission = opt(transmission, i);
  for (std::size_t k = 0; k < m.elements.size(); ++k) {
    MaterialElement& e = m.elements[k];
    const Element& se = elements[k];
    e.b_coh = se.b_coh[i];
    e.b_coh_im = se.b_coh_im[i];
    e.b_free = se.b_free[i];
    e.sigma_coh = se.sigma_coh[i];
    e.sigma_scatt = se.sigma_scatt[i];
    e.sigma_free = se.sigma_free[i];
    e.sigma_abs = se.sigma_abs[i];
  }
  for (std::size_t k = 0; k < m.partials.size(); ++k) {
    m.partials[k].weight = partials[k].weight[i];
    m.partials[k].faber_ziman = partials[k].faber_ziman[i];
  }
  return m;
}

Result<MaterialSweep> composition_sweep(const Composition& c, const NeutronTable& table, const MaterialOptions& options,
                                        std::span<const double> wavelengths) {
  Prepared p;
  if (auto f = prepare(c, table, options, p)) return make_error(f->kind, f->message);
  return run_sweep(p, wavelengths, {});
}

Result<MaterialSweep> material_sweep(std::string_view formula, const NeutronTable& table,
                                     const MaterialOptions& options, std::span<const double> wavelengths) {
  Result<ParsedFormula> parsed = parse(formula, table, options);
  if (!parsed.ok()) return parsed.error();
  Prepared p;
  if (auto f = prepare(parsed->composition, table, parsed->options, p)) return make_error(f->kind, f->message);
  p.m.formula = parsed->text;
  return run_sweep(p, wavelengths, std::move(parsed->notes));
}

Result<Material> material(std::string_view formula, const NeutronTable& table, const MaterialOptions& options) {
  const double wavelength = options.wavelength;
  Result<MaterialSweep> s = material_sweep(formula, table, options, std::span<const double>(&wavelength, 1));
  if (!s.ok()) return s.error();
  return Result<Material>(std::move(s->material), s.warnings());
}

Status compute_material(const Composition& c, const NeutronTable& table, const MaterialOptions& options,
                        Material& material) {
  Prepared p;
  if (auto f = prepare(c, table, options, p)) return Status::error(f->code, f->message);
  if (auto f = check_wavelength(options.wavelength)) return Status::error(f->code, f->message);
  if (auto f = evaluate(p, options.wavelength)) return Status::error(f->code, f->message);
  material = std::move(p.m);
  return {};
}

Composition composition_of(const Formula& formula) {
  Composition c;
  c.kind = SampleKind::kIsotopes;
  for (const FormulaElement& e : formula.elements) {
    Element element{e.symbol, e.count, {}};
    for (const FormulaIsotope& iso : e.isotopes) element.isotopes.push_back({iso.a, iso.count / e.count});
    c.elements.push_back(std::move(element));
  }
  return c;
}

Status material_from_formula(std::string_view formula, const NeutronTable& table, const MaterialOptions& options,
                             Material& material) {
  if (auto f = check_options(options)) return Status::error(f->code, f->message);
  if (auto f = check_wavelength(options.wavelength)) return Status::error(f->code, f->message);
  // A plain formula's errors keep parse_formula's codes.
  if (formula.find_first_of("/@%") == std::string_view::npos) {
    Formula f;
    if (Status s = parse_formula(formula, f); s.failed()) return s;
  }
  Result<Material> m = talvo::material(formula, table, options);
  if (!m.ok()) {
    const int code = m.kind() == ErrorKind::kParseError ? static_cast<int>(kFormulaSyntax)
                     : m.kind() == ErrorKind::kNotFound ? static_cast<int>(kMaterialNotInTable)
                                                        : static_cast<int>(kMaterialBadComposition);
    return Status::error(code, m.error().message);
  }
  material = std::move(*m);
  return {};
}

namespace {

void number(std::string& out, std::optional<double> v) {
  if (!v || !std::isfinite(*v))
    out += "null";
  else
    append_shortest(out, *v);
}

void text(std::string& out, std::string_view s) {
  out += '"';
  for (const char ch : s) {
    if (ch == '"' || ch == '\\') out += '\\';
    if (static_cast<unsigned char>(ch) < 0x20) {
      static const char* const kHex = "0123456789abcdef";
      out += "\\u00";
      out += kHex[(ch >> 4) & 0xf];
      out += kHex[ch & 0xf];
      continue;
    }
    out += ch;
  }
  out += '"';
}

// Members of one JSON object, written in the order they are given.
class Members {
 public:
  explicit Members(std::string& out) : out_(out) { out_ += '{'; }
  ~Members() { out_ += '}'; }
  Members(const Members&) = delete;
  Members& operator=(const Members&) = delete;
  std::string& key(std::string_view k) {
    if (!first_) out_ += ", ";
    first_ = false;
    text(out_, k);
    out_ += ": ";
    return out_;
  }
  void num(std::string_view k, std::optional<double> v) { number(key(k), v); }

 private:
  std::string& out_;
  bool first_ = true;
};

}  // namespace

namespace {

// One JSON value of a material or a sweep: a number, or the array of a column.
struct Value {
  std::optional<double> scalar;
  const std::vector<double>* column = nullptr;
  bool known = true;  // a column that is empty is not known
};

void value(std::string& out, const Value& v) {
  if (!v.column) return number(out, v.scalar);
  if (!v.known || v.column->empty()) {
    out += "null";
    return;
  }
  out += '[';
  for (std::size_t i = 0; i < v.column->size(); ++i) {
    if (i) out += ", ";
    number(out, (*v.column)[i]);
  }
  out += ']';
}

constexpr const char* kUnits[][2] = {{"atoms", "per formula unit"},
                                     {"mass", "amu"},
                                     {"wavelength", "A"},
                                     {"density", "g/cm3"},
                                     {"number_density", "atoms/A3"},
                                     {"b_coh", "fm"},
                                     {"b_coh_im", "fm"},
                                     {"b_free", "fm"},
                                     {"sigma_*", "barn"},
                                     {"sld", "1e-6/A2"},
                                     {"sld_im", "1e-6/A2"},
                                     {"sld_inc", "1e-6/A2"},
                                     {"mu_abs", "1/cm"},
                                     {"mu_scatt", "1/cm"},
                                     {"mu_total", "1/cm"},
                                     {"absorption_length", "cm"},
                                     {"penetration_depth", "cm"},
                                     {"transmission", ""},
                                     {"weight", "barn"},
                                     {"faber_ziman", ""}};

// The layout shared by a material and a sweep; `v` gives each value that
// changes with the wavelength, by name and element or partial index.
template <class Get>
std::string write_json(const Material& m, const Get& v, const std::vector<std::string>& warnings) {
  std::string out;
  {
    Members o(out);
    text(o.key("formula"), m.formula);
    o.num("atoms", m.atoms);
    o.num("mass", m.mass);
    value(o.key("wavelength"), v("wavelength", -1));
    o.num("density", m.density);
    o.num("number_density", m.number_density);
    {
      Members a(o.key("per_atom"));
      for (const char* k : {"b_coh", "b_coh_im", "b_free", "sigma_coh", "sigma_inc", "sigma_scatt", "sigma_free"})
        value(a.key(k), v(k, -1));
      a.num("sigma_abs_2200", m.per_atom.sigma_abs_2200);
      value(a.key("sigma_abs"), v("sigma_abs", -1));
    }
    for (const char* k : {"sld", "sld_im", "mu_abs", "mu_scatt", "mu_total", "penetration_depth", "transmission"})
      value(o.key(k), v(k, -1));
    std::string& elements = o.key("elements");
    elements += '[';
    for (std::size_t i = 0; i < m.elements.size(); ++i) {
      if (i) elements += ", ";
      const MaterialElement& e = m.elements[i];
      const int at = static_cast<int>(i);
      Members el(elements);
      text(el.key("symbol"), e.symbol);
      el.num("count", e.count);
      el.num("fraction", e.fraction);
      value(el.key("b_coh"), v("e.b_coh", at));
      value(el.key("b_coh_im"), v("e.b_coh_im", at));
      value(el.key("sigma_coh"), v("e.sigma_coh", at));
      value(el.key("sigma_scatt"), v("e.sigma_scatt", at));
      el.num("sigma_abs_2200", e.sigma_abs_2200);
      el.num("sigma_inc", e.sigma_inc);
      value(el.key("sigma_abs"), v("e.sigma_abs", at));
      text(el.key("source"), length_source_name(e.source));
    }
    elements += ']';
    std::string& partials = o.key("partials");
    partials += '[';
    for (std::size_t i = 0; i < m.partials.size(); ++i) {
      if (i) partials += ", ";
      Members pa(partials);
      text(pa.key("pair"), m.partials[i].pair);
      value(pa.key("weight"), v("p.weight", static_cast<int>(i)));
      value(pa.key("faber_ziman"), v("p.faber_ziman", static_cast<int>(i)));
    }
    partials += ']';
    {
      Members f(o.key("per_formula"));
      for (const char* k : {"sigma_coh", "sigma_inc", "sigma_scatt", "sigma_abs"})
        value(f.key(k), v((std::string("f.") + k).c_str(), -1));
    }
    value(o.key("sld_inc"), v("sld_inc", -1));
    value(o.key("absorption_length"), v("absorption_length", -1));
    for (const auto& [key, list] : {std::pair{"notes", &m.notes}, std::pair{"warnings", &warnings}}) {
      std::string& arr = o.key(key);
      arr += '[';
      for (std::size_t i = 0; i < list->size(); ++i) {
        if (i) arr += ", ";
        text(arr, (*list)[i]);
      }
      arr += ']';
    }
    {
      Members u(o.key("units"));
      for (const auto& unit : kUnits) text(u.key(unit[0]), unit[1]);
    }
  }
  return out;
}

}  // namespace

std::string material_json(const Material& m) { return material_json(m, {}); }

std::string material_json(const Material& m, const std::vector<std::string>& warnings) {
  const auto get = [&m](const char* name, int i) -> Value {
    const std::string_view k(name);
    const PerAtom& a = m.per_atom;
    if (i >= 0) {
      const std::size_t at = static_cast<std::size_t>(i);
      if (k[0] == 'p') return {k == "p.weight" ? m.partials[at].weight : m.partials[at].faber_ziman};
      const MaterialElement& e = m.elements[at];
      if (k == "e.b_coh") return {e.b_coh};
      if (k == "e.b_coh_im") return {e.b_coh_im};
      if (k == "e.sigma_coh") return {e.sigma_coh};
      if (k == "e.sigma_scatt") return {e.sigma_scatt};
      return {e.sigma_abs};
    }
    if (k == "wavelength") return {m.wavelength};
    if (k == "b_coh") return {a.b_coh};
    if (k == "b_coh_im") return {a.b_coh_im};
    if (k == "b_free") return {a.b_free};
    if (k == "sigma_coh") return {a.sigma_coh};
    if (k == "sigma_inc") return {a.sigma_inc};
    if (k == "sigma_scatt") return {a.sigma_scatt};
    if (k == "sigma_free") return {a.sigma_free};
    if (k == "sigma_abs") return {a.sigma_abs};
    if (k == "f.sigma_coh") return {m.per_formula.sigma_coh};
    if (k == "f.sigma_inc") return {m.per_formula.sigma_inc};
    if (k == "f.sigma_scatt") return {m.per_formula.sigma_scatt};
    if (k == "f.sigma_abs") return {m.per_formula.sigma_abs};
    if (k == "sld") return {m.sld};
    if (k == "sld_im") return {m.sld_im};
    if (k == "sld_inc") return {m.sld_inc};
    if (k == "mu_abs") return {m.mu_abs};
    if (k == "mu_scatt") return {m.mu_scatt};
    if (k == "mu_total") return {m.mu_total};
    if (k == "absorption_length") return {m.absorption_length};
    if (k == "penetration_depth") return {m.penetration_depth};
    return {m.transmission};
  };
  return write_json(m, get, warnings);
}

std::string material_sweep_json(const MaterialSweep& s, const std::vector<std::string>& warnings) {
  // Per formula unit: the per-atom columns times the atoms.
  const double atoms = s.material.atoms;
  std::vector<double> f_coh, f_inc, f_scatt, f_abs;
  for (std::size_t i = 0; i < s.size(); ++i) {
    f_coh.push_back(s.sigma_coh[i] * atoms);
    f_inc.push_back(s.sigma_inc[i] * atoms);
    f_scatt.push_back(s.sigma_scatt[i] * atoms);
    f_abs.push_back(s.sigma_abs[i] * atoms);
  }
  const auto get = [&](const char* name, int i) -> Value {
    const std::string_view k(name);
    const auto col = [](const std::vector<double>& v) { return Value{std::nullopt, &v, !v.empty()}; };
    if (i >= 0) {
      const std::size_t at = static_cast<std::size_t>(i);
      if (k == "p.weight") return col(s.partials[at].weight);
      if (k == "p.faber_ziman") return col(s.partials[at].faber_ziman);
      const MaterialSweep::Element& e = s.elements[at];
      if (k == "e.b_coh") return col(e.b_coh);
      if (k == "e.b_coh_im") return col(e.b_coh_im);
      if (k == "e.sigma_coh") return col(e.sigma_coh);
      if (k == "e.sigma_scatt") return col(e.sigma_scatt);
      return col(e.sigma_abs);
    }
    if (k == "wavelength") return col(s.wavelength);
    if (k == "b_coh") return col(s.b_coh);
    if (k == "b_coh_im") return col(s.b_coh_im);
    if (k == "b_free") return col(s.b_free);
    if (k == "sigma_coh") return col(s.sigma_coh);
    if (k == "sigma_inc") return col(s.sigma_inc);
    if (k == "sigma_scatt") return col(s.sigma_scatt);
    if (k == "sigma_free") return col(s.sigma_free);
    if (k == "sigma_abs") return col(s.sigma_abs);
    if (k == "f.sigma_coh") return col(f_coh);
    if (k == "f.sigma_inc") return col(f_inc);
    if (k == "f.sigma_scatt") return col(f_scatt);
    if (k == "f.sigma_abs") return col(f_abs);
    if (k == "sld") return col(s.sld);
    if (k == "sld_im") return col(s.sld_im);
    if (k == "sld_inc") return col(s.sld_inc);
    if (k == "mu_abs") return col(s.mu_abs);
    if (k == "mu_scatt") return col(s.mu_scatt);
    if (k == "mu_total") return col(s.mu_total);
    if (k == "absorption_length") return col(s.absorption_length);
    if (k == "penetration_depth") return col(s.penetration_depth);
    return col(s.transmission);
  };
  return write_json(s.material, get, warnings);
}

}  // namespace talvo
