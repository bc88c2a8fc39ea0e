// The Python module `talvo`: the library's value-returning entry points for
// numpy users. Arrays come in as views of the caller's numpy buffers and go
// out as numpy arrays that own the library's vectors; nothing is copied where
// the layout allows it.
#include <dlfcn.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "talvo/files/data_folder.hpp"
#include "talvo/neutron/material.hpp"
#include "talvo/numeric/filon.hpp"
#include "talvo/numeric/moq.hpp"
#include "talvo/numeric/peaks.hpp"
#include "talvo/numeric/sq2gr.hpp"
#include "talvo/classic/density.hpp"
#include "talvo/status.hpp"
#include "talvo/text/words.hpp"
#include "talvo/version.hpp"
#include "talvo/xray/xray_average.hpp"
#include "talvo/xrdml/xrdml_file.hpp"

namespace py = pybind11;
namespace fs = std::filesystem;

namespace talvo::python {
namespace {

// Any sequence or scalar, as a C-ordered float64 array: a numpy float64
// array that is already so is taken as it is, without a copy.
using InArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::span<const double> view(const InArray& a) { return {a.data(), static_cast<std::size_t>(a.size())}; }

std::vector<py::ssize_t> shape_of(const InArray& a) { return {a.shape(), a.shape() + a.ndim()}; }

// Integrands and grids with an order: one-dimensional only.
std::span<const double> one_d(const InArray& a, const char* name) {
  if (a.ndim() != 1) throw py::value_error(std::string(name) + " must be one-dimensional");
  return view(a);
}

// The vector becomes the buffer of the array: the capsule frees it with the array.
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

// Values at evaluation points: shaped like the points, a float for a scalar.
py::object shaped(std::vector<double>&& v, const std::vector<py::ssize_t>& shape) {
  if (shape.empty()) return py::float_(v.at(0));
  return to_numpy(std::move(v), shape);
}

// The warning category of the module; set once when the module loads and
// kept for the life of the interpreter.
PyObject* talvo_warning = nullptr;

void warn(const Status& s) {
  if (s.warned() && PyErr_WarnEx(talvo_warning, s.message.c_str(), 1) != 0) throw py::error_already_set();
}

[[noreturn]] void raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw py::error_already_set();
}

// A failure is the caller's bad input unless said otherwise; a warning warns.
void check(const Status& s, PyObject* type = PyExc_ValueError) {
  if (s.failed()) raise(type, s.message);
  warn(s);
}

// The folder the data search starts from, as a program's own folder is for
// the programs: an installed module lies in <prefix>/<TALVO_PYTHON_INSTALL_DIR>,
// and the programs of that prefix in <prefix>/bin, beside share/talvo/data.
std::string search_dir() {
  static const int anchor = 0;
  Dl_info info{};
  if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code ec;
  fs::path dir = fs::absolute(fs::path(info.dli_fname), ec).parent_path();
  if (ec) return {};
  const fs::path install(TALVO_PYTHON_INSTALL_DIR);
  fs::path prefix = dir;
  for (auto part = install.end(); part != install.begin();) {
    --part;
    if (prefix.filename() != *part) return dir.string();
    prefix = prefix.parent_path();
  }
  return (prefix / "bin").string();
}

std::string data_file(const std::string& name) {
  return program_data_folder(std::getenv("G_F"), search_dir()).file(name);
}

// Read on first use and kept for the process; a failed read is tried again
// on the next call (the user may have set G_F meanwhile).
const NeutronTable& neutron_table() {
  static std::optional<NeutronTable> table;
  if (!table) {
    NeutronTable t;
    check(read_neutron_table(data_file("neutron_sears92.tsv"), t), PyExc_OSError);
    table = std::move(t);
  }
  return *table;
}

// A set of named results: attributes, and the same as items.
struct Record {
  py::dict fields;
};

// JSON objects become records, recursively, and back.
py::object to_records(const py::handle& value) {
  if (py::isinstance<py::dict>(value)) {
    Record r;
    for (auto [k, v] : py::reinterpret_borrow<py::dict>(value)) r.fields[k] = to_records(v);
    return py::cast(std::move(r));
  }
  if (py::isinstance<py::list>(value)) {
    py::list out;
    for (auto v : value) out.append(to_records(v));
    return out;
  }
  return py::reinterpret_borrow<py::object>(value);
}

py::object to_plain(const py::handle& value) {
  if (py::isinstance<Record>(value)) {
    py::dict out;
    for (auto [k, v] : value.cast<const Record&>().fields) out[k] = to_plain(v);
    return out;
  }
  if (py::isinstance<py::list>(value)) {
    py::list out;
    for (auto v : value) out.append(to_plain(v));
    return out;
  }
  return py::reinterpret_borrow<py::object>(value);
}

FormFactorTable table_from_name(const std::string& name) {
  if (const std::optional<FormFactorTable> table = form_factor_table_named(name)) return *table;
  throw py::value_error("unknown form-factor table \"" + name +
                        "\": give \"wk\" (Waasmaier-Kirfel) or \"it\" (International Tables)");
}

Window window_of(const std::string& name) {
  const std::optional<Window> w = window_from_name(name);
  if (!w)
    throw py::value_error("unknown window \"" + name + "\": give lorch, step, quadratic, gaussian, sphere or none");
  return *w;
}

// --- the entry points ----------------------------------------------------

py::object material(const std::string& formula, std::optional<double> density, std::optional<double> number_density,
                    double wavelength, std::optional<double> thickness) {
  MaterialOptions o;
  o.density = density;
  o.number_density = number_density;
  o.wavelength = wavelength;
  o.thickness = thickness;
  const NeutronTable& table = neutron_table();
  Material m;
  check(material_from_formula(formula, table, o, m));
  // Every number a float, as JSON has them: "atoms": 3 is 3.0.
  const py::object loads = py::module_::import("json").attr("loads");
  return to_records(loads(material_json(m), py::arg("parse_int") = py::module_::import("builtins").attr("float")));
}

py::object form_factor(const std::string& symbol, const InArray& q, const std::string& table) {
  FormFactorOptions o;
  o.table = table_from_name(table);
  FormFactorResult r;
  {
    py::gil_scoped_release unlocked;
    r = talvo::form_factor(symbol, view(q), o);
  }
  check(r.status);
  return shaped(std::move(r.f), shape_of(q));
}

py::object xray_average(const std::string& formula, const InArray& q, const std::string& table,
                        std::optional<double> density, std::optional<double> number_density) {
  XrayAverageOptions o;
  o.table = table_from_name(table);
  o.density = density;
  o.number_density = number_density;
  XrayAverage a;
  {
    py::gil_scoped_release unlocked;
    a = talvo::xray_average(formula, view(q), o);
  }
  check(a.status);
  const auto shape = shape_of(q);
  Record r;
  r.fields["formula"] = a.formula;
  r.fields["symbols"] = py::cast(a.symbols);
  r.fields["fractions"] = to_numpy(std::move(a.fractions));
  r.fields["f0"] = to_numpy(std::move(a.f0));
  r.fields["f0_mean"] = a.f0_mean;
  r.fields["q"] = shaped(std::move(a.q), shape);
  r.fields["f2"] = shaped(std::move(a.f2), shape);
  r.fields["f_mean_sq"] = shaped(std::move(a.f_mean_sq), shape);
  py::dict weights;
  for (XrayPartial& w : a.weights) weights[py::str(w.pair)] = shaped(std::move(w.weight), shape);
  r.fields["weights"] = weights;
  r.fields["density"] = py::cast(a.density);
  r.fields["number_density"] = py::cast(a.number_density);
  r.fields["t0"] = py::cast(a.t0);
  return py::cast(std::move(r));
}

py::object read_xrdml(const fs::path& path, bool cps, const std::string& axis) {
  XrdmlFileResult file;
  std::vector<XrdmlValues> values;
  std::vector<std::vector<std::pair<std::string, double>>> fixed_axes;
  std::vector<std::vector<std::vector<double>>> positions;  // per scan, per axis, per point
  {
    py::gil_scoped_release unlocked;
    file = read_xrdml_file(path.string());
    if (!file.status.failed()) {
      XrdmlValueOptions o;
      o.cps = cps;
      o.axis = axis;
      values.reserve(file.file.scans.size());
      fixed_axes.reserve(file.file.scans.size());
      positions.reserve(file.file.scans.size());
      for (XrdmlScan& scan : file.file.scans) {
        values.push_back(xrdml_values(scan, o));
        if (values.back().status.failed()) break;
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
  if (file.status.failed()) {
    PyObject* type = PyExc_ValueError;
    if (file.status.ierr == 1) {
      std::error_code ec;
      type = fs::exists(path, ec) ? PyExc_OSError : PyExc_FileNotFoundError;
    } else if (file.status.ierr == 2) {
      type = PyExc_OSError;
    } else if (file.status.ierr == 8) {
      type = PyExc_MemoryError;
    }
    raise(type, file.status.message);
  }
  for (const XrdmlValues& v : values) check(v.status);
  warn(file.status);

  py::list scans;
  for (std::size_t i = 0; i < values.size(); ++i) {
    XrdmlScan& scan = file.file.scans[i];
    XrdmlValues& v = values[i];
    Record s;
    s.fields["number"] = scan.number;
    s.fields["scan_axis"] = scan.scan_axis;
    s.fields["axis"] = v.axis;
    s.fields["x"] = to_numpy(std::move(v.x));
    s.fields["y"] = to_numpy(std::move(v.y));
    s.fields["e"] = to_numpy(std::move(v.e));
    py::dict fixed;
    for (const auto& [name, position] : fixed_axes[i]) fixed[py::str(name)] = position;
    s.fields["fixed"] = fixed;
    py::dict axes;
    for (std::size_t k = 0; k < scan.axes.size(); ++k)
      axes[py::str(scan.axes[k].name)] = to_numpy(std::move(positions[i][k]));
    s.fields["axes"] = axes;
    scans.append(py::cast(std::move(s)));
  }
  Record r;
  r.fields["path"] = path.string();
  r.fields["wavelength"] = file.file.wavelength;
  r.fields["k_alpha1"] = file.file.k_alpha1;
  r.fields["k_alpha2"] = file.file.k_alpha2;
  r.fields["ratio"] = file.file.ratio;
  r.fields["scans"] = scans;
  return py::cast(std::move(r));
}

py::object filon_ft(const InArray& x, const InArray& f, const InArray& k, std::optional<InArray> sigma,
                    bool single_precision) {
  FilonOptions o;
  o.single_precision = single_precision;
  if (sigma) o.sigma = one_d(*sigma, "sigma");
  const auto xs = one_d(x, "x");
  const auto fs = one_d(f, "f");
  FilonResult r;
  {
    py::gil_scoped_release unlocked;
    r = talvo::filon_ft(xs, fs, view(k), o);
  }
  check(r.status);
  const auto shape = shape_of(k);
  py::object integral = shaped(std::move(r.integral), shape);
  if (!sigma) return integral;
  return py::make_tuple(integral, shaped(std::move(r.sigma), shape));
}

py::array_t<double> modification(const InArray& q, const std::string& window, std::optional<double> qmax, double p1,
                                 double p2, bool histogram) {
  const auto qs = one_d(q, "q");
  const Window w = window_of(window);
  ModificationOptions o;
  o.p1 = p1;
  o.p2 = p2;
  o.histogram = histogram;
  // Without a Qmax the window closes at the last Q, as sq2gr's does.
  const double qm = qmax ? *qmax : (qs.empty() ? 0.0 : qs.back());
  ModificationResult r;
  {
    py::gil_scoped_release unlocked;
    r = talvo::modification(qs, w, qm, o);
  }
  check(r.status);
  return to_numpy(std::move(r.m));
}

py::object sq2gr(const InArray& q, const InArray& s, const InArray& r, double rho0, std::optional<InArray> sigma,
                 const std::string& window, std::optional<double> qmax, double p1, double p2) {
  Sq2grOptions o;
  if (sigma) o.sigma = one_d(*sigma, "sigma");
  o.window = window_of(window);
  o.qmax = qmax;
  o.p1 = p1;
  o.p2 = p2;
  const auto qs = one_d(q, "q");
  const auto ss = one_d(s, "s");
  Sq2grResult g;
  {
    py::gil_scoped_release unlocked;
    g = talvo::sq2gr(qs, ss, view(r), rho0, o);
  }
  check(g.status);
  const auto shape = shape_of(r);
  Record out;
  out.fields["G"] = shaped(std::move(g.G), shape);
  out.fields["g"] = shaped(std::move(g.g), shape);
  out.fields["sigma_G"] = shaped(std::move(g.sigma_G), shape);
  return py::cast(std::move(out));
}

py::object peak(const InArray& x, const std::string& shape, double center, double fwhm, double eta) {
  const std::optional<PeakShape> kind = peak_shape_from_name(shape);
  if (!kind) throw py::value_error("unknown peak shape \"" + shape + "\": give gaussian, lorentzian or pseudo-voigt");
  PeakOptions o;
  o.shape = *kind;
  o.center = center;
  o.fwhm = fwhm;
  o.eta = eta;
  PeakResult r;
  {
    py::gil_scoped_release unlocked;
    r = talvo::peak(view(x), o);
  }
  check(r.status);
  return shaped(std::move(r.y), shape_of(x));
}

double convert_density(double density, std::vector<std::string> symbols, std::vector<double> amounts) {
  if (symbols.size() != amounts.size())
    throw py::value_error("give one amount per symbol: " + std::to_string(symbols.size()) + " symbols, " +
                          std::to_string(amounts.size()) + " amounts");
  if (!std::isfinite(density)) throw py::value_error("the density must be a finite number");
  double out = 0.0;
  std::ostringstream quiet;
  check(talvo::classic::convert_density(density, out, symbols, amounts, 0, quiet));
  return out;
}

// --- the documentation ---------------------------------------------------

constexpr const char* kModuleDoc = R"(Neutron and X-ray scattering of materials, from their chemical formula.

The talvo module gives Python the numbers of the TALVO library and its
talvo-tools command line, computed by the same code:

Neutrons
    material(formula, density=None, number_density=None, wavelength=1.798,
             thickness=None)
        Scattering lengths, cross-sections, scattering-length density,
        attenuation and partial weights of a material (what
        `talvo-tools xs --json` prints), from the full published table of
        Sears (1992) with complex lengths.
    convert_density(density, symbols, amounts)
        g/cm3 to atoms per cubic Angstrom and back.

X-rays
    form_factor(symbol, q, table="wk")
        The atomic form factor f(Q) of a neutral atom (Waasmaier-Kirfel or
        International Tables coefficients).
    xray_average(formula, q, table="wk", density=None, number_density=None)
        <f^2>, <f>^2, the Faber-Ziman weights and T0 of a formula.

Diffraction data
    read_xrdml(path, cps=False, axis=None)
        Every scan of a PANalytical XRDML file: x, intensity and error.

Total scattering
    modification(q, window="lorch", qmax=None, ...)   the window M(Q)
    filon_ft(x, f, k, sigma=None, ...)   the sine integral of f(x) sin(kx)
    sq2gr(q, s, r, rho0, sigma=None, window="lorch", qmax=None, ...)
        G(r) and g(r) from S(Q).
    peak(x, shape, center, fwhm, eta=0.5)   peak shapes of unit area

Arrays and units
    Array arguments take numpy arrays or any sequence of numbers (a
    C-ordered float64 array is used in place, without a copy); results are
    float64 numpy arrays. Values at evaluation points (form_factor's q,
    filon_ft's k, sq2gr's r, xray_average's q, peak's x) keep the shape of
    the points, and a scalar point gives a float. Q and k are in inverse
    Angstrom, r in Angstrom, lengths in fm, cross-sections in barn, densities
    in g/cm3 or atoms per cubic Angstrom.

Results
    Results with several parts are Records: their parts are attributes
    (m.sld) and items (m["sld"]); to_dict() gives them as plain dicts and
    lists, keys() their names.

Errors and warnings
    Bad input raises ValueError with a message that names what is wrong (the
    unknown element, the line of a formula, the Q that is negative); a file
    that cannot be read raises OSError (FileNotFoundError when it is not
    there). Where the library warns but still gives results (Q beyond the
    range a form-factor table was fitted to, an even number of points in a
    Filon integral) a TalvoWarning is issued through the warnings module.
    Nothing is printed.

Data
    The neutron table, neutron_sears92.tsv, is read once, on the first call
    of material(): from the folder in the environment variable G_F when it is
    set, else from the working folder, else from the share/talvo/data folder
    of the install the module belongs to, or the one it was built from.
    data_file(name) tells which file a name gives.
)";

constexpr const char* kMaterialDoc = R"(The neutron scattering and absorption of a material.

formula
    Natural elements and isotopes as the field writes them: "H2O", "Gd2O3",
    decimal counts "Ni0.3Ti0.7", groups "Ca(OH)2", isotopes "Li[6]" (and D,
    T for 2H and 3H), hydrates "CuSO4+5H2O".
density, number_density
    g/cm3, or atoms per cubic Angstrom: give one of them for the quantities
    per volume (sld, mu_*, penetration_depth), or neither.
wavelength
    Angstrom; absorption scales as wavelength / 1.798.
thickness
    cm, for the transmission (with a density).

Returns a Record whose attributes are the keys of `talvo-tools xs --json`,
with the same numbers: formula, atoms, mass (amu per formula unit),
wavelength, density, number_density, per_atom (b_coh, b_coh_im, b_free in
fm; sigma_coh, sigma_inc, sigma_scatt, sigma_free, sigma_abs_2200, sigma_abs
in barn), sld and sld_im (1e-6 per square Angstrom), mu_abs, mu_scatt,
mu_total (per cm), penetration_depth (cm), transmission, elements (symbol,
count, fraction, b_coh, b_coh_im, sigma_coh, sigma_scatt, sigma_abs_2200) and
partials (pair, weight in barn, faber_ziman). A value not known is None.
to_dict() gives the JSON object as plain dicts and lists.

Raises ValueError for a formula that does not parse, an element or isotope
the table lacks, or a density, wavelength or thickness that cannot be;
OSError when the neutron table cannot be read.

>>> talvo.material("H2O", density=1.0).sld
-0.5599164809815348)";

constexpr const char* kFormFactorDoc = R"(The X-ray form factor f(Q) of a neutral atom, in electrons.

f(Q) = c + sum_j a_j exp(-b_j (Q / 4 pi)^2), in double precision from the
published coefficients.

symbol
    The element ("Fe", case-blind).
q
    Q in inverse Angstrom (not below 0): an array of any shape, a sequence or
    a scalar.
table
    "wk" (Waasmaier-Kirfel 1995, fitted up to Q = 24 pi) or "it"
    (International Tables Vol. C, fitted up to Q = 8 pi).

Returns a float64 array of q's shape; a float for a scalar q. Raises
ValueError for an element the table lacks or a Q that is negative or not a
number; issues a TalvoWarning (values still given) beyond the fitted range.)";

constexpr const char* kXrayAverageDoc = R"(X-ray averages of a formula over its composition on a Q grid.

formula
    As for material(); isotopes scatter X-rays as their element.
q
    Q in inverse Angstrom (not below 0), any shape, or a scalar.
table
    "wk" or "it", as for form_factor().
density, number_density
    g/cm3 or atoms per cubic Angstrom (one of them, or neither) for T0.

Returns a Record with formula, symbols (in the order of the formula),
fractions c_i, f0 (each f_i(0)), f0_mean (<f(0)>), q, f2 (<f^2> = sum c f^2),
f_mean_sq (<f>^2 = (sum c f)^2), weights (a dict "Si-O" -> the Faber-Ziman
weight at every Q: c_i^2 f_i^2 / <f>^2 for like pairs, 2 c_i c_j f_i f_j /
<f>^2 for unlike ones; they add to 1), density, number_density and t0 (4 pi
<f(0)>^2 n in electrons^2 per cubic Angstrom; None without a density).
Arrays at Q have q's shape. Raises ValueError for a bad formula, element,
density or Q; warns as form_factor() does.)";

