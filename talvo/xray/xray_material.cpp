#include "talvo/xray/xray_material.hpp"

#include <array>
#include <cmath>
#include <numbers>

#include "talvo/elements/constants.hpp"
#include "talvo/elements/elements.hpp"
#include "talvo/elements/formula.hpp"
#include "talvo/elements/mixture.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/json.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xray/compton.hpp"
#include "talvo/xray/dispersion.hpp"
#include "talvo/xray/formfactor.hpp"
#include "talvo/xray/material_fields.hpp"

namespace talvo {
namespace {

constexpr double kBarnPerA2 = 1e8;  // 1 A^2 = 1e-16 cm^2 = 1e8 barn

bool positive(double v) { return v > 0.0 && std::isfinite(v); }

// int_0^1 (1 + (1 - 2v)^2) exp(-beta v) dv = 2 M0 - 4 M1 + 4 M2, where
// M_n(beta) = int_0^1 v^n exp(-beta v) dv, v = lambda^2 x^2 = (1 - cos 2theta) / 2;
// e is exp(-beta). For small |beta|, where the closed form loses digits, by
// the series M_n = sum_k (-beta)^k / k! / (n + k + 1); else by the recurrence
// M_n = (n M_n-1 - exp(-beta)) / beta (at |beta| = 0.1 it loses three
// digits of 16).
double thomson_moment(double beta, double e) {
  // 1 / (k + 1) for the series' terms.
  static constexpr auto kInverse = [] {
    std::array<double, 28> r{};
    for (std::size_t k = 0; k < r.size(); ++k) r[k] = 1.0 / static_cast<double>(k + 1);
    return r;
  }();
  double m0 = 0.0, m1 = 0.0, m2 = 0.0;
  if (std::abs(beta) < 0.1) {
    double term = 1.0;  // (-beta)^k / k!
    for (std::size_t k = 0; k < 24 && std::abs(term) > 1e-18; ++k) {
      m0 += term * kInverse[k];
      m1 += term * kInverse[k + 1];
      m2 += term * kInverse[k + 2];
      term *= -beta * kInverse[k];
    }
  } else {
    const double inverse = 1.0 / beta;
    m0 = (1.0 - e) * inverse;
    m1 = (m0 - e) * inverse;
    m2 = (2.0 * m1 - e) * inverse;
  }
  return 2.0 * m0 - 4.0 * m1 + 4.0 * m2;
}

// Rayleigh cross-section in barn: with f0^2 = sum_k A_k exp(-B_k x^2),
// sigma = 2 pi r_e^2 sum_k A_k int_0^1 (1 + (1 - 2v)^2) exp(-B_k v / lambda^2) dv.
// The exponentials of the products are the products of the five.
double rayleigh(const FormFactorParams& p, double lambda) {
  const double inverse_l2 = 1.0 / (lambda * lambda);
  std::array<double, 5> beta{}, e{};
  for (std::size_t j = 0; j < 5; ++j) {
    beta[j] = p.b[j] * inverse_l2;
    e[j] = std::exp(-beta[j]);
  }
  double sum = p.c * p.c * thomson_moment(0.0, 1.0);
  for (std::size_t j = 0; j < 5; ++j) {
    sum += 2.0 * p.c * p.a[j] * thomson_moment(beta[j], e[j]);
    for (std::size_t k = j; k < 5; ++k)
      sum += (j == k ? 1.0 : 2.0) * p.a[j] * p.a[k] * thomson_moment(beta[j] + beta[k], e[j] * e[k]);
  }
  return 2.0 * std::numbers::pi * kElectronRadius * kElectronRadius * kBarnPerA2 * sum;
}

// The Waasmaier-Kirfel coefficients of the neutral atoms by Z (H to Cf), looked up once.
const FormFactorParams* neutral_coefficients(int z) {
  static const std::vector<FormFactorParams> by_z = [] {
    std::vector<FormFactorParams> p;
    for (const char* symbol : wk_table_symbols()) {
      const Result<FormFactorParams> found = published_coefficients(symbol, FormFactorTable::kWaasmaierKirfel);
      p.push_back(found.ok() ? *found : FormFactorParams{});
    }
    return p;
  }();
  return z >= 1 && z <= static_cast<int>(by_z.size()) ? &by_z[static_cast<std::size_t>(z - 1)] : nullptr;
}

// 8-point Gauss-Legendre on [-1, 1].
constexpr double kGaussX[] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267, 0.9602898564975363};
constexpr double kGaussW[] = {0.3626837833783620, 0.3137066458778873, 0.2223810344533745, 0.1012285362903763};
// Panels no wider than this in x: S(x) changes over about 0.1-1 per Angstrom;
// the cross-sections are then within 1e-4 of those of 32 times finer panels.
constexpr double kPanel = 0.5;

// Compton cross-section in barn: pi r_e^2 int_-1^1 KN S dmu with mu = cos 2theta
// = 1 - 2 lambda^2 x^2, dmu = 4 lambda^2 x dx, over x from 0 to 1/lambda
// (2.42 per Angstrom at 30 keV: 5 panels; 34.9 at the 432.9 keV the tables
// reach: 70).
double compton_cross_section(int z, double energy_kev, double lambda) {
  constexpr std::size_t kMaxNodes = 8 * 72;
  const double k = energy_kev / kElectronRestEnergyKev;
  const double x_max = 1.0 / lambda;
  const std::size_t panels = std::min<std::size_t>(
      kMaxNodes / 8, std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(x_max / kPanel))));
  const double half = 0.5 * x_max / static_cast<double>(panels);
  // The nodes in increasing x, which keeps the spline's search short, and their weights.
  std::array<double, kMaxNodes> x{}, w{}, s{};
  std::size_t n = 0;
  for (std::size_t p = 0; p < panels; ++p) {
    const double mid = (2.0 * static_cast<double>(p) + 1.0) * half;
    for (std::size_t g = 0; g < 8; ++g, ++n) {
      const std::size_t gi = g < 4 ? 3 - g : g - 4;
      x[n] = mid + (g < 4 ? -half : half) * kGaussX[gi];
      w[n] = half * kGaussW[gi];
    }
  }
  detail::IncoherentSpline spline(z);
  spline(std::span<const double>(x.data(), n), s.data());
  double sum = 0.0;
  const double l2 = lambda * lambda;
  for (std::size_t i = 0; i < n; ++i) {
    const double mu = 1.0 - 2.0 * l2 * x[i] * x[i];
    const double inverse_pk = 1.0 + k * (1.0 - mu), pk = 1.0 / inverse_pk;
    const double kn = pk * pk * (pk + inverse_pk - 1.0 + mu * mu);
    sum += w[i] * kn * s[i] * 4.0 * l2 * x[i];
  }
  return std::numbers::pi * kElectronRadius * kElectronRadius * kBarnPerA2 * sum;
}

