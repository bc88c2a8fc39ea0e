// A material's neutron scattering and absorption in double precision, from
// the full published table: lengths (complex where absorption is strong),
// cross-sections per atom, the scattering-length density, attenuation,
// transmission and the weights of the partial structure factors.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/elements/composition.hpp"
#include "talvo/elements/elements.hpp"
#include "talvo/elements/formula.hpp"
#include "talvo/neutron/neutron_table.hpp"
#include "talvo/result.hpp"

namespace talvo {

// Mass of the neutron in u (CODATA 2018).
inline constexpr double kNeutronMass = 1.00866491595;
// The wavelength of 2200 m/s neutrons, to which the tabulated absorption refers.
inline constexpr double kThermalWavelength = 1.798;

struct MaterialOptions {
  std::optional<double> density;           // g/cm3
  std::optional<double> number_density;    // atoms per cubic Angstrom (give one of the two, or neither)
  double wavelength = kThermalWavelength;  // Angstrom
  std::optional<double> thickness;         // cm, for the transmission
  // The resonant rare earths follow their energy-dependent lengths (Lynn &
  // Seeger 1990), at 1.798 A too; false keeps the 2200 m/s list for every
  // nucleus, with absorption scaled as wavelength / 1.798 (the 1/v law).
  bool energy_dependent = true;
  // Asked between the passes of a sweep over its wavelengths (kCancelled once it says stop).
  StopCheck stop{};
};

// Where an element's length and absorption came from.
enum class LengthSource {
  kThermalList,     // the 2200 m/s list (Sears 1992), absorption by the 1/v law
  kEnergyDependent  // b(E) of Lynn & Seeger 1990 for at least one of its isotopes
};
std::string_view length_source_name(LengthSource source);

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
  double sigma_inc = 0.0;  // barn: sigma_scatt - sigma_coh; for a resonant element its thermal value
  double sigma_abs = 0.0;  // barn, at the wavelength
  double mass = 0.0;       // amu
  LengthSource source = LengthSource::kThermalList;
};

// The weight of the pair's partial with complex lengths, as the scattered
// intensity carries it: w = c^2 |b|^2 (like), 2 c c' Re(b b'*) (unlike).
struct MaterialPartial {
  std::string pair;          // "H-O"
  double weight = 0.0;       // w / 100, barn
  double faber_ziman = 0.0;  // w / |<b>|^2
};

struct PerAtom {
  double b_coh = 0.0, b_coh_im = 0.0, b_free = 0.0;                              // fm
  double sigma_coh = 0.0, sigma_inc = 0.0, sigma_scatt = 0.0, sigma_free = 0.0;  // barn
  double sigma_abs_2200 = 0.0, sigma_abs = 0.0;                                  // barn; sigma_abs at the wavelength
};

// Cross-sections of one formula unit: the per-atom ones times the atoms.
struct PerFormula {
  double sigma_coh = 0.0, sigma_inc = 0.0, sigma_scatt = 0.0, sigma_abs = 0.0;  // barn
};

struct Material {
  std::string formula;
  double atoms = 0.0;  // per formula unit
  double mass = 0.0;   // amu per formula unit
  double wavelength = kThermalWavelength;
  std::optional<double> density, number_density;  // g/cm3 and atoms per A3: both or neither
  PerAtom per_atom;
  PerFormula per_formula;
  // With a density only.
  std::optional<double> sld, sld_im;                 // 1e-6 per A^2: 10 n Re b, 0.01 n sigma_abs / (2 lambda)
  std::optional<double> sld_inc;                     // 1e-6 per A^2: 10 n sqrt(100 sigma_inc / (4 pi)), per atom
  std::optional<double> mu_abs, mu_scatt, mu_total;  // per cm
  std::optional<double> absorption_length;           // cm, 1 / mu_abs
  std::optional<double> penetration_depth;           // cm, 1 / mu_total
  std::optional<double> transmission;                // exp(-mu_total t), with a thickness too
  std::vector<MaterialElement> elements;
  std::vector<MaterialPartial> partials;  // like pairs in element order, then l < m
  std::vector<std::string> notes;         // where a density or length came from, what needs a density
};