constexpr const char* kReadXrdmlDoc = R"(Every scan of an XRDML file.

path
    The file (str or os.PathLike). Pole figures, reciprocal-space maps and
    any layout of the XML are read.
cps
    Divide y and e by each point's counting time (counts per second).
axis
    Take x from this axis (case-blind: "Omega", "Psi", ...); by default x is
    2Theta when it moves within a scan, else the scan's own axis.

Returns a Record with path, wavelength (Angstrom: (K-alpha1 + ratio
K-alpha2) / (1 + ratio); 0 when the file gives none), k_alpha1, k_alpha2,
ratio and scans, a list of Records, one per scan, each with number (1 for
the first), scan_axis (as written), axis (the axis x is taken from), x, y
(the intensity: the counts times the beam attenuation factor), e (sqrt(y *
factor), the counting error scaled as y is), fixed (a dict of the axes that
stay put over the scan and their position) and axes (a dict of every axis
and its position at each point). x, y and e are the rows of
`talvo-tools xrdml FILE --scans all`.

Raises FileNotFoundError or OSError when the file cannot be read,
ValueError when it is not an XRDML file, is broken, or a scan lacks the
axis or the counting time asked for; warns when the file gives no
wavelength.)";

constexpr const char* kFilonDoc = R"(The integral of f(x) sin(k x) dx over the grid x, by Filon's rule.

