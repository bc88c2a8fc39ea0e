#include "talvo/neutron/material.hpp"

#include <cmath>
#include <complex>

#include "talvo/elements/formula.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

constexpr double kPi = 3.141592653589793;

Status bad_option(const std::string& what) { return Status::error(kMaterialBadOption, what); }

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

Status element_values(const Element& e, bool natural, const NeutronTable& table, MaterialElement& m) {
  const std::string symbol(trim_end(e.symbol));
  m.symbol = symbol;
  std::complex<double> bbar = 0.0;
  for (const Isotope& iso : e.isotopes) {
    const int a = natural ? 0 : iso.a;
    const double y = natural ? 1.0 : iso.fraction;
    if (!(y > 0.0))
      return Status::error(kMaterialBadComposition, "the share of " + isotope_name(symbol, a) + " must be above 0");
    const NeutronRow* row = table.find(symbol, a);
    if (!row) return Status::error(kMaterialNotInTable, isotope_name(symbol, a) + " is not in " + table.file);
    const std::optional<double> total = total_of(*row);
    const char* missing = !row->b_coh     ? "scattering length"
                          : !total        ? "scattering cross-section"
                          : !row->sig_abs ? "absorption cross-section"
                                          : nullptr;
    if (missing)
      return Status::error(kMaterialNotInTable,
                           "the table gives no " + std::string(missing) + " for " + isotope_name(symbol, a));
    const double b = *row->b_coh;
    const double free = row->mass / (row->mass + kNeutronMass);
    bbar += y * std::complex<double>(b, row->b_coh_im.value_or(0.0));
    m.b_free += y * b * free;
    m.sigma_scatt += y * *total;
    m.sigma_free += y * *total * free * free;
    m.sigma_abs_2200 += y * *row->sig_abs;
    m.mass += y * row->mass;
  }
  m.b_coh = bbar.real();
  m.b_coh_im = bbar.imag();
  m.sigma_coh = 4.0 * kPi * std::norm(bbar) / 100.0;
  return {};
}

}  // namespace

