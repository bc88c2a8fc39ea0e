// talvo.xray_material, talvo.dispersion, talvo.anode_energy and talvo.compton:
// the X-ray API whose routines return Result (errors by kind, warnings as
// TalvoWarning).
#include "talvo/xray/xray_material.hpp"

#include <pybind11/stl.h>

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core.hpp"
#include "results.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/xray/compton.hpp"
#include "talvo/xray/dispersion.hpp"
#include "talvo/xray/material_fields.hpp"

namespace talvo::python {
namespace {

struct XrayElementTag {};
struct XrayMaterialTag {};
struct DispersionTag {};

// --- the fields: the library's table (talvo/xray/material_fields.hpp) ---------

Kind kind_of(const XrayField& f) {
  switch (f.kind) {
    case XrayValueKind::kText:
      return Kind::kText;
    case XrayValueKind::kWhole:
      return Kind::kInt;
    case XrayValueKind::kNumber:
      return Kind::kFloat;
    case XrayValueKind::kOptionalNumber:
      return Kind::kOptionalFloat;
  }
  return Kind::kFloat;
}

// What a value is, in what unit: its attribute's docstring.
std::string doc_of(const XrayField& f) {
  std::string d(f.meaning);
  const std::string unit = xray_field_unit_shown(f);
  if (!unit.empty()) d += ", " + unit;
  return d;
}

// The names of a scope's values, each with its unit: "energy (keV), ...".
std::string names_of(XrayScope scope) {
  std::string out;
  for (const XrayField& f : xray_material_fields()) {
    if (f.scope != scope) continue;
    const std::string unit = xray_field_unit_shown(f);
    out += (out.empty() ? "" : ", ") + std::string(f.name) + (unit.empty() ? "" : " (" + unit + ")");
  }
  return out;
}

// A class's fields and their docstrings, kept for the process (the classes
// hold them). The table's names are literals: their data() ends in a null.
struct ClassFields {
  std::vector<Field> fields;
  std::vector<std::string> docs;
  void add(const XrayField& f) {
    fields.push_back({f.name.data(), kind_of(f)});
    docs.push_back(doc_of(f));
  }
};

// XrayElement: the element scope's values.
const ClassFields& element_fields() {
  static const ClassFields c = [] {
    ClassFields out;
    for (const XrayField& f : xray_material_fields())
      if (f.scope == XrayScope::kElement) out.add(f);
    return out;
  }();
  return c;
}

// XrayMaterial: the material's own values, then per_atom and elements, as
// xray --json holds them.
const ClassFields& material_fields() {
  static const ClassFields c = [] {
    ClassFields out;
    for (const XrayField& f : xray_material_fields())
      if (f.scope == XrayScope::kMaterial) out.add(f);
    out.fields.push_back({"per_atom", Kind::kFloatDict});
    out.docs.push_back("the values per atom, a dict: " + names_of(XrayScope::kPerAtom));
    out.fields.push_back({"elements", Kind::kNested});
    out.docs.push_back("each element of the formula, in its order (XrayElement)");
    return out;
  }();
  return c;
}

py::object value_of(const XrayMaterial& m, const XrayField& f, std::size_t index) {
  switch (f.kind) {
    case XrayValueKind::kText:
      return py::str(xray_text(m, f, index));
    case XrayValueKind::kWhole:
      return py::int_(static_cast<long>(xray_value(m, f, index).value_or(0.0)));
    case XrayValueKind::kNumber:
      return py::float_(xray_value(m, f, index).value_or(0.0));
    case XrayValueKind::kOptionalNumber:
      return optional_float(xray_value(m, f, index));
  }
  return py::none();
}

constexpr std::array<Field, 10> kDispersionFields{{
    {"z", Kind::kInt},
    {"energy", Kind::kFloat},
    {"f_table", Kind::kText},
    {"f1", Kind::kFloat},
    {"f2", Kind::kFloat},
    {"z_star", Kind::kFloat},
    {"f_prime", Kind::kFloat},
    {"f_double_prime", Kind::kFloat},
    {"f_rel", Kind::kFloat},
    {"f_nt", Kind::kFloat},
}};

py::object xray_material(const std::string& formula, const py::object& energy, const py::object& wavelength,
                         std::optional<std::string> anode, const py::object& density, const py::object& thickness) {
  text_arg(formula, "formula");
  XrayMaterialOptions o;
  o.density = quantity_arg(density, "density", Quantity::kDensity);
  o.thickness = quantity_arg(thickness, "thickness", Quantity::kLength);
  const double kev = photon_energy(energy, wavelength, anode);
  const XrayMaterial m = take(xray_material_from_formula(formula, kev, o));
  // The values of xray --json, from the table, in the order of the class's fields.
  py::tuple elements(m.elements.size());
  for (std::size_t i = 0; i < m.elements.size(); ++i) {
    Typed<XrayElementTag> el;
    for (const XrayField& f : xray_material_fields())
      if (f.scope == XrayScope::kElement) el.v.push_back(value_of(m, f, i));
    elements[i] = py::cast(std::move(el));
  }
  py::dict per_atom;
  Typed<XrayMaterialTag> r;
  for (const XrayField& f : xray_material_fields()) {
    if (f.scope == XrayScope::kMaterial) r.v.push_back(value_of(m, f, 0));
    if (f.scope == XrayScope::kPerAtom) per_atom[py::str(std::string(f.name))] = value_of(m, f, 0);
  }
  r.v.push_back(per_atom);
  r.v.push_back(elements);
  return py::cast(std::move(r));
}

py::object dispersion_of(const std::string& element, const py::object& energy, const py::object& wavelength,
                         std::optional<std::string> anode) {
  text_arg(element, "element");
  const Dispersion d = take(dispersion(element, photon_energy(energy, wavelength, anode)));
  Typed<DispersionTag> r;
  r.v = {py::int_(d.z),
         py::float_(d.energy),
         py::str(std::string(dispersion_table_name(d.table))),
         py::float_(d.f1),
         py::float_(d.f2),
         py::float_(d.z_star),
         py::float_(d.f_prime),
         py::float_(d.f_double_prime),
         py::float_(d.f_rel),
         py::float_(d.f_nt)};
  return make_result(std::move(r));
}

double anode(const std::string& name) { return take(anode_energy(text_arg(name, "name"))); }

py::object compton_of(const std::string& formula, const py::object& q_in, const py::object& wavelength_in,
                      const std::string& model, std::optional<int> breit_dirac) {
  const std::optional<double> wavelength = quantity_arg(wavelength_in, "wavelength", Quantity::kWavelength);
  text_arg(formula, "formula");
  ComptonOptions o;
  if (model == "balyuzi")
    o.model = IncoherentModel::kBalyuzi;
  else if (model != "hubbell")
    raise_invalid("unknown incoherent model " + quote_for_message(model) + ": give \"hubbell\" or \"balyuzi\"");
  o.wavelength = wavelength;
  // The Breit-Dirac factor is that of the wavelength: without one there is none to apply.
  if (breit_dirac && !wavelength) raise_invalid("breit_dirac needs the wavelength");
  o.breit_dirac_power = breit_dirac.value_or(3);
  const InArray q = numbers(q_in, "q");
  Result<std::vector<double>> c = [&] {
    py::gil_scoped_release unlocked;
    return compton(formula, view(q), o);
  }();
  return shaped(take(std::move(c)), shape_of(q));
}

constexpr const char* kXrayMaterialDoc =
    R"(xray_material(formula, energy=None, *, wavelength=None, anode=None, density=None, thickness=None)
--

A material's X-ray optics at one photon energy (the values of
`talvo-tools xray --json`; f1, f2 from Henke's table to 30 keV and from
Chantler's FFAST above, named by f_table).

formula
    As parse_formula reads it ("SiO2", "Gd2O3", "Fe{3+}2O{2-}3"); isotopes
    scatter as their element and weigh their own mass.
energy, wavelength, anode
    Exactly one: the energy in keV (10 eV to 432.9 keV), the wavelength in
    Angstrom, or an anode's line ("Cu", "CuKa2", "Mo Ka").
density
    g/cm3, for the values per volume (sld, delta, beta, mu_*, ...).
thickness
    cm, for the transmissions (with a density).

@RETURNS@)";

// xray_material()'s docstring: what it returns from the field table, each
// value with its unit, wrapped at 76.
std::string xray_material_doc() {
  std::string doc = kXrayMaterialDoc;
  const std::string mark = "@RETURNS@";
  doc.replace(doc.find(mark), mark.size(),
              wrapped("Returns an XrayMaterial: " + names_of(XrayScope::kMaterial) + "; per_atom (a dict of " +
                      names_of(XrayScope::kPerAtom) + ") and elements (XrayElement: " + names_of(XrayScope::kElement) +
                      "; see dispersion()). A value not known is None; to_dict() is the JSON object of xray --json. "
                      "Raises ValueError by kind (a formula that does not parse, an unknown element, an energy "
                      "outside the table)."));
  return doc;
}

constexpr const char* kDispersionDoc = R"(dispersion(element, energy=None, *, wavelength=None, anode=None)
--

f1 and f2 of an element at one photon energy and the dispersion
corrections f' = f1 - Z*, f'' = f2: from Henke et al. (1993) to 30 keV
(f_table "henke93"; its f1 holds Henke's relativistic correction, Z* = Z -
(Z/82.5)^2.37) and from Chantler's FFAST (1995, 2000) above
("chantler-ffast"; its f1 holds neither the relativistic correction nor the
nuclear Thomson term, Z* = Z). f_rel and f_nt are the table's relativistic
correction (Henke's is in f1; FFAST's 3/5 CL estimate is not) and nuclear
Thomson term (FFAST's; 0 for Henke): f1 + f_rel + f_nt is the full forward
amplitude for FFAST.

element
    Symbol, case-blind (an ion's charge and isotopes do not matter).
energy, wavelength, anode
    Exactly one: keV (10 eV to 432.9 keV), Angstrom, or an anode's line.

Returns a Dispersion: z, energy (keV), f_table, f1, f2, z_star, f_prime,
f_double_prime, f_rel, f_nt (electrons). Raises ValueError for an unknown element, Z
above 92 or an energy outside the table.)";

constexpr const char* kAnodeDoc = R"(anode_energy(name)
--

The photon energy in keV of an X-ray tube's line: "Cu" or "CuKa1" is Ka1,
"CuKa2" Ka2, "CuKa" the mean weighted 2:1 in wavelength (Cr, Fe, Co, Cu,
Mo, Ag, W); the wavelength in Angstrom is hc / E, hc = 12.398 keV Angstrom.
Raises ValueError for an anode or a line not in the table.)";

constexpr const char* kComptonDoc = R"(compton(formula, q, wavelength=None, model='hubbell', breit_dirac=None)
--

The incoherent (Compton) scattering C(Q) of a formula per atom, in electron
units: the composition's mean of S(x, Z) at x = Q / (4 pi) (as
`talvo-tools compton`).

