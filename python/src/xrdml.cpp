// talvo.read_xrdml.
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core.hpp"
#include "results.hpp"
#include "talvo/xrdml/xrdml_file.hpp"

namespace talvo::python {
namespace {

namespace fs = std::filesystem;

struct ScanTag {};
struct FileTag {};
using ScanResult = Typed<ScanTag>;
using FileResult = Typed<FileTag>;

constexpr std::array<Field, 8> kScanFields{{
    {"number", Kind::kInt},
    {"scan_axis", Kind::kText},
    {"axis", Kind::kText},
    {"x", Kind::kArray},
    {"y", Kind::kArray},
    {"e", Kind::kArray},
    {"fixed", Kind::kFloatDict},
    {"axes", Kind::kArrayDict},
}};

constexpr std::array<Field, 6> kFileFields{{
    {"path", Kind::kText},
    {"wavelength", Kind::kFloat},
    {"k_alpha1", Kind::kFloat},
    {"k_alpha2", Kind::kFloat},
    {"ratio", Kind::kFloat},
    {"scans", Kind::kNested},
}};

// A str, bytes or os.PathLike as a path (path_arg).
fs::path path_of(const py::object& value) { return fs::path(path_arg(value, "path")); }

// What a read gave, shared by the file's result and its scans until each
// has made its values.
struct Read {
  std::string path;
  XrdmlFile file;
  std::vector<XrdmlValues> values;
};

// Scan i's values: its lists move into the arrays (each scan makes its values once).
std::vector<py::object> scan_values(Read& read, std::size_t i) {
  XrdmlScan& scan = read.file.scans[i];
  XrdmlValues& v = read.values[i];
  py::dict fixed, axes;
  for (const auto& [name, position] : scan.fixed_axes()) fixed[py::str(name)] = position;
  const std::size_t n = scan.points();
  for (XrdmlAxis& a : scan.axes) {
    std::vector<double> at;
    if (a.form == XrdmlPositions::kList && a.list.size() == n) {
      at = std::move(a.list);
    } else {
      at.resize(n);
      for (std::size_t j = 0; j < n; ++j) at[j] = a.position(j, n);
    }
    axes[py::str(a.name)] = to_numpy(std::move(at));
  }
  return {py::int_(scan.number),    py::str(scan.scan_axis),  py::str(v.axis), to_numpy(std::move(v.x)),
          to_numpy(std::move(v.y)), to_numpy(std::move(v.e)), fixed,           axes};
}

std::vector<py::object> file_values(const std::shared_ptr<Read>& read) {
  py::tuple scans(read->file.scans.size());
  for (std::size_t i = 0; i < read->file.scans.size(); ++i) {
    ScanResult s;
    s.make = [read, i] { return scan_values(*read, i); };
    scans[i] = make_result(std::move(s));
  }
  const XrdmlFile& f = read->file;
  // The name as Python's os.fsdecode gives it: a name that is not UTF-8 too.
  py::object path = py::module_::import("os").attr("fsdecode")(py::bytes(read->path));
  return {std::move(path), py::float_(f.wavelength), py::float_(f.k_alpha1), py::float_(f.k_alpha2),
          py::float_(f.ratio), scans};
}

// The file is read and every scan's values worked out at once (so that any
// error is raised here); the Python objects of the scans are made as the
// scans are looked at.
py::object read_xrdml(const py::object& path_in, bool cps, const std::optional<std::string>& axis_name) {
  const std::string axis = axis_name ? text_arg(*axis_name, "axis") : std::string();
  const fs::path path = path_of(path_in);
  auto read = std::make_shared<Read>();
  read->path = path.string();
  std::optional<Result<XrdmlFile>> file;
  std::optional<Result<XrdmlValues>> failed;
  const Interrupts interrupts;
  XrdmlReadOptions read_options;
  read_options.stop = interrupts.stop();
  {
    py::gil_scoped_release unlocked;
    file.emplace(read_xrdml_file(read->path, read_options));
    if (file->ok()) {
      XrdmlValueOptions o;
      o.cps = cps;
      o.axis = axis;
      read->values.reserve((*file)->scans.size());
      for (const XrdmlScan& scan : (*file)->scans) {
        Result<XrdmlValues> v = xrdml_values(scan, o);
        if (!v.ok()) {
          failed.emplace(std::move(v));
          break;
        }
        read->values.push_back(std::move(*v));
      }
    }
  }
  interrupts.raise_if_stopped();
  interrupts.raise_if_stopped();
  if (!file->ok()) raise(file->error(), About::kFile);
  if (failed) raise(failed->error());
  for (const std::string& w : file->warnings()) warn(w);
  read->file = std::move(**file);
  FileResult r;
  r.make = [read] { return file_values(read); };
  return make_result(std::move(r));
}

constexpr const char* kReadXrdmlDoc = R"(read_xrdml(path, cps=False, axis=None)
--

Every scan of an XRDML file.

path
    The file (str or os.PathLike). Pole figures, reciprocal-space maps and
    any layout of the XML are read.
cps
    Divide y and e by each point's counting time (counts per second).
axis
    Take x from this axis (case-blind: "Omega", "Psi", ...); by default x is
    2Theta when it moves within a scan, else the scan's own axis.

Returns an XrdmlFile with path, wavelength (Angstrom: (K-alpha1 + ratio
K-alpha2) / (1 + ratio); 0 when the file gives none), k_alpha1, k_alpha2
(Angstrom), ratio and scans, a tuple of XrdmlScan, one per scan, each with
number (1 for the first), scan_axis (as written), axis (the axis x is taken
from), x (degrees, or the axis' unit), y (the intensity: the counts times the
beam attenuation factor; per second with cps), e (sqrt(y * factor), the
counting error scaled as y is), fixed (a dict of the axes that stay put over
the scan and their position) and axes (a dict of every axis and its position
at each point). x, y and e are the rows of `talvo-tools xrdml FILE --scans
all`.

Raises FileNotFoundError or OSError when the file cannot be read,
ValueError when it is not an XRDML file, is broken, or a scan lacks the
axis or the counting time asked for; warns when the file gives no
wavelength.)";

}  // namespace

void init_xrdml(py::module_& m) {
  auto scan = define<ScanTag>(
      m, "XrdmlScan", "One scan of an XRDML file (see read_xrdml()): x, y, e and the axes' positions.", kScanFields);
  define<FileTag>(m, "XrdmlFile", "An XRDML file's wavelength and scans (see read_xrdml()).", kFileFields, scan);
  m.def("read_xrdml", &read_xrdml, kReadXrdmlDoc, py::arg("path"), py::arg("cps") = false,
        py::arg("axis") = py::none());
}

}  // namespace talvo::python
