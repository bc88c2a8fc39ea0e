// talvo.form_factor and talvo.xray_average.
#include <pybind11/complex.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <complex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core.hpp"
#include "results.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/xray/average_fields.hpp"
#include "talvo/xray/formfactor.hpp"
#include "talvo/xray/xray_average.hpp"

namespace talvo::python {
namespace {

struct XrayAverageTag {};
using XrayAverageResult = Typed<XrayAverageTag>;

constexpr std::array<Field, 12> kXrayAverageFields{{
    {"formula", Kind::kText},
    {"symbols", Kind::kTexts},
    {"fractions", Kind::kArray},
    {"f0", Kind::kArray},
    {"f0_mean", Kind::kFloat},
    {"q", Kind::kArrayOrFloat},
    {"f2", Kind::kArrayOrFloat},
    {"f_mean_sq", Kind::kArrayOrFloat},
    {"weights", Kind::kArrayDict},  // a scalar Q gives floats: checked as numbers below
    {"density", Kind::kOptionalFloat},
    {"number_density", Kind::kOptionalFloat},
    {"t0", Kind::kOptionalFloat},
}};

FormFactorTable table_from_name(const std::string& name) {
  if (const std::optional<FormFactorTable> table = form_factor_table_named(text_arg(name, "table"))) return *table;
  raise_invalid("unknown form-factor table " + quote_for_message(name) +
                ": give \"wk\" (Waasmaier-Kirfel) or \"it\" (International Tables)");
}

// f0(Q) + f'(E) + i f''(E): complex, of q's shape (a complex for a scalar q).
py::object complex_form_factor(const std::string& symbol, const InArray& q, double kev, const FormFactorOptions& o) {
  Result<std::vector<std::complex<double>>> r = [&] {
    py::gil_scoped_release unlocked;
    return talvo::form_factor(symbol, view(q), kev, o);
  }();
  const std::vector<std::complex<double>> f = take(std::move(r));
  if (q.ndim() == 0) return py::cast(f.at(0));
  py::array_t<std::complex<double>> out(shape_of(q));
  std::copy(f.begin(), f.end(), out.mutable_data());
  return out;
}

py::object form_factor(const std::string& symbol, const py::object& q_in, const std::string& table,
                       const py::object& energy, const py::object& wavelength, std::optional<std::string> anode) {
  text_arg(symbol, "symbol");
  FormFactorOptions o;
  o.table = table_from_name(table);
  const InArray q = numbers(q_in, "q");
  if (photon_given(energy, wavelength, anode))
    return complex_form_factor(symbol, q, photon_energy(energy, wavelength, anode), o);
  Result<std::vector<double>> r = [&] {
    py::gil_scoped_release unlocked;
    return talvo::form_factor(symbol, view(q), o);
  }();
  return shaped(take(std::move(r)), shape_of(q));
}

py::object xray_average(const std::string& formula, const py::object& q_in, const std::string& table,
                        const py::object& density, const py::object& number_density, const py::object& energy,
                        const py::object& wavelength, std::optional<std::string> anode) {
  text_arg(formula, "formula");
  XrayAverageOptions o;
  if (photon_given(energy, wavelength, anode)) o.energy = photon_energy(energy, wavelength, anode);
  o.table = table_from_name(table);
  o.density = quantity_arg(density, "density", Quantity::kDensity);
  o.number_density = quantity_arg(number_density, "number_density", Quantity::kNumber);
  const InArray q = numbers(q_in, "q");
  Result<XrayAverage> result = [&] {
    py::gil_scoped_release unlocked;
    return talvo::xray_average(formula, view(q), o);
  }();
  XrayAverage a = take(std::move(result));
  const auto shape = shape_of(q);
  py::dict weights;
  for (XrayPartial& w : a.weights) weights[py::str(w.pair)] = shaped(std::move(w.weight), shape);
  XrayAverageResult r;
  r.v = {py::str(a.formula),
         py::tuple(py::cast(a.symbols)),
         to_numpy(std::move(a.fractions)),
         to_numpy(std::move(a.f0)),
         py::float_(a.f0_mean),
         shaped(std::move(a.q), shape),
         shaped(std::move(a.f2), shape),
         shaped(std::move(a.f_mean_sq), shape),
         weights,
         optional_float(a.density),
         optional_float(a.number_density),
         optional_float(a.t0)};
  return make_result(std::move(r));
}

constexpr const char* kFormFactorDoc =
    R"(form_factor(symbol, q, table='wk', *, energy=None, wavelength=None, anode=None)
--

The X-ray form factor f(Q) of a neutral atom, in electrons; with a photon
energy (keV), wavelength (Angstrom) or anode ("Cu"), the complex
f0(Q) + f'(E) + i f''(E) of an atom or ion ("Fe3+", "O2-") with Henke's
dispersion corrections (Waasmaier-Kirfel ions; complex128 array).

f(Q) = c + sum_j a_j exp(-b_j (Q / 4 pi)^2), in double precision from the
published coefficients.

symbol
    The element ("Fe", case-blind).
q
    Q in inverse Angstrom (not below 0): an array of any shape, a sequence or
    a scalar, of ints or floats.
table
    "wk" (Waasmaier-Kirfel 1995, fitted up to Q = 24 pi) or "it"
    (International Tables Vol. C, fitted up to Q = 8 pi).

Returns a float64 array of q's shape; a float for a scalar q. Raises
ValueError for an element the table lacks or a Q that is negative or not a
number, TypeError for a q that is not numbers (strings, dates); issues a
TalvoWarning (values still given) beyond the fitted range.)";

constexpr const char* kXrayAverageDoc =
    R"(xray_average(formula, q, table='wk', density=None, number_density=None, *, energy=None, wavelength=None, anode=None)
--

X-ray averages of a formula over its composition on a Q grid.

formula
    As for material(); isotopes scatter X-rays as their element.
q
    Q in inverse Angstrom (not below 0), any shape, or a scalar.
table
    "wk" or "it", as for form_factor().
density, number_density
    g/cm3 or atoms per cubic Angstrom (one of them, or neither) for T0.
energy, wavelength, anode
    One of them, or none: keV, Angstrom or an anode's line; then f2,
    f_mean_sq and the weights take f' and f'' (<|f|^2>, |<f>|^2).

@RETURNS@)";