formula
    Any formula (isotopes scatter as their element, charges are ignored).
q
    Q in inverse Angstrom (not below 0): an array of any shape, or a scalar.
wavelength
    Angstrom: applies the Breit-Dirac factor (lambda / lambda')^breit_dirac.
model
    "hubbell" (Hubbell et al. 1975, a cubic spline) or "balyuzi" (Balyuzi
    1975's fit; warns past sin(theta)/lambda = 1.4).
breit_dirac
    0 (no factor), 2 or 3 (3 when not given); only with a wavelength.

Returns a float64 array of q's shape (a float for a scalar q).)";

}  // namespace

// The photon energy in keV of exactly one of energy, wavelength and anode.
bool photon_given(const py::object& energy, const py::object& wavelength, const std::optional<std::string>& anode) {
  return !energy.is_none() || !wavelength.is_none() || anode.has_value();
}

double photon_energy(const py::object& energy, const py::object& wavelength, const std::optional<std::string>& anode) {
  const int given = int(!energy.is_none()) + int(!wavelength.is_none()) + int(anode.has_value());
  if (given != 1) raise_invalid("give one of energy (keV), wavelength (Angstrom) and anode");
  if (!energy.is_none()) return *quantity_arg(energy, "energy", Quantity::kEnergy);
  if (!wavelength.is_none())
    return take(energy_of_wavelength(*quantity_arg(wavelength, "wavelength", Quantity::kWavelength)));
  return take(anode_energy(text_arg(*anode, "anode")));
}

void init_xray_material(py::module_& m) {
  const ClassFields& element_class = element_fields();
  const auto element = define<XrayElementTag>(
      m, "XrayElement",
      "One element of an X-ray material: f1, f2, f' and f'' in electrons, cross-sections in barn per atom.",
      element_class.fields, {}, element_class.docs);
  const ClassFields& material_class = material_fields();
  define<XrayMaterialTag>(m, "XrayMaterial",
                          "A material's X-ray optics at one energy: the values of `talvo-tools xray --json` (see "
                          "xray_material()).",
                          material_class.fields, element, material_class.docs);
  define<DispersionTag>(m, "Dispersion", "An element's f1, f2, f' and f'' at one energy (see dispersion()).",
                        kDispersionFields);
  static const std::string xray_material_docstring = xray_material_doc();
  m.def("xray_material", &xray_material, xray_material_docstring.c_str(), py::arg("formula"),
        py::arg("energy") = py::none(), py::kw_only(), py::arg("wavelength") = py::none(),
        py::arg("anode") = py::none(), py::arg("density") = py::none(), py::arg("thickness") = py::none());
  m.def(
      "_xray_material_fields",
      [] {
        static const char* const kScopes[] = {"material", "per_atom", "element"};
        py::list out;
        for (const XrayField& f : xray_material_fields())
          out.append(py::make_tuple(std::string(f.name), xray_field_unit_shown(f), std::string(f.meaning),
                                    kScopes[static_cast<int>(f.scope)]));
        return out;
      },
      "_xray_material_fields()\n--\n\nThe library's table of the X-ray material's values: (name, unit, meaning, "
      "scope) for each, in the order of xray --json.");
  m.def("dispersion", &dispersion_of, kDispersionDoc, py::arg("element"), py::arg("energy") = py::none(), py::kw_only(),
        py::arg("wavelength") = py::none(), py::arg("anode") = py::none());
  m.def("anode_energy", &anode, kAnodeDoc, py::arg("name"));
  m.def("compton", &compton_of, kComptonDoc, py::arg("formula"), py::arg("q"), py::arg("wavelength") = py::none(),
        py::arg("model") = "hubbell", py::arg("breit_dirac") = py::none());
}

}  // namespace talvo::python
