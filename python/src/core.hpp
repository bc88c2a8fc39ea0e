// What the parts of the _core extension share: arrays in and out, errors by
// kind, warnings, text checks and the data folder.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "talvo/neutron/neutron_table.hpp"
#include "talvo/pdf/reduction_fields.hpp"
#include "talvo/result.hpp"
#include "talvo/text/number.hpp"
#include "talvo/text/options.hpp"

namespace talvo::python {

namespace py = pybind11;

// --- errors (errors.cpp) ----------------------------------------------------

// Whether an error is about a file (then a kNotFound is FileNotFoundError).
enum class About { kValue, kFile };

// Raises the Python exception of the kind (the table in errors.cpp).
[[noreturn]] void raise(const Error& error, About about = About::kValue);
[[noreturn]] void raise_invalid(const std::string& message);

// A warning becomes a TalvoWarning.
void warn(const std::string& message);

// A Result's value: its error raised by kind, its warnings issued as TalvoWarning.
template <class T>
T take(Result<T>&& r, About about = About::kValue) {
  if (!r.ok()) raise(r.error(), about);
  for (const std::string& w : r.warnings()) warn(w);
  return std::move(r).value();
}

void init_errors(py::module_& m);

// --- arguments and results (conversions.cpp) --------------------------------

// A C-ordered, aligned float64 array of numbers (ints, unsigned ints and
// floats are taken; bools, strings, dates, complex and objects are refused
// with TypeError). A float64 array that is already C-ordered and aligned is
// used in place.
using InArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
InArray numbers(const py::handle& value, const char* name);

// The name of a value's type, for a TypeError ("str", "list").
std::string type_name(const py::handle& value);

// One number (a float, an int, a numpy number): TypeError naming `name` for
// anything else, OverflowError for an int past the double range.
double number_arg(const py::handle& value, const char* name);

// A number that may also be given as text ("10um", "8.048 keV"), read as
// talvo-tools reads its options and given in the quantity's canonical unit
// (cm, keV, A, g/cm3); None gives nothing. ValueError for text that is no
// number (it says what was read), TypeError for anything else.
std::optional<double> quantity_arg(const py::handle& value, const char* name, Quantity quantity);

std::span<const double> view(const InArray& a);
std::vector<py::ssize_t> shape_of(const InArray& a);
// One-dimensional only (integrands and grids with an order).
std::span<const double> one_d(const InArray& a, const char* name);

// An array a result holds: read-only, so that the result cannot be changed
// through it (r.gr[0] = 1 raises ValueError).
py::array read_only(py::array a);
// Every array in a result's values (in dicts too) made read-only.
void seal(std::vector<py::object>& values);

// The vector becomes the array's buffer (freed with the array).
py::array_t<double> to_numpy(std::vector<double>&& v, const std::vector<py::ssize_t>& shape);
py::array_t<double> to_numpy(std::vector<double>&& v);
// Values at evaluation points: shaped like the points, a float for a scalar.
py::object shaped(std::vector<double>&& v, const std::vector<py::ssize_t>& shape);

// A text argument as the library takes it: a NUL would cut it short in the
// library's C strings, so it is refused, the text quoted with it escaped.
const std::string& text_arg(const std::string& s, const char* what);

// A file name given as str, bytes or any os.PathLike, as its bytes: through
// os.fsencode, so that a name that is not UTF-8 (a str with surrogate
// escapes, as os.fsdecode makes it) names the same file. A NUL is refused.
std::string path_arg(const pybind11::handle& path, const char* what);

// Ctrl-C during a long call: stop() gives the library a StopCheck that,
// every 20 ms at most, takes the GIL and runs Python's signal handlers; when
// one raises (KeyboardInterrupt), the routine is told to stop and
// raise_if_stopped() raises that exception once the call has returned. Made
// on the Python thread, before the GIL is released.
class Interrupts {
 public:
  Interrupts();
  StopCheck stop() const;
  // Raises the exception a signal handler raised during the call, if one did.
  void raise_if_stopped() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// An optional float as Python gives it: None when absent or not finite.
py::object optional_float(const std::optional<double>& v);
// Equality of two result fields that may hold numpy arrays.
bool same(const py::handle& a, const py::handle& b);

// The keywords of a call as the values of its option table, each of the kind its option takes (numbers as
// numbers or text with a unit, a grid as three numbers, a flag as a bool, a list as text or texts, a path
// as str or os.PathLike); TypeError for one the table lacks, naming `function`.
OptionValues keyword_values(const OptionTable& table, const py::kwargs& kw, const char* function);
// ", name=None, ..." for a signature's docstring, from the table.
std::string keywords_text(const OptionTable& table);
// The lines of a text, as a list.
py::list lines_of(const std::string& text);
// Text as a docstring's paragraph: words filled into lines of at most
// `width` characters (a longer word stands on a line of its own).
std::string wrapped(const std::string& text, std::size_t width = 76);

void init_conversions(py::module_& m);

// --- the data folder (neutron.cpp) ------------------------------------------

std::string data_file(const std::string& name);
// The neutron lengths of talvo.material(), read once (neutron.cpp).
const NeutronTable& neutron_table();

void init_neutron(py::module_& m);
void init_xray(py::module_& m);
void init_xray_material(py::module_& m);
void init_pdf(py::module_& m);

// The photon energy in keV of exactly one of energy (keV), wavelength
// (Angstrom) and anode ("Cu", "MoKa2") (xray_material.cpp).
double photon_energy(const py::object& energy, const py::object& wavelength, const std::optional<std::string>& anode);
// Whether any of them is given.
bool photon_given(const py::object& energy, const py::object& wavelength, const std::optional<std::string>& anode);
void init_xrdml(py::module_& m);
void init_numeric(py::module_& m);
void init_model(py::module_& m);
void init_neutron_corrections(py::module_& m);
// A reduction's summary value as Python has it: None for none, else a float, an int, a bool or a str (pdf.cpp).
py::object summary_value(const pdf::SummaryValue& v);
// pdf(..., radiation="neutron") (neutron_pdf.cpp): one sample's run (a path) or a list of them.
py::object neutron_pdf(const py::object& input, const std::string& composition, const py::kwargs& kw);
void init_neutron_pdf(py::module_& m);

}  // namespace talvo::python

// --- results made only by the module ----------------------------------------

namespace talvo::python {

// `self` of a result's method. An instance made by X.__new__(X) (as pickle
// does before __setstate__) holds no value yet: its methods raise TypeError
// instead of reading memory that was never written.
template <class T>
struct Self {
  const T* p = nullptr;
  operator const T&() const { return *p; }  // NOLINT: used as the value it stands for
};

// __setstate__ for a value rebuilt from its state: only on an instance that
// holds none yet (pickle's), never over a live one.
template <class Cls, class From>
void define_setstate(Cls& cls, From from) {
  using T = typename Cls::type;
  cls.def(
      "__setstate__",
      [from](py::detail::value_and_holder& v_h, const py::dict& state) {
        if (v_h.holder_constructed()) throw py::type_error("__setstate__ on a result that holds values");
        v_h.value_ptr() = new T(from(state));
      },
      py::detail::is_new_style_constructor(), py::arg("state"));
}

}  // namespace talvo::python

namespace pybind11::detail {
template <class T>
struct type_caster<talvo::python::Self<T>> {
  PYBIND11_TYPE_CASTER(talvo::python::Self<T>, const_name("self"));
  bool load(handle src, bool) {
    if (!isinstance<T>(src)) return false;
    auto* inst = reinterpret_cast<instance*>(src.ptr());
    value_and_holder v_h = inst->get_value_and_holder(get_type_info(typeid(T)), true);
    if (!v_h.holder_constructed())
      throw type_error(str(src.get_type().attr("__name__")).cast<std::string>() +
                       " holds no values: results are made by talvo's functions (or restored by pickle)");
    value.p = v_h.template value_ptr<T>();
    return true;
  }
  static handle cast(const talvo::python::Self<T>&, return_value_policy, handle) = delete;
};
}  // namespace pybind11::detail