Accurate also where sin(kx) turns many times within a step.

x, f
    The function on an equally spaced grid (one-dimensional, at least 3
    points). An even number of points is integrated with one more point
    x(n) + h where f = 0, with a TalvoWarning saying so.
k
    Where to evaluate: any shape, or a scalar.
sigma
    The standard deviation of each f value (independent errors).
single_precision
    Round each integral to single precision as `talvo-tools filon` prints
    it (the default); False keeps the double.

Returns the integrals in k's shape (a float for a scalar k); with sigma, a
tuple (integral, sigma of the integral), the latter in double precision.
Raises ValueError for too few points, x and f (or sigma) of different
lengths, or an x that is not equally spaced.)";

constexpr const char* kModificationDoc = R"(The modification function M(Q) that damps termination ripples.

q
    Q values (one-dimensional): points, or bin edges with histogram=True
    (then one value per bin).
window
    "lorch" (sin(pi Q / Qmax) / (pi Q / Qmax)), "step", "quadratic",
    "gaussian" (exp(-p1^2 Q^2)), "sphere" (sub-option p1 = 1, 2 or 3, p2 the
    scale of x) or "none" (1 everywhere).
qmax
    Where the window closes; the last Q when None.

Returns a float64 array. Raises ValueError for an unknown window, an
unreasonable Qmax or parameter, or too few Q values.)";

