// talvo.material and its typed results, built from the library's structs;
// the data folder.
#include <pybind11/stl.h>

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
    NeutronTable t;
    check(Source::kNeutronTable, read_neutron_table(data_file("neutron_sears92.tsv"), t), About::kFile);
    table = std::move(t);
  }
  return *table;
}

// --- the fields of the results, by name, in the order of xs --json -----------

struct PerAtomField {
  const char* name;
  double PerAtom::*member;
};
constexpr std::array<PerAtomField, 9> kPerAtom{{
    {"b_coh", &PerAtom::b_coh},
    {"b_coh_im", &PerAtom::b_coh_im},
    {"b_free", &PerAtom::b_free},
    {"sigma_coh", &PerAtom::sigma_coh},
    {"sigma_inc", &PerAtom::sigma_inc},
    {"sigma_scatt", &PerAtom::sigma_scatt},
    {"sigma_free", &PerAtom::sigma_free},
    {"sigma_abs_2200", &PerAtom::sigma_abs_2200},
    {"sigma_abs", &PerAtom::sigma_abs},
}};

// Per volume: known with a density only.
struct VolumeField {
  const char* name;
  std::optional<double> Material::*member;
};
constexpr std::array<VolumeField, 7> kPerVolume{{
    {"sld", &Material::sld},
    {"sld_im", &Material::sld_im},
    {"mu_abs", &Material::mu_abs},
    {"mu_scatt", &Material::mu_scatt},
    {"mu_total", &Material::mu_total},
    {"penetration_depth", &Material::penetration_depth},
    {"transmission", &Material::transmission},
}};

struct ElementField {
  const char* name;
  double MaterialElement::*member;
};
constexpr std::array<ElementField, 7> kElement{{
    {"count", &MaterialElement::count},
    {"fraction", &MaterialElement::fraction},
    {"b_coh", &MaterialElement::b_coh},
    {"b_coh_im", &MaterialElement::b_coh_im},
    {"sigma_coh", &MaterialElement::sigma_coh},
    {"sigma_scatt", &MaterialElement::sigma_scatt},
    {"sigma_abs_2200", &MaterialElement::sigma_abs_2200},
}};

// A number as xs --json writes it: null when it is not finite.
py::object json_number(double v) { return optional_float(v); }

py::dict per_atom_dict(const PerAtom& p) {
  py::dict d;
  for (const PerAtomField& f : kPerAtom) d[f.name] = json_number(p.*f.member);
  return d;
}

py::dict element_dict(const MaterialElement& e) {
  py::dict d;
  d["symbol"] = e.symbol;
  for (const ElementField& f : kElement) d[f.name] = json_number(e.*f.member);
  return d;
}

py::dict partial_dict(const MaterialPartial& p) {
  py::dict d;
  d["pair"] = p.pair;
  d["weight"] = json_number(p.weight);
  d["faber_ziman"] = json_number(p.faber_ziman);
  return d;
}

