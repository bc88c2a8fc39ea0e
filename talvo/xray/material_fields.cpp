#include "talvo/xray/material_fields.hpp"

#include "talvo/elements/constants.hpp"

namespace talvo {
namespace {

using S = XrayScope;
using P = XrayPer;
using K = XrayValueKind;
using N = XrayNeeds;

// The accessors: a member of the material, or of its element `index`.
template <auto member>
std::optional<double> own(const XrayMaterial& m, std::size_t) {
  return m.*member;
}
template <auto member>
std::optional<double> of_element(const XrayMaterial& m, std::size_t index) {
  return m.elements[index].*member;
}
std::string formula_of(const XrayMaterial& m, std::size_t) { return m.formula; }
std::string f_table_of(const XrayMaterial& m, std::size_t) { return std::string(dispersion_table_name(m.f_table)); }
std::string symbol_of(const XrayMaterial& m, std::size_t index) { return m.elements[index].symbol; }

using M = XrayMaterial;
using E = XrayMaterialElement;

constexpr XrayField kFields[] = {
    {"energy", "", "keV", P::kNone, "photon energy", S::kMaterial, K::kNumber, N::kNothing, true, own<&M::energy>,
     nullptr},
    {"wavelength", "", "A", P::kNone, "photon wavelength, hc / E", S::kMaterial, K::kNumber, N::kNothing, true,
     own<&M::wavelength>, nullptr},
    {"formula", "", "", P::kNone, "the formula as given", S::kMaterial, K::kText, N::kNothing, false, nullptr,
     formula_of},
    {"f_table", "", "", P::kNone,
     "the table of every f1, f2 and the photoabsorption: henke93 (Henke et al. 1993, to 30 keV) or chantler-ffast "
     "(Chantler's FFAST, above)",
     S::kMaterial, K::kText, N::kNothing, true, nullptr, f_table_of},
    {"atoms", "", "", P::kFormulaUnit, "number of atoms", S::kMaterial, K::kNumber, N::kNothing, true, own<&M::atoms>,
     nullptr},
    {"electrons", "", "", P::kFormulaUnit, "number of electrons, sum n Z", S::kMaterial, K::kNumber, N::kNothing, true,
     own<&M::electrons>, nullptr},
    {"mass", "", "amu", P::kFormulaUnit, "mass, where every element's mass is known", S::kMaterial, K::kOptionalNumber,
     N::kNothing, true, own<&M::mass>, nullptr},
    {"f1", "", "electrons", P::kFormulaUnit, "atomic scattering factor f1, sum n f1", S::kMaterial, K::kNumber,
     N::kNothing, true, own<&M::f1>, nullptr},
    {"f2", "", "electrons", P::kFormulaUnit, "atomic scattering factor f2 (absorption), sum n f2", S::kMaterial,
     K::kNumber, N::kNothing, true, own<&M::f2>, nullptr},
    {"density", "", "g/cm3", P::kNone, "mass density", S::kMaterial, K::kOptionalNumber, N::kDensity, true,
     own<&M::density>, nullptr},
    {"number_density", "", "atoms/A3", P::kNone, "atoms per volume", S::kMaterial, K::kOptionalNumber, N::kDensity,
     true, own<&M::number_density>, nullptr},
    {"sld", "", kSldUnit, P::kNone, "X-ray scattering-length density, real part, r_e sum N f1", S::kMaterial,
     K::kOptionalNumber, N::kDensity, true, own<&M::sld>, nullptr},
    {"sld_im", "", kSldUnit, P::kNone, "X-ray scattering-length density, imaginary part (absorption), r_e sum N f2",
     S::kMaterial, K::kOptionalNumber, N::kDensity, true, own<&M::sld_im>, nullptr},
    {"delta", "", "", P::kNone, "refractive index decrement, n = 1 - delta + i beta", S::kMaterial, K::kOptionalNumber,
     N::kDensity, true, own<&M::delta>, nullptr},
    {"beta", "", "", P::kNone, "refractive index, imaginary part (absorption)", S::kMaterial, K::kOptionalNumber,
     N::kDensity, true, own<&M::beta>, nullptr},
    {"critical_angle", "", "degrees", P::kNone,
     "critical angle of total external reflection, sqrt(2 delta) (none where delta is not above 0)", S::kMaterial,
     K::kOptionalNumber, N::kDensity, true, own<&M::critical_angle>, nullptr},
    {"mu_photo", "", "1/cm", P::kNone, "photoabsorption coefficient", S::kMaterial, K::kOptionalNumber, N::kDensity,
     true, own<&M::mu_photo>, nullptr},
    {"mu_coh", "", "1/cm", P::kNone, "coherent (Rayleigh) scattering coefficient", S::kMaterial, K::kOptionalNumber,
     N::kDensity, true, own<&M::mu_coh>, nullptr},
    {"mu_incoh", "", "1/cm", P::kNone, "incoherent (Compton) scattering coefficient", S::kMaterial, K::kOptionalNumber,
     N::kDensity, true, own<&M::mu_incoh>, nullptr},
    {"mu_total", "", "1/cm", P::kNone, "total attenuation coefficient, mu_photo + mu_coh + mu_incoh", S::kMaterial,
     K::kOptionalNumber, N::kDensity, true, own<&M::mu_total>, nullptr},
    {"attenuation_length_photo", "", "cm", P::kNone, "depth at which photoabsorption alone takes the beam to 1/e",
     S::kMaterial, K::kOptionalNumber, N::kDensity, true, own<&M::attenuation_length_photo>, nullptr},
    {"attenuation_length", "", "cm", P::kNone, "depth at which the beam falls to 1/e, 1 / mu_total", S::kMaterial,
     K::kOptionalNumber, N::kDensity, true, own<&M::attenuation_length>, nullptr},
    {"thickness", "", "cm", P::kNone, "thickness of the sample", S::kMaterial, K::kOptionalNumber, N::kThickness, true,
     own<&M::thickness>, nullptr},
    {"transmission_photo", "", "", P::kNone, "transmission of the thickness under photoabsorption alone", S::kMaterial,
     K::kOptionalNumber, N::kThickness, true, own<&M::transmission_photo>, nullptr},
    {"transmission", "", "", P::kNone, "transmission of the thickness, exp(-mu_total t)", S::kMaterial,
     K::kOptionalNumber, N::kThickness, true, own<&M::transmission>, nullptr},

    {"sigma_photo", "", "barn", P::kAtom, "photoabsorption cross-section, 2 r_e lambda f2", S::kPerAtom, K::kNumber,
     N::kNothing, true, own<&M::sigma_photo>, nullptr},
    {"sigma_coh", "", "barn", P::kAtom, "coherent (Rayleigh) scattering cross-section", S::kPerAtom, K::kNumber,
     N::kNothing, true, own<&M::sigma_coh>, nullptr},
    {"sigma_incoh", "", "barn", P::kAtom, "incoherent (Compton) scattering cross-section", S::kPerAtom, K::kNumber,
     N::kNothing, true, own<&M::sigma_incoh>, nullptr},
    {"sigma_total", "", "barn", P::kAtom, "total attenuation cross-section", S::kPerAtom, K::kNumber, N::kNothing, true,
     own<&M::sigma_total>, nullptr},

    {"symbol", "", "", P::kNone, "the element's symbol", S::kElement, K::kText, N::kNothing, false, nullptr, symbol_of},
    {"z", "", "", P::kNone, "atomic number", S::kElement, K::kWhole, N::kNothing, false, of_element<&E::z>, nullptr},
    {"count", "", "", P::kFormulaUnit, "atoms of the element", S::kElement, K::kNumber, N::kNothing, false,
     of_element<&E::count>, nullptr},
    {"fraction", "", "", P::kNone, "atomic fraction of the element", S::kElement, K::kNumber, N::kNothing, false,
     of_element<&E::fraction>, nullptr},
    {"f1", "", "electrons", P::kNone, "the element's atomic scattering factor f1", S::kElement, K::kNumber, N::kNothing,
     true, of_element<&E::f1>, nullptr},
    {"f2", "", "electrons", P::kNone, "the element's atomic scattering factor f2", S::kElement, K::kNumber, N::kNothing,
     true, of_element<&E::f2>, nullptr},
    {"f_prime", "f'", "electrons", P::kNone, "the element's dispersion correction f' = f1 - Z*", S::kElement,
     K::kNumber, N::kNothing, true, of_element<&E::f_prime>, nullptr},
    {"f_double_prime", "f''", "electrons", P::kNone, "the element's dispersion correction f'' = f2", S::kElement,
     K::kNumber, N::kNothing, false, of_element<&E::f_double_prime>, nullptr},
    {"f_rel", "", "electrons", P::kNone, "the table's relativistic correction (see dispersion())", S::kElement,
     K::kNumber, N::kNothing, false, of_element<&E::f_rel>, nullptr},
    {"f_nt", "", "electrons", P::kNone, "the table's nuclear Thomson term (see dispersion())", S::kElement, K::kNumber,
     N::kNothing, false, of_element<&E::f_nt>, nullptr},
    {"sigma_photo", "", "barn", P::kNone, "the element's photoabsorption cross-section per atom", S::kElement,
     K::kNumber, N::kNothing, false, of_element<&E::sigma_photo>, nullptr},
    {"sigma_coh", "", "barn", P::kNone, "the element's coherent (Rayleigh) scattering cross-section per atom",
     S::kElement, K::kNumber, N::kNothing, false, of_element<&E::sigma_coh>, nullptr},
    {"sigma_incoh", "", "barn", P::kNone, "the element's incoherent (Compton) scattering cross-section per atom",
     S::kElement, K::kNumber, N::kNothing, false, of_element<&E::sigma_incoh>, nullptr},
};

bool has_element(const XrayMaterial& m, const XrayField& f, std::size_t index) {
  return f.scope != XrayScope::kElement || index < m.elements.size();
}

}  // namespace

std::span<const XrayField> xray_material_fields() { return kFields; }

const XrayField* find_xray_field(XrayScope scope, std::string_view name) {
  for (const XrayField& f : kFields)
    if (f.scope == scope && f.name == name) return &f;
  return nullptr;
}

std::string_view xray_field_symbol(const XrayField& f) { return f.symbol.empty() ? f.name : f.symbol; }

std::string xray_field_unit_shown(const XrayField& f) {
  const std::string_view per = f.per == XrayPer::kFormulaUnit ? "per formula unit"
                               : f.per == XrayPer::kAtom      ? "per atom"
                                                              : "";
  if (f.unit.empty() || per.empty()) return std::string(f.unit.empty() ? per : f.unit);
  return std::string(f.unit) + " " + std::string(per);
}

std::optional<double> xray_value(const XrayMaterial& m, const XrayField& f, std::size_t index) {
  if (!f.number || !has_element(m, f, index)) return std::nullopt;
  return f.number(m, index);
}

std::string xray_text(const XrayMaterial& m, const XrayField& f, std::size_t index) {
  if (!f.text || !has_element(m, f, index)) return {};
  return f.text(m, index);
}

bool xray_field_known(const XrayMaterial& m, const XrayField& f) {
  switch (f.needs) {
    case XrayNeeds::kNothing:
      return true;
    case XrayNeeds::kDensity:
      return m.density.has_value();
    case XrayNeeds::kThickness:
      return m.density.has_value() && m.thickness.has_value();
  }
  return false;
}

}  // namespace talvo
