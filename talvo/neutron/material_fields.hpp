// The values of a material, one table: each value's name (the key of
// material_json, the attribute of the Python result, the row of talvo-tools
// xs, the field of the page), its unit, what it is and what it is per. Every
// front end takes names, units and meanings from here.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/neutron/material.hpp"

namespace talvo {

// What a value is per, which is also where it sits in material_json.
enum class MaterialScope {
  kMaterial,        // the material's own: a count, a mass, the wavelength, a density
  kPerAtom,         // the mean over the atoms ("per_atom")
  kPerFormulaUnit,  // one formula unit ("per_formula")
  kPerVolume,       // the material's volume: known with a density only
  kElement,         // each element ("elements")
  kPartial,         // each pair of elements ("partials")
};

struct MaterialField {
  std::string_view name;     // "sigma_coh"
  std::string_view unit;     // "barn"; empty for a number without one
  std::string_view meaning;  // "coherent scattering cross-section"
  MaterialScope scope;
  bool per_wavelength;  // changes with the wavelength: a column of a sweep
  bool in_json;         // in material_json (an element's free-atom values are a sweep's columns only)
};

// Every value, in the order of material_json: the material's own, per atom,
// the first values per volume, the elements', the partials', per formula
// unit, the later values per volume.
std::span<const MaterialField> material_fields();

// The fields in the table's order a scope at a time: use(scope, fields) for
// each run of fields of one scope (the order of a material's JSON and dict).
template <class Use>
void for_each_scope(Use use) {
  const std::span<const MaterialField> fields = material_fields();
  for (std::size_t k = 0; k < fields.size();) {
    const MaterialScope scope = fields[k].scope;
    std::size_t end = k;
    while (end < fields.size() && fields[end].scope == scope) ++end;
    use(scope, fields.subspan(k, end - k));
    k = end;
  }
}

// The field of a scope by name; nothing when there is none.
const MaterialField* find_material_field(MaterialScope scope, std::string_view name);

// The unit as a person reads it beside the value: per atom and per formula
// unit made explicit for cross-sections ("barn/atom", "barn/formula unit").
std::string material_field_unit_shown(const MaterialField& f);

// Where field f lives in one part of a material, to read or to set; null
// for a field of another scope.
double* material_slot(PerAtom& part, const MaterialField& f);
double* material_slot(PerFormula& part, const MaterialField& f);
double* material_slot(MaterialElement& part, const MaterialField& f);
double* material_slot(MaterialPartial& part, const MaterialField& f);
const double* material_slot(const PerAtom& part, const MaterialField& f);
const double* material_slot(const PerFormula& part, const MaterialField& f);
const double* material_slot(const MaterialElement& part, const MaterialField& f);
const double* material_slot(const MaterialPartial& part, const MaterialField& f);

// Sets a value of the material's own or per volume (nothing: not known);
// false for a field of another scope.
bool set_material_value(Material& m, const MaterialField& f, std::optional<double> value);

// The value of field f of m; of element or partial `index` for those scopes.
// Nothing where it is not known (a value per volume without a density).
std::optional<double> material_value(const Material& m, const MaterialField& f, std::size_t index = 0);

// The same at every wavelength of a sweep: its column (a copy), or, for a
// value the same at every wavelength, empty (material_value of
// sweep.material gives it); empty too where it is not known.
std::vector<double> material_column(const MaterialSweep& s, const MaterialField& f, std::size_t index = 0);

}  // namespace talvo