Result<int> element_z(std::string_view symbol, const ElementEntry** entry) {
  const std::optional<std::size_t> index = element_entry_of(symbol);
  if (!index) return make_error(ErrorKind::kNotFound, "unknown element " + quote_for_message(symbol));
  *entry = &element_table()[*index];
  return (*entry)->z;
}

}  // namespace

Result<XrayMaterial> xray_material(const XrayComposition& composition, double energy_kev,
                                   const XrayMaterialOptions& options) {
  if (composition.atoms.empty()) return make_error(ErrorKind::kInvalidArgument, "the composition has no atoms");
  if (std::isnan(energy_kev)) return make_error(ErrorKind::kInvalidArgument, "the energy is not a number");
  const std::optional<double> density = options.density ? options.density : composition.density;
  if (density && !positive(*density))
    return make_error(ErrorKind::kInvalidArgument, "the density must be above 0 g/cm3, not " + shortest(*density));
  if (options.thickness && !(*options.thickness >= 0.0 && std::isfinite(*options.thickness)))
    return make_error(ErrorKind::kInvalidArgument,
                      "the thickness must be a number not below 0 cm, not " + shortest(*options.thickness));
  XrayMaterial m;
  m.formula = composition.name;
  m.energy = energy_kev;
  Result<double> lambda = wavelength_of_energy(energy_kev);
  if (!lambda.ok()) return lambda.error();
  m.wavelength = *lambda;
  double mass = 0.0;
  for (const XrayAtoms& a : composition.atoms) {
    if (!positive(a.count))
      return make_error(ErrorKind::kInvalidArgument,
                        "the count of " + a.symbol + " must be above 0, not " + shortest(a.count));
    const ElementEntry* entry = nullptr;
    Result<int> z = element_z(a.symbol, &entry);
    if (!z.ok()) return z.error();
    Result<Dispersion> d = dispersion(*z, energy_kev);
    if (d.ok()) m.f_table = d->table;
    if (!d.ok()) {
      if (*z > kHenkeMaxZ)
        return make_error(ErrorKind::kOutOfRange, "the tables of f1, f2 hold H to U (Z = 1 to 92), not " + a.symbol +
                                                      " (Z = " + std::to_string(*z) + ")");
      return d.error();
    }
    if (a.mass && !positive(*a.mass))
      return make_error(ErrorKind::kInvalidArgument,
                        "the mass of " + a.symbol + " must be above 0 amu, not " + shortest(*a.mass));
    // D and T weigh 2H's and 3H's mass, as they do in a formula (the table's
    // D entry is the calculator's rounded 2.016).
    const double atom = a.mass                            ? *a.mass
                        : equal_case_blind(a.symbol, "D") ? *isotope_mass(1, 2)
                        : equal_case_blind(a.symbol, "T") ? *isotope_mass(1, 3)
                                                          : published_weight(*entry);
    mass += a.count * atom;
    XrayMaterialElement e;
    e.symbol = a.symbol;
    e.z = *z;
    e.count = a.count;
    e.f1 = d->f1;
    e.f2 = d->f2;
    e.f_prime = d->f_prime;
    e.f_double_prime = d->f_double_prime;
    e.f_rel = d->f_rel;
    e.f_nt = d->f_nt;
    e.sigma_photo = 2.0 * kElectronRadius * m.wavelength * e.f2 * kBarnPerA2;
    e.sigma_coh = rayleigh(*neutral_coefficients(*z), m.wavelength);
    e.sigma_incoh = compton_cross_section(*z, energy_kev, m.wavelength);
    m.atoms += a.count;
    m.electrons += a.count * *z;
    m.f1 += a.count * e.f1;
    m.f2 += a.count * e.f2;
    m.elements.push_back(std::move(e));
  }
  // Counts each in range can still add up beyond it.
  for (const double v : {m.atoms, m.electrons, mass, m.f1, m.f2})
    if (!std::isfinite(v))
      return make_error(ErrorKind::kOutOfRange,
                        "the counts of " + composition.name + " add up beyond the range of numbers");
  m.mass = mass;
  for (XrayMaterialElement& e : m.elements) {
    e.fraction = e.count / m.atoms;
    m.sigma_photo += e.fraction * e.sigma_photo;
    m.sigma_coh += e.fraction * e.sigma_coh;
    m.sigma_incoh += e.fraction * e.sigma_incoh;
  }
  m.sigma_total = m.sigma_photo + m.sigma_coh + m.sigma_incoh;
  if (!density) {
    Result<XrayMaterial> per_atom(std::move(m));
    if (options.thickness) per_atom.add_warning(std::string(kThicknessWithoutDensity));
    return per_atom;
  }

  m.density = density;
  // Formula units per A^3 (g/cm3 over 1e-24 g per amu), then atoms.
  const double units = *density / (kAtomicMassUnitGrams * mass);
  m.number_density = units * m.atoms;
  m.sld = 1e6 * kElectronRadius * units * m.f1;
  m.sld_im = 1e6 * kElectronRadius * units * m.f2;
  const double l2 = m.wavelength * m.wavelength;
  m.delta = l2 * *m.sld * 1e-6 / (2.0 * std::numbers::pi);
  m.beta = l2 * *m.sld_im * 1e-6 / (2.0 * std::numbers::pi);
  // Total external reflection needs n below 1; where f1 is negative (below
  // some edges) there is none.
  if (*m.delta > 0.0) m.critical_angle = std::sqrt(2.0 * *m.delta) * 180.0 / std::numbers::pi;
  // N [1/A^3] sigma [barn] is per cm: 1e24 cm^-3 times 1e-24 cm^2.
  m.mu_photo = *m.number_density * m.sigma_photo;
  m.mu_coh = *m.number_density * m.sigma_coh;
  m.mu_incoh = *m.number_density * m.sigma_incoh;
  m.mu_total = *m.number_density * m.sigma_total;
  m.attenuation_length_photo = 1.0 / *m.mu_photo;
  m.attenuation_length = 1.0 / *m.mu_total;
  for (const std::optional<double>& v : {m.number_density, m.sld, m.sld_im, m.delta, m.beta, m.mu_photo, m.mu_coh,
                                         m.mu_incoh, m.mu_total, m.attenuation_length_photo, m.attenuation_length})
    if (!std::isfinite(*v))
      return make_error(ErrorKind::kOutOfRange, "the density " + shortest(*density) +
                                                    " g/cm3 gives values beyond the range of numbers (mass " +
                                                    shortest(mass) + " amu per formula unit)");
  if (options.thickness) {
    m.thickness = options.thickness;
    m.transmission_photo = std::exp(-*m.mu_photo * *options.thickness);
    m.transmission = std::exp(-*m.mu_total * *options.thickness);
  }
  return m;
}

