// talvo.material and its typed results, built from the library's structs;
// the data folder.
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core.hpp"
#include "talvo/elements/elements.hpp"
#include "talvo/elements/formula.hpp"
#include "talvo/files/data_folder.hpp"
#include "talvo/neutron/material.hpp"
#include "talvo/neutron/material_fields.hpp"
#include "talvo/text/json.hpp"
#include "talvo/text/quote.hpp"

namespace talvo::python {
namespace {

// --- the data folder ---------------------------------------------------------

// The package's own data folder, which talvo/__init__.py finds through
// importlib.resources.
std::string package_data;

void set_data_folder(const std::string& folder) { package_data = text_arg(folder, "folder"); }

}  // namespace

// Read on first use and kept for the process; a failed read is tried again
// on the next call (the user may have set G_F meanwhile).
const NeutronTable& neutron_table() {
  static std::optional<NeutronTable> table;
  if (!table) {
    table = take(read_neutron_table(data_file("neutron_sears92.tsv")), About::kFile);
  }
  return *table;
}

namespace {

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
  std::vector<MaterialResult> rows;
  std::vector<std::string> warnings;  // those of every wavelength
  std::vector<py::ssize_t> shape;     // the wavelengths' shape
  std::size_t size() const { return live ? live->size() : rows.size(); }
  const Material& first() const { return live ? live->material : rows.front().m; }
  Material at(std::size_t i) const { return live ? live->at(i) : rows[i].m; }
  // The material at one wavelength with the warnings that wavelength alone gives.
  MaterialResult result(std::size_t i) const;
};

// --- the fields: the library's table (talvo/neutron/material_fields.hpp) -------

// The fields of one scope in the table's order; with `json`, those of
// material_json only.
std::vector<const MaterialField*> fields_of(MaterialScope scope, bool json = true) {
  std::vector<const MaterialField*> out;
  for (const MaterialField& f : material_fields())
    if (f.scope == scope && (f.in_json || !json)) out.push_back(&f);
  return out;
}

// A value as xs --json writes it and json reads it back: None when it is not
// known or not finite, an int where the shortest text is a whole number.
py::object json_number(std::optional<double> v) {
  if (!v || !std::isfinite(*v)) return py::none();
  std::string text;
  json::append_number(text, *v);
  if (text.find_first_of(".eE") == std::string::npos) return py::int_(std::stoll(text));
  return py::float_(*v);
}

template <class Part>
py::object part_value(const Part& part, const MaterialField& f) {
  const double* v = material_slot(part, f);
  return v ? json_number(*v) : py::none();
}

template <class Part>
py::dict part_dict(const Part& part, MaterialScope scope) {
  py::dict d;
  for (const MaterialField* f : fields_of(scope)) d[py::str(std::string(f->name))] = part_value(part, *f);
  return d;
}

py::dict per_atom_dict(const PerAtom& p) { return part_dict(p, MaterialScope::kPerAtom); }
py::dict per_formula_dict(const PerFormula& p) { return part_dict(p, MaterialScope::kPerFormulaUnit); }

py::dict element_dict(const MaterialElement& e) {
  py::dict d;
  d["symbol"] = e.symbol;
  for (const MaterialField* f : fields_of(MaterialScope::kElement))
    d[py::str(std::string(f->name))] = part_value(e, *f);
  d["source"] = std::string(length_source_name(e.source));
  return d;
}

py::dict partial_dict(const MaterialPartial& p) {
  py::dict d;
  d["pair"] = p.pair;
  for (const MaterialField* f : fields_of(MaterialScope::kPartial))
    d[py::str(std::string(f->name))] = part_value(p, *f);
  return d;
}

py::dict units_dict_of() {
  py::dict d;
  for (const MaterialUnit& u : material_units()) d[py::str(std::string(u.key))] = std::string(u.unit);
  return d;
}

// The object of xs --json, built from the library's structs: its keys in the
// table's order, each scope's values together.
py::dict material_dict(const MaterialResult& r) {
  const Material& m = r.m;
  py::dict d;
  d["formula"] = m.formula;
  for_each_scope([&](MaterialScope scope, std::span<const MaterialField> run) {
    switch (scope) {
      case MaterialScope::kMaterial:
      case MaterialScope::kPerVolume:
        for (const MaterialField& f : run) d[py::str(std::string(f.name))] = json_number(material_value(m, f));
        break;
      case MaterialScope::kPerAtom:
        d["per_atom"] = per_atom_dict(m.per_atom);
        break;
      case MaterialScope::kPerFormulaUnit:
        d["per_formula"] = per_formula_dict(m.per_formula);
        break;
      case MaterialScope::kElement: {
        py::list elements;
        for (const MaterialElement& e : m.elements) elements.append(element_dict(e));
        d["elements"] = elements;
        break;
      }
      case MaterialScope::kPartial: {
        py::list partials;
        for (const MaterialPartial& q : m.partials) partials.append(partial_dict(q));
        d["partials"] = partials;
        break;
      }
    }
  });
  d["notes"] = py::cast(m.notes);
  d["warnings"] = py::cast(r.warnings);
  d["units"] = units_dict_of();
  return d;
}

// A property's docstring from the table: what the value is, in what unit.
std::string doc_of(const MaterialField& f) {
  std::string d(f.meaning);
  if (!f.unit.empty()) d += ", " + std::string(f.unit);
  return d;
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

template <class Part>
void part_from(const py::dict& d, Part& part, MaterialScope scope, const char* type) {
  for (const MaterialField* f : fields_of(scope))
    *material_slot(part, *f) = number(d, std::string(f->name).c_str(), type);
}

MaterialElement element_from(const py::handle& h) {
  const py::dict d = dict_of(h, "Element");
  MaterialElement e;
  e.symbol = text(d, "symbol", "Element");
  part_from(d, e, MaterialScope::kElement, "Element");
  const std::string source = text(d, "source", "Element");
  if (source == length_source_name(LengthSource::kEnergyDependent))
    e.source = LengthSource::kEnergyDependent;
  else if (source != length_source_name(LengthSource::kThermalList))
    bad_state("Element", "an unknown source");
  return e;
}

MaterialPartial partial_from(const py::handle& h) {
  const py::dict d = dict_of(h, "Partial");
  MaterialPartial p;
  p.pair = text(d, "pair", "Partial");
  part_from(d, p, MaterialScope::kPartial, "Partial");
  return p;
}

PerAtom per_atom_from(const py::handle& h) {
  PerAtom p;
  part_from(dict_of(h, "PerAtom"), p, MaterialScope::kPerAtom, "PerAtom");
  return p;
}
PerFormula per_formula_from(const py::handle& h) {
  PerFormula p;
  part_from(dict_of(h, "PerFormula"), p, MaterialScope::kPerFormulaUnit, "PerFormula");
  return p;
}

MaterialResult material_from(const py::handle& h) {
  const py::dict d = dict_of(h, "Material");
  MaterialResult r;
  Material& m = r.m;
  m.formula = text(d, "formula", "Material");
  for (const MaterialScope scope : {MaterialScope::kMaterial, MaterialScope::kPerVolume})
    for (const MaterialField* f : fields_of(scope))
      set_material_value(m, *f, optional_number(d, std::string(f->name).c_str(), "Material"));
  m.per_atom = per_atom_from(item(d, "per_atom", "Material"));
  m.per_formula = per_formula_from(item(d, "per_formula", "Material"));
  for (const py::handle e : list_of(d, "elements", "Material")) m.elements.push_back(element_from(e));
  for (const py::handle p : list_of(d, "partials", "Material")) m.partials.push_back(partial_from(p));
  m.notes = texts(d, "notes", "Material");
  r.warnings = texts(d, "warnings", "Material");
  return r;
}

// --- sweeps: a column at every wavelength ----------------------------------------

// Field f at every wavelength: the live sweep's column (or its one value
// where it does not change), else gathered from each restored material.
py::array_t<double> column(const SweepResult& s, const MaterialField& f, std::size_t index = 0) {
  std::vector<double> v;
  if (s.live && f.per_wavelength) {
    v = material_column(*s.live, f, index);
  } else {
    v.resize(s.size());
    for (std::size_t i = 0; i < v.size(); ++i)
      v[i] = material_value(s.live ? s.live->material : s.rows[i].m, f, index)
                 .value_or(std::numeric_limits<double>::quiet_NaN());
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

// The units of a material's values (as xs --json names them).
struct Units {};

// The attribute name of a unit's key: "sigma_*" is "sigma".
std::string unit_attribute(std::string_view key) { return key == "sigma_*" ? "sigma" : std::string(key); }

py::dict units_dict(const Units&) { return units_dict_of(); }

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
  return py::cast(sweep);
}

MaterialResult SweepResult::result(std::size_t i) const {
  if (!live) return rows[i];
  return {at(i), live->warnings_at(i)};
}

// --- the density conversion --------------------------------------------------------

// The composition of symbols and amounts as a formula of them would give it
// (D is hydrogen's isotope 2); elements with no amount add nothing.
double convert_density(double density, const std::vector<std::string>& symbols, const std::vector<double>& amounts) {
  if (symbols.size() != amounts.size())
    raise_invalid("give one amount per symbol: " + std::to_string(symbols.size()) + " symbols, " +
                  std::to_string(amounts.size()) + " amounts");
  Composition c;
  c.kind = SampleKind::kIsotopes;
  double total = 0.0;
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    const std::string& s = text_arg(symbols[i], "symbol");
    if (!find_element(s) || s.size() > 2)
      raise(make_error(ErrorKind::kNotFound, "unknown element symbol \"" + s + "\""));
    if (!(amounts[i] >= 0.0) || !std::isfinite(amounts[i]))
      raise_invalid("the amount of " + s + " must be a finite number not below 0");
    total += amounts[i];
    if (amounts[i] == 0.0) continue;
    const bool deuterium = s == "D" || s == "d";
    c.elements.push_back({deuterium ? "H" : s, amounts[i], {Isotope{deuterium ? 2 : 0, 1.0}}});
  }
  if (!(total > 0.0)) raise_invalid("the amounts of the elements add to zero");
  return take(talvo::convert_density(density, c, neutron_table()));
}

// --- documentation -------------------------------------------------------------

constexpr const char* kConvertDensityDoc = R"(convert_density(density, symbols, amounts)
--

Converts a sample density between g/cm3 and atoms per cubic Angstrom, with
the masses and the atomic mass unit of material() (whose number_density it
equals for the same atoms).

density
    Above 0: g/cm3, and the result is in atoms per cubic Angstrom. Below 0:
    atoms per cubic Angstrom (its magnitude), and the result is in g/cm3.
symbols, amounts
    The elements ("H", "O"; "D" for deuterium) and their amounts in the
    sample (only the ratios matter); the masses are those of the neutron
    table, the atomic mass unit CODATA 2018's.

>>> talvo.convert_density(1.0, ["H", "O"], [2, 1])
0.10028353882895218

Raises ValueError for a zero density, an unknown symbol, an element the
neutron table lacks, or amounts that add to zero.)";

constexpr const char* kMaterialDocHead =
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

@RETURNS@

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

// The paragraph of material()'s docstring that names what it returns: each
// value of the field table with its unit, scope by scope, wrapped at 76.
std::string returns_paragraph() {
  const auto names = [](MaterialScope scope, bool json) {
    std::string out;
    for (const MaterialField* f : fields_of(scope, json)) {
      if (!out.empty()) out += ", ";
      out += std::string(f->name) + (f->unit.empty() ? "" : " (" + std::string(f->unit) + ")");
    }
    return out;
  };
  const std::string text =
      "Returns a Material: formula, " + names(MaterialScope::kMaterial, true) +
      "; per_atom (PerAtom: " + names(MaterialScope::kPerAtom, true) + "); " + names(MaterialScope::kPerVolume, true) +
      " (None without a density); elements (Element: symbol, " + names(MaterialScope::kElement, true) +
      ", source); partials (Partial: pair, " + names(MaterialScope::kPartial, true) +
      "); per_formula (PerFormula: " + names(MaterialScope::kPerFormulaUnit, true) +
      "); notes and warnings (lists of str) and units (Units: each value's unit by its name). A value not known "
      "is None. to_dict() is the JSON object of xs --json.";
  return wrapped(text);
}

std::string material_doc() {
  std::string doc = kMaterialDocHead;
  const std::string mark = "@RETURNS@";
  doc.replace(doc.find(mark), mark.size(), returns_paragraph());
  return doc;
}

constexpr const char* kDataFileDoc = R"(data_file(name)
--

The file a data file's bare name ("neutron_sears92.tsv") gives: under the
folder in the environment variable G_F when it is set, else in the
package's own data folder. Raises ValueError for a name that is not one
inside that folder (an absolute path, "../x").)";