py::dict material_dict(const Material& m) {
  py::dict d;
  d["formula"] = m.formula;
  d["atoms"] = json_number(m.atoms);
  d["mass"] = json_number(m.mass);
  d["wavelength"] = json_number(m.wavelength);
  d["density"] = optional_float(m.density);
  d["number_density"] = optional_float(m.number_density);
  d["per_atom"] = per_atom_dict(m.per_atom);
  for (const VolumeField& f : kPerVolume) d[f.name] = optional_float(m.*f.member);
  py::list elements, partials;
  for (const MaterialElement& e : m.elements) elements.append(element_dict(e));
  for (const MaterialPartial& p : m.partials) partials.append(partial_dict(p));
  d["elements"] = elements;
  d["partials"] = partials;
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

MaterialElement element_from(const py::handle& h) {
  const py::dict d = dict_of(h, "Element");
  MaterialElement e;
  e.symbol = text(d, "symbol", "Element");
  for (const ElementField& f : kElement) e.*f.member = number(d, f.name, "Element");
  return e;
}

MaterialPartial partial_from(const py::handle& h) {
  const py::dict d = dict_of(h, "Partial");
  return {text(d, "pair", "Partial"), number(d, "weight", "Partial"), number(d, "faber_ziman", "Partial")};
}

PerAtom per_atom_from(const py::handle& h) {
  const py::dict d = dict_of(h, "PerAtom");
  PerAtom p;
  for (const PerAtomField& f : kPerAtom) p.*f.member = number(d, f.name, "PerAtom");
  return p;
}

Material material_from(const py::handle& h) {
  const py::dict d = dict_of(h, "Material");
  Material m;
  m.formula = text(d, "formula", "Material");
  m.atoms = number(d, "atoms", "Material");
  m.mass = number(d, "mass", "Material");
  m.wavelength = number(d, "wavelength", "Material");
  m.density = optional_number(d, "density", "Material");
  m.number_density = optional_number(d, "number_density", "Material");
  m.per_atom = per_atom_from(item(d, "per_atom", "Material"));
  for (const VolumeField& f : kPerVolume) m.*f.member = optional_number(d, f.name, "Material");
  for (const py::handle e : list_of(d, "elements", "Material")) m.elements.push_back(element_from(e));
  for (const py::handle p : list_of(d, "partials", "Material")) m.partials.push_back(partial_from(p));
  return m;
}

// --- a sweep over wavelengths ------------------------------------------------

// The same material at each wavelength of an array.
struct MaterialSweep {
  std::vector<Material> at;
  std::vector<py::ssize_t> shape;  // the wavelengths' shape
};

// A per-atom value at every wavelength.
struct PerAtomSweep {
  std::shared_ptr<const MaterialSweep> sweep;
};

template <class Get>
py::array_t<double> gather(const MaterialSweep& s, Get get) {
  std::vector<double> v(s.at.size());
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = get(s.at[i]);
  return to_numpy(std::move(v), s.shape);
}

// --- the entry point -----------------------------------------------------------

MaterialOptions options_of(std::optional<double> density, std::optional<double> number_density,
                           std::optional<double> thickness) {
  MaterialOptions o;
  o.density = density;
  o.number_density = number_density;
  o.thickness = thickness;
  return o;
}

py::object material(const std::string& formula, std::optional<double> density, std::optional<double> number_density,
                    const py::object& wavelength, std::optional<double> thickness) {
  text_arg(formula, "formula");
  const NeutronTable& table = neutron_table();
  MaterialOptions o = options_of(density, number_density, thickness);
  // A plain number: one material.
  if (py::isinstance<py::float_>(wavelength) || py::isinstance<py::int_>(wavelength)) {
    o.wavelength = wavelength.cast<double>();
    Material m;
    check(Source::kMaterial, material_from_formula(formula, table, o, m));
    return py::cast(std::move(m));
  }
  // An array: the formula is read once and the material computed at each wavelength.
  const InArray lambda = numbers(wavelength, "wavelength");
  if (lambda.ndim() == 0) {
    o.wavelength = *lambda.data();
    Material m;
    check(Source::kMaterial, material_from_formula(formula, table, o, m));
    return py::cast(std::move(m));
  }
  if (lambda.size() == 0) raise_invalid("no wavelength: the array is empty");
  auto sweep = std::make_shared<MaterialSweep>();
  sweep->shape = shape_of(lambda);
  Formula f;
  check(Source::kMaterial, parse_formula(formula, f));
  const Composition c = composition_of(f);
  const std::span<const double> ls = view(lambda);
  sweep->at.resize(ls.size());
  for (std::size_t i = 0; i < ls.size(); ++i) {
    o.wavelength = ls[i];
    check(Source::kMaterial, compute_material(c, table, o, sweep->at[i]));
    sweep->at[i].formula = f.text;
  }
  return py::cast(sweep);
}

// --- documentation -------------------------------------------------------------

constexpr const char* kMaterialDoc =
    R"(material(formula, density=None, number_density=None, wavelength=1.798, thickness=None)
--

The neutron scattering and absorption of a material.

formula
    Natural elements and isotopes as the field writes them: "H2O", "Gd2O3",
    decimal counts "Ni0.3Ti0.7", groups "Ca(OH)2", isotopes "Li[6]" (and D,
    T for 2H and 3H), hydrates "CuSO4+5H2O".
density, number_density
    g/cm3, or atoms per cubic Angstrom: give one of them for the quantities
    per volume (sld, mu_*, penetration_depth), or neither.
wavelength
    Angstrom; absorption scales as wavelength / 1.798. A number gives a
    Material; an array of wavelengths gives a MaterialSweep whose
    wavelength-dependent values are arrays of the wavelengths' shape, all in
    one call.
thickness
    cm, for the transmission (with a density).

Returns a Material whose attributes are the keys of `talvo-tools xs --json`,
with the same numbers: formula, atoms, mass (amu per formula unit),
wavelength (Angstrom), density (g/cm3), number_density (atoms per cubic
Angstrom), per_atom (a PerAtom: b_coh, b_coh_im, b_free in fm; sigma_coh,
sigma_inc, sigma_scatt, sigma_free, sigma_abs_2200, sigma_abs in barn), sld
and sld_im (1e-6 per square Angstrom), mu_abs, mu_scatt, mu_total (per cm),
penetration_depth (cm), transmission, elements (Element: symbol, count,
fraction, b_coh, b_coh_im in fm, sigma_coh, sigma_scatt, sigma_abs_2200 in
barn) and partials (Partial: pair, weight in barn, faber_ziman). A value not
known is None. to_dict() gives the JSON object as plain dicts and lists.

Raises ValueError (TalvoValueError) for a formula that does not parse, an
element or isotope the table lacks, or a density, wavelength or thickness
that cannot be; OSError when the neutron table cannot be read.

>>> talvo.material("H2O", density=1.0).sld
-0.5599164809815348)";

