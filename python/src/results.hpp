// Typed results whose values are numpy arrays and Python numbers: each
// class names its fields once, with their kind; the attributes, to_dict(),
// equality, repr and pickling follow from that table. A restored state is
// checked field by field, so a result only ever holds what its kind allows
// (no result can hold another, or itself).
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core.hpp"

namespace talvo::python {

enum class Kind {
  kText,           // str
  kInt,            // int
  kBool,           // bool
  kFloat,          // float
  kOptionalFloat,  // float or None
  kArray,          // float64 array
  kArrayOrFloat,   // float64 array, or a float for a scalar point
  kOptionalArrayOrFloat,
  kTexts,      // list of str (a fresh list each time)
  kArrayDict,  // dict of str to float64 array (a fresh dict each time)
  kFloatDict,  // dict of str to float
  kNested,     // tuple of results of one other class (a list of dicts in to_dict)
  kInstance,   // one object of that other class (itself in to_dict; it pickles on its own)
};

struct Field {
  const char* name;
  Kind kind;
};

// The values of a result, in the order of its class's fields. A result
// with `make` set makes them on first use (the arrays of a file's scans are
// made as the scans are looked at, not all when the file is read).
struct Values {
  mutable std::vector<py::object> v;
  mutable std::function<std::vector<py::object>()> make;

  const std::vector<py::object>& values() const {
    if (make) {
      v = make();
      seal(v);
      make = nullptr;
    }
    return v;
  }
};

// A result class: Values with its own field table.
template <class Tag>
struct Typed : Values {};

namespace detail {

[[noreturn]] inline void bad_state(const char* type, const std::string& why) {
  throw py::type_error(std::string("cannot restore a ") + type + ": " + why);
}

inline bool is_number(const py::handle& h) {
  return (py::isinstance<py::float_>(h) || py::isinstance<py::int_>(h)) && !py::isinstance<py::bool_>(h);
}

// A copy of a container, so the caller's changes stay theirs.
inline py::object fresh(const py::object& value, Kind kind, bool copy_arrays) {
  switch (kind) {
    case Kind::kArrayDict:
    case Kind::kFloatDict: {
      py::dict out;
      for (auto [k, a] : py::reinterpret_borrow<py::dict>(value))
        out[k] = copy_arrays && py::isinstance<py::array>(a) ? a.attr("copy")() : py::reinterpret_borrow<py::object>(a);
      return out;
    }
    case Kind::kTexts:
      return py::list(value);
    case Kind::kArray:
    case Kind::kArrayOrFloat:
    case Kind::kOptionalArrayOrFloat:
      if (copy_arrays && py::isinstance<py::array>(value)) return value.attr("copy")();
      return value;
    default:
      return value;
  }
}

}  // namespace detail

// The class's name and fields, given where it is defined.
template <class Tag>
struct Layout {
  static const char* name;
  static std::span<const Field> fields;
  static PyObject* nested_type;  // the class of a kNested field's items or a kInstance field (kept for the process)
};
template <class Tag>
const char* Layout<Tag>::name = nullptr;
template <class Tag>
std::span<const Field> Layout<Tag>::fields{};
template <class Tag>
PyObject* Layout<Tag>::nested_type = nullptr;

template <class Tag>
py::dict to_dict(const Typed<Tag>& r, bool copy_arrays = false) {
  py::dict d;
  const auto fields = Layout<Tag>::fields;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const py::object& value = r.values().at(i);
    if (fields[i].kind == Kind::kTexts) {
      d[fields[i].name] = py::list(value);
    } else if (fields[i].kind == Kind::kNested) {
      py::list items;
      for (const py::handle x : value) items.append(x.attr(copy_arrays ? "__getstate__" : "to_dict")());
      d[fields[i].name] = items;
    } else {
      d[fields[i].name] = detail::fresh(value, fields[i].kind, copy_arrays);
    }
  }
  return d;
}