Status compute_material(const Composition& c, const NeutronTable& table, const MaterialOptions& options,
                        Material& material) {
  if (options.density && options.number_density) return bad_option("give a density or a number density, not both");
  if (options.density && !(*options.density > 0.0 && std::isfinite(*options.density)))
    return bad_option("the density must be above 0 g/cm3");
  if (options.number_density && !(*options.number_density > 0.0 && std::isfinite(*options.number_density)))
    return bad_option("the number density must be above 0 atoms per cubic Angstrom");
  if (!(options.wavelength > 0.0 && std::isfinite(options.wavelength)))
    return bad_option("the wavelength must be above 0 Angstrom");
  if (options.thickness && !(*options.thickness >= 0.0 && std::isfinite(*options.thickness)))
    return bad_option("the thickness must not be below 0 cm");
  if (c.elements.empty()) return Status::error(kMaterialBadComposition, "the composition has no elements");

  Material m;
  m.wavelength = options.wavelength;
  const bool natural = c.kind == SampleKind::kNaturalElements;
  for (const Element& e : c.elements) {
    if (!(e.amount > 0.0 && std::isfinite(e.amount)))
      return Status::error(kMaterialBadComposition,
                           "the amount of " + std::string(trim_end(e.symbol)) + " must be above 0");
    if (e.isotopes.empty())
      return Status::error(kMaterialBadComposition, std::string(trim_end(e.symbol)) + " has no isotopes");
    MaterialElement me;
    me.count = e.amount;
    if (Status s = element_values(e, natural, table, me); s.failed()) return s;
    m.atoms += e.amount;
    m.mass += e.amount * me.mass;
    m.elements.push_back(std::move(me));
  }

  PerAtom& p = m.per_atom;
  for (MaterialElement& e : m.elements) {
    e.fraction = e.count / m.atoms;
    p.b_coh += e.fraction * e.b_coh;
    p.b_coh_im += e.fraction * e.b_coh_im;
    p.b_free += e.fraction * e.b_free;
    p.sigma_coh += e.fraction * e.sigma_coh;
    p.sigma_scatt += e.fraction * e.sigma_scatt;
    p.sigma_free += e.fraction * e.sigma_free;
    p.sigma_abs_2200 += e.fraction * e.sigma_abs_2200;
  }
  // The published values are rounded one by one: for nuclei without incoherent
  // scattering the difference can come out a little below zero.
  p.sigma_inc = std::max(p.sigma_scatt - p.sigma_coh, 0.0);
  p.sigma_abs = p.sigma_abs_2200 * (options.wavelength / kThermalWavelength);

  if (options.density) {
    m.density = options.density;
    m.number_density = m.atoms * *options.density / (kAtomicMassUnitGrams * m.mass);
  } else if (options.number_density) {
    m.number_density = options.number_density;
    m.density = *options.number_density * kAtomicMassUnitGrams * m.mass / m.atoms;
  }
  if (m.number_density) {
    const double n = *m.number_density;
    m.sld = 10.0 * n * p.b_coh;
    m.sld_im = 0.01 * n * p.sigma_abs / (2.0 * options.wavelength);
    m.mu_abs = n * p.sigma_abs;
    m.mu_scatt = n * p.sigma_scatt;
    m.mu_total = *m.mu_abs + *m.mu_scatt;
    if (*m.mu_total > 0.0) m.penetration_depth = 1.0 / *m.mu_total;
    if (options.thickness) m.transmission = std::exp(-*m.mu_total * *options.thickness);
  }

  const double bmean2 = p.b_coh * p.b_coh;
  const auto add_pair = [&](const MaterialElement& l, const MaterialElement& r, double w) {
    m.partials.push_back({l.symbol + "-" + r.symbol, w / 100.0, w / bmean2});
  };
  for (const MaterialElement& l : m.elements) add_pair(l, l, l.fraction * l.fraction * l.b_coh * l.b_coh);
  for (std::size_t i = 0; i < m.elements.size(); ++i)
    for (std::size_t j = i + 1; j < m.elements.size(); ++j) {
      const MaterialElement& l = m.elements[i];
      const MaterialElement& r = m.elements[j];
      add_pair(l, r, 2.0 * l.fraction * r.fraction * l.b_coh * r.b_coh);
    }
  material = std::move(m);
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
  Formula f;
  if (Status s = parse_formula(formula, f); s.failed()) return s;
  Material m;
  if (Status s = compute_material(composition_of(f), table, options, m); s.failed()) return s;
  m.formula = f.text;
  material = std::move(m);
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

std::string material_json(const Material& m) {
  std::string out;
  {
    Members o(out);
    text(o.key("formula"), m.formula);
    o.num("atoms", m.atoms);
    o.num("mass", m.mass);
    o.num("wavelength", m.wavelength);
    o.num("density", m.density);
    o.num("number_density", m.number_density);
    {
      Members a(o.key("per_atom"));
      const PerAtom& p = m.per_atom;
      a.num("b_coh", p.b_coh);
      a.num("b_coh_im", p.b_coh_im);
      a.num("b_free", p.b_free);
      a.num("sigma_coh", p.sigma_coh);
      a.num("sigma_inc", p.sigma_inc);
      a.num("sigma_scatt", p.sigma_scatt);
      a.num("sigma_free", p.sigma_free);
      a.num("sigma_abs_2200", p.sigma_abs_2200);
      a.num("sigma_abs", p.sigma_abs);
    }
    o.num("sld", m.sld);
    o.num("sld_im", m.sld_im);
    o.num("mu_abs", m.mu_abs);
    o.num("mu_scatt", m.mu_scatt);
    o.num("mu_total", m.mu_total);
    o.num("penetration_depth", m.penetration_depth);
    o.num("transmission", m.transmission);
    std::string& elements = o.key("elements");
    elements += '[';
    for (std::size_t i = 0; i < m.elements.size(); ++i) {
      if (i) elements += ", ";
      const MaterialElement& e = m.elements[i];
      Members el(elements);
      text(el.key("symbol"), e.symbol);
      el.num("count", e.count);
      el.num("fraction", e.fraction);
      el.num("b_coh", e.b_coh);
      el.num("b_coh_im", e.b_coh_im);
      el.num("sigma_coh", e.sigma_coh);
      el.num("sigma_scatt", e.sigma_scatt);
      el.num("sigma_abs_2200", e.sigma_abs_2200);
    }
    elements += ']';
    std::string& partials = o.key("partials");
    partials += '[';
    for (std::size_t i = 0; i < m.partials.size(); ++i) {
      if (i) partials += ", ";
      Members pa(partials);
      text(pa.key("pair"), m.partials[i].pair);
      pa.num("weight", m.partials[i].weight);
      pa.num("faber_ziman", m.partials[i].faber_ziman);
    }
    partials += ']';
  }
  return out;
}

}  // namespace talvo