Result<XrayMaterial> xray_material_from_formula(std::string_view formula, double energy_kev,
                                                const XrayMaterialOptions& options) {
  // The whole formula grammar: densities (@), mixtures (//), isotopes, ions.
  // Isotopes scatter as their element and weigh their own mass.
  const MassOf mass_of = [](std::string_view symbol, int a) -> std::optional<double> {
    const std::optional<std::size_t> index = find_element(symbol);
    if (!index) return std::nullopt;
    const ElementEntry& entry = element_table()[*index];
    return a == 0 ? std::optional<double>(published_weight(entry)) : isotope_mass(entry.z, a);
  };
  const Result<Mixture> mixture = parse_mixture(formula, mass_of);
  if (!mixture.ok()) return mixture.error();
  const Formula& parsed = mixture->formula;
  XrayComposition c;
  c.name = std::string(formula);
  c.density = mixture->density;
  bool mass_known = true;
  for (const FormulaElement& e : parsed.elements) {
    const Result<double> mass = atom_mass(e);
    if (!mass.ok()) {
      if (options.density || c.density)
        return make_error(mass.kind(), mass.error().message + ": give a formula of listed isotopes");
      mass_known = false;
    }
    c.atoms.push_back(XrayAtoms{e.symbol, e.count, mass.ok() ? std::optional<double>(*mass) : std::nullopt});
  }
  Result<XrayMaterial> m = xray_material(c, energy_kev, options);
  if (!m.ok()) return m;
  if (!mass_known) m->mass.reset();
  // Where a density came from (the element table, a component's @n) is said
  // beside the values, unless the caller's own density replaced it.
  if (!options.density)
    for (const std::string& note : mixture->notes) m.add_warning(note);
  for (const std::string& w : mixture.warnings()) m.add_warning(w);
  return m;
}

std::string xray_material_json(const XrayMaterial& m) {
  // The fields of the table, a scope at a time: the material's own, then
  // per_atom, then each element.
  const auto put = [&m](json::Object& o, XrayScope scope, std::size_t index) {
    for (const XrayField& f : xray_material_fields()) {
      if (f.scope != scope) continue;
      if (f.kind == XrayValueKind::kText)
        o.string(f.name, xray_text(m, f, index));
      else
        o.number(f.name, xray_value(m, f, index));
    }
  };
  std::string out;
  {
    json::Object o(out);
    put(o, XrayScope::kMaterial, 0);
    {
      json::Object a(o.key("per_atom"));
      put(a, XrayScope::kPerAtom, 0);
    }
    json::Array elements(o.key("elements"));
    for (std::size_t i = 0; i < m.elements.size(); ++i) {
      json::Object el(elements.next());
      put(el, XrayScope::kElement, i);
    }
  }
  return out;
}

}  // namespace talvo
