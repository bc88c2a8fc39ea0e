#include "talvo/classic/averages.hpp"

#include <algorithm>
#include <cmath>

#include "talvo/classic/fields.hpp"

namespace talvo::classic {
namespace {

// The report's own constants, in single precision, as the calculator
// computes the report with them: its atomic mass unit is the 1980 value (1.6605655e-24 g,
// not CODATA 2018's 1.66053906660 of talvo/elements/constants.hpp), so its
// number densities differ from the modern material's in the sixth digit
// (water at 1 g/cm3: 0.1002819 here, 0.1002835 there). Changing them would
// change every report the calculator writes.
constexpr float kBarnsPerFm2 = 0.12566371f;  // 4 pi / 100
constexpr float kFourPi = 12.566371f;
constexpr float kAbsorptionAt1A = 0.5562009f;
constexpr float kWavelength = 1.8f;
constexpr float kAmu = 1.6605655f;
constexpr float kSldScale = 10.0f;
constexpr float kFm2ToBarn = 0.01f;

}  // namespace

IsotopeData isotope_data(const NuclearEntry& e) { return {e.b, static_cast<float>(e.mass), e.sig_scatt, e.sig_abs}; }

Results compute_averages(const Composition& c, const std::vector<std::vector<const NuclearEntry*>>& matched) {
  std::vector<std::vector<IsotopeData>> data;
  for (const auto& element : matched) {
    data.emplace_back();
    for (const NuclearEntry* e : element) data.back().push_back(isotope_data(*e));
  }
  return compute_averages(c, data);
}

Results compute_averages(const Composition& c, const std::vector<std::vector<IsotopeData>>& data) {
  Results r;
  const std::size_t ne = c.elements.size();
  // The amounts and fractions as the single-precision values they were typed or read as.
  const auto x = [&](std::size_t k) { return static_cast<float>(c.elements[k].amount); };
  const auto y = [&](std::size_t k, std::size_t l) { return static_cast<float>(c.elements[k].isotopes[l].fraction); };
  float n_atoms = 0.0f;
  for (std::size_t k = 0; k < ne; ++k) n_atoms += x(k);
  r.atoms = n_atoms;

  float big_b = 0.0f, b_free = 0.0f, s_coh = 0.0f, s_b = 0.0f, s_free = 0.0f, mass = 0.0f, s_abs = 0.0f;
  for (std::size_t k = 0; k < ne; ++k) {
    const Element& e = c.elements[k];
    float bbar = 0.0f;
    for (std::size_t l = 0; l < e.isotopes.size(); ++l) {
      const IsotopeData& d = data[k][l];
      const float w = x(k) * y(k, l);
      big_b += w * d.b;
      b_free += w * fn_bf(d.b, d.mass);
      s_b += w * d.sig_scatt;
      s_free += w * fn_sf(d.sig_scatt, d.mass);
      mass += w * d.mass;
      s_abs += w * d.sig_abs;
      bbar += y(k, l) * d.b;
    }
    r.b_mean.push_back(bbar);
    // An element's coherent scattering is that of its mean length: for a mixture
    // of isotopes the rest of the bound scattering is isotope-disorder scattering,
    // which is incoherent. A natural element or a single isotope (y = 1) gives
    // the same value as w 0.12566371 b^2.
    s_coh += x(k) * kBarnsPerFm2 * (bbar * bbar);
  }
  Totals& u = r.unit;
  u.atomic_weight = mass;
  u.b_bound = big_b;
  u.b_free = b_free;
  u.sig_coh = s_coh;
  // The published lengths and cross-sections are rounded separately: where a
  // nucleus has no incoherent scattering (Xe, 58Fe, ...) the difference can come
  // out a little below zero, which no cross-section can be.
  u.sig_inc = std::max(s_b - s_coh, 0.0f);
  u.sig_bound = s_b;
  u.sig_free = s_free;
  u.sig_abs = s_abs;
  u.sig_abs1 = kAbsorptionAt1A * s_abs;
  u.sig_abs18 = kWavelength * u.sig_abs1;
  u.sig_coh_4pi = u.sig_coh / kFourPi;
  u.sig_inc_4pi = u.sig_inc / kFourPi;
  u.sig_bound_4pi = u.sig_bound / kFourPi;
  u.sig_free_4pi = u.sig_free / kFourPi;
  const float k0 = kBarnsPerFm2 * (big_b * big_b);

  Totals& a = r.atom;
  a.atomic_weight = u.atomic_weight / n_atoms;
  a.b_bound = u.b_bound / n_atoms;
  a.b_free = u.b_free / n_atoms;
  a.sig_coh = u.sig_coh / n_atoms;
  a.sig_inc = u.sig_inc / n_atoms;
  a.sig_bound = u.sig_bound / n_atoms;
  a.sig_free = u.sig_free / n_atoms;
  a.sig_abs = u.sig_abs / n_atoms;
  a.sig_abs1 = u.sig_abs1 / n_atoms;
  a.sig_abs18 = u.sig_abs18 / n_atoms;
  a.sig_coh_4pi = u.sig_coh / (kFourPi * n_atoms);
  a.sig_inc_4pi = u.sig_inc / (kFourPi * n_atoms);
  a.sig_bound_4pi = u.sig_bound / (kFourPi * n_atoms);
  a.sig_free_4pi = u.sig_free / (kFourPi * n_atoms);

  for (std::size_t k = 0; k < ne; ++k) r.fraction.push_back(x(k) / n_atoms);

  const float d = static_cast<float>(c.density);
  r.density_known = std::fabs(d) > kSmall;
  if (d > kSmall) {
    r.units_per_a3 = d / (kAmu * mass);
    r.atoms_per_a3 = n_atoms * d / (kAmu * mass);
    r.density_gcc = d;
  } else if (d < -kSmall) {
    r.units_per_a3 = -d / n_atoms;
    r.atoms_per_a3 = -d;
    r.density_gcc = (-d) * kAmu * mass / n_atoms;
  }
  const float n2 = n_atoms * n_atoms;
  r.t0_unit_with_density = r.units_per_a3 > kSmall;
  r.t0_unit = r.t0_unit_with_density ? r.units_per_a3 * k0 : k0;
  r.t0_atom_with_density = r.atoms_per_a3 > kSmall;
  r.t0_atom = r.t0_atom_with_density ? k0 * r.atoms_per_a3 / n2 : k0 / n2;
  if (r.t0_atom_with_density) {
    r.sld = r.atoms_per_a3 * kSldScale * big_b / n_atoms;
    r.mu = r.atoms_per_a3 * u.sig_abs18 / n_atoms;
    r.mean_free_path = n_atoms / (r.atoms_per_a3 * u.sig_abs18);
  }

  // Weights of the partial functions: like pairs first, then l < m.
  const float bmean = big_b / n_atoms;
  const float bmean2 = bmean * bmean;
  const auto add_pair = [&](int l, int m) {
    const float xl = x(static_cast<std::size_t>(l));
    const float xm = x(static_cast<std::size_t>(m));
    const float bl = r.b_mean[static_cast<std::size_t>(l)];
    const float bm = r.b_mean[static_cast<std::size_t>(m)];
    const float cl = r.fraction[static_cast<std::size_t>(l)];
    const float cm = r.fraction[static_cast<std::size_t>(m)];
    PairValue t{l, m, 0.0f, 0.0f};
    float w = 0.0f;
    if (l == m) {
      t.value = xl * 0.01f * (bl * bl);
      w = (cl * cl) * (bl * bl);
    } else {
      t.value = xl * 0.02f * bl * bm;
      t.reverse = t.value * xm / xl;
      w = 2.0f * cl * bl * cm * bm;
    }
    r.tr_unit.push_back(t);
    r.tr_atom.push_back(PairValue{l, m, t.value / n_atoms, t.reverse / n_atoms});
    r.fz.push_back(PairValue{l, m, w / bmean2, w * kFm2ToBarn});
  };
  const std::size_t pairs = ne * (ne + 1) / 2;
  r.tr_unit.reserve(pairs);
  r.tr_atom.reserve(pairs);
  r.fz.reserve(pairs);
  for (std::size_t l = 0; l < ne; ++l) add_pair(static_cast<int>(l), static_cast<int>(l));
  for (std::size_t l = 0; l < ne; ++l)
    for (std::size_t m = l + 1; m < ne; ++m) add_pair(static_cast<int>(l), static_cast<int>(m));
  return r;
}

}  // namespace talvo::classic
