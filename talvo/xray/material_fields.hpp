// The values of an X-ray material, one table: each value's name (the key of
// xray_material_json, the attribute of the Python result, the row of
// talvo-tools xray, the field of the page), its unit, what it is and what it
// is per, what it needs besides the formula and the energy, and where it is
// read from. Every front end takes names, units and meanings from here.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "talvo/xray/xray_material.hpp"

namespace talvo {

// Where a value sits in xray_material_json.
enum class XrayScope {
  kMaterial,  // the material's own, at the top of the object
  kPerAtom,   // the mean over the atoms ("per_atom")
  kElement,   // each element ("elements")
};

// What a value is per, said after its unit where it is shown ("barn per atom").
enum class XrayPer { kNone, kFormulaUnit, kAtom };

// What a value is known with, besides the formula and the energy.
enum class XrayNeeds {
  kNothing,
  kDensity,    // a density: the values per volume
  kThickness,  // a density and a thickness: the transmissions
};

enum class XrayValueKind {
  kText,            // a word ("SiO2", "henke93")
  kWhole,           // a whole number (Z)
  kNumber,          // a number, always known
  kOptionalNumber,  // a number, or nothing where it is not known
};

struct XrayField {
  std::string_view name;     // "sld"
  std::string_view symbol;   // how a table heads the value ("f'"); the name where empty
  std::string_view unit;     // "1e-6/A2"; empty for a number without one
  XrayPer per;               // said after the unit where it is shown
  std::string_view meaning;  // "X-ray scattering-length density, real part"
  XrayScope scope;
  XrayValueKind kind;
  XrayNeeds needs;
  bool in_table;  // a row of talvo-tools xray's plain table (the formula is its title)
  // The value of material m, of its element `index` for the element scope:
  // a number (null for a text), or a text (null for a number). Read them
  // through xray_value and xray_text.
  std::optional<double> (*number)(const XrayMaterial& m, std::size_t index);
  std::string (*text)(const XrayMaterial& m, std::size_t index);
};

// Every value, in the order of xray_material_json: the material's own, per
// atom, then each element's.
std::span<const XrayField> xray_material_fields();

// The field of a scope by name; nothing when there is none.
const XrayField* find_xray_field(XrayScope scope, std::string_view name);

// How a table heads the value: its symbol, else its name.
std::string_view xray_field_symbol(const XrayField& f);

// The unit as a person reads it beside the value, with what it is per:
// "amu per formula unit", "barn per atom", "per formula unit" (a count).
std::string xray_field_unit_shown(const XrayField& f);

// The number of field f of m (of element `index` for the element scope);
// nothing where it is not known, for a text, or for an element m lacks.
std::optional<double> xray_value(const XrayMaterial& m, const XrayField& f, std::size_t index = 0);

// The text of field f of m (of element `index`); empty for a number or an
// element m lacks.
std::string xray_text(const XrayMaterial& m, const XrayField& f, std::size_t index = 0);

// Whether m has what field f needs (a density, a thickness).
bool xray_field_known(const XrayMaterial& m, const XrayField& f);

}  // namespace talvo