// The library's table of the averages' values (talvo/xray/average_fields.hpp)
// for each field of the class, in its order.
const XrayAverageField& table_field(const Field& f) {
  const XrayAverageField* t = find_xray_average_field(f.name);
  if (!t) throw std::logic_error(std::string("XrayAverage.") + f.name + " is not in the table of the averages");
  return *t;
}

// The attributes' docstrings: what each value is, in what unit.
const std::vector<std::string>& average_docs() {
  static const std::vector<std::string> docs = [] {
    std::vector<std::string> out;
    for (const Field& f : kXrayAverageFields) {
      const XrayAverageField& t = table_field(f);
      out.push_back(std::string(t.meaning) + (t.unit.empty() ? "" : ", " + std::string(t.unit)));
    }
    return out;
  }();
  return docs;
}

// xray_average()'s docstring: what it returns from the table, each value
// with its unit, wrapped at 76.
std::string xray_average_doc() {
  std::string names;
  for (const Field& f : kXrayAverageFields) {
    const XrayAverageField& t = table_field(f);
    names +=
        (names.empty() ? "" : ", ") + std::string(t.name) + (t.unit.empty() ? "" : " (" + std::string(t.unit) + ")");
  }
  std::string doc = kXrayAverageDoc;
  const std::string mark = "@RETURNS@";
  doc.replace(
      doc.find(mark), mark.size(),
      wrapped("Returns an XrayAverage: " + names +
              "; weights is a dict of each pair (\"Si-O\") to its Faber-Ziman weight; the densities and t0 are None "
              "without a density. Arrays at Q have q's shape (floats for a "
              "scalar q). Raises ValueError for a bad formula, element, density or Q; warns as form_factor() "
              "does."));
  return doc;
}

}  // namespace

void init_xray(py::module_& m) {
  define<XrayAverageTag>(m, "XrayAverage",
                         "X-ray averages of a formula on a Q grid (see xray_average()): <f^2>, <f>^2, the Faber-Ziman "
                         "weights and T0.",
                         kXrayAverageFields, {}, average_docs());
  m.def("form_factor", &form_factor, kFormFactorDoc, py::arg("symbol"), py::arg("q"), py::arg("table") = "wk",
        py::kw_only(), py::arg("energy") = py::none(), py::arg("wavelength") = py::none(),
        py::arg("anode") = py::none());
  static const std::string xray_average_docstring = xray_average_doc();
  m.def("xray_average", &xray_average, xray_average_docstring.c_str(), py::arg("formula"), py::arg("q"),
        py::arg("table") = "wk", py::arg("density") = py::none(), py::arg("number_density") = py::none(), py::kw_only(),
        py::arg("energy") = py::none(), py::arg("wavelength") = py::none(), py::arg("anode") = py::none());
}

}  // namespace talvo::python
