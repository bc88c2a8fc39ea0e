#include "talvo/neutron/material_fields.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "talvo/elements/constants.hpp"

namespace talvo {
namespace {

using S = MaterialScope;

constexpr MaterialField kFields[] = {
    {"atoms", "per formula unit", "atoms in one formula unit", S::kMaterial, false, true},
    {"mass", "amu", "mass of one formula unit", S::kMaterial, false, true},
    {"wavelength", "A", "neutron wavelength", S::kMaterial, true, true},
    {"density", "g/cm3", "mass density", S::kMaterial, false, true},
    {"number_density", "atoms/A3", "atoms per volume", S::kMaterial, false, true},

    {"b_coh", "fm", "bound coherent scattering length, real part", S::kPerAtom, true, true},
    {"b_coh_im", "fm", "bound coherent scattering length, imaginary part (absorption)", S::kPerAtom, true, true},
    {"b_free", "fm", "free-atom coherent scattering length", S::kPerAtom, true, true},
    {"sigma_coh", "barn", "coherent scattering cross-section, 4 pi |b|^2", S::kPerAtom, true, true},
    {"sigma_inc", "barn", "incoherent scattering cross-section", S::kPerAtom, true, true},
    {"sigma_scatt", "barn", "total bound scattering cross-section", S::kPerAtom, true, true},
    {"sigma_free", "barn", "total free-atom scattering cross-section", S::kPerAtom, true, true},
    {"sigma_abs_2200", "barn", "absorption cross-section at 2200 m/s", S::kPerAtom, false, true},
    {"sigma_abs", "barn", "absorption cross-section at the wavelength", S::kPerAtom, true, true},

    {"sld", kSldUnit, "coherent scattering-length density, real part", S::kPerVolume, true, true},
    {"sld_im", kSldUnit, "scattering-length density, imaginary part (absorption)", S::kPerVolume, true, true},
    {"mu_abs", "1/cm", "absorption coefficient", S::kPerVolume, true, true},
    {"mu_scatt", "1/cm", "scattering coefficient", S::kPerVolume, true, true},
    {"mu_total", "1/cm", "total attenuation coefficient", S::kPerVolume, true, true},
    {"penetration_depth", "cm", "depth at which the beam falls to 1/e, 1 / mu_total", S::kPerVolume, true, true},
    {"transmission", "", "transmission of the thickness, exp(-mu_total t)", S::kPerVolume, true, true},

    {"count", "per formula unit", "atoms of the element in one formula unit", S::kElement, false, true},
    {"fraction", "", "atomic fraction of the element", S::kElement, false, true},
    {"b_coh", "fm", "the element's mean coherent scattering length, real part", S::kElement, true, true},
    {"b_coh_im", "fm", "the element's mean coherent scattering length, imaginary part", S::kElement, true, true},
    {"sigma_coh", "barn", "the element's coherent scattering cross-section", S::kElement, true, true},
    {"sigma_scatt", "barn", "the element's total bound scattering cross-section", S::kElement, true, true},
    {"sigma_abs_2200", "barn", "the element's absorption cross-section at 2200 m/s", S::kElement, false, true},
    {"sigma_inc", "barn", "the element's incoherent scattering cross-section", S::kElement, false, true},
    {"sigma_abs", "barn", "the element's absorption cross-section at the wavelength", S::kElement, true, true},
    {"b_free", "fm", "the element's free-atom scattering length", S::kElement, true, false},
    {"sigma_free", "barn", "the element's total free-atom scattering cross-section", S::kElement, true, false},

    {"weight", "barn", "weight of the pair's partial structure factor, c c' Re(b b'*) / 100 (twice for unlike pairs)",
     S::kPartial, true, true},
    {"faber_ziman", "", "Faber-Ziman weight of the pair, the weight over |<b>|^2", S::kPartial, true, true},

    {"sigma_coh", "barn", "coherent scattering cross-section of one formula unit", S::kPerFormulaUnit, true, true},
    {"sigma_inc", "barn", "incoherent scattering cross-section of one formula unit", S::kPerFormulaUnit, true, true},
    {"sigma_scatt", "barn", "total scattering cross-section of one formula unit", S::kPerFormulaUnit, true, true},
    {"sigma_abs", "barn", "absorption cross-section of one formula unit", S::kPerFormulaUnit, true, true},

    {"sld_inc", kSldUnit, "incoherent scattering-length density", S::kPerVolume, true, true},
    {"absorption_length", "cm", "depth at which absorption alone takes the beam to 1/e, 1 / mu_abs", S::kPerVolume,
     true, true},
};

// Where a value of one name lives in a part of the material.
template <class T>
auto per_atom_slot(T& a, std::string_view name) -> decltype(&a.b_coh) {
  if (name == "b_coh") return &a.b_coh;
  if (name == "b_coh_im") return &a.b_coh_im;
  if (name == "b_free") return &a.b_free;
  if (name == "sigma_coh") return &a.sigma_coh;
  if (name == "sigma_inc") return &a.sigma_inc;
  if (name == "sigma_scatt") return &a.sigma_scatt;
  if (name == "sigma_free") return &a.sigma_free;
  if (name == "sigma_abs_2200") return &a.sigma_abs_2200;
  if (name == "sigma_abs") return &a.sigma_abs;
  return nullptr;
}

const MaterialSweep::Column* per_atom_column(const MaterialSweep& s, std::string_view name) {
  if (name == "b_coh") return &s.b_coh;
  if (name == "b_coh_im") return &s.b_coh_im;
  if (name == "b_free") return &s.b_free;
  if (name == "sigma_coh") return &s.sigma_coh;
  if (name == "sigma_inc") return &s.sigma_inc;
  if (name == "sigma_scatt") return &s.sigma_scatt;
  if (name == "sigma_free") return &s.sigma_free;
  if (name == "sigma_abs") return &s.sigma_abs;
  return nullptr;
}

template <class M>
auto per_volume(M& m, std::string_view name) -> decltype(&m.sld) {
  if (name == "sld") return &m.sld;
  if (name == "sld_im") return &m.sld_im;
  if (name == "sld_inc") return &m.sld_inc;
  if (name == "mu_abs") return &m.mu_abs;
  if (name == "mu_scatt") return &m.mu_scatt;
  if (name == "mu_total") return &m.mu_total;
  if (name == "absorption_length") return &m.absorption_length;
  if (name == "penetration_depth") return &m.penetration_depth;
  if (name == "transmission") return &m.transmission;
  return nullptr;
}

const MaterialSweep::Column* per_volume_column(const MaterialSweep& s, std::string_view name) {
  return per_volume(s, name);  // a sweep's columns have the material's names
}

template <class T>
auto per_formula_slot(T& f, std::string_view name) -> decltype(&f.sigma_coh) {
  if (name == "sigma_coh") return &f.sigma_coh;
  if (name == "sigma_inc") return &f.sigma_inc;
  if (name == "sigma_scatt") return &f.sigma_scatt;
  if (name == "sigma_abs") return &f.sigma_abs;
  return nullptr;
}

template <class T>
auto element_slot(T& e, std::string_view name) -> decltype(&e.count) {
  if (name == "count") return &e.count;
  if (name == "fraction") return &e.fraction;
  if (name == "b_coh") return &e.b_coh;
  if (name == "b_coh_im") return &e.b_coh_im;
  if (name == "b_free") return &e.b_free;
  if (name == "sigma_coh") return &e.sigma_coh;
  if (name == "sigma_scatt") return &e.sigma_scatt;
  if (name == "sigma_free") return &e.sigma_free;
  if (name == "sigma_abs_2200") return &e.sigma_abs_2200;
  if (name == "sigma_inc") return &e.sigma_inc;
  if (name == "sigma_abs") return &e.sigma_abs;
  return nullptr;
}

std::optional<double> read(const double* slot) {
  if (!slot) return std::nullopt;
  return *slot;
}

const MaterialSweep::Column* element_column(const MaterialSweep::Element& e, std::string_view name) {
  if (name == "b_coh") return &e.b_coh;
  if (name == "b_coh_im") return &e.b_coh_im;
  if (name == "b_free") return &e.b_free;
  if (name == "sigma_coh") return &e.sigma_coh;
  if (name == "sigma_scatt") return &e.sigma_scatt;
  if (name == "sigma_free") return &e.sigma_free;
  if (name == "sigma_abs") return &e.sigma_abs;
  return nullptr;
}

std::vector<double> copy_of(const MaterialSweep::Column* c) {
  return c ? std::vector<double>(c->begin(), c->end()) : std::vector<double>();
}

}  // namespace

std::span<const MaterialField> material_fields() { return kFields; }

const MaterialField* find_material_field(MaterialScope scope, std::string_view name) {
  for (const MaterialField& f : kFields)
    if (f.scope == scope && f.name == name) return &f;
  return nullptr;
}

std::string material_field_unit_shown(const MaterialField& f) {
  if (f.unit != "barn") return std::string(f.unit);
  if (f.scope == MaterialScope::kPerAtom) return "barn/atom";
  if (f.scope == MaterialScope::kPerFormulaUnit) return "barn/formula unit";
  return "barn";
}

namespace {

template <class T>
auto partial_slot(T& p, std::string_view name) -> decltype(&p.weight) {
  return name == "weight" ? &p.weight : &p.faber_ziman;
}

}  // namespace

double* material_slot(PerAtom& part, const MaterialField& f) {
  return f.scope == MaterialScope::kPerAtom ? per_atom_slot(part, f.name) : nullptr;
}
double* material_slot(PerFormula& part, const MaterialField& f) {
  return f.scope == MaterialScope::kPerFormulaUnit ? per_formula_slot(part, f.name) : nullptr;
}
double* material_slot(MaterialElement& part, const MaterialField& f) {
  return f.scope == MaterialScope::kElement ? element_slot(part, f.name) : nullptr;
}
double* material_slot(MaterialPartial& part, const MaterialField& f) {
  return f.scope == MaterialScope::kPartial ? partial_slot(part, f.name) : nullptr;
}
const double* material_slot(const PerAtom& part, const MaterialField& f) {
  return f.scope == MaterialScope::kPerAtom ? per_atom_slot(part, f.name) : nullptr;
}
const double* material_slot(const PerFormula& part, const MaterialField& f) {
  return f.scope == MaterialScope::kPerFormulaUnit ? per_formula_slot(part, f.name) : nullptr;
}
const double* material_slot(const MaterialElement& part, const MaterialField& f) {
  return f.scope == MaterialScope::kElement ? element_slot(part, f.name) : nullptr;
}
const double* material_slot(const MaterialPartial& part, const MaterialField& f) {
  return f.scope == MaterialScope::kPartial ? partial_slot(part, f.name) : nullptr;
}

bool set_material_value(Material& m, const MaterialField& f, std::optional<double> value) {
  if (f.scope == MaterialScope::kPerVolume) {
    std::optional<double>* slot = per_volume(m, f.name);
    if (slot) *slot = value;
    return slot != nullptr;
  }
  if (f.scope != MaterialScope::kMaterial) return false;
  const double v = value.value_or(std::numeric_limits<double>::quiet_NaN());
  if (f.name == "atoms") m.atoms = v;
  if (f.name == "mass") m.mass = v;
  if (f.name == "wavelength") m.wavelength = v;
  if (f.name == "density") m.density = value;
  if (f.name == "number_density") m.number_density = value;
  return true;
}

std::optional<double> material_value(const Material& m, const MaterialField& f, std::size_t index) {
  switch (f.scope) {
    case MaterialScope::kMaterial:
      if (f.name == "atoms") return m.atoms;
      if (f.name == "mass") return m.mass;
      if (f.name == "wavelength") return m.wavelength;
      if (f.name == "density") return m.density;
      return m.number_density;
    case MaterialScope::kPerAtom:
      return read(material_slot(m.per_atom, f));
    case MaterialScope::kPerFormulaUnit:
      return read(material_slot(m.per_formula, f));
    case MaterialScope::kPerVolume: {
      const std::optional<double>* v = per_volume(m, f.name);
      return v ? *v : std::nullopt;
    }
    case MaterialScope::kElement:
      if (index >= m.elements.size()) return std::nullopt;
      return read(material_slot(m.elements[index], f));
    case MaterialScope::kPartial:
      if (index >= m.partials.size()) return std::nullopt;
      return read(material_slot(m.partials[index], f));
  }
  return std::nullopt;
}

std::vector<double> material_column(const MaterialSweep& s, const MaterialField& f, std::size_t index) {
  if (!f.per_wavelength) return {};
  switch (f.scope) {
    case MaterialScope::kMaterial:
      return copy_of(&s.wavelength);
    case MaterialScope::kPerAtom:
      return copy_of(per_atom_column(s, f.name));
    case MaterialScope::kPerFormulaUnit: {
      // Per formula unit: the per-atom column times the atoms.
      std::vector<double> c = copy_of(per_atom_column(s, f.name));
      for (double& v : c) v *= s.material.atoms;
      return c;
    }
    case MaterialScope::kPerVolume:
      return copy_of(per_volume_column(s, f.name));
    case MaterialScope::kElement:
      if (index >= s.elements.size()) return {};
      return copy_of(element_column(s.elements[index], f.name));
    case MaterialScope::kPartial:
      if (index >= s.partials.size()) return {};
      return copy_of(f.name == "weight" ? &s.partials[index].weight : &s.partials[index].faber_ziman);
  }
  return {};
}

}  // namespace talvo