constexpr const char* kSq2grDoc = R"(The pair distribution functions G(r) and g(r) from S(Q).

G(r) = (2/pi) integral of Q (S(Q) - 1) M(Q) sin(Qr) dQ over the data, by
Filon's rule in double precision, and g(r) = 1 + G(r) / (4 pi r rho0).

q, s
    S(Q) on an equally spaced grid of Q >= 0 (one-dimensional, at least 3
    points, equal steps within 1/1000 of a step). An even number of points
    leaves the last one out, with a TalvoWarning.
r
    Where to evaluate (above 0): any shape, or a scalar.
rho0
    The number density in atoms per cubic Angstrom.
sigma
    The standard deviation of each S(Q) value, for sigma_G.
window, qmax, p1, p2
    The window M(Q) as in modification(); lorch by default, closing at the
    last Q.

Returns a Record with G, g and sigma_G (0 without sigma), each of r's shape
(floats for a scalar r). Raises ValueError for unequal lengths, too few
points, a negative, decreasing or unequally spaced Q, an r or rho0 that is
not positive, or a window that refuses its Qmax or parameters.)";

constexpr const char* kPeakDoc = R"(A peak of unit area at every x.

shape
    "gaussian", "lorentzian" or "pseudo-voigt" (eta Lorentzian, 1 - eta
    Gaussian, of the same width).
