#include "talvo/neutron/material.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <new>
#include <numbers>

#include "talvo/detail/instruction_sets.hpp"
#include "talvo/elements/constants.hpp"
#include "talvo/elements/formula.hpp"
#include "talvo/elements/mixture.hpp"
#include "talvo/neutron/detail/sweep_builds.hpp"
#include "talvo/neutron/lengths.hpp"
#include "talvo/neutron/material_fields.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/json.hpp"
#include "talvo/text/words.hpp"

namespace talvo {

using neutron_detail::sweep_builds;
using neutron_detail::SweepBuild;

// The sweep's columns: one buffer, each column a slice of it.
class MaterialSweepColumns {
 public:
  // Every column of the sweep, in one fixed order.
  template <class Sweep, class F>
  static void each(Sweep& s, F f) {
    for (auto* c : {&s.wavelength, &s.b_coh, &s.b_coh_im, &s.b_free, &s.sigma_coh, &s.sigma_inc, &s.sigma_scatt,
                    &s.sigma_free, &s.sigma_abs, &s.sld, &s.sld_im, &s.sld_inc, &s.mu_abs, &s.mu_scatt, &s.mu_total,
                    &s.absorption_length, &s.penetration_depth, &s.transmission})
      f(*c);
    for (auto& e : s.elements)
      for (auto* c : {&e.b_coh, &e.b_coh_im, &e.b_free, &e.sigma_coh, &e.sigma_scatt, &e.sigma_free, &e.sigma_abs})
        f(*c);
    for (auto& q : s.partials) {
      f(q.weight);
      f(q.faber_ziman);
    }
  }

  // Columns for n wavelengths of material m; those that need a density (or
  // a thickness) only with one. The values are left to be written.
  static void allocate(MaterialSweep& s, const Material& m, bool thickness, std::size_t n) {
    s.elements.resize(m.elements.size());
    s.partials.resize(m.partials.size());
    const bool density = m.number_density.has_value();
    std::size_t columns = 0;
    each(s, [&](MaterialSweep::Column& c) {
      const bool kept = (&c != &s.transmission || (density && thickness)) && (density || !is_density_column(s, c));
      columns += kept;
      static double marker;  // a column to be given its slice below
      c = kept ? MaterialSweep::Column(&marker, 1) : MaterialSweep::Column();
    });
    s.stored_ = columns * n;
    s.storage_.reset(new double[s.stored_]);
    double* next = s.storage_.get();
    each(s, [&](MaterialSweep::Column& c) {
      if (c.empty()) return;
      c = MaterialSweep::Column(next, n);
      next += n;
    });
  }

  static void copy(MaterialSweep& to, const MaterialSweep& from) {
    to.material = from.material;
    to.elements = from.elements;
    to.partials = from.partials;
    to.wavelength = from.wavelength;
    to.b_coh = from.b_coh;
    to.b_coh_im = from.b_coh_im;
    to.b_free = from.b_free;
    to.sigma_coh = from.sigma_coh;
    to.sigma_inc = from.sigma_inc;
    to.sigma_scatt = from.sigma_scatt;
    to.sigma_free = from.sigma_free;
    to.sigma_abs = from.sigma_abs;
    to.sld = from.sld;
    to.sld_im = from.sld_im;
    to.sld_inc = from.sld_inc;
    to.mu_abs = from.mu_abs;
    to.mu_scatt = from.mu_scatt;
    to.mu_total = from.mu_total;
    to.absorption_length = from.absorption_length;
    to.penetration_depth = from.penetration_depth;
    to.transmission = from.transmission;
    to.stored_ = from.stored_;
    to.warnings_ = from.warnings_;
    to.storage_.reset(from.stored_ ? new double[from.stored_] : nullptr);
    if (from.stored_) std::copy(from.storage_.get(), from.storage_.get() + from.stored_, to.storage_.get());
    // The same slices of the new buffer.
    each(to, [&](MaterialSweep::Column& c) {
      if (!c.empty()) c = MaterialSweep::Column(to.storage_.get() + (c.data() - from.storage_.get()), c.size());
    });
  }

  static void set_warnings(MaterialSweep& s, std::vector<MaterialSweep::WavelengthWarning> w) {
    s.warnings_ = std::move(w);
  }

