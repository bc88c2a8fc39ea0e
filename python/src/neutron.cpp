// talvo.material and its typed results, built from the library's structs;
// the data folder.
#include <pybind11/stl.h>

#include <algorithm>
#include <filesystem>
#include <array>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core.hpp"
#include "talvo/elements/formula.hpp"
#include "talvo/files/data_folder.hpp"
#include "talvo/neutron/material.hpp"
#include "talvo/text/quote.hpp"

namespace talvo::python {
namespace {

// --- the data folder ---------------------------------------------------------

// The package's own data folder, which talvo/__init__.py finds through
// importlib.resources.
std::string package_data;

void set_data_folder(const std::string& folder) { package_data = text_arg(folder, "folder"); }

// Read on first use and kept for the process; a failed read is tried again
// on the next call (the user may have set G_F meanwhile).
const NeutronTable& neutron_table() {
  static std::optional<NeutronTable> table;
  if (!table) {
    table = take(read_neutron_table(data_file("neutron_sears92.tsv")), About::kFile);
  }
  return *table;
}

// --- the results ---------------------------------------------------------------

// A material with the warnings that came with it (both go into to_dict, as
// into xs --json).
struct MaterialResult {
  Material m;
  std::vector<std::string> warnings;
};

// A material at many wavelengths: as computed (the library's columns), or as
// restored from a pickle (one material per wavelength).
struct SweepResult {
  std::optional<MaterialSweep> live;
  std::string formula;  // what made a live sweep
  MaterialOptions options;
  std::vector<MaterialResult> rows;
  std::vector<std::string> warnings;  // those of every wavelength
  std::vector<py::ssize_t> shape;     // the wavelengths' shape
  std::size_t size() const { return live ? live->size() : rows.size(); }
  const Material& first() const { return live ? live->material : rows.front().m; }
  Material at(std::size_t i) const { return live ? live->at(i) : rows[i].m; }
  // The material at one wavelength with the warnings that wavelength alone gives.
  MaterialResult result(std::size_t i) const;
};

// --- the fields, by name, in the order of xs --json ----------------------------

struct PerAtomField {
  const char* name;
  double PerAtom::*member;
  MaterialSweep::Column MaterialSweep::*column;  // null: the same at every wavelength
};
constexpr std::array<PerAtomField, 9> kPerAtom{{
    {"b_coh", &PerAtom::b_coh, &MaterialSweep::b_coh},
    {"b_coh_im", &PerAtom::b_coh_im, &MaterialSweep::b_coh_im},
    {"b_free", &PerAtom::b_free, &MaterialSweep::b_free},
    {"sigma_coh", &PerAtom::sigma_coh, &MaterialSweep::sigma_coh},
    {"sigma_inc", &PerAtom::sigma_inc, &MaterialSweep::sigma_inc},
    {"sigma_scatt", &PerAtom::sigma_scatt, &MaterialSweep::sigma_scatt},
    {"sigma_free", &PerAtom::sigma_free, &MaterialSweep::sigma_free},
    {"sigma_abs_2200", &PerAtom::sigma_abs_2200, nullptr},
    {"sigma_abs", &PerAtom::sigma_abs, &MaterialSweep::sigma_abs},
}};

struct PerFormulaField {
  const char* name;
  double PerFormula::*member;
};
constexpr std::array<PerFormulaField, 4> kPerFormula{{
    {"sigma_coh", &PerFormula::sigma_coh},
    {"sigma_inc", &PerFormula::sigma_inc},
    {"sigma_scatt", &PerFormula::sigma_scatt},
    {"sigma_abs", &PerFormula::sigma_abs},
}};

// Per volume: known with a density only.
struct VolumeField {
  const char* name;
  std::optional<double> Material::*member;
  MaterialSweep::Column MaterialSweep::*column;
};
constexpr std::array<VolumeField, 9> kPerVolume{{
    {"sld", &Material::sld, &MaterialSweep::sld},
    {"sld_im", &Material::sld_im, &MaterialSweep::sld_im},
    {"mu_abs", &Material::mu_abs, &MaterialSweep::mu_abs},
    {"mu_scatt", &Material::mu_scatt, &MaterialSweep::mu_scatt},
    {"mu_total", &Material::mu_total, &MaterialSweep::mu_total},
    {"penetration_depth", &Material::penetration_depth, &MaterialSweep::penetration_depth},
    {"transmission", &Material::transmission, &MaterialSweep::transmission},
    {"sld_inc", &Material::sld_inc, &MaterialSweep::sld_inc},
    {"absorption_length", &Material::absorption_length, &MaterialSweep::absorption_length},
}};

struct ElementField {
  const char* name;
  double MaterialElement::*member;
};
constexpr std::array<ElementField, 9> kElement{{
    {"count", &MaterialElement::count},
    {"fraction", &MaterialElement::fraction},
    {"b_coh", &MaterialElement::b_coh},
    {"b_coh_im", &MaterialElement::b_coh_im},
    {"sigma_coh", &MaterialElement::sigma_coh},
    {"sigma_scatt", &MaterialElement::sigma_scatt},
    {"sigma_abs_2200", &MaterialElement::sigma_abs_2200},
    {"sigma_inc", &MaterialElement::sigma_inc},
    {"sigma_abs", &MaterialElement::sigma_abs},
}};

// A number as xs --json writes it: null when it is not finite.
py::object json_number(double v) { return optional_float(v); }

template <class T, class Fields>
py::dict fields_dict(const T& v, const Fields& fields) {
  py::dict d;
  for (const auto& f : fields) d[f.name] = json_number(v.*f.member);
  return d;
}

py::dict per_atom_dict(const PerAtom& p) { return fields_dict(p, kPerAtom); }
py::dict per_formula_dict(const PerFormula& p) { return fields_dict(p, kPerFormula); }

py::dict element_dict(const MaterialElement& e) {
  py::dict d;
  d["symbol"] = e.symbol;
  for (const ElementField& f : kElement) d[f.name] = json_number(e.*f.member);
  d["source"] = std::string(length_source_name(e.source));
  return d;
}

py::dict partial_dict(const MaterialPartial& p) {
  py::dict d;
  d["pair"] = p.pair;
  d["weight"] = json_number(p.weight);
  d["faber_ziman"] = json_number(p.faber_ziman);
  return d;
}

// The very object of xs --json (its numbers read back by json: ints where it writes ints).
py::dict material_dict(const MaterialResult& r) {
  return py::module_::import("json").attr("loads")(material_json(r.m, r.warnings));
}

// --- back from a dict (unpickling): every field checked --------------------

[[noreturn]] void bad_state(const char* type, const std::string& why) {
  throw py::type_error(std::string("cannot restore a ") + type + ": " + why);
}

py::dict dict_of(const py::handle& h, const char* type) {
  if (!py::isinstance<py::dict>(h)) bad_state(type, "its state must be a dict");
  return py::reinterpret_borrow<py::dict>(h);
}

py::handle item(const py::dict& d, const char* key, const char* type) {
  PyObject* v = PyDict_GetItemString(d.ptr(), key);
  if (v == nullptr) bad_state(type, std::string("no \"") + key + "\"");
  return v;
}

std::optional<double> optional_number(const py::dict& d, const char* key, const char* type) {
  const py::handle v = item(d, key, type);
  if (v.is_none()) return std::nullopt;
  if (!py::isinstance<py::float_>(v) && !py::isinstance<py::int_>(v))
    bad_state(type, std::string(key) + " is no number");
  return v.cast<double>();
}

double number(const py::dict& d, const char* key, const char* type) {
  return optional_number(d, key, type).value_or(std::numeric_limits<double>::quiet_NaN());
}

std::string text(const py::dict& d, const char* key, const char* type) {
  const py::handle v = item(d, key, type);
  if (!py::isinstance<py::str>(v)) bad_state(type, std::string(key) + " is no str");
  return v.cast<std::string>();
}

py::list list_of(const py::dict& d, const char* key, const char* type) {
  const py::handle v = item(d, key, type);
  if (!py::isinstance<py::list>(v) && !py::isinstance<py::tuple>(v)) bad_state(type, std::string(key) + " is no list");
  return py::list(py::reinterpret_borrow<py::object>(v));
}

std::vector<std::string> texts(const py::dict& d, const char* key, const char* type) {
  std::vector<std::string> out;
  for (const py::handle t : list_of(d, key, type)) {
    if (!py::isinstance<py::str>(t)) bad_state(type, std::string(key) + " holds no str");
    out.push_back(t.cast<std::string>());
  }
  return out;
}

MaterialElement element_from(const py::handle& h) {
  const py::dict d = dict_of(h, "Element");
  MaterialElement e;
  e.symbol = text(d, "symbol", "Element");
  for (const ElementField& f : kElement) e.*f.member = number(d, f.name, "Element");
  const std::string source = text(d, "source", "Element");
  if (source == length_source_name(LengthSource::kEnergyDependent))
    e.source = LengthSource::kEnergyDependent;
  else if (source != length_source_name(LengthSource::kThermalList))
    bad_state("Element", "an unknown source");
  return e;
}

MaterialPartial partial_from(const py::handle& h) {
  const py::dict d = dict_of(h, "Partial");
  return {text(d, "pair", "Partial"), number(d, "weight", "Partial"), number(d, "faber_ziman", "Partial")};
}

template <class T, class Fields>
T fields_from(const py::handle& h, const Fields& fields, const char* type) {
  const py::dict d = dict_of(h, type);
  T v;
  for (const auto& f : fields) v.*f.member = number(d, f.name, type);
  return v;
}
PerAtom per_atom_from(const py::handle& h) { return fields_from<PerAtom>(h, kPerAtom, "PerAtom"); }
PerFormula per_formula_from(const py::handle& h) { return fields_from<PerFormula>(h, kPerFormula, "PerFormula"); }

MaterialResult material_from(const py::handle& h) {
  const py::dict d = dict_of(h, "Material");
  MaterialResult r;
  Material& m = r.m;
  m.formula = text(d, "formula", "Material");
  m.atoms = number(d, "atoms", "Material");
  m.mass = number(d, "mass", "Material");
  m.wavelength = number(d, "wavelength", "Material");
  m.density = optional_number(d, "density", "Material");
  m.number_density = optional_number(d, "number_density", "Material");
  m.per_atom = per_atom_from(item(d, "per_atom", "Material"));
  m.per_formula = per_formula_from(item(d, "per_formula", "Material"));
  for (const VolumeField& f : kPerVolume) m.*f.member = optional_number(d, f.name, "Material");
  for (const py::handle e : list_of(d, "elements", "Material")) m.elements.push_back(element_from(e));
  for (const py::handle p : list_of(d, "partials", "Material")) m.partials.push_back(partial_from(p));
  m.notes = texts(d, "notes", "Material");
  r.warnings = texts(d, "warnings", "Material");
  return r;
}

// --- sweeps: a column at every wavelength ----------------------------------------

// The column of a live sweep, else the value gathered from each restored material.
template <class Get>
py::array_t<double> column(const SweepResult& s, const MaterialSweep::Column MaterialSweep::*col, Get get) {
  std::vector<double> v(s.size());
  if (s.live && col != nullptr) {
    const MaterialSweep::Column c = (*s.live).*col;
    std::copy(c.begin(), c.end(), v.begin());
  } else if (s.live) {
    std::fill(v.begin(), v.end(), get(s.live->material));
  } else {
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = get(s.rows[i].m);
  }
  return read_only(to_numpy(std::move(v), s.shape));
}

// A per-atom value at every wavelength.
struct PerAtomSweep {
  std::shared_ptr<const SweepResult> sweep;
};

// One element, or one partial, of a sweep: its values at every wavelength.
struct ElementSweep {
  std::shared_ptr<const SweepResult> sweep;
  std::size_t at = 0;
};
struct PartialSweep {
  std::shared_ptr<const SweepResult> sweep;
  std::size_t at = 0;
};

// A column of element `at` (or partial) of a live sweep, else the value
// gathered from each restored material.
template <class Part, class Get>
py::array_t<double> part_column(const SweepResult& s, MaterialSweep::Column Part::*col,
                                const std::vector<Part> MaterialSweep::*parts, std::size_t at, Get get) {
  std::vector<double> v(s.size());
  if (s.live) {
    const MaterialSweep::Column c = ((*s.live).*parts)[at].*col;
    std::copy(c.begin(), c.end(), v.begin());
  } else {
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = get(s.rows[i].m, at);
  }
  return read_only(to_numpy(std::move(v), s.shape));
}

// The element values of a sweep that change with the wavelength.
struct ElementSweepField {
  const char* name;
  MaterialSweep::Column MaterialSweep::Element::*column;
  double MaterialElement::*member;
};
constexpr std::array<ElementSweepField, 7> kElementSweep{{
    {"b_coh", &MaterialSweep::Element::b_coh, &MaterialElement::b_coh},
    {"b_coh_im", &MaterialSweep::Element::b_coh_im, &MaterialElement::b_coh_im},
    {"b_free", &MaterialSweep::Element::b_free, &MaterialElement::b_free},
    {"sigma_coh", &MaterialSweep::Element::sigma_coh, &MaterialElement::sigma_coh},
    {"sigma_scatt", &MaterialSweep::Element::sigma_scatt, &MaterialElement::sigma_scatt},
    {"sigma_free", &MaterialSweep::Element::sigma_free, &MaterialElement::sigma_free},
    {"sigma_abs", &MaterialSweep::Element::sigma_abs, &MaterialElement::sigma_abs},
}};

// The units of a material's values (as xs --json names them).
struct Units {};

// The attribute name of a unit's key: "sigma_*" is "sigma".
std::string unit_attribute(std::string_view key) { return key == "sigma_*" ? "sigma" : std::string(key); }

py::dict units_dict(const Units&) {
  py::dict d;
  for (const MaterialUnit& u : material_units()) d[py::str(std::string(u.key))] = std::string(u.unit);
  return d;
}

Units units_from(const py::handle& h) {
  if (!units_dict(Units{}).equal(dict_of(h, "Units"))) bad_state("Units", "the units are not the library's");
  return {};
}

// --- the entry point -----------------------------------------------------------

MaterialOptions options_of(std::optional<double> density, std::optional<double> number_density,
                           std::optional<double> thickness, bool energy_dependent) {
  MaterialOptions o;
  o.density = density;
  o.number_density = number_density;
  o.thickness = thickness;
  o.energy_dependent = energy_dependent;
  return o;
}

py::object one_material(const std::string& formula, const NeutronTable& table, const MaterialOptions& o) {
  Result<Material> r = material(formula, table, o);
  std::vector<std::string> warnings = r.ok() ? r.warnings() : std::vector<std::string>{};
  return py::cast(MaterialResult{take(std::move(r)), std::move(warnings)});
}

py::object material_of(const std::string& formula, const py::object& density, const py::object& number_density,
                       const py::object& wavelength, const py::object& thickness, bool energy_dependent) {
  text_arg(formula, "formula");
  MaterialOptions o = options_of(quantity_arg(density, "density", Quantity::kDensity),
                                 quantity_arg(number_density, "number_density", Quantity::kNumber),
                                 quantity_arg(thickness, "thickness", Quantity::kLength), energy_dependent);
  const NeutronTable& table = neutron_table();
  // A plain number, or one as text ("1.8", "0.18nm"): one material.
  if (py::isinstance<py::float_>(wavelength) || py::isinstance<py::int_>(wavelength) ||
      py::isinstance<py::str>(wavelength)) {
    o.wavelength = *quantity_arg(wavelength, "wavelength", Quantity::kWavelength);
    return one_material(formula, table, o);
  }
  const InArray lambda = numbers(wavelength, "wavelength");
  if (lambda.ndim() == 0) {
    o.wavelength = *lambda.data();
    return one_material(formula, table, o);
  }
  // An array: the parts that do not depend on the wavelength are computed once.
  if (lambda.size() == 0) raise_invalid("no wavelength: the array is empty");
  auto sweep = std::make_shared<SweepResult>();
  sweep->shape = shape_of(lambda);
  const Interrupts interrupts;
  o.stop = interrupts.stop();
  std::optional<Result<MaterialSweep>> swept;
  {
    py::gil_scoped_release unlocked;
    swept = material_sweep(formula, table, o, view(lambda));
  }
  interrupts.raise_if_stopped();
  o.stop = nullptr;
  Result<MaterialSweep>& r = *swept;
  if (r.ok()) sweep->warnings = r.warnings();
  sweep->live = take(std::move(r));
  sweep->formula = formula;
  sweep->options = o;
  return py::cast(sweep);
}

MaterialResult SweepResult::result(std::size_t i) const {
  if (!live) return rows[i];
  MaterialOptions o = options;
  o.wavelength = live->wavelength[i];
  Result<Material> r = material(formula, neutron_table(), o);
  if (!r.ok()) raise(r.error());  // not reached: the sweep computed this wavelength
  return {at(i), r.warnings()};
}

// --- documentation -------------------------------------------------------------

constexpr const char* kMaterialDoc =
    R"(material(formula, density=None, number_density=None, wavelength=1.798, thickness=None, energy_dependent=True)
--

The neutron scattering and absorption of a material (the values of
`talvo-tools xs --json`).

formula
    Natural elements and isotopes as the field writes them: "H2O", "Gd2O3",
    decimal counts "Ni0.3Ti0.7", groups "Ca(OH)2", isotopes "Li[6]" (and D,
    T for 2H and 3H), hydrates "CuSO4+5H2O"; a density after @ in g/cm3
    ("D2O@1.107", or "D2O@1n": the natural compound's density scaled by
    mass); mixtures joined by // by volume or mass fraction
    ("50%vol H2O@1 // D2O@1n").
density, number_density
    g/cm3, or atoms per cubic Angstrom: give one of them (or a density in the
    formula) for the quantities per volume, or neither.
wavelength
    Angstrom. A number gives a Material; an array of wavelengths gives a
    MaterialSweep whose wavelength-dependent values are arrays of the
    wavelengths' shape, the rest computed once.
thickness
    cm, for the transmission (with a density).
energy_dependent
    True: the resonant rare earths (Gd, Sm, Eu, Cd, ...) follow their
    energy-dependent lengths (Lynn & Seeger 1990); False: the 2200 m/s list
    for every nucleus, absorption scaled as wavelength / 1.798.

Returns a Material: formula, atoms, mass (amu per formula unit), wavelength
(Angstrom), density (g/cm3), number_density (atoms per cubic Angstrom),
per_atom (PerAtom: b_coh, b_coh_im, b_free in fm; sigma_coh, sigma_inc,
sigma_scatt, sigma_free, sigma_abs_2200, sigma_abs in barn), sld, sld_im and
sld_inc (1e-6 per square Angstrom), mu_abs, mu_scatt, mu_total (per cm),
penetration_depth and absorption_length (cm), transmission, elements
(Element: symbol, count, fraction, b_coh, b_coh_im in fm, sigma_coh,
sigma_scatt, sigma_abs_2200, sigma_inc, sigma_abs in barn, source),
partials (Partial: pair, weight in barn, faber_ziman), per_formula
(PerFormula: sigma_coh, sigma_inc, sigma_scatt, sigma_abs in barn per
formula unit), notes and warnings (lists of str) and units (Units: each
value's unit by its name). A value not known is None. to_dict() is the JSON
object of xs --json.

A MaterialSweep holds the same names; those that change with the wavelength
are arrays (numpy, float64, of the wavelengths' shape), its elements are
ElementSweep (lengths and cross-sections as arrays) and its partials
PartialSweep (weight, faber_ziman as arrays).

Warnings (a length outside its table, Cd below 1 A) are issued as
TalvoWarning too. Raises ValueError (TalvoValueError) for a formula that does
not parse, an element or isotope the table lacks, or a density, wavelength
or thickness that cannot be; OSError when the neutron table cannot be read.

>>> talvo.material("H2O", density=1.0).sld
-0.5599164809815348)";

constexpr const char* kDataFileDoc = R"(data_file(name)
--

The file a data file's bare name ("neutron_sears92.tsv") gives: under the
folder in the environment variable G_F when it is set, else in the
package's own data folder. Raises ValueError for a name that is not one
inside that folder (an absolute path, "../x").)";

// A read-only attribute computed from the value a result holds.
template <class Cls, class Get>
void property(Cls& cls, const char* name, Get get) {
  using T = typename Cls::type;
  cls.def_property_readonly(name, [get](Self<T> self) { return get(static_cast<const T&>(self)); });
}

template <class T>
void pickled_by_dict(py::class_<T>& cls, py::dict (*to)(const T&), T (*from)(const py::handle&)) {
  cls.def(
         "to_dict", [to](Self<T> v) { return to(v); },
         "The values as plain dicts, lists, floats and strings (JSON's types).")
      .def("__getstate__",
           [to](Self<T> v_self) {
             const T& v = v_self;
             return to(v);
           })
      .def("__eq__",
           [to](Self<T> a_self, const py::object& b) -> py::object {
             const T& a = a_self;
             if (!py::isinstance<T>(b)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             return py::bool_(to(a).equal(to(b.cast<Self<T>>())));
           })
      .attr("__hash__") = py::none();
  define_setstate(cls, [from](const py::dict& state) { return from(state); });
}

}  // namespace

std::string data_file(const std::string& name) {
  text_arg(name, "name");
  // A data file is one of the folder's own: a name that climbs out of it or starts elsewhere is no data file.
  const std::filesystem::path path = std::filesystem::path(name).lexically_normal();
  if (path.empty() || path == "." || path.is_absolute() || path.has_root_name() || *path.begin() == "..")
    raise_invalid("data_file: " + quote_for_message(name) + " is not a name inside the data folder");
  const char* g_f = std::getenv("G_F");
  if (g_f != nullptr && std::string_view(g_f).find_first_not_of(' ') != std::string_view::npos)
    return DataFolder::named(g_f).file(name);
  if (!package_data.empty()) return DataFolder::named(package_data).file(name);
  return name;
}

void init_neutron(py::module_& m) {
  py::class_<PerAtom> per_atom(m, "PerAtom", "Values per atom of a material: lengths in fm, cross-sections in barn.");
  for (const PerAtomField& f : kPerAtom)
    property(per_atom, f.name, [member = f.member](const PerAtom& p) { return p.*member; });
  per_atom.def("__repr__",
               [](Self<PerAtom> p) { return "PerAtom(" + py::repr(per_atom_dict(p)).cast<std::string>() + ")"; });
  pickled_by_dict<PerAtom>(per_atom, &per_atom_dict, &per_atom_from);

  py::class_<PerFormula> per_formula(m, "PerFormula", "Cross-sections of one formula unit, in barn.");
  for (const PerFormulaField& f : kPerFormula)
    property(per_formula, f.name, [member = f.member](const PerFormula& p) { return p.*member; });
  per_formula.def("__repr__", [](Self<PerFormula> p) {
    return "PerFormula(" + py::repr(per_formula_dict(p)).cast<std::string>() + ")";
  });
  pickled_by_dict<PerFormula>(per_formula, &per_formula_dict, &per_formula_from);

  py::class_<MaterialElement> element(m, "Element",
                                      "One element of a material: count per formula unit, atomic fraction, mean "
                                      "lengths in fm, cross-sections in barn, where its lengths came from (source).");
  property(element, "symbol", [](const MaterialElement& e) { return e.symbol; });
  for (const ElementField& f : kElement)
    property(element, f.name, [member = f.member](const MaterialElement& e) { return e.*member; });
  property(element, "source", [](const MaterialElement& e) { return std::string(length_source_name(e.source)); });
  element.def("__repr__",
              [](Self<MaterialElement> e) { return "Element(" + py::repr(element_dict(e)).cast<std::string>() + ")"; });
  pickled_by_dict<MaterialElement>(element, &element_dict, &element_from);

  py::class_<MaterialPartial> partial(m, "Partial",
                                      "The weight of a pair's partial structure factor: weight in barn (c_i c_j b_i "
                                      "b_j / 100, doubled for unlike pairs) and the Faber-Ziman weight.");
  property(partial, "pair", [](const MaterialPartial& p) { return p.pair; });
  property(partial, "weight", [](const MaterialPartial& p) { return p.weight; });
  property(partial, "faber_ziman", [](const MaterialPartial& p) { return p.faber_ziman; });
  partial.def("__repr__",
              [](Self<MaterialPartial> p) { return "Partial(" + py::repr(partial_dict(p)).cast<std::string>() + ")"; });
  pickled_by_dict<MaterialPartial>(partial, &partial_dict, &partial_from);

  py::class_<Units> units(m, "Units",
                          "The unit of each value of a material, by the value's name (sigma: every sigma_* "
                          "cross-section); an empty text for a number without unit. units[\"sigma_*\"] and "
                          "to_dict() give them as xs --json names them.");
  for (const MaterialUnit& u : material_units())
    property(units, unit_attribute(u.key).c_str(), [unit = std::string(u.unit)](const Units&) { return unit; });
  units.def("__getitem__", [](Self<Units>, const std::string& key) {
    for (const MaterialUnit& u : material_units())
      if (u.key == key || unit_attribute(u.key) == key) return std::string(u.unit);
    throw py::key_error(key);
  });
  // getattr(units, "sigma_*"), as the JSON key reads.
  units.def("__getattr__", [](Self<Units>, const std::string& key) {
    if (key == "sigma_*") return std::string("barn");
    throw py::attribute_error("'Units' object has no attribute '" + key + "'");
  });
  units.def("__repr__", [](Self<Units> u) { return "Units(" + py::repr(units_dict(u)).cast<std::string>() + ")"; });
  pickled_by_dict<Units>(units, &units_dict, &units_from);

  py::class_<MaterialResult> material_class(m, "Material",
                                            "A material's neutron scattering: the values of `talvo-tools xs --json`, "
                                            "as attributes (see material()).");
  property(material_class, "formula", [](const MaterialResult& x) { return x.m.formula; });
  property(material_class, "atoms", [](const MaterialResult& x) { return x.m.atoms; });
  property(material_class, "mass", [](const MaterialResult& x) { return x.m.mass; });
  property(material_class, "wavelength", [](const MaterialResult& x) { return x.m.wavelength; });
  property(material_class, "density", [](const MaterialResult& x) { return optional_float(x.m.density); });
  property(material_class, "number_density",
           [](const MaterialResult& x) { return optional_float(x.m.number_density); });
  property(material_class, "per_atom", [](const MaterialResult& x) { return x.m.per_atom; });
  property(material_class, "per_formula", [](const MaterialResult& x) { return x.m.per_formula; });
  for (const VolumeField& f : kPerVolume)
    property(material_class, f.name,
             [member = f.member](const MaterialResult& x) { return optional_float(x.m.*member); });
  property(material_class, "elements", [](const MaterialResult& x) {
    py::tuple t(x.m.elements.size());
    for (std::size_t i = 0; i < x.m.elements.size(); ++i) t[i] = py::cast(x.m.elements[i]);
    return t;
  });
  property(material_class, "partials", [](const MaterialResult& x) {
    py::tuple t(x.m.partials.size());
    for (std::size_t i = 0; i < x.m.partials.size(); ++i) t[i] = py::cast(x.m.partials[i]);
    return t;
  });
  property(material_class, "notes", [](const MaterialResult& x) { return py::cast(x.m.notes); });
  property(material_class, "warnings", [](const MaterialResult& x) { return py::cast(x.warnings); });
  // The unit of each value, as xs --json names them ("sigma_*": barn).
  property(material_class, "units", [](const MaterialResult&) { return Units{}; });
  material_class.def("__repr__", [](Self<MaterialResult> x) {
    const MaterialResult& r = x;
    std::string out = "Material(formula=" + py::repr(py::str(r.m.formula)).cast<std::string>();
    out += ", density=" + py::repr(optional_float(r.m.density)).cast<std::string>();
    out += ", sld=" + py::repr(optional_float(r.m.sld)).cast<std::string>();
    return out + ", ...)";
  });
  pickled_by_dict<MaterialResult>(material_class, &material_dict, &material_from);

  py::class_<PerAtomSweep> per_atom_sweep(m, "PerAtomSweep",
                                          "Values per atom at every wavelength of a sweep: arrays of the wavelengths' "
                                          "shape (fm, barn).");
  for (const PerAtomField& f : kPerAtom)
    property(per_atom_sweep, f.name, [f](const PerAtomSweep& p) {
      return column(*p.sweep, f.column, [member = f.member](const Material& x) { return x.per_atom.*member; });
    });
  // A part of a sweep pickles as the sweep and where in it the part is.
  const auto sweep_of = [](const py::dict& state, const char* type) {
    const py::handle v = item(state, "sweep", type);
    if (!py::isinstance<SweepResult>(v)) bad_state(type, "sweep is no MaterialSweep");
    static_cast<void>(v.cast<Self<SweepResult>>());  // one that holds values
    return v.cast<std::shared_ptr<SweepResult>>();
  };
  const auto index_of = [](const py::dict& state, const char* type, std::size_t count) {
    const py::handle v = item(state, "index", type);
    if (!py::isinstance<py::int_>(v) || py::isinstance<py::bool_>(v) || v.cast<py::int_>() < py::int_(0) ||
        v.cast<py::int_>() >= py::int_(count))
      bad_state(type, "index is no position in the sweep");
    return v.cast<std::size_t>();
  };
  per_atom_sweep.def("__repr__", [](Self<PerAtomSweep> p_self) {
    const PerAtomSweep& p = p_self;
    return "PerAtomSweep(formula=" + py::repr(py::str(p.sweep->first().formula)).cast<std::string>() + ", " +
           std::to_string(p.sweep->size()) + " wavelengths)";
  });
  per_atom_sweep.def("__getstate__", [](Self<PerAtomSweep> p) {
    py::dict d;
    d["sweep"] = py::cast(std::const_pointer_cast<SweepResult>(static_cast<const PerAtomSweep&>(p).sweep));
    return d;
  });
  define_setstate(per_atom_sweep, [sweep_of](const py::dict& state) {
    return PerAtomSweep{sweep_of(dict_of(state, "PerAtomSweep"), "PerAtomSweep")};
  });

  py::class_<ElementSweep> element_sweep(
      m, "ElementSweep",
      "One element of a sweep: symbol, count, fraction, source and its wavelength-independent cross-sections "
      "(sigma_abs_2200, sigma_inc in barn) as numbers; its lengths (b_coh, b_coh_im, b_free in fm) and "
      "cross-sections (sigma_coh, sigma_scatt, sigma_free, sigma_abs in barn) as arrays of the wavelengths' shape.");
  const auto element_of = [](const ElementSweep& e) -> const MaterialElement& {
    return e.sweep->first().elements[e.at];
  };
  property(element_sweep, "symbol", [element_of](const ElementSweep& e) { return element_of(e).symbol; });
  property(element_sweep, "count", [element_of](const ElementSweep& e) { return element_of(e).count; });
  property(element_sweep, "fraction", [element_of](const ElementSweep& e) { return element_of(e).fraction; });
  property(element_sweep, "sigma_abs_2200",
           [element_of](const ElementSweep& e) { return element_of(e).sigma_abs_2200; });
  property(element_sweep, "sigma_inc", [element_of](const ElementSweep& e) { return element_of(e).sigma_inc; });
  property(element_sweep, "source",
           [element_of](const ElementSweep& e) { return std::string(length_source_name(element_of(e).source)); });
  for (const ElementSweepField& f : kElementSweep)
    property(element_sweep, f.name, [f](const ElementSweep& e) {
      return part_column(*e.sweep, f.column, &MaterialSweep::elements, e.at,
                         [member = f.member](const Material& x, std::size_t k) { return x.elements[k].*member; });
    });
  element_sweep.def("__getstate__", [](Self<ElementSweep> e_self) {
    const ElementSweep& e = e_self;
    py::dict d;
    d["sweep"] = py::cast(std::const_pointer_cast<SweepResult>(e.sweep));
    d["index"] = e.at;
    return d;
  });
  define_setstate(element_sweep, [sweep_of, index_of](const py::dict& state) {
    const py::dict d = dict_of(state, "ElementSweep");
    std::shared_ptr<SweepResult> s = sweep_of(d, "ElementSweep");
    const std::size_t at = index_of(d, "ElementSweep", s->first().elements.size());
    return ElementSweep{std::move(s), at};
  });
  element_sweep.def("__repr__", [element_of](Self<ElementSweep> e) {
    return "ElementSweep(symbol=" + py::repr(py::str(element_of(e).symbol)).cast<std::string>() + ", " +
           std::to_string(static_cast<const ElementSweep&>(e).sweep->size()) + " wavelengths)";
  });

  py::class_<PartialSweep> partial_sweep(m, "PartialSweep",
                                         "One partial of a sweep: pair, and weight (barn) and faber_ziman as "
                                         "arrays of the wavelengths' shape.");
  property(partial_sweep, "pair", [](const PartialSweep& p) { return p.sweep->first().partials[p.at].pair; });
  property(partial_sweep, "weight", [](const PartialSweep& p) {
    return part_column(*p.sweep, &MaterialSweep::Partial::weight, &MaterialSweep::partials, p.at,
                       [](const Material& x, std::size_t k) { return x.partials[k].weight; });
  });
  property(partial_sweep, "faber_ziman", [](const PartialSweep& p) {
    return part_column(*p.sweep, &MaterialSweep::Partial::faber_ziman, &MaterialSweep::partials, p.at,
                       [](const Material& x, std::size_t k) { return x.partials[k].faber_ziman; });
  });
  partial_sweep.def("__getstate__", [](Self<PartialSweep> p_self) {
    const PartialSweep& p = p_self;
    py::dict d;
    d["sweep"] = py::cast(std::const_pointer_cast<SweepResult>(p.sweep));
    d["index"] = p.at;
    return d;
  });
  define_setstate(partial_sweep, [sweep_of, index_of](const py::dict& state) {
    const py::dict d = dict_of(state, "PartialSweep");
    std::shared_ptr<SweepResult> s = sweep_of(d, "PartialSweep");
    const std::size_t at = index_of(d, "PartialSweep", s->first().partials.size());
    return PartialSweep{std::move(s), at};
  });
  partial_sweep.def("__repr__", [](Self<PartialSweep> p_self) {
    const PartialSweep& p = p_self;
    return "PartialSweep(pair=" + py::repr(py::str(p.sweep->first().partials[p.at].pair)).cast<std::string>() + ", " +
           std::to_string(p.sweep->size()) + " wavelengths)";
  });

  py::class_<SweepResult, std::shared_ptr<SweepResult>> sweep(
      m, "MaterialSweep",
      "A material at many wavelengths (material() with an array of wavelengths): wavelength, per_atom's values and "
      "the values per volume are arrays of the wavelengths' shape, elements (ElementSweep) and partials "
      "(PartialSweep) hold arrays too; sweep[i] is the Material at the i-th wavelength (in C order).");
  property(sweep, "formula", [](const SweepResult& s) { return s.first().formula; });
  property(sweep, "atoms", [](const SweepResult& s) { return s.first().atoms; });
  property(sweep, "mass", [](const SweepResult& s) { return s.first().mass; });
  property(sweep, "density", [](const SweepResult& s) { return optional_float(s.first().density); });
  property(sweep, "number_density", [](const SweepResult& s) { return optional_float(s.first().number_density); });
  property(sweep, "notes", [](const SweepResult& s) { return py::cast(s.first().notes); });
  property(sweep, "warnings", [](const SweepResult& s) { return py::cast(s.warnings); });
  property(sweep, "wavelength", [](const SweepResult& s) {
    return column(s, &MaterialSweep::wavelength, [](const Material& x) { return x.wavelength; });
  });
  sweep.def_property_readonly("per_atom", [](const std::shared_ptr<SweepResult>& s) { return PerAtomSweep{s}; });
  sweep.def_property_readonly("elements", [](const std::shared_ptr<SweepResult>& s) {
    py::tuple t(s->first().elements.size());
    for (std::size_t k = 0; k < t.size(); ++k) t[k] = py::cast(ElementSweep{s, k});
    return t;
  });
  sweep.def_property_readonly("partials", [](const std::shared_ptr<SweepResult>& s) {
    py::tuple t(s->first().partials.size());
    for (std::size_t k = 0; k < t.size(); ++k) t[k] = py::cast(PartialSweep{s, k});
    return t;
  });
  for (const VolumeField& f : kPerVolume)
    property(sweep, f.name, [f](const SweepResult& s) -> py::object {
      if (!(s.first().*f.member)) return py::none();
      return column(s, f.column, [member = f.member](const Material& x) {
        return (x.*member).value_or(std::numeric_limits<double>::quiet_NaN());
      });
    });
  const auto sweep_dict = [](const SweepResult& s) {
    py::dict d;
    d["shape"] = py::tuple(py::cast(s.shape));
    py::list at;
    for (std::size_t i = 0; i < s.size(); ++i) at.append(material_dict(s.result(i)));
    d["materials"] = at;
    return d;
  };
  sweep.def("__len__", [](Self<SweepResult> s) { return static_cast<const SweepResult&>(s).size(); })
      .def(
          "__getitem__",
          [](Self<SweepResult> s_self, py::ssize_t i) {
            const SweepResult& s = s_self;
            const auto n = static_cast<py::ssize_t>(s.size());
            if (i < 0) i += n;
            if (i < 0 || i >= n) throw py::index_error("wavelength index out of range");
            return s.result(static_cast<std::size_t>(i));
          },
          py::arg("index"))
      .def(
          "to_dict", [sweep_dict](Self<SweepResult> s) { return sweep_dict(s); },
          "The materials at each wavelength (as Material.to_dict() gives them) and the wavelengths' shape.")
      .def("__getstate__",
           [sweep_dict](Self<SweepResult> s_self) {
             // The JSON of each material, and what it leaves out: each element's b_free and sigma_free.
             const SweepResult& s = s_self;
             py::dict d = sweep_dict(s);
             py::list free;
             for (std::size_t i = 0; i < s.size(); ++i) {
               py::list row;
               for (const MaterialElement& e : s.at(i).elements) row.append(py::make_tuple(e.b_free, e.sigma_free));
               free.append(row);
             }
             d["free"] = free;
             return d;
           })
      .def("__eq__",
           [sweep_dict](Self<SweepResult> a, const py::object& b) -> py::object {
             if (!py::isinstance<SweepResult>(b)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             return py::bool_(sweep_dict(a).equal(sweep_dict(b.cast<Self<SweepResult>>())));
           })
      .def("__repr__", [](Self<SweepResult> s_self) {
        const SweepResult& s = s_self;
        return "MaterialSweep(formula=" + py::repr(py::str(s.first().formula)).cast<std::string>() + ", " +
               std::to_string(s.size()) + " wavelengths)";
      });
  sweep.attr("__hash__") = py::none();
  define_setstate(sweep, [](const py::dict& state) {
    const py::dict d = dict_of(state, "MaterialSweep");
    SweepResult s;
    py::ssize_t size = 1;
    const py::list materials = list_of(d, "materials", "MaterialSweep");
    const auto count = static_cast<py::ssize_t>(materials.size());
    for (const py::handle n : list_of(d, "shape", "MaterialSweep")) {
      // Each extent at most the number of materials, so the product cannot overflow before it is compared.
      if (!py::isinstance<py::int_>(n) || n.cast<py::ssize_t>() < 0 || n.cast<py::ssize_t>() > count || size > count)
        bad_state("MaterialSweep", "a bad shape");
      s.shape.push_back(n.cast<py::ssize_t>());
      size *= s.shape.back();
    }
    for (const py::handle x : materials) {
      s.rows.push_back(material_from(x));
      for (const std::string& w : s.rows.back().warnings)
        if (std::find(s.warnings.begin(), s.warnings.end(), w) == s.warnings.end()) s.warnings.push_back(w);
    }
    if (s.rows.empty() || static_cast<py::ssize_t>(s.rows.size()) != size)
      bad_state("MaterialSweep", "the materials do not fill the shape");
    const py::list free = list_of(d, "free", "MaterialSweep");
    if (free.size() != s.rows.size()) bad_state("MaterialSweep", "free does not match the materials");
    for (std::size_t i = 0; i < s.rows.size(); ++i) {
      std::vector<MaterialElement>& elements = s.rows[i].m.elements;
      const py::handle row = free[i];
      if (!py::isinstance<py::list>(row) || py::len(row) != elements.size())
        bad_state("MaterialSweep", "free does not match the elements");
      for (std::size_t k = 0; k < elements.size(); ++k) {
        const py::handle pair = row[py::int_(k)];
        if (!py::isinstance<py::tuple>(pair) || py::len(pair) != 2 || !py::isinstance<py::float_>(pair[py::int_(0)]) ||
            !py::isinstance<py::float_>(pair[py::int_(1)]))
          bad_state("MaterialSweep", "free holds no pair of numbers");
        elements[k].b_free = pair[py::int_(0)].cast<double>();
        elements[k].sigma_free = pair[py::int_(1)].cast<double>();
      }
    }
    return s;
  });

  m.def("material", &material_of, kMaterialDoc, py::arg("formula"), py::arg("density") = py::none(),
        py::arg("number_density") = py::none(), py::arg("wavelength") = kThermalWavelength,
        py::arg("thickness") = py::none(), py::arg("energy_dependent") = true);
  m.def("data_file", &data_file, kDataFileDoc, py::arg("name"));
  m.def("_set_data_folder", &set_data_folder,
        "_set_data_folder(folder)\n--\n\nWhere the package's data files are (set by talvo/__init__.py).",
        py::arg("folder"));
}

}  // namespace talvo::python
