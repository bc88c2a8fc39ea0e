// Arguments in and results out: numbers as aligned float64 arrays, texts
// without NUL, vectors handed to numpy without a copy.
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core.hpp"
#include "talvo/elements/elements.hpp"

namespace talvo::python {

std::string type_name(const py::handle& value) { return py::str(py::type::of(value).attr("__name__")); }

InArray numbers(const py::handle& value, const char* name) {
  py::array a = py::isinstance<py::array>(value) ? py::reinterpret_borrow<py::array>(value) : py::array::ensure(value);
  if (!a) {
    PyErr_Clear();
    throw py::type_error(std::string(name) + " must be numbers, not " + type_name(value));
  }
  const char kind = a.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u')
    throw py::type_error(std::string(name) + " must be numbers, not an array of " + std::string(py::str(a.dtype())));
  InArray out = InArray::ensure(a);
  if (!out) throw py::error_already_set();
  // A view at an odd byte offset (np.frombuffer(b, offset=1)) is C-ordered
  // float64 but cannot be read as doubles: the library gets an aligned copy.
  if (reinterpret_cast<std::uintptr_t>(out.data()) % alignof(double) != 0) {
    InArray copy(std::vector<py::ssize_t>(out.shape(), out.shape() + out.ndim()));
    std::memcpy(copy.mutable_data(), out.data(), static_cast<std::size_t>(out.nbytes()));
    return copy;
  }
  return out;
}

double number_arg(const py::handle& value, const char* name) {
  const double x = PyFloat_AsDouble(value.ptr());
  if (x == -1.0 && PyErr_Occurred()) {
    const bool overflow = PyErr_ExceptionMatches(PyExc_OverflowError);
    PyErr_Clear();
    const std::string type = type_name(value);
    if (overflow) {
      PyErr_SetString(PyExc_OverflowError, (std::string(name) + ": the " + type + " is too large for a float").c_str());
      throw py::error_already_set();
    }
    throw py::type_error(std::string(name) + " must be a number, not " + type);
  }
  return x;
}

std::span<const double> view(const InArray& a) { return {a.data(), static_cast<std::size_t>(a.size())}; }

std::vector<py::ssize_t> shape_of(const InArray& a) { return {a.shape(), a.shape() + a.ndim()}; }

std::span<const double> one_d(const InArray& a, const char* name) {
  if (a.ndim() != 1) raise_invalid(std::string(name) + " must be one-dimensional");
  return view(a);
}

py::array_t<double> to_numpy(std::vector<double>&& v, const std::vector<py::ssize_t>& shape) {
  if (v.empty()) return py::array_t<double>(shape);
  auto owned = std::make_unique<std::vector<double>>(std::move(v));
  py::capsule owner(owned.get(), [](void* p) { delete static_cast<std::vector<double>*>(p); });
  const double* data = owned.release()->data();
  return py::array_t<double>(shape, data, owner);
}

py::array_t<double> to_numpy(std::vector<double>&& v) {
  const auto n = static_cast<py::ssize_t>(v.size());
  return to_numpy(std::move(v), {n});
}

py::object shaped(std::vector<double>&& v, const std::vector<py::ssize_t>& shape) {
  if (shape.empty()) return py::float_(v.at(0));
  return to_numpy(std::move(v), shape);
}

std::string escaped(std::string_view s) {
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  out.reserve(s.size());
  for (const char ch : s) {
    const auto u = static_cast<unsigned char>(ch);
    if (u < 0x20 || u == 0x7f) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0xf];
    } else {
      out += ch;
    }
  }
  return out;
}

const std::string& text_arg(const std::string& s, const char* what) {
  if (s.find('\0') != std::string::npos)
    raise_invalid(std::string(what) + " \"" + escaped(s) + "\" holds a NUL character");
  return s;
}

py::object optional_float(const std::optional<double>& v) {
  if (!v || !std::isfinite(*v)) return py::none();
  return py::float_(*v);
}

bool same(const py::handle& a, const py::handle& b) {
  if (py::isinstance<py::array>(a) || py::isinstance<py::array>(b)) {
    // Kept for the process: no destructor may run after the interpreter has gone.
    static const py::handle array_equal = py::object(py::module_::import("numpy").attr("array_equal")).release();
    return array_equal(a, b).cast<bool>();
  }
  if (py::isinstance<py::dict>(a) && py::isinstance<py::dict>(b)) {
    const auto da = py::reinterpret_borrow<py::dict>(a), db = py::reinterpret_borrow<py::dict>(b);
    if (da.size() != db.size()) return false;
    for (auto [k, v] : da)
      if (!db.contains(k) || !same(v, db[k])) return false;
    return true;
  }
  const auto sequence = [](const py::handle& h) { return py::isinstance<py::list>(h) || py::isinstance<py::tuple>(h); };
  if (sequence(a) && sequence(b)) {
    if (py::len(a) != py::len(b)) return false;
    for (std::size_t i = 0; i < py::len(a); ++i)
      if (!same(a[py::int_(i)], b[py::int_(i)])) return false;
    return true;
  }
  return a.equal(b);
}

void init_conversions(py::module_&) {}

}  // namespace talvo::python