center, fwhm
    The centre and the full width at half maximum, in x's unit.
eta
    The Lorentzian share of a pseudo-Voigt peak, 0 to 1.

Returns an array of x's shape (a float for a scalar x). Raises ValueError
for an unknown shape, a width that is not positive, an eta outside 0..1 or
a centre that is not finite.)";

constexpr const char* kConvertDensityDoc = R"(Converts a sample density between g/cm3 and atoms per cubic Angstrom.

density
    Above 0: g/cm3, and the result is in atoms per cubic Angstrom. Below 0:
    atoms per cubic Angstrom (its magnitude), and the result is in g/cm3.
symbols, amounts
    The elements and their amounts in the sample (only the ratios matter):
    the mean atomic weight comes from the element table.

>>> talvo.convert_density(1.0, ["H", "O"], [2, 1])
0.1002843439358346

Raises ValueError for a zero density, an unknown symbol, or amounts that add
to zero.)";

}  // namespace
}  // namespace talvo::python

PYBIND11_MODULE(talvo, m) {
  using namespace talvo::python;
  m.doc() = kModuleDoc;
  m.attr("__version__") = talvo::kVersion;

  talvo_warning = PyErr_NewExceptionWithDoc(
      "talvo.TalvoWarning",
      "Issued where the library warns and still gives its results: Q beyond the range a form-factor table was "
      "fitted to, a grid made odd by one more point, an XRDML file without a wavelength.",
      PyExc_UserWarning, nullptr);
  if (talvo_warning == nullptr) throw py::error_already_set();
  m.attr("TalvoWarning") = py::handle(talvo_warning);

  py::class_<Record>(m, "Record", "Named results: each part is an attribute and an item.")
      .def(
          "__getattr__",
          [](const Record& r, const std::string& name) -> py::object {
            if (!r.fields.contains(name)) throw py::attribute_error("no result named \"" + name + "\"");
            return r.fields[py::str(name)];
          },
          py::arg("name"))
      .def(
          "__getitem__",
          [](const Record& r, const std::string& name) -> py::object {
            if (!r.fields.contains(name)) throw py::key_error(name);
            return r.fields[py::str(name)];
          },
          py::arg("name"))
      .def("__contains__", [](const Record& r, const std::string& name) { return r.fields.contains(name); })
      .def("__dir__", [](const Record& r) { return py::list(r.fields.attr("keys")()); })
      .def(
          "keys", [](const Record& r) { return py::list(r.fields.attr("keys")()); },
          "The names of the results, in order.")
      .def(
          "to_dict", [](const Record& r) { return to_plain(py::cast(r)); },
          "The results as a plain dict (records within become dicts too).")
      .def("__eq__",
           [](const Record& r, const py::object& other) {
             return py::isinstance<Record>(other) && to_plain(py::cast(r)).equal(to_plain(other));
           })
      .def(py::pickle([](const Record& r) { return r.fields; }, [](const py::dict& fields) { return Record{fields}; }))
      .def("__repr__", [](const Record& r) {
        std::string out = "Record(";
        bool first = true;
        for (auto [k, v] : r.fields) {
          if (!first) out += ", ";
          first = false;
          out += k.cast<std::string>() + "=" + py::repr(v).cast<std::string>();
        }
        return out + ")";
      });

  m.def("material", &material, kMaterialDoc, py::arg("formula"), py::arg("density") = py::none(),
        py::arg("number_density") = py::none(), py::arg("wavelength") = talvo::kThermalWavelength,
        py::arg("thickness") = py::none());
  m.def("form_factor", &form_factor, kFormFactorDoc, py::arg("symbol"), py::arg("q"), py::arg("table") = "wk");
  m.def("xray_average", &xray_average, kXrayAverageDoc, py::arg("formula"), py::arg("q"), py::arg("table") = "wk",
        py::arg("density") = py::none(), py::arg("number_density") = py::none());
  m.def(
      "read_xrdml",
      [](const fs::path& path, bool cps, std::optional<std::string> axis) {
        return read_xrdml(path, cps, axis.value_or(""));
      },
      kReadXrdmlDoc, py::arg("path"), py::arg("cps") = false, py::arg("axis") = py::none());
  m.def("filon_ft", &filon_ft, kFilonDoc, py::arg("x"), py::arg("f"), py::arg("k"), py::arg("sigma") = py::none(),
        py::arg("single_precision") = true);
  m.def("modification", &modification, kModificationDoc, py::arg("q"), py::arg("window") = "lorch",
        py::arg("qmax") = py::none(), py::arg("p1") = 0.0, py::arg("p2") = 0.0, py::arg("histogram") = false);
  m.def("sq2gr", &sq2gr, kSq2grDoc, py::arg("q"), py::arg("s"), py::arg("r"), py::arg("rho0"),
        py::arg("sigma") = py::none(), py::arg("window") = "lorch", py::arg("qmax") = py::none(), py::arg("p1") = 0.0,
        py::arg("p2") = 0.0);
  m.def("peak", &peak, kPeakDoc, py::arg("x"), py::arg("shape"), py::arg("center"), py::arg("fwhm"),
        py::arg("eta") = 0.5);
  m.def("convert_density", &convert_density, kConvertDensityDoc, py::arg("density"), py::arg("symbols"),
        py::arg("amounts"));
  m.def("data_file", &data_file,
        "The file a data file's bare name gives (\"neutron_sears92.tsv\"): under G_F when it is set, else in the "
        "working folder, the install's share/talvo/data or the source tree's data/; the bare name when none holds "
        "it.",
        py::arg("name"));
}
