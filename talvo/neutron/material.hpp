// A material's neutron scattering and absorption in double precision, from
// the full published table: lengths (complex where absorption is strong),
// cross-sections per atom, the scattering-length density, attenuation,
// transmission and the weights of the partial structure factors.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/elements/elements.hpp"
#include "talvo/elements/formula.hpp"
#include "talvo/elements/composition.hpp"
#include "talvo/neutron/neutron_table.hpp"
#include "talvo/status.hpp"

namespace talvo {

// Mass of the neutron in u (CODATA 2018).
inline constexpr double kNeutronMass = 1.00866491595;
// The wavelength of 2200 m/s neutrons, to which the tabulated absorption refers.
inline constexpr double kThermalWavelength = 1.798;

struct MaterialOptions {
  std::optional<double> density;           // g/cm3
  std::optional<double> number_density;    // atoms per cubic Angstrom (give one of the two, or neither)
  double wavelength = kThermalWavelength;  // Angstrom: absorption scales as wavelength / 1.798
  std::optional<double> thickness;         // cm, for the transmission
};

// One element of the material: its lengths and cross-sections are those of
// its isotope mixture (the element's mean length, its summed cross-sections).
struct MaterialElement {
  std::string symbol;
  double count = 0.0;                  // atoms per formula unit
  double fraction = 0.0;               // atomic fraction c
  double b_coh = 0.0, b_coh_im = 0.0;  // fm, the mean length
  double b_free = 0.0;                 // fm, free-atom length
  double sigma_coh = 0.0;              // 4 pi |bbar|^2 / 100, barn
  double sigma_scatt = 0.0, sigma_free = 0.0, sigma_abs_2200 = 0.0;
  double mass = 0.0;  // amu
};

// The weight of the pair's partial: w = c^2 b^2 (like), 2 c c' b b' (unlike).
struct MaterialPartial {
  std::string pair;          // "H-O"
  double weight = 0.0;       // w / 100, barn
  double faber_ziman = 0.0;  // w / <b>^2
};

struct PerAtom {
  double b_coh = 0.0, b_coh_im = 0.0, b_free = 0.0;                              // fm
  double sigma_coh = 0.0, sigma_inc = 0.0, sigma_scatt = 0.0, sigma_free = 0.0;  // barn
  double sigma_abs_2200 = 0.0, sigma_abs = 0.0;                                  // barn; sigma_abs at the wavelength
};

struct Material {
  std::string formula;
  double atoms = 0.0;  // per formula unit
  double mass = 0.0;   // amu per formula unit
  double wavelength = kThermalWavelength;
  std::optional<double> density, number_density;  // g/cm3 and atoms per A3: both or neither
  PerAtom per_atom;
  // With a density only.
  std::optional<double> sld, sld_im;                 // 1e-6 per A^2
  std::optional<double> mu_abs, mu_scatt, mu_total;  // per cm
  std::optional<double> penetration_depth;           // cm, 1 / mu_total
  std::optional<double> transmission;                // exp(-mu_total t), with a thickness too
  std::vector<MaterialElement> elements;
  std::vector<MaterialPartial> partials;  // like pairs in element order, then l < m
};

enum MaterialCode {
  kMaterialBadOption = 1,       // a density, number density, wavelength or thickness that cannot be
  kMaterialBadComposition = 2,  // no elements, or an amount or fraction that is not above 0
  kMaterialNotInTable = 3,      // an element or isotope the table does not hold, or holds without values
};

// The material of a composition (its density is not used: give it in the
// options). Natural elements are looked up with mass number 0.
Status compute_material(const Composition& c, const NeutronTable& table, const MaterialOptions& options,
                        Material& material);

// The composition of a formula: its elements in order, each isotope with its
// share of the element (natural atoms have mass number 0).
Composition composition_of(const Formula& formula);

// parse_formula, composition_of and compute_material in one.
Status material_from_formula(std::string_view formula, const NeutronTable& table, const MaterialOptions& options,
                             Material& material);

// The material as one JSON object: formula, atoms, mass, wavelength, density,
// number_density, per_atom {...}, sld, sld_im, mu_abs, mu_scatt, mu_total,
// penetration_depth, transmission, elements [...], partials [...]. Numbers
// are the shortest text that reads back to the same double; a value not
// known is null.
std::string material_json(const Material& material);

}  // namespace talvo