 private:
  static bool is_density_column(const MaterialSweep& s, const MaterialSweep::Column& c) {
    for (const MaterialSweep::Column* d : {&s.sld, &s.sld_im, &s.sld_inc, &s.mu_abs, &s.mu_scatt, &s.mu_total,
                                           &s.absorption_length, &s.penetration_depth, &s.transmission})
      if (&c == d) return true;
    return false;
  }
};

MaterialSweep::MaterialSweep(const MaterialSweep& other) { MaterialSweepColumns::copy(*this, other); }

MaterialSweep& MaterialSweep::operator=(const MaterialSweep& other) {
  if (this != &other) MaterialSweepColumns::copy(*this, other);
  return *this;
}

namespace {

// sigma = 4 pi |b|^2 / 100: barn from fm.
constexpr double kCoherent = 4.0 * std::numbers::pi / 100.0;

Error bad_option(const std::string& what) { return make_error(ErrorKind::kInvalidArgument, what); }
Error bad_composition(const std::string& what) { return make_error(ErrorKind::kInvalidArgument, what); }
Error not_in_table(const std::string& what) { return make_error(ErrorKind::kNotFound, what); }
Error not_finite(const std::string& what) {
  return make_error(ErrorKind::kOutOfRange, what + " is not finite: the numbers are too large");
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
  // With a curve: its length at each wavelength of a sweep (in Scratch).
  const double* curve_re = nullptr;
  const double* curve_im = nullptr;
};

struct PreparedElement {
  std::vector<PreparedIsotope> isotopes;
  bool resonant = false;
  double free = 0.0;  // of the element's mean mass
  // Wavelengths outside a curve of the element.
  double outside_min = std::numeric_limits<double>::infinity(), outside_max = 0.0;
  std::size_t outside_count = 0;
  // The energies that all of the element's curves cover.
  double common_lowest = 0.0, common_highest = std::numeric_limits<double>::infinity();
};

// What does not depend on the wavelength.
struct Prepared {
  Material m;
  std::vector<PreparedElement> elements;
  std::optional<double> thickness;
  StopCheck stop;         // the caller's, asked between the passes over the wavelengths
  bool resonant = false;  // any element
  // Per atom, the same at every wavelength: the incoherent cross-section
  // (thermal for the resonant elements) and its SLD.
  double sigma_inc = 0.0, sld_inc = 0.0;
};

// What a sweep's loops need beside its columns, n values each: lambda /
// 1.798 (the 1/v law), the energy, an element's sigma_abs / lambda (for
// sld_im without a division) and the per-atom sum of it; and, after them,
// the lengths of every curve (PreparedIsotope::curve_re, curve_im).
struct Scratch {
  std::unique_ptr<double[]> buffer;
  double* one_over_v = nullptr;
  double* energy = nullptr;
  double* element_aol = nullptr;
  double* aol_sum = nullptr;
  bool stopped = false;  // the caller's stop answered true: the curves are not all there
};

Outcome element_values(const Element& e, bool natural, const NeutronTable& table, bool energy_dependent,
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
    if (pi.curve) p.resonant = true;
    p.isotopes.push_back(pi);
  }
  m.b_coh = bbar.real();
  m.b_coh_im = bbar.imag();
  m.sigma_coh = 4.0 * std::numbers::pi * std::norm(bbar) / 100.0;
  // The published values are rounded one by one: for nuclei without incoherent
  // scattering the difference can come out a little below zero.
  m.sigma_inc = std::max(m.sigma_scatt - m.sigma_coh, 0.0);
  m.source = p.resonant ? LengthSource::kEnergyDependent : LengthSource::kThermalList;
  p.free = m.mass / (m.mass + kNeutronMass);
  return Done{};
}

Outcome check_options(const MaterialOptions& options) {
  if (options.density && options.number_density) return bad_option("give a density or a number density, not both");
  if (options.density && !(*options.density > 0.0 && std::isfinite(*options.density)))
    return bad_option("the density must be above 0 g/cm3");
  if (options.number_density && !(*options.number_density > 0.0 && std::isfinite(*options.number_density)))
    return bad_option("the number density must be above 0 atoms per cubic Angstrom");
  if (options.thickness && !(*options.thickness >= 0.0 && std::isfinite(*options.thickness)))
    return bad_option("the thickness must not be below 0 cm");
  return Done{};
}

Outcome check_wavelength(double wavelength) {
  if (!(wavelength > 0.0 && std::isfinite(wavelength))) return bad_option("the wavelength must be above 0 Angstrom");
  return Done{};
}

Outcome prepare(const Composition& c, const NeutronTable& table, const MaterialOptions& options, Prepared& p) {
  if (Outcome f = check_options(options); !f.ok()) return f;
  if (c.elements.empty()) return bad_composition("the composition has no elements");
  Material& m = p.m;
  p.thickness = options.thickness;
  p.stop = options.stop;
  const bool natural = c.kind == SampleKind::kNaturalElements;
  for (const Element& e : c.elements) {
    if (!(e.amount > 0.0))
      return bad_composition("the amount of " + std::string(trim_end(e.symbol)) + " must be above 0");
    if (!std::isfinite(e.amount)) return not_finite("the amount of " + std::string(trim_end(e.symbol)));
    if (e.isotopes.empty()) return bad_composition(std::string(trim_end(e.symbol)) + " has no isotopes");
    MaterialElement me;
    PreparedElement pe;
    me.count = e.amount;
    if (Outcome f = element_values(e, natural, table, options.energy_dependent, me, pe); !f.ok()) return f;
    m.atoms += e.amount;
    m.mass += e.amount * me.mass;
    m.elements.push_back(std::move(me));
    p.elements.push_back(std::move(pe));
  }
  if (!std::isfinite(m.atoms)) return not_finite("the number of atoms in the formula");
  if (!std::isfinite(m.mass)) return not_finite("the mass of the formula");

  PerAtom& a = m.per_atom;
  double scatt = 0.0, coh = 0.0;
  for (std::size_t k = 0; k < m.elements.size(); ++k) {
    MaterialElement& e = m.elements[k];
    e.fraction = e.count / m.atoms;
    a.sigma_abs_2200 += e.fraction * e.sigma_abs_2200;
    // A resonant element's sigma_scatt - sigma_coh is its thermal sigma_inc at every wavelength.
    if (p.elements[k].resonant) {
      p.resonant = true;
      scatt += e.fraction * e.sigma_inc;
    } else {
      scatt += e.fraction * e.sigma_scatt;
      coh += e.fraction * e.sigma_coh;
    }
  }
  // The published values are rounded one by one: for nuclei without incoherent
  // scattering the difference can come out a little below zero.
  p.sigma_inc = std::max(scatt - coh, 0.0);
  if (options.density) {
    m.density = options.density;
    m.number_density = m.atoms * *options.density / (kAtomicMassUnitGrams * m.mass);
  } else if (options.number_density) {
    m.number_density = options.number_density;
    m.density = *options.number_density * kAtomicMassUnitGrams * m.mass / m.atoms;
  }
  if (m.number_density && !(std::isfinite(*m.number_density) && std::isfinite(*m.density)))
    return not_finite("the number density");
  if (m.number_density) p.sld_inc = 10.0 * *m.number_density * std::sqrt(p.sigma_inc / kCoherent);
  // Like pairs in element order, then the unlike ones.
  for (const MaterialElement& e : m.elements) m.partials.push_back({e.symbol + "-" + e.symbol, 0.0, 0.0});
  for (std::size_t i = 0; i < m.elements.size(); ++i)
    for (std::size_t j = i + 1; j < m.elements.size(); ++j)
      m.partials.push_back({m.elements[i].symbol + "-" + m.elements[j].symbol, 0.0, 0.0});
  return Done{};
}

// The loops over the columns are built once per instruction set (columns()
// below): each is inlined into every build that uses it.
#define TALVO_COLUMN_LOOP [[gnu::always_inline]] inline

// Loops over whole columns, apart so that the compiler knows that the
// columns do not overlap (and vectorizes them).

// y += c x; with `first`, y = 0 + c x (the sum's first term: y need not be set).
TALVO_COLUMN_LOOP void add_scaled(double* __restrict y, const double* __restrict x, double c, std::size_t n,
                                  bool first = false) {
  if (first)
    for (std::size_t i = 0; i < n; ++i) y[i] = 0.0 + c * x[i];
  else
    for (std::size_t i = 0; i < n; ++i) y[i] += c * x[i];
}

// y += c; with `first`, y = 0 + c.
TALVO_COLUMN_LOOP void add_constant(double* __restrict y, double c, std::size_t n, bool first = false) {
  if (first)
    std::fill(y, y + n, 0.0 + c);
  else
    for (std::size_t i = 0; i < n; ++i) y[i] += c;
}

// y += c x; with `first`, y = 0 + c x.
TALVO_COLUMN_LOOP void add_product(double* __restrict y, double c, const double* __restrict x, std::size_t n,
                                   bool first) {
  if (first)
    for (std::size_t i = 0; i < n; ++i) y[i] = 0.0 + c * x[i];
  else
    for (std::size_t i = 0; i < n; ++i) y[i] += c * x[i];
}

// An isotope's length at each wavelength (b_re, b_im), its share y added
// to the element's columns (kFirst: the sums' first terms, the columns need
// not be set).
template <bool kFirst>
TALVO_COLUMN_LOOP void add_curve(const double* __restrict b_re, const double* __restrict b_im, double y, double free,
                                 const double* __restrict lambda, std::size_t n, double* __restrict re,
                                 double* __restrict im, double* __restrict b_free, double* __restrict sigma_abs,
                                 double* __restrict abs_over_lambda) {
  const auto set = [](double& sum, double term) {
    if constexpr (kFirst)
      sum = 0.0 + term;
    else
      sum += term;
  };
  for (std::size_t i = 0; i < n; ++i) {
    set(re[i], y * b_re[i]);
    set(im[i], y * b_im[i]);
    set(b_free[i], y * b_re[i] * free);
    set(sigma_abs[i], y * -2000.0 * lambda[i] * b_im[i]);
    set(abs_over_lambda[i], y * -2000.0 * b_im[i]);
  }
}

// A resonant element's cross-sections from its mean length.
TALVO_COLUMN_LOOP void resonant_cross_sections(const double* __restrict re, const double* __restrict im, double inc,
                                               double free, std::size_t n, double* __restrict sigma_coh,
                                               double* __restrict sigma_scatt, double* __restrict sigma_free) {
  for (std::size_t i = 0; i < n; ++i) {
    const double coh = kCoherent * (re[i] * re[i] + im[i] * im[i]);
    const double scatt = coh + inc;
    sigma_coh[i] = coh;
    sigma_scatt[i] = scatt;
    sigma_free[i] = scatt * free * free;
  }
}

// The values per volume from those per atom; false where one is not finite.
TALVO_COLUMN_LOOP bool per_volume(double n, std::size_t count, const double* __restrict b_coh,
                                  const double* __restrict sigma_abs, const double* __restrict sigma_scatt,
                                  double* __restrict sld, double* __restrict sld_im, double* __restrict mu_abs_column,
                                  double* __restrict mu_scatt_column, double* __restrict mu_total_column,
                                  double* __restrict absorption_length, double* __restrict penetration_depth) {
  // The arithmetic in a loop without branches (it vectorizes), both
  // reciprocals taken; then the reciprocal of a zero replaced and the sums checked.
  for (std::size_t i = 0; i < count; ++i) {
    const double mu_abs = n * sigma_abs[i], mu_scatt = n * sigma_scatt[i], mu_total = mu_abs + mu_scatt;
    sld[i] = 10.0 * n * b_coh[i];
    sld_im[i] = 0.005 * n * sld_im[i];  // 0.01 n sigma_abs / (2 lambda)
    mu_abs_column[i] = mu_abs;
    mu_scatt_column[i] = mu_scatt;
    mu_total_column[i] = mu_total;
    absorption_length[i] = 1.0 / mu_abs;
    penetration_depth[i] = 1.0 / mu_total;
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  bool finite = true;
  for (std::size_t i = 0; i < count; ++i) {
    if (!(mu_abs_column[i] > 0.0)) absorption_length[i] = nan;
    if (!(mu_total_column[i] > 0.0)) penetration_depth[i] = nan;
    if (!std::isfinite(sld[i]) || !std::isfinite(mu_total_column[i])) finite = false;
  }
  return finite;
}

// A pair's weight c Re(b_l b_r*) and its Faber-Ziman coefficient, w / |<b>|^2.
TALVO_COLUMN_LOOP void pair_weight(double c, const double* __restrict l_re, const double* __restrict l_im,
                                   const double* __restrict r_re, const double* __restrict r_im,
                                   const double* __restrict mean_norm, std::size_t n, double* __restrict weight,
                                   double* __restrict faber_ziman) {
  for (std::size_t i = 0; i < n; ++i) {
    const double w = c * (l_re[i] * r_re[i] + l_im[i] * r_im[i]);
    weight[i] = 0.01 * w;
    faber_ziman[i] = w / mean_norm[i];
  }
}

// The values at every wavelength, into the sweep's columns (sized
// beforehand), a column at a time: loops over plain arrays that the compiler
// can keep in registers and vectorize. Every sum is taken in the same order
// as for a single wavelength (elements, then isotopes, in order, from 0), so
// a value does not depend on the other wavelengths of the sweep. `p.m` holds
// what does not change with the wavelength.
TALVO_COLUMN_LOOP Outcome evaluate(Prepared& p, std::span<const double> wavelengths, const Scratch& scratch,
                                   MaterialSweep& s) {
  const Material& m = p.m;
  const std::size_t n = wavelengths.size();
  const double* const lambda = wavelengths.data();
  std::copy(wavelengths.begin(), wavelengths.end(), s.wavelength.begin());
  double* const __restrict one_over_v = scratch.one_over_v;
  const double* const __restrict energy = scratch.energy;
  double* const __restrict element_aol = scratch.element_aol;
  double* const __restrict aol = m.number_density ? s.sld_im.data() : scratch.aol_sum;
  for (std::size_t i = 0; i < n; ++i) one_over_v[i] = lambda[i] / kThermalWavelength;
  double* const __restrict mean_re = s.b_coh.data();
  double* const __restrict mean_im = s.b_coh_im.data();
  double* const __restrict b_free_sum = s.b_free.data();
  double* const __restrict coh_sum = s.sigma_coh.data();
  double* const __restrict scatt_sum = s.sigma_scatt.data();
  double* const __restrict free_sum = s.sigma_free.data();
  double* const __restrict abs_sum = s.sigma_abs.data();
  for (std::size_t k = 0; k < m.elements.size(); ++k) {
    if (stop_asked(p.stop)) return cancelled();
    const MaterialElement& e = m.elements[k];
    PreparedElement& pe = p.elements[k];
    MaterialSweep::Element& se = s.elements[k];
    double* const __restrict re = se.b_coh.data();
    double* const __restrict im = se.b_coh_im.data();
    double* const __restrict b_free = se.b_free.data();
    double* const __restrict sigma_coh = se.sigma_coh.data();
    double* const __restrict sigma_scatt = se.sigma_scatt.data();
    double* const __restrict sigma_free = se.sigma_free.data();
    double* const __restrict sigma_abs = se.sigma_abs.data();
    if (!pe.resonant) {
      std::fill(re, re + n, e.b_coh);
      std::fill(im, im + n, e.b_coh_im);
      std::fill(b_free, b_free + n, e.b_free);
      std::fill(sigma_coh, sigma_coh + n, e.sigma_coh);
      std::fill(sigma_scatt, sigma_scatt + n, e.sigma_scatt);
      std::fill(sigma_free, sigma_free + n, e.sigma_free);
      const double abs_2200 = e.sigma_abs_2200;
      for (std::size_t i = 0; i < n; ++i) sigma_abs[i] = abs_2200 * one_over_v[i];
    } else {
      // sigma_abs = -(4 pi / k) Im b = -2000 lambda Im b (barn, A, fm), the
      // optical theorem; sigma_scatt = 4 pi |b|^2 / 100 + the thermal
      // incoherent cross-section; the free-atom values scale by A / (A + m_n)
      // of the element's mean mass.
      // The sums over the isotopes start at 0 with the first.
      bool first_isotope = true;
      double common_lowest = 0.0, common_highest = std::numeric_limits<double>::infinity();
      for (PreparedIsotope& iso : pe.isotopes) {
        const double y = iso.y, free = iso.free;
        if (iso.curve) {
          if (first_isotope)
            add_curve<true>(iso.curve_re, iso.curve_im, y, free, lambda, n, re, im, b_free, sigma_abs, element_aol);
          else
            add_curve<false>(iso.curve_re, iso.curve_im, y, free, lambda, n, re, im, b_free, sigma_abs, element_aol);
          common_lowest = std::max(common_lowest, iso.curve->lowest_energy());
          common_highest = std::min(common_highest, iso.curve->highest_energy());
        } else {
          add_constant(re, y * iso.b.real(), n, first_isotope);
          add_constant(im, y * iso.b.imag(), n, first_isotope);
          add_constant(b_free, y * iso.b.real() * free, n, first_isotope);
          add_product(sigma_abs, y * iso.sigma_abs_2200, one_over_v, n, first_isotope);
          add_constant(element_aol, y * iso.sigma_abs_2200 * (1.0 / kThermalWavelength), n, first_isotope);
        }
        first_isotope = false;
      }
      // The wavelengths outside one of the element's curves (counted once
      // however many): there the curve's end value was used.
      std::size_t outside_count = 0;
      double outside_min = pe.outside_min, outside_max = pe.outside_max;
      for (std::size_t i = 0; i < n; ++i) {
        const bool outside = energy[i] < common_lowest || energy[i] > common_highest;
        outside_count += outside;
        outside_min = std::min(outside_min, outside ? lambda[i] : outside_min);
        outside_max = std::max(outside_max, outside ? lambda[i] : outside_max);
      }
      pe.outside_count += outside_count;
      pe.outside_min = outside_min;
      pe.outside_max = outside_max;
      pe.common_lowest = common_lowest;
      pe.common_highest = common_highest;
      resonant_cross_sections(re, im, e.sigma_inc, pe.free, n, sigma_coh, sigma_scatt, sigma_free);
    }
    const double c = e.fraction;
    const bool first = k == 0;  // the per-atom sums start at 0 with it
    if (pe.resonant) {
      add_scaled(mean_re, re, c, n, first);
      add_scaled(mean_im, im, c, n, first);
      add_scaled(b_free_sum, b_free, c, n, first);
      add_scaled(coh_sum, sigma_coh, c, n, first);
      add_scaled(scatt_sum, sigma_scatt, c, n, first);
      add_scaled(free_sum, sigma_free, c, n, first);
      if (m.number_density) add_scaled(aol, element_aol, c, n, first);
    } else {  // the same c x at every wavelength
      add_constant(mean_re, c * e.b_coh, n, first);
      add_constant(mean_im, c * e.b_coh_im, n, first);
      add_constant(b_free_sum, c * e.b_free, n, first);
      add_constant(coh_sum, c * e.sigma_coh, n, first);
      add_constant(scatt_sum, c * e.sigma_scatt, n, first);
      add_constant(free_sum, c * e.sigma_free, n, first);
      if (m.number_density) add_constant(aol, c * (e.sigma_abs_2200 * (1.0 / kThermalWavelength)), n, first);
    }
    add_scaled(abs_sum, sigma_abs, c, n, first);
  }
  bool finite = true;
  for (std::size_t i = 0; i < n; ++i) {
    finite &= std::isfinite(scatt_sum[i]);
    finite &= std::isfinite(abs_sum[i]);
  }
  if (!finite) return not_finite("a cross-section");
  return Done{};
}

// The columns that follow from the others, a column at a time (loops that
// the compiler can run side by side): the density's, the partial weights.
TALVO_COLUMN_LOOP Outcome finish_columns(const Prepared& p, MaterialSweep& s) {
  const Material& m = p.m;
  const std::size_t count = s.size();
  if (m.number_density) {
    if (!per_volume(*m.number_density, count, s.b_coh.data(), s.sigma_abs.data(), s.sigma_scatt.data(), s.sld.data(),
                    s.sld_im.data(), s.mu_abs.data(), s.mu_scatt.data(), s.mu_total.data(), s.absorption_length.data(),
                    s.penetration_depth.data()))
      return not_finite("the scattering-length density");
    if (p.thickness)
      for (std::size_t i = 0; i < count; ++i) s.transmission[i] = std::exp(-s.mu_total[i] * *p.thickness);
  }
  // Weights with complex lengths: c^2 |b|^2 and 2 c c' Re(b b'*), and the
  // Faber-Ziman coefficients, divided by |<b>|^2.
  const std::unique_ptr<double[]> mean_norm_column(new double[count]);
  double* const mean_norm = mean_norm_column.get();
  for (std::size_t i = 0; i < count; ++i) mean_norm[i] = s.b_coh[i] * s.b_coh[i] + s.b_coh_im[i] * s.b_coh_im[i];
  const std::size_t n = m.elements.size();
  std::size_t k = 0;
  const auto weight = [&](std::size_t l, std::size_t r) {
    const double c = (l == r ? 1.0 : 2.0) * m.elements[l].fraction * m.elements[r].fraction;
    const MaterialSweep::Element& el = s.elements[l];
    const MaterialSweep::Element& er = s.elements[r];
    MaterialSweep::Partial& q = s.partials[k++];
    pair_weight(c, el.b_coh.data(), el.b_coh_im.data(), er.b_coh.data(), er.b_coh_im.data(), mean_norm, count,
                q.weight.data(), q.faber_ziman.data());
  };
  for (std::size_t l = 0; l < n; ++l) weight(l, l);
  for (std::size_t l = 0; l < n; ++l)
    for (std::size_t r = l + 1; r < n; ++r) weight(l, r);
  return Done{};
}

void fill_row(const MaterialSweep& s, std::size_t i, Material& m);

// The columns that are the same at every wavelength.
TALVO_COLUMN_LOOP void fill_constants(const Prepared& p, MaterialSweep& s) {
  std::fill(s.sigma_inc.begin(), s.sigma_inc.end(), p.sigma_inc);
  std::fill(s.sld_inc.begin(), s.sld_inc.end(), p.sld_inc);
}

// Where a sweep's wavelengths lie outside an element's energy-dependent
// lengths: the least and the greatest, and how many.
struct Outside {
  double min = 0.0, max = 0.0;
  std::size_t count = 0;
};

// The warnings that wavelengths call for, `outside[k]` those of element k
// outside its curves; the notes when `notes` is given.
// The tabulated ranges of an element's energy-dependent curves, as its warnings give them.
std::string tabulated_ranges(const MaterialElement& e, const PreparedElement& pe) {
  std::string ranges;
  for (const PreparedIsotope& iso : pe.isotopes) {
    if (!iso.curve) continue;
    if (!ranges.empty()) ranges += ", ";
    ranges += (iso.curve->a ? free_int(iso.curve->a) + e.symbol + " " : "") + shortest(iso.curve->lowest_energy()) +
              "-" + shortest(iso.curve->highest_energy()) + " eV (" +
              short_text(neutron_wavelength(iso.curve->highest_energy())) + "-" +
              short_text(neutron_wavelength(iso.curve->lowest_energy())) + " A)";
  }
  return ranges;
}

std::string outside_warning(const std::string& symbol, const std::string& ranges, const Outside& o) {
  std::string w = symbol + ": the energy-dependent lengths are tabulated for " + ranges + "; at " + shortest(o.min) + " A";
  if (o.count > 1)
    w += " to " + shortest(o.max) + " A (" + free_int(static_cast<long long>(o.count)) + " wavelengths)";
  return w + " the value at the table's end is used";
}

constexpr const char* kCadmiumWarning =
    "Cd: below 1 A (the 113Cd resonance at 0.18 eV) its absorption follows the 1/v law only approximately";

void remarks(const Prepared& p, std::span<const double> wavelengths, std::span<const Outside> outside,
             std::vector<std::string>& warnings, std::vector<std::string>* notes) {
  const Material& m = p.m;
  for (std::size_t i = 0; i < m.elements.size(); ++i) {
    const MaterialElement& e = m.elements[i];
    const PreparedElement& pe = p.elements[i];
    if (pe.resonant) {
      if (notes)
        notes->push_back(e.symbol + ": length and absorption from " +
                         std::string(length_source_name(LengthSource::kEnergyDependent)) +
                         "; its incoherent cross-section is the thermal (2200 m/s) value");
      if (outside[i].count) warnings.push_back(outside_warning(e.symbol, tabulated_ranges(e, pe), outside[i]));
    } else if (notes && e.symbol == "Lu" && find_length_curve("Lu", 176)) {
      notes->push_back("Lu: natural Lu has no energy-dependent curve; its absorption follows the 1/v law");
    }
    if (e.symbol == "Cd" && std::any_of(wavelengths.begin(), wavelengths.end(), [](double l) { return l < 1.0; }))
      warnings.emplace_back(kCadmiumWarning);
  }
}

// The warnings of each wavelength alone, as the material at that wavelength
// gives them, for the wavelengths that have any.
std::vector<MaterialSweep::WavelengthWarning> warnings_of_each(const Prepared& p, std::span<const double> wavelengths,
                                                               const Scratch& scratch) {
  std::vector<MaterialSweep::WavelengthWarning> out;
  const std::vector<MaterialElement>& elements = p.m.elements;
  // Each element's ranges once: they are the same words at every wavelength.
  std::vector<std::string> ranges(elements.size());
  for (std::size_t k = 0; k < elements.size(); ++k)
    if (p.elements[k].resonant && p.elements[k].outside_count > 0) ranges[k] = tabulated_ranges(elements[k], p.elements[k]);
  for (std::size_t i = 0; i < wavelengths.size(); ++i)
    for (std::size_t k = 0; k < elements.size(); ++k) {
      const PreparedElement& pe = p.elements[k];
      if (pe.resonant && pe.outside_count > 0 &&
          (scratch.energy[i] < pe.common_lowest || scratch.energy[i] > pe.common_highest))
        out.push_back({i, outside_warning(elements[k].symbol, ranges[k], Outside{wavelengths[i], wavelengths[i], 1})});
      if (elements[k].symbol == "Cd" && wavelengths[i] < 1.0) out.push_back({i, kCadmiumWarning});
    }
  return out;
}

// The columns that depend on the wavelength, in the build of the loops for
// the widest instruction set the processor runs. The builds differ only in
// how many wavelengths a register holds: the library is compiled with
// -ffp-contract=off, so no build fuses a multiply and an add, and every sum
// is taken in the same order; all give the same columns, bit for bit.
TALVO_COLUMN_LOOP Outcome columns_in(Prepared& p, std::span<const double> wavelengths, const Scratch& scratch,
                                     MaterialSweep& s) {
  if (Outcome f = evaluate(p, wavelengths, scratch, s); !f.ok()) return f;
  fill_constants(p, s);
  return finish_columns(p, s);
}

Outcome columns_baseline(Prepared& p, std::span<const double> wavelengths, const Scratch& scratch, MaterialSweep& s) {
  return columns_in(p, wavelengths, scratch, s);
}

#if TALVO_INSTRUCTION_SET_BUILDS
__attribute__((target("avx2"))) Outcome columns_avx2(Prepared& p, std::span<const double> wavelengths,
                                                     const Scratch& scratch, MaterialSweep& s) {
  return columns_in(p, wavelengths, scratch, s);
}
#endif

Outcome columns(SweepBuild build, Prepared& p, std::span<const double> wavelengths, const Scratch& scratch,
                MaterialSweep& s) {
  if (build == SweepBuild::kBest) {
    static const SweepBuild best = sweep_builds().back();
    build = best;
  }
#if TALVO_INSTRUCTION_SET_BUILDS
  if (build == SweepBuild::kAvx2) return columns_avx2(p, wavelengths, scratch, s);
#endif
  return columns_baseline(p, wavelengths, scratch, s);
}

// The scratch columns, and the energies and the curves' lengths at them: a
// search along each curve for every wavelength, which no register width
// speeds, done once here for every build.
Scratch make_scratch(Prepared& p, std::span<const double> wavelengths) {
  const std::size_t n = wavelengths.size();
  std::size_t curves = 0;
  for (const PreparedElement& pe : p.elements)
    for (const PreparedIsotope& iso : pe.isotopes) curves += iso.curve != nullptr;
  Scratch scratch;
  scratch.buffer.reset(new double[(4 + 2 * curves) * n]);
  double* next = scratch.buffer.get();
  for (double** column : {&scratch.one_over_v, &scratch.energy, &scratch.element_aol, &scratch.aol_sum}) {
    *column = next;
    next += n;
  }
  if (!p.resonant) return scratch;
  for (std::size_t i = 0; i < n; ++i) scratch.energy[i] = neutron_energy(wavelengths[i]);
  for (PreparedElement& pe : p.elements)
    for (PreparedIsotope& iso : pe.isotopes) {
      if (!iso.curve || scratch.stopped) continue;
      if (stop_asked(p.stop)) {
        scratch.stopped = true;
        continue;
      }
      double* const re = next;
      double* const im = next + n;
      next += 2 * n;
      std::size_t hint = 0;  // the interval at the last wavelength
      for (std::size_t i = 0; i < n; ++i) {
        const std::complex<double> b = length_at_energy(*iso.curve, scratch.energy[i], hint).b;
        re[i] = b.real();
        im[i] = b.imag();
      }
      iso.curve_re = re;
      iso.curve_im = im;
    }
  return scratch;
}

Result<MaterialSweep> run_sweep(Prepared& p, std::span<const double> wavelengths, std::vector<std::string> notes,
                                SweepBuild build = SweepBuild::kBest) {
  if (wavelengths.empty()) return make_error(ErrorKind::kInvalidArgument, "no wavelengths");
  for (const double w : wavelengths)
    if (!(w > 0.0 && std::isfinite(w))) {
      return check_wavelength(w).error();
    }
  MaterialSweep s;
  Scratch scratch;
  try {
    MaterialSweepColumns::allocate(s, p.m, p.thickness.has_value(), wavelengths.size());
    scratch = make_scratch(p, wavelengths);
  } catch (const std::bad_alloc&) {
    return make_error(
        ErrorKind::kOutOfMemory,
        "the columns of " + free_int(static_cast<long long>(wavelengths.size())) + " wavelengths do not fit in memory");
  }
  if (scratch.stopped) return cancelled();
  if (Outcome f = columns(build, p, wavelengths, scratch, s); !f.ok()) return f.error();
  std::vector<Outside> outside;
  for (const PreparedElement& pe : p.elements) outside.push_back({pe.outside_min, pe.outside_max, pe.outside_count});
  std::vector<std::string> warnings;
  remarks(p, wavelengths, outside, warnings, &notes);
  if (p.thickness && !p.m.density && !p.m.number_density) warnings.emplace_back(kThicknessWithoutDensity);
  MaterialSweepColumns::set_warnings(s, warnings_of_each(p, wavelengths, scratch));
  p.m.notes = std::move(notes);
  s.material = std::move(p.m);
  fill_row(s, 0, s.material);
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
                      "formula " + quote_for_message(formula) + " gives its density already: give no other");
  if (!option_density && mix->density) {
    out.options.density = mix->density;
    out.notes = std::move(mix->notes);
  }
  if (mix->components.size() > 1 && mix->density && !option_density)
    out.notes.push_back("density of the mixture (ideal mixing: volumes add): " + significant(*mix->density) +
                        " g/cm3");
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

namespace {

// Row i of a sweep's columns into a material of the same formula.
void fill_row(const MaterialSweep& s, std::size_t i, Material& m) {
  const auto& wavelength = s.wavelength;
  const auto& b_coh = s.b_coh;
  const auto& b_coh_im = s.b_coh_im;
  const auto& b_free = s.b_free;
  const auto& sigma_coh = s.sigma_coh;
  const auto& sigma_inc = s.sigma_inc;
  const auto& sigma_scatt = s.sigma_scatt;
  const auto& sigma_free = s.sigma_free;
  const auto& sigma_abs = s.sigma_abs;
  const auto& sld = s.sld;
  const auto& sld_im = s.sld_im;
  const auto& sld_inc = s.sld_inc;
  const auto& mu_abs = s.mu_abs;
  const auto& mu_scatt = s.mu_scatt;
  const auto& mu_total = s.mu_total;
  const auto& absorption_length = s.absorption_length;
  const auto& penetration_depth = s.penetration_depth;
  const auto& transmission = s.transmission;
  const auto& elements = s.elements;
  const auto& partials = s.partials;
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
  const auto opt = [](std::span<const double> v, std::size_t k) -> std::optional<double> {
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
    const MaterialSweep::Element& se = elements[k];
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
}

}  // namespace

Material MaterialSweep::at(std::size_t i) const {
  Material m = material;
  fill_row(*this, i, m);
  return m;
}

std::vector<std::string> MaterialSweep::warnings_at(std::size_t i) const {
  std::vector<std::string> out;
  const auto first = std::lower_bound(warnings_.begin(), warnings_.end(), i,
                                      [](const WavelengthWarning& w, std::size_t at) { return w.index < at; });
  for (auto w = first; w != warnings_.end() && w->index == i; ++w) out.push_back(w->text);
  return out;
}

Result<MaterialSweep> composition_sweep(const Composition& c, const NeutronTable& table, const MaterialOptions& options,
                                        std::span<const double> wavelengths) {
  Prepared p;
  if (Outcome f = prepare(c, table, options, p); !f.ok()) return f.error();
  return run_sweep(p, wavelengths, {});
}

Result<MaterialSweep> material_sweep(std::string_view formula, const NeutronTable& table,
                                     const MaterialOptions& options, std::span<const double> wavelengths) {
  return neutron_detail::material_sweep(formula, table, options, wavelengths, SweepBuild::kBest);
}

std::vector<SweepBuild> neutron_detail::sweep_builds() {
  std::vector<SweepBuild> builds{SweepBuild::kBaseline};
#if TALVO_INSTRUCTION_SET_BUILDS
  if (__builtin_cpu_supports("avx2")) builds.push_back(SweepBuild::kAvx2);
#endif
  return builds;
}

Result<MaterialSweep> neutron_detail::material_sweep(std::string_view formula, const NeutronTable& table,
                                                     const MaterialOptions& options,
                                                     std::span<const double> wavelengths, SweepBuild build) {
  Result<ParsedFormula> parsed = parse(formula, table, options);
  if (!parsed.ok()) return parsed.error();
  Prepared p;
  if (Outcome f = prepare(parsed->composition, table, parsed->options, p); !f.ok()) return f.error();
  p.m.formula = parsed->text;
  return run_sweep(p, wavelengths, std::move(parsed->notes), build);
}

Result<Material> material(std::string_view formula, const NeutronTable& table, const MaterialOptions& options) {
  const double wavelength = options.wavelength;
  Result<MaterialSweep> s = material_sweep(formula, table, options, std::span<const double>(&wavelength, 1));
  if (!s.ok()) return s.error();
  return Result<Material>(std::move(s->material), s.warnings());
}

Result<Material> compute_material(const Composition& c, const NeutronTable& table, const MaterialOptions& options) {
  Prepared p;
  if (Outcome f = prepare(c, table, options, p); !f.ok()) return f.error();
  const double wavelength = options.wavelength;
  Result<MaterialSweep> s = run_sweep(p, std::span<const double>(&wavelength, 1), {});
  if (!s.ok()) return s.error();
  return Result<Material>(std::move(s->material), s.warnings());
}

Result<double> convert_density(double density, const Composition& c, const NeutronTable& table) {
  if (density == 0.0)
    return make_error(ErrorKind::kInvalidArgument,
                      "density=zero: give g/cm3 above 0, or atoms per cubic Angstrom below 0");
  if (!std::isfinite(density))
    return make_error(ErrorKind::kInvalidArgument, "the density must be a finite number, not " + shortest(density));
  MaterialOptions o;
  if (density > 0.0)
    o.density = density;
  else
    o.number_density = -density;
  Prepared p;
  if (Outcome f = prepare(c, table, o, p); !f.ok()) return f.error();
  return density > 0.0 ? *p.m.number_density : *p.m.density;
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

namespace {

// The JSON of a material (`column` null) or a sweep: the values in the order
// of material_fields(), those of one scope together, a sweep's values that
// change with the wavelength as arrays.
std::string write_json(const Material& m, const MaterialSweep* sweep, const std::vector<std::string>& warnings) {
  const auto number = [&](std::string& out, const MaterialField& f, std::size_t index) {
    if (sweep && f.per_wavelength) {
      const std::vector<double> c = material_column(*sweep, f, index);
      if (c.empty()) {
        out += "null";
        return;
      }
      out += '[';
      for (std::size_t i = 0; i < c.size(); ++i) {
        if (i) out += ", ";
        json::append_number(out, c[i]);
      }
      out += ']';
      return;
    }
    json::append_number(out, material_value(m, f, index));
  };
  std::string out;
  {
    json::Object o(out);
    json::append_string(o.key("formula"), m.formula);
    for_each_scope([&](MaterialScope scope, std::span<const MaterialField> run) {
      switch (scope) {
        case MaterialScope::kMaterial:
        case MaterialScope::kPerVolume:
          for (const MaterialField& f : run) number(o.key(f.name), f, 0);
          break;
        case MaterialScope::kPerAtom:
        case MaterialScope::kPerFormulaUnit: {
          json::Object group(o.key(scope == MaterialScope::kPerAtom ? "per_atom" : "per_formula"));
          for (const MaterialField& f : run) number(group.key(f.name), f, 0);
          break;
        }
        case MaterialScope::kElement:
        case MaterialScope::kPartial: {
          const bool elements = scope == MaterialScope::kElement;
          std::string& list = o.key(elements ? "elements" : "partials");
          list += '[';
          const std::size_t n = elements ? m.elements.size() : m.partials.size();
          for (std::size_t i = 0; i < n; ++i) {
            if (i) list += ", ";
            json::Object item(list);
            json::append_string(item.key(elements ? "symbol" : "pair"),
                                elements ? m.elements[i].symbol : m.partials[i].pair);
            for (const MaterialField& f : run)
              if (f.in_json) number(item.key(f.name), f, i);
            if (elements) json::append_string(item.key("source"), length_source_name(m.elements[i].source));
          }
          list += ']';
          break;
        }
      }
    });
    for (const auto& [key, list] : {std::pair{"notes", &m.notes}, std::pair{"warnings", &warnings}}) {
      std::string& arr = o.key(key);
      arr += '[';
      for (std::size_t i = 0; i < list->size(); ++i) {
        if (i) arr += ", ";
        json::append_string(arr, (*list)[i]);
      }
      arr += ']';
    }
    {
      json::Object u(o.key("units"));
      for (const MaterialUnit& unit : material_units()) json::append_string(u.key(unit.key), unit.unit);
    }
  }
  return out;
}

}  // namespace

std::span<const MaterialUnit> material_units() {
  // Each name once, every cross-section as "sigma_*" (barn).
  static const std::vector<MaterialUnit> units = [] {
    std::vector<MaterialUnit> u;
    for (const MaterialField& f : material_fields()) {
      const std::string_view key = f.name.starts_with("sigma_") ? std::string_view("sigma_*") : f.name;
      if (std::none_of(u.begin(), u.end(), [&](const MaterialUnit& have) { return have.key == key; }))
        u.push_back({key, f.unit});
    }
    return u;
  }();
  return units;
}

std::string material_json(const Material& m) { return material_json(m, {}); }

std::string material_json(const Material& m, const std::vector<std::string>& warnings) {
  return write_json(m, nullptr, warnings);
}

std::string material_sweep_json(const MaterialSweep& s, const std::vector<std::string>& warnings) {
  return write_json(s.material, &s, warnings);
}

}  // namespace talvo