// A read-only attribute computed from the value a result holds.
template <class Cls, class Get>
void property(Cls& cls, const char* name, Get get, const char* doc = nullptr) {
  using T = typename Cls::type;
  cls.def_property_readonly(
      name, [get](Self<T> self) { return get(static_cast<const T&>(self)); }, doc);
}

// The attributes of the table's fields of one scope on a part's class, each
// with the field's meaning and unit as its docstring. The docstrings are
// kept for the process (pybind11 holds their pointers).
template <class Cls>
void field_properties(Cls& cls, MaterialScope scope, bool json = true) {
  using T = typename Cls::type;
  static std::deque<std::string> docs;
  for (const MaterialField* f : fields_of(scope, json)) {
    docs.push_back(doc_of(*f));
    property(
        cls, std::string(f->name).c_str(), [f](const T& part) { return *material_slot(part, *f); },
        docs.back().c_str());
  }
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

namespace {

// The sweeps' docstrings, alive as long as the module.
std::deque<std::string> sweep_docs;

// The values of a material, per atom, per formula unit, per element and per pair, and their units.
void define_material_parts(py::module_& m) {
  py::class_<PerAtom> per_atom(m, "PerAtom", "Values per atom of a material: lengths in fm, cross-sections in barn.");
  field_properties(per_atom, MaterialScope::kPerAtom);
  per_atom.def("__repr__",
               [](Self<PerAtom> p) { return "PerAtom(" + py::repr(per_atom_dict(p)).cast<std::string>() + ")"; });
  pickled_by_dict<PerAtom>(per_atom, &per_atom_dict, &per_atom_from);

  py::class_<PerFormula> per_formula(m, "PerFormula", "Cross-sections of one formula unit, in barn.");
  field_properties(per_formula, MaterialScope::kPerFormulaUnit);
  per_formula.def("__repr__", [](Self<PerFormula> p) {
    return "PerFormula(" + py::repr(per_formula_dict(p)).cast<std::string>() + ")";
  });
  pickled_by_dict<PerFormula>(per_formula, &per_formula_dict, &per_formula_from);

  py::class_<MaterialElement> element(m, "Element",
                                      "One element of a material: count per formula unit, atomic fraction, mean "
                                      "lengths in fm, cross-sections in barn, where its lengths came from (source).");
  property(element, "symbol", [](const MaterialElement& e) { return e.symbol; });
  field_properties(element, MaterialScope::kElement);
  property(element, "source", [](const MaterialElement& e) { return std::string(length_source_name(e.source)); });
  element.def("__repr__",
              [](Self<MaterialElement> e) { return "Element(" + py::repr(element_dict(e)).cast<std::string>() + ")"; });
  pickled_by_dict<MaterialElement>(element, &element_dict, &element_from);

  py::class_<MaterialPartial> partial(m, "Partial",
                                      "The weight of a pair's partial structure factor: weight in barn (c_i c_j b_i "
                                      "b_j / 100, doubled for unlike pairs) and the Faber-Ziman weight.");
  property(partial, "pair", [](const MaterialPartial& p) { return p.pair; });
  field_properties(partial, MaterialScope::kPartial);
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
}

// The material: its values as attributes, with its parts.
void define_material(py::module_& m) {
  py::class_<MaterialResult> material_class(m, "Material",
                                            "A material's neutron scattering: the values of `talvo-tools xs --json`, "
                                            "as attributes (see material()).");
  property(material_class, "formula", [](const MaterialResult& x) { return x.m.formula; });
  static std::deque<std::string> material_docs;
  for (const MaterialScope scope : {MaterialScope::kMaterial, MaterialScope::kPerVolume})
    for (const MaterialField* f : fields_of(scope)) {
      material_docs.push_back(doc_of(*f) + (scope == MaterialScope::kPerVolume ? " (None without a density)" : ""));
      property(
          material_class, std::string(f->name).c_str(),
          [f](const MaterialResult& x) { return optional_float(material_value(x.m, *f)); },
          material_docs.back().c_str());
    }
  property(material_class, "per_atom", [](const MaterialResult& x) { return x.m.per_atom; });
  property(material_class, "per_formula", [](const MaterialResult& x) { return x.m.per_formula; });
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
}

// The parts of a sweep over wavelengths: per atom, per element, per pair.
void define_sweep_parts(py::module_& m) {
  py::class_<PerAtomSweep> per_atom_sweep(m, "PerAtomSweep",
                                          "Values per atom at every wavelength of a sweep: arrays of the wavelengths' "
                                          "shape (fm, barn).");
  for (const MaterialField* f : fields_of(MaterialScope::kPerAtom)) {
    sweep_docs.push_back(doc_of(*f) + ", at every wavelength");
    property(
        per_atom_sweep, std::string(f->name).c_str(), [f](const PerAtomSweep& p) { return column(*p.sweep, *f); },
        sweep_docs.back().c_str());
  }
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
  // The element's values that change with the wavelength as arrays, the others as numbers.
  for (const MaterialField* f : fields_of(MaterialScope::kElement, false)) {
    sweep_docs.push_back(doc_of(*f) + (f->per_wavelength ? ", at every wavelength" : ""));
    property(
        element_sweep, std::string(f->name).c_str(),
        [f, element_of](const ElementSweep& e) -> py::object {
          if (f->per_wavelength) return column(*e.sweep, *f, e.at);
          return py::float_(*material_slot(element_of(e), *f));
        },
        sweep_docs.back().c_str());
  }
  property(element_sweep, "source",
           [element_of](const ElementSweep& e) { return std::string(length_source_name(element_of(e).source)); });
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
  for (const MaterialField* f : fields_of(MaterialScope::kPartial)) {
    sweep_docs.push_back(doc_of(*f) + ", at every wavelength");
    property(
        partial_sweep, std::string(f->name).c_str(), [f](const PartialSweep& p) { return column(*p.sweep, *f, p.at); },
        sweep_docs.back().c_str());
  }
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
}

// The sweep over wavelengths.
void define_sweep(py::module_& m) {
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
    return column(s, *find_material_field(MaterialScope::kMaterial, "wavelength"));
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
  for (const MaterialField* f : fields_of(MaterialScope::kPerVolume)) {
    sweep_docs.push_back(doc_of(*f) + ", at every wavelength (None without a density)");
    property(
        sweep, std::string(f->name).c_str(),
        [f](const SweepResult& s) -> py::object {
          if (!material_value(s.first(), *f)) return py::none();
          return column(s, *f);
        },
        sweep_docs.back().c_str());
  }
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
}

}  // namespace

void init_neutron(py::module_& m) {
  define_material_parts(m);
  define_material(m);
  define_sweep_parts(m);
  define_sweep(m);

  static const std::string kMaterialDoc = material_doc();
  m.def("material", &material_of, kMaterialDoc.c_str(), py::arg("formula"), py::arg("density") = py::none(),
        py::arg("number_density") = py::none(), py::arg("wavelength") = kThermalWavelength,
        py::arg("thickness") = py::none(), py::arg("energy_dependent") = true);
  m.def("convert_density", &convert_density, kConvertDensityDoc, py::arg("density"), py::arg("symbols"),
        py::arg("amounts"));
  m.def("data_file", &data_file, kDataFileDoc, py::arg("name"));
  m.def(
      "_material_fields",
      [] {
        static const char* const kScopes[] = {"material",   "per_atom", "per_formula",
                                              "per_volume", "element",  "partial"};
        py::list out;
        for (const MaterialField& f : material_fields())
          out.append(py::make_tuple(std::string(f.name), std::string(f.unit), std::string(f.meaning),
                                    kScopes[static_cast<int>(f.scope)], f.per_wavelength, f.in_json));
        return out;
      },
      "_material_fields()\n--\n\nThe library's table of a material's values: (name, unit, meaning, scope, "
      "per_wavelength, in_json) for each, in the order of xs --json.");
  m.def("_set_data_folder", &set_data_folder,
        "_set_data_folder(folder)\n--\n\nWhere the package's data files are (set by talvo/__init__.py).",
        py::arg("folder"));
}

}  // namespace talvo::python