// The values of a material that change with the wavelength, one entry per
// wavelength; `material` holds the rest, and the values of the first
// wavelength. A column that needs a density (or a thickness) is empty without
// one. The columns are views into one buffer that the sweep owns (copies get
// their own).
struct MaterialSweep {
  using Column = std::span<double>;
  struct Element {
    Column b_coh, b_coh_im, b_free, sigma_coh, sigma_scatt, sigma_free, sigma_abs;
  };
  struct Partial {
    Column weight, faber_ziman;
  };
  Material material;
  Column wavelength;
  Column b_coh, b_coh_im, b_free, sigma_coh, sigma_inc, sigma_scatt, sigma_free, sigma_abs;  // per atom
  Column sld, sld_im, sld_inc, mu_abs, mu_scatt, mu_total, absorption_length, penetration_depth;
  Column transmission;
  std::vector<Element> elements;  // as material.elements
  std::vector<Partial> partials;  // as material.partials

  MaterialSweep() = default;
  MaterialSweep(const MaterialSweep& other);
  MaterialSweep& operator=(const MaterialSweep& other);
  MaterialSweep(MaterialSweep&&) noexcept = default;
  MaterialSweep& operator=(MaterialSweep&&) noexcept = default;
  ~MaterialSweep() = default;

  std::size_t size() const { return wavelength.size(); }
  // The whole material at wavelength i.
  Material at(std::size_t i) const;
  // The warnings of wavelength i alone: those material() gives at it.
  std::vector<std::string> warnings_at(std::size_t i) const;

  // A warning of one wavelength (kept for the wavelengths that have any).
  struct WavelengthWarning {
    std::size_t index;
    std::string text;
  };

 private:
  friend class MaterialSweepColumns;
  std::unique_ptr<double[]> storage_;
  std::size_t stored_ = 0;
  std::vector<WavelengthWarning> warnings_;  // by wavelength, in order
};

// The material of a composition at options.wavelength (its density is not
// used: give it in the options). Natural elements are looked up with mass
// number 0. Errors: kInvalidArgument for a density, number density,
// wavelength or thickness that cannot be, a composition with no elements or
// an amount or share not above 0; kNotFound for an element or isotope the
// table does not hold, or holds without values; kOutOfRange where the
// numbers are too large to be finite.
Result<Material> compute_material(const Composition& c, const NeutronTable& table, const MaterialOptions& options);

// A density converted with the material's masses and atomic mass unit:
// g/cm3 (density above 0) to atoms per cubic Angstrom, or atoms per cubic
// Angstrom (density below 0, its magnitude) to g/cm3; exactly the
// number_density (or density) compute_material gives the composition.
// kInvalidArgument for a density of 0 or one that is not finite, and the
// errors of compute_material.
Result<double> convert_density(double density, const Composition& c, const NeutronTable& table);

// The composition of a formula: its elements in order, each isotope with its
// share of the element (natural atoms have mass number 0).
Composition composition_of(const Formula& formula);

// The material of a formula, a mixture and densities included (see
// mixture.hpp): "Gd2O3", "D2O@1n", "50%vol H2O@1 // D2O@1n". A density in the
// formula and one in the options are refused together; a pure element with
// neither takes the element table's. Warnings: lengths outside their table,
// Cd below 1 A.
Result<Material> material(std::string_view formula, const NeutronTable& table, const MaterialOptions& options);
// The same, by the name that says what it starts from.
inline Result<Material> material_from_formula(std::string_view formula, const NeutronTable& table,
                                              const MaterialOptions& options) {
  return material(formula, table, options);
}

// The same at every wavelength of the span (options.wavelength is not used),
// the parts that do not depend on it computed once.
Result<MaterialSweep> material_sweep(std::string_view formula, const NeutronTable& table,
                                     const MaterialOptions& options, std::span<const double> wavelengths);

// The material of a composition at each wavelength.
Result<MaterialSweep> composition_sweep(const Composition& c, const NeutronTable& table, const MaterialOptions& options,
                                        std::span<const double> wavelengths);

// The material as one JSON object: its formula, then its values in the
// order of material_fields() (talvo/neutron/material_fields.hpp), those per
// atom in "per_atom", per formula unit in "per_formula", each element's in
// "elements" (with its symbol and where its lengths came from, "source"),
// each pair's in "partials" (with its "pair"), then "notes" and "units".
// Numbers are the shortest text that reads back to the same double; a value
// not known is null.
std::string material_json(const Material& material);
// With the warnings that came with it ("warnings": [...]).
std::string material_json(const Material& material, const std::vector<std::string>& warnings);

// The unit of each value of material_json by name, in the order of its
// "units" object: each name of material_fields() once, every cross-section
// as "sigma_*" (barn).
struct MaterialUnit {
  std::string_view key, unit;
};
std::span<const MaterialUnit> material_units();

// A sweep as one JSON object laid out as material_json's, each value that
// changes with the wavelength an array.
std::string material_sweep_json(const MaterialSweep& sweep, const std::vector<std::string>& warnings = {});

}  // namespace talvo