// A value of a state dict, checked against its kind.
inline py::object checked(const py::handle& h, const Field& f, const char* type, PyObject* nested) {
  const std::string what = std::string(f.name) + " ";
  // A copy: the result's arrays are read-only, the caller's stay as they were.
  const auto array = [&](const py::handle& a) -> py::object {
    if (!py::isinstance<py::array>(a) && !py::isinstance<py::list>(a)) detail::bad_state(type, what + "is no array");
    return numbers(a, f.name).attr("copy")();
  };
  switch (f.kind) {
    case Kind::kText:
      if (!py::isinstance<py::str>(h)) detail::bad_state(type, what + "is no str");
      return py::reinterpret_borrow<py::object>(h);
    case Kind::kInt:
      if (!py::isinstance<py::int_>(h) || py::isinstance<py::bool_>(h)) detail::bad_state(type, what + "is no int");
      return py::reinterpret_borrow<py::object>(h);
    case Kind::kBool:
      if (!py::isinstance<py::bool_>(h)) detail::bad_state(type, what + "is no bool");
      return py::reinterpret_borrow<py::object>(h);
    case Kind::kOptionalFloat:
      if (h.is_none()) return py::none();
      [[fallthrough]];
    case Kind::kFloat:
      if (!detail::is_number(h)) detail::bad_state(type, what + "is no number");
      return py::float_(h.cast<double>());
    case Kind::kArray:
      return array(h);
    case Kind::kOptionalArrayOrFloat:
      if (h.is_none()) return py::none();
      [[fallthrough]];
    case Kind::kArrayOrFloat:
      if (detail::is_number(h)) return py::float_(h.cast<double>());
      return array(h);
    case Kind::kTexts: {
      if (!py::isinstance<py::list>(h) && !py::isinstance<py::tuple>(h)) detail::bad_state(type, what + "is no list");
      for (const py::handle s : h)
        if (!py::isinstance<py::str>(s)) detail::bad_state(type, what + "holds a value that is no str");
      return py::tuple(py::reinterpret_borrow<py::object>(h));
    }
    case Kind::kArrayDict:
    case Kind::kFloatDict: {
      if (!py::isinstance<py::dict>(h)) detail::bad_state(type, what + "is no dict");
      py::dict out;
      for (auto [k, v] : py::reinterpret_borrow<py::dict>(h)) {
        if (!py::isinstance<py::str>(k)) detail::bad_state(type, what + "has a key that is no str");
        if (f.kind == Kind::kArrayDict) {
          out[k] = detail::is_number(v) ? py::float_(v.cast<double>()) : array(v);
        } else {
          if (!detail::is_number(v)) detail::bad_state(type, what + "holds a value that is no number");
          out[k] = py::float_(v.cast<double>());
        }
      }
      return out;
    }
    case Kind::kNested: {
      if (!py::isinstance<py::list>(h) && !py::isinstance<py::tuple>(h)) detail::bad_state(type, what + "is no list");
      py::list items;
      for (const py::handle x : h) {
        const py::handle nested_type(nested);
        py::object item = nested_type.attr("__new__")(nested_type);
        item.attr("__setstate__")(x);
        items.append(item);
      }
      return py::tuple(items);
    }
    case Kind::kInstance:
      if (!py::isinstance(h, py::handle(nested)))
        detail::bad_state(type, what + "is no " + py::str(py::handle(nested).attr("__name__")).cast<std::string>());
      return py::reinterpret_borrow<py::object>(h);
  }
  return py::none();
}

template <class Tag>
Typed<Tag> from_dict(const py::handle& state) {
  const char* type = Layout<Tag>::name;
  if (!py::isinstance<py::dict>(state)) detail::bad_state(type, "its state must be a dict");
  const auto d = py::reinterpret_borrow<py::dict>(state);
  const auto fields = Layout<Tag>::fields;
  if (d.size() != fields.size())
    detail::bad_state(type, "its state must have " + std::to_string(fields.size()) + " fields");
  Typed<Tag> r;
  for (const Field& f : fields) {
    PyObject* v = PyDict_GetItemString(d.ptr(), f.name);
    if (v == nullptr) detail::bad_state(type, std::string("no \"") + f.name + "\"");
    r.v.push_back(checked(v, f, type, Layout<Tag>::nested_type));
  }
  seal(r.v);
  return r;
}

// A result made by a function: its arrays read-only, then the Python object.
template <class Tag>
py::object make_result(Typed<Tag>&& r) {
  seal(r.v);
  return py::cast(std::move(r));
}

// Defines the class: one read-only attribute per field, to_dict, ==, repr,
// pickling. docs, where given, holds each field's docstring in the fields'
// order (kept by the caller for the process: pybind11 holds the pointers).
template <class Tag>
py::class_<Typed<Tag>> define(py::module_& m, const char* name, const char* doc, std::span<const Field> fields,
                              py::object nested_type = {}, std::span<const std::string> docs = {}) {
  Layout<Tag>::name = name;
  Layout<Tag>::fields = fields;
  Layout<Tag>::nested_type = nested_type.release().ptr();
  py::class_<Typed<Tag>> cls(m, name, doc);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const Kind kind = fields[i].kind;
    cls.def_property_readonly(
        fields[i].name,
        [i, kind](Self<Typed<Tag>> r_self) {
          const Typed<Tag>& r = r_self;
          return detail::fresh(r.values().at(i), kind, false);
        },
        i < docs.size() ? docs[i].c_str() : nullptr);
  }
  cls.def(
         "to_dict",
         [](Self<Typed<Tag>> r_self) {
           const Typed<Tag>& r = r_self;
           return to_dict(r);
         },
         "The values as a plain dict (arrays stay numpy arrays; results within become dicts).")
      .def("__getstate__",
           [](Self<Typed<Tag>> r_self) {
             const Typed<Tag>& r = r_self;
             return to_dict(r, true);
           })
      .def("__eq__",
           [](Self<Typed<Tag>> a_self, const py::object& b) -> py::object {
             const Typed<Tag>& a = a_self;
             if (!py::isinstance<Typed<Tag>>(b)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             return py::bool_(same(to_dict(a), to_dict(static_cast<const Typed<Tag>&>(b.cast<Self<Typed<Tag>>>()))));
           })
      .def("__repr__", [](Self<Typed<Tag>> r_self) {
        const Typed<Tag>& r = r_self;
        std::string out = std::string(Layout<Tag>::name) + "(";
        const auto fs = Layout<Tag>::fields;
        for (std::size_t i = 0; i < fs.size(); ++i) {
          if (i) out += ", ";
          out += std::string(fs[i].name) + "=";
          const py::object& v = r.values().at(i);
          out += py::isinstance<py::array>(v)  ? "array(shape=" + py::str(v.attr("shape")).cast<std::string>() + ")"
                 : fs[i].kind == Kind::kNested ? "(" + std::to_string(py::len(v)) + " items)"
                                               : py::repr(v).cast<std::string>();
        }
        return out + ")";
      });
  cls.attr("__hash__") = py::none();
  define_setstate(cls, [](const py::dict& state) { return from_dict<Tag>(state); });
  return cls;
}

}  // namespace talvo::python
