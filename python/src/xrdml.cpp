// talvo.read_xrdml.
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <array>
#include <filesystem>
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

// A str, bytes or os.PathLike as a path; a NUL is refused, named.
fs::path path_of(const py::object& value) {
  static const py::handle fspath = py::object(py::module_::import("os").attr("fspath")).release();
  const py::object p = fspath(value);
  if (py::isinstance<py::bytes>(p)) return fs::path(text_arg(p.cast<std::string>(), "path"));
  return fs::path(text_arg(p.cast<std::string>(), "path"));
}

py::object read_xrdml(const py::object& path_in, bool cps, const std::optional<std::string>& axis_name) {
  const std::string axis = axis_name ? text_arg(*axis_name, "axis") : std::string();
  const fs::path path = path_of(path_in);
  std::optional<Result<XrdmlFile>> file;
  std::vector<XrdmlValues> values;
  std::optional<Error> values_error;
  std::vector<std::vector<std::pair<std::string, double>>> fixed_axes;
  std::vector<std::vector<std::vector<double>>> positions;  // per scan, per axis, per point
  const Interrupts interrupts;
  XrdmlReadOptions read_options;
  read_options.stop = interrupts.stop();
  {
    py::gil_scoped_release unlocked;
    file.emplace(read_xrdml_file(path.string(), read_options));
    if (file->ok()) {
      XrdmlValueOptions o;
      o.cps = cps;
      o.axis = axis;
      std::vector<XrdmlScan>& all = (*file)->scans;
      values.reserve(all.size());
      fixed_axes.reserve(all.size());
      positions.reserve(all.size());
      for (XrdmlScan& scan : all) {
        Result<XrdmlValues> v = xrdml_values(scan, o);
        if (!v.ok()) {
          values_error = v.error();
          break;
        }
        values.push_back(std::move(*v));
        // Before the lists move out to become the axes' arrays.
        fixed_axes.push_back(scan.fixed_axes());
        const std::size_t n = scan.points();
        auto& at = positions.emplace_back();
        for (XrdmlAxis& a : scan.axes) {
          if (a.form == XrdmlPositions::kList && a.list.size() == n) {
            at.push_back(std::move(a.list));
            continue;
          }
          std::vector<double>& p = at.emplace_back(n);
          for (std::size_t j = 0; j < n; ++j) p[j] = a.position(j, n);
        }
      }
    }
  }
  interrupts.raise_if_stopped();
  if (!file->ok()) raise(file->error(), About::kFile);
  if (values_error) raise(*values_error);
  for (const std::string& w : file->warnings()) warn(w);
  XrdmlFile& read = **file;

  py::list scans;
  for (std::size_t i = 0; i < values.size(); ++i) {
    XrdmlScan& scan = read.scans[i];
    XrdmlValues& v = values[i];
    py::dict fixed, axes;
    for (const auto& [name, position] : fixed_axes[i]) fixed[py::str(name)] = position;
    for (std::size_t k = 0; k < scan.axes.size(); ++k)
      axes[py::str(scan.axes[k].name)] = to_numpy(std::move(positions[i][k]));
    ScanResult s;
    s.v = {py::int_(scan.number),    py::str(scan.scan_axis),  py::str(v.axis), to_numpy(std::move(v.x)),
           to_numpy(std::move(v.y)), to_numpy(std::move(v.e)), fixed,           axes};
    scans.append(make_result(std::move(s)));
  }
  FileResult r;
  r.v = {py::str(path.string()),    py::float_(read.wavelength), py::float_(read.k_alpha1),
         py::float_(read.k_alpha2), py::float_(read.ratio),      py::tuple(scans)};
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