constexpr const char* kDataFileDoc = R"(data_file(name)
--

The file a data file's bare name ("neutron_sears92.tsv") gives: under the
folder in the environment variable G_F when it is set, else in the
package's own data folder.)";

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
  const char* g_f = std::getenv("G_F");
  if (g_f != nullptr && std::string_view(g_f).find_first_not_of(' ') != std::string_view::npos)
    return DataFolder::named(g_f).file(name);
  if (!package_data.empty()) return DataFolder::named(package_data).file(name);
  return name;
}

void init_neutron(py::module_& m) {
  py::class_<PerAtom> per_atom(m, "PerAtom", "Values per atom of a material: lengths in fm, cross-sections in barn.");
  for (const PerAtomField& f : kPerAtom)
    per_atom.def_property_readonly(f.name, [member = f.member](Self<PerAtom> p_self) {
      const PerAtom& p = p_self;
      return p.*member;
    });
  per_atom.def("__repr__", [](Self<PerAtom> p_self) {
    const PerAtom& p = p_self;
    return "PerAtom(" + std::string(py::str(per_atom_dict(p)).cast<std::string>()) + ")";
  });
  pickled_by_dict<PerAtom>(per_atom, &per_atom_dict, &per_atom_from);

  py::class_<MaterialElement> element(m, "Element",
                                      "One element of a material: count per formula unit, atomic fraction, mean "
                                      "lengths in fm, cross-sections in barn.");
  element.def_property_readonly("symbol", [](Self<MaterialElement> e_self) {
    const MaterialElement& e = e_self;
    return e.symbol;
  });
  for (const ElementField& f : kElement)
    element.def_property_readonly(f.name, [member = f.member](Self<MaterialElement> e_self) {
      const MaterialElement& e = e_self;
      return e.*member;
    });
  element.def("__repr__", [](Self<MaterialElement> e_self) {
    const MaterialElement& e = e_self;
    return "Element(" + py::repr(element_dict(e)).cast<std::string>() + ")";
  });
  pickled_by_dict<MaterialElement>(element, &element_dict, &element_from);

  py::class_<MaterialPartial> partial(m, "Partial",
                                      "The weight of a pair's partial structure factor: weight in barn (c_i c_j b_i "
                                      "b_j / 100, doubled for unlike pairs) and the Faber-Ziman weight.");
  partial
      .def_property_readonly("pair",
                             [](Self<MaterialPartial> p_self) {
                               const MaterialPartial& p = p_self;
                               return p.pair;
                             })
      .def_property_readonly("weight",
                             [](Self<MaterialPartial> p_self) {
                               const MaterialPartial& p = p_self;
                               return p.weight;
                             })
      .def_property_readonly("faber_ziman",
                             [](Self<MaterialPartial> p_self) {
                               const MaterialPartial& p = p_self;
                               return p.faber_ziman;
                             })
      .def("__repr__", [](Self<MaterialPartial> p_self) {
        const MaterialPartial& p = p_self;
        return "Partial(" + py::repr(partial_dict(p)).cast<std::string>() + ")";
      });
  pickled_by_dict<MaterialPartial>(partial, &partial_dict, &partial_from);

  py::class_<Material> material_class(m, "Material",
                                      "A material's neutron scattering: the values of `talvo-tools xs --json`, as "
                                      "attributes (see material()).");
  material_class
      .def_property_readonly("formula",
                             [](Self<Material> x_self) {
                               const Material& x = x_self;
                               return x.formula;
                             })
      .def_property_readonly("atoms",
                             [](Self<Material> x_self) {
                               const Material& x = x_self;
                               return x.atoms;
                             })
      .def_property_readonly("mass",
                             [](Self<Material> x_self) {
                               const Material& x = x_self;
                               return x.mass;
                             })
      .def_property_readonly("wavelength",
                             [](Self<Material> x_self) {
                               const Material& x = x_self;
                               return x.wavelength;
                             })
      .def_property_readonly("density",
                             [](Self<Material> x_self) {
                               const Material& x = x_self;
                               return optional_float(x.density);
                             })
      .def_property_readonly("number_density",
                             [](Self<Material> x_self) {
                               const Material& x = x_self;
                               return optional_float(x.number_density);
                             })
      .def_property_readonly("per_atom", [](Self<Material> x_self) {
        const Material& x = x_self;
        return x.per_atom;
      });
  for (const VolumeField& f : kPerVolume)
    material_class.def_property_readonly(f.name, [member = f.member](Self<Material> x_self) {
      const Material& x = x_self;
      return optional_float(x.*member);
    });
  material_class
      .def_property_readonly("elements",
                             [](Self<Material> x_self) {
                               const Material& x = x_self;
                               py::tuple t(x.elements.size());
                               for (std::size_t i = 0; i < x.elements.size(); ++i) t[i] = py::cast(x.elements[i]);
                               return t;
                             })
      .def_property_readonly("partials",
                             [](Self<Material> x_self) {
                               const Material& x = x_self;
                               py::tuple t(x.partials.size());
                               for (std::size_t i = 0; i < x.partials.size(); ++i) t[i] = py::cast(x.partials[i]);
                               return t;
                             })
      .def("__repr__", [](Self<Material> x_self) {
        const Material& x = x_self;
        std::string out = "Material(formula=" + py::repr(py::str(x.formula)).cast<std::string>();
        for (const char* k : {"density", "sld"})
          out += std::string(", ") + k + "=" + py::repr(material_dict(x)[k]).cast<std::string>();
        return out + ", ...)";
      });
  pickled_by_dict<Material>(material_class, &material_dict, &material_from);

  py::class_<PerAtomSweep> per_atom_sweep(m, "PerAtomSweep",
                                          "Values per atom at every wavelength of a sweep: arrays of the wavelengths' "
                                          "shape (fm, barn).");
  for (const PerAtomField& f : kPerAtom)
    per_atom_sweep.def_property_readonly(f.name, [member = f.member](Self<PerAtomSweep> p_self) {
      const PerAtomSweep& p = p_self;
      return gather(*p.sweep, [member](const Material& x) { return x.per_atom.*member; });
    });
  py::class_<MaterialSweep, std::shared_ptr<MaterialSweep>> sweep(
      m, "MaterialSweep",
      "A material at many wavelengths (material() with an array of wavelengths): wavelength, per_atom's values and "
      "the values per volume are arrays of the wavelengths' shape; sweep[i] is the Material at the i-th wavelength "
      "(in C order).");
  sweep
      .def_property_readonly("formula",
                             [](Self<MaterialSweep> s_self) {
                               const MaterialSweep& s = s_self;
                               return s.at.front().formula;
                             })
      .def_property_readonly("atoms",
                             [](Self<MaterialSweep> s_self) {
                               const MaterialSweep& s = s_self;
                               return s.at.front().atoms;
                             })
      .def_property_readonly("mass",
                             [](Self<MaterialSweep> s_self) {
                               const MaterialSweep& s = s_self;
                               return s.at.front().mass;
                             })
      .def_property_readonly("density",
                             [](Self<MaterialSweep> s_self) {
                               const MaterialSweep& s = s_self;
                               return optional_float(s.at.front().density);
                             })
      .def_property_readonly("number_density",
                             [](Self<MaterialSweep> s_self) {
                               const MaterialSweep& s = s_self;
                               return optional_float(s.at.front().number_density);
                             })
      .def_property_readonly("wavelength",
                             [](Self<MaterialSweep> s_self) {
                               const MaterialSweep& s = s_self;
                               return gather(s, [](const Material& x) { return x.wavelength; });
                             })
      .def_property_readonly("per_atom", [](const std::shared_ptr<MaterialSweep>& s) { return PerAtomSweep{s}; })
      .def("__len__",
           [](Self<MaterialSweep> s_self) {
             const MaterialSweep& s = s_self;
             return s.at.size();
           })
      .def(
          "__getitem__",
          [](Self<MaterialSweep> s_self, py::ssize_t i) {
            const MaterialSweep& s = s_self;
            const auto n = static_cast<py::ssize_t>(s.at.size());
            if (i < 0) i += n;
            if (i < 0 || i >= n) throw py::index_error("wavelength index out of range");
            return s.at[static_cast<std::size_t>(i)];
          },
          py::arg("index"))
      .def(
          "to_dict",
          [](Self<MaterialSweep> s_self) {
            const MaterialSweep& s = s_self;
            py::dict d;
            d["shape"] = py::tuple(py::cast(s.shape));
            py::list at;
            for (const Material& x : s.at) at.append(material_dict(x));
            d["materials"] = at;
            return d;
          },
          "The materials at each wavelength (as Material.to_dict() gives them) and the wavelengths' shape.")
      .def("__getstate__",
           [](Self<MaterialSweep> s_self) {
             const MaterialSweep& s = s_self;
             return py::dict(py::cast(s).attr("to_dict")());
           })
      .def("__eq__",
           [](Self<MaterialSweep> a_self, const py::object& b) -> py::object {
             const MaterialSweep& a = a_self;
             if (!py::isinstance<MaterialSweep>(b)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             return py::bool_(py::cast(a).attr("to_dict")().equal(b.attr("to_dict")()));
           })
      .def("__repr__", [](Self<MaterialSweep> s_self) {
        const MaterialSweep& s = s_self;
        return "MaterialSweep(formula=" + py::repr(py::str(s.at.front().formula)).cast<std::string>() + ", " +
               std::to_string(s.at.size()) + " wavelengths)";
      });
  sweep.attr("__hash__") = py::none();
  define_setstate(sweep, [](const py::dict& state) {
    const py::dict d = dict_of(state, "MaterialSweep");
    auto s = std::make_unique<MaterialSweep>();
    py::ssize_t size = 1;
    const py::list materials = list_of(d, "materials", "MaterialSweep");
    const auto count = static_cast<py::ssize_t>(materials.size());
    for (const py::handle n : list_of(d, "shape", "MaterialSweep")) {
      // Each extent at most the number of materials, so the product cannot overflow before it is compared.
      if (!py::isinstance<py::int_>(n) || n.cast<py::ssize_t>() < 0 || n.cast<py::ssize_t>() > count || size > count)
        bad_state("MaterialSweep", "a bad shape");
      s->shape.push_back(n.cast<py::ssize_t>());
      size *= s->shape.back();
    }
    for (const py::handle x : materials) s->at.push_back(material_from(x));
    if (s->at.empty() || static_cast<py::ssize_t>(s->at.size()) != size)
      bad_state("MaterialSweep", "the materials do not fill the shape");
    return std::move(*s);
  });
  for (const VolumeField& f : kPerVolume)
    sweep.def_property_readonly(f.name, [member = f.member](Self<MaterialSweep> s_self) -> py::object {
      const MaterialSweep& s = s_self;
      if (!(s.at.front().*member)) return py::none();
      return gather(
          s, [member](const Material& x) { return (x.*member).value_or(std::numeric_limits<double>::quiet_NaN()); });
    });

  m.def("material", &material, kMaterialDoc, py::arg("formula"), py::arg("density") = py::none(),
        py::arg("number_density") = py::none(), py::arg("wavelength") = kThermalWavelength,
        py::arg("thickness") = py::none());
  m.def("data_file", &data_file, kDataFileDoc, py::arg("name"));
  m.def("_set_data_folder", &set_data_folder,
        "_set_data_folder(folder)\n--\n\nWhere the package's data files are (set by talvo/__init__.py).",
        py::arg("folder"));
}

}  // namespace talvo::python
