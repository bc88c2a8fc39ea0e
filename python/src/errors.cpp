// Errors by kind: the library's error kinds become Python exceptions here, in
// one table.
#include <Python.h>

#include <array>
#include <string>
#include <utility>

#include "core.hpp"

namespace talvo::python {
namespace {

// Set once when the module loads and kept for the life of the interpreter.
PyObject* talvo_error = nullptr;
PyObject* value_error = nullptr;
PyObject* os_error = nullptr;
PyObject* file_not_found_error = nullptr;
PyObject* memory_error = nullptr;
PyObject* talvo_warning = nullptr;

struct KindRow {
  ErrorKind kind;
  PyObject** value;  // when the error is about a value the caller gave
  PyObject** file;   // when it is about a file
};

// The exception of each kind. A name that is not there is bad input unless it
// names a file.
const std::array<KindRow, 8> kKinds{{
    {ErrorKind::kInvalidArgument, &value_error, &value_error},
    {ErrorKind::kParseError, &value_error, &value_error},
    {ErrorKind::kNotFound, &value_error, &file_not_found_error},
    {ErrorKind::kOutOfRange, &value_error, &value_error},
    {ErrorKind::kIoError, &os_error, &os_error},
    {ErrorKind::kUnsupported, &value_error, &value_error},
    {ErrorKind::kOutOfMemory, &memory_error, &memory_error},
    // Only a call that Python stopped is cancelled, and the signal's own exception (KeyboardInterrupt) is
    // raised in its place: this is for a caller that stops the library otherwise.
    {ErrorKind::kCancelled, &talvo_error, &talvo_error},
}};

PyObject* exception_of(ErrorKind kind, About about) {
  for (const KindRow& row : kKinds)
    if (row.kind == kind) return about == About::kFile ? *row.file : *row.value;
  return talvo_error;
}

PyObject* new_exception(const char* name, const char* doc, PyObject* bases) {
  PyObject* type = PyErr_NewExceptionWithDoc(name, doc, bases, nullptr);
  if (type == nullptr) throw py::error_already_set();
  return type;
}

}  // namespace

void raise(const Error& error, About about) {
  PyErr_SetString(exception_of(error.kind, about), error.message.c_str());
  throw py::error_already_set();
}

void raise_invalid(const std::string& message) { raise(make_error(ErrorKind::kInvalidArgument, message)); }

void warn(const std::string& message) {
  if (PyErr_WarnEx(talvo_warning, message.c_str(), 1) != 0) throw py::error_already_set();
}

void init_errors(py::module_& m) {
  talvo_error = new_exception("talvo.TalvoError",
                              "The base of every error the library reports (bad input, a file that cannot be read, "
                              "memory that runs out); its message is the library's.",
                              PyExc_Exception);
  const auto pair = [](PyObject* a, PyObject* b) {
    PyObject* t = PyTuple_Pack(2, a, b);
    if (t == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(t);
  };
  value_error = new_exception("talvo.TalvoValueError",
                              "Input the library cannot use: a formula that does not parse, an element it does not "
                              "know, a value out of its domain, a file whose content is broken.",
                              pair(talvo_error, PyExc_ValueError).ptr());
  os_error = new_exception("talvo.TalvoOSError", "A file that cannot be read.", pair(talvo_error, PyExc_OSError).ptr());
  file_not_found_error = new_exception("talvo.TalvoFileNotFoundError", "A file that is not there.",
                                       pair(os_error, PyExc_FileNotFoundError).ptr());
  memory_error = new_exception("talvo.TalvoMemoryError", "A result that would not fit in memory.",
                               pair(talvo_error, PyExc_MemoryError).ptr());
  talvo_warning = new_exception(
      "talvo.TalvoWarning",
      "Issued where the library warns and still gives its results: Q beyond the range a form-factor table was "
      "fitted to, a grid made odd by one more point, an XRDML file without a wavelength.",
      PyExc_UserWarning);
  m.attr("TalvoError") = py::handle(talvo_error);
  m.attr("TalvoValueError") = py::handle(value_error);
  m.attr("TalvoOSError") = py::handle(os_error);
  m.attr("TalvoFileNotFoundError") = py::handle(file_not_found_error);
  m.attr("TalvoMemoryError") = py::handle(memory_error);
  m.attr("TalvoWarning") = py::handle(talvo_warning);
  // The kinds' names, for tests and for callers that log them.
  py::dict kinds;
  for (const KindRow& row : kKinds)
    kinds[py::str(std::string(error_kind_name(row.kind)))] =
        py::make_tuple(py::handle(*row.value), py::handle(*row.file));
  m.attr("_ERROR_KINDS") = kinds;
}

}  // namespace talvo::python
