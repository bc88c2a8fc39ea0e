// Arguments in and results out: numbers as aligned float64 arrays, texts
// without NUL, vectors handed to numpy without a copy.
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core.hpp"
#include "talvo/elements/elements.hpp"
#include "talvo/text/quote.hpp"

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
  // True is an int to Python, never a number a user meant.
  if (PyBool_Check(value.ptr())) throw py::type_error(std::string(name) + " must be a number, not bool");
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

std::optional<double> quantity_arg(const py::handle& value, const char* name, Quantity quantity) {
  if (value.is_none()) return std::nullopt;
  if (py::isinstance<py::str>(value)) {
    NumberOptions o;
    o.quantity = quantity;
    return take(read_number(text_arg(value.cast<std::string>(), name), name, o));
  }
  return number_arg(value, name);
}

py::array read_only(py::array a) {
  a.attr("setflags")(py::arg("write") = false);
  return a;
}

void seal(std::vector<py::object>& values) {
  for (py::object& v : values) {
    if (py::isinstance<py::array>(v)) {
      read_only(py::reinterpret_borrow<py::array>(v));
    } else if (py::isinstance<py::dict>(v)) {
      for (auto item : py::reinterpret_borrow<py::dict>(v))
        if (py::isinstance<py::array>(item.second)) read_only(py::reinterpret_borrow<py::array>(item.second));
    }
  }
}

struct Interrupts::State {
  std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
  PyObject* type = nullptr;  // the exception a handler raised, kept until the call returns
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  bool stopped = false;
};

Interrupts::Interrupts() : state_(std::make_shared<State>()) {}

StopCheck Interrupts::stop() const {
  return [state = state_] {
    if (state->stopped) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now - state->last < std::chrono::milliseconds(20)) return false;
    state->last = now;
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() == 0) return false;
    PyErr_Fetch(&state->type, &state->value, &state->traceback);
    state->stopped = true;
    return true;
  };
}

void Interrupts::raise_if_stopped() const {
  if (!state_->stopped) return;
  state_->stopped = false;
  PyErr_Restore(state_->type, state_->value, state_->traceback);
  state_->type = state_->value = state_->traceback = nullptr;
  throw py::error_already_set();
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

const std::string& text_arg(const std::string& s, const char* what) {
  if (s.find('\0') != std::string::npos)
    raise_invalid(std::string(what) + " " + quote_for_message(s) + " holds a NUL character");
  return s;
}

std::string path_arg(const py::handle& path, const char* what) {
  // Kept for the process: no destructor may run after the interpreter has gone.
  static const py::handle fsencode = py::object(py::module_::import("os").attr("fsencode")).release();
  std::string bytes = fsencode(path).cast<std::string>();
  text_arg(bytes, what);
  return bytes;
}

py::object optional_float(const std::optional<double>& v) {
  if (!v || !std::isfinite(*v)) return py::none();
  return py::float_(*v);
}

std::string wrapped(const std::string& text, std::size_t width) {
  std::string out, line;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    start = end + 1;
  }
  return out + line;
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

// The keywords of a call as the values of its option table, each of the kind its option takes: numbers as
// numbers (or text with a unit), the grid r as three numbers, a flag as a bool, a list as text or a
// sequence of texts, the fit's range as two numbers or "FROM:TO".
OptionValues keyword_values(const OptionTable& table, const py::kwargs& kw, const char* function) {
  OptionValues values;
  for (const auto& [k, v] : kw) {
    const std::string key = k.cast<std::string>();
    const OptionSpec* option = nullptr;
    for (const OptionSpec& o : table.options)
      if (spelled(o.name, Spelling::kKeyword) == key) option = &o;
    if (option == nullptr)
      throw py::type_error(std::string(function) + "() got an unexpected keyword argument '" + key + "'");
    if (v.is_none()) continue;
    const std::string name(option->name);
    switch (option->type) {
      case OptionType::kFlag:
        if (!py::isinstance<py::bool_>(v)) throw py::type_error(key + " must be True or False, not " + type_name(v));
        if (v.cast<bool>()) values.values[name] = std::string();
        break;
      case OptionType::kGrid:
        if (py::isinstance<py::str>(v)) {
          values.values[name] = text_arg(v.cast<std::string>(), key.c_str());
        } else {
          try {
            values.values[name] = v.cast<std::array<double, 3>>();
          } catch (const py::cast_error&) {
            throw py::type_error(key + " must be a sequence of three numbers (rmin, rmax, rstep) in Angstrom");
          }
        }
        break;
      case OptionType::kList:
        if (py::isinstance<py::str>(v)) {
          values.values[name] = text_arg(v.cast<std::string>(), key.c_str());
        } else {
          std::string joined;
          try {
            for (const std::string& item : v.cast<std::vector<std::string>>())
              joined += (joined.empty() ? "" : ",") + item;
          } catch (const py::cast_error&) {
            throw py::type_error(key + " must be a text or a sequence of texts, not " + type_name(v));
          }
          values.values[name] = text_arg(joined, key.c_str());
        }
        break;
      case OptionType::kText:
        if (py::isinstance<py::str>(v)) {
          values.values[name] = text_arg(v.cast<std::string>(), key.c_str());
        } else {  // the fit's range: two numbers
          std::array<double, 2> range{};
          try {
            range = v.cast<std::array<double, 2>>();
          } catch (const py::cast_error&) {
            throw py::type_error(key + " must be two numbers (from, to) in Angstrom or \"FROM:TO\"");
          }
          values.values[name] = option_text(range[0]) + ":" + option_text(range[1]);
        }
        break;
      case OptionType::kChoice:
        if (!py::isinstance<py::str>(v)) throw py::type_error(key + " must be a text (str), not " + type_name(v));
        values.values[name] = text_arg(v.cast<std::string>(), key.c_str());
        break;
      case OptionType::kPath:
        values.values[name] = path_arg(v, key.c_str());
        break;
      case OptionType::kNumber:
      case OptionType::kWhole:
        if (py::isinstance<py::str>(v))
          values.values[name] = text_arg(v.cast<std::string>(), key.c_str());
        else
          values.values[name] = number_arg(v, key.c_str());
        break;
    }
  }
  return values;
}

// The keywords of a signature's docstring, from the table.
std::string keywords_text(const OptionTable& table) {
  std::string out;
  for (const OptionSpec& o : table.options)
    out += ", " + spelled(o.name, Spelling::kKeyword) + (o.type == OptionType::kFlag ? "=False" : "=None");
  return out;
}

py::list lines_of(const std::string& text) {
  py::list out;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = text.find('\n', from);
    out.append(text.substr(from, end == std::string::npos ? std::string::npos : end - from));
    if (end == std::string::npos) break;
    from = end + 1;
  }
  return out;
}

}  // namespace talvo::python
