// talvo.Structure, talvo.pdf_model and talvo.refine: crystal structures and
// boxes read from CIF, .stru and xyz files, their G(r), and its refinement
// against a measured G(r), with the options of talvo-tools model and refine.
#include <pybind11/stl.h>

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core.hpp"
#include "results.hpp"
#include "talvo/files/read.hpp"
#include "talvo/model/fit_plot.hpp"
#include "talvo/model/model_options.hpp"
#include "talvo/model/pdf_model.hpp"
#include "talvo/model/refine.hpp"
#include "talvo/structure/cif.hpp"
#include "talvo/structure/structure.hpp"
#include "talvo/structure/structure_files.hpp"

namespace talvo::python {
namespace {

// --- the structure -------------------------------------------------------------

struct SiteTag {};
struct AtomsTag {};

constexpr std::array<Field, 11> kSiteFields{{
    {"label", Kind::kText},
    {"species", Kind::kText},  // as written: "O2-"
    {"element", Kind::kText},  // its element: "O"
    {"z", Kind::kInt},
    {"charge", Kind::kInt},
    {"xyz", Kind::kArray},  // fractional (a box's: Angstrom)
    {"occupancy", Kind::kFloat},
    {"uiso", Kind::kFloat},   // trace(U)/3, square Angstrom
    {"u", Kind::kArray},      // U_cart, 3 x 3
    {"u_cif", Kind::kArray},  // U_ij in the CIF's frame of the reciprocal axes, 3 x 3
    {"anisotropic", Kind::kBool},
}};

constexpr std::array<Field, 5> kAtomsFields{{
    {"labels", Kind::kTexts},     // each atom's site
    {"xyz", Kind::kArray},        // n x 3, fractional in [0, 1)
    {"cartesian", Kind::kArray},  // n x 3, Angstrom
    {"u", Kind::kArray},          // n x 3 x 3, U_cart
    {"occupancy", Kind::kArray},
}};

py::array_t<double> vec_array(const Vec3& v) { return to_numpy(std::vector<double>(v.begin(), v.end())); }

py::array_t<double> mat_array(const Mat3& m) {
  std::vector<double> out;
  for (const Vec3& row : m) out.insert(out.end(), row.begin(), row.end());
  return to_numpy(std::move(out), {3, 3});
}

py::list mat_list(const Mat3& m) {
  py::list rows;
  for (const Vec3& row : m) rows.append(py::make_tuple(row[0], row[1], row[2]));
  return rows;
}

// A site's position: fractional in a crystal, Angstrom in a box.
Vec3 position_of(const Structure& s, std::size_t i) {
  return s.periodic || i >= s.cartesian.size() ? s.sites[i].xyz : s.cartesian[i];
}

py::object site_result(const Structure& s, std::size_t i) {
  const Site& site = s.sites[i];
  Typed<SiteTag> out;
  out.v = {py::str(site.label),        py::str(site.species),
           py::str(site.element),      py::int_(site.z),
           py::int_(site.charge),      vec_array(position_of(s, i)),
           py::float_(site.occupancy), py::float_(u_equivalent(site.u)),
           mat_array(site.u),          mat_array(s.cell.u_cartesian_to_cif(site.u)),
           py::bool_(site.anisotropic)};
  return make_result(std::move(out));
}

py::object atoms_result(const Structure& s) {
  const std::vector<Atom> atoms = take(expand(s));
  py::list labels;
  std::vector<double> xyz, cartesian, u, occupancy;
  for (const Atom& a : atoms) {
    labels.append(s.sites[a.site].label);
    xyz.insert(xyz.end(), a.xyz.begin(), a.xyz.end());
    cartesian.insert(cartesian.end(), a.cartesian.begin(), a.cartesian.end());
    for (const Vec3& row : a.u) u.insert(u.end(), row.begin(), row.end());
    occupancy.push_back(a.occupancy);
  }
  const auto n = static_cast<py::ssize_t>(atoms.size());
  Typed<AtomsTag> out;
  out.v = {labels, to_numpy(std::move(xyz), {n, 3}), to_numpy(std::move(cartesian), {n, 3}),
           to_numpy(std::move(u), {n, 3, 3}), to_numpy(std::move(occupancy))};
  return make_result(std::move(out));
}

// The state a structure pickles to and is rebuilt from: every value exactly,
// the operations as their text.
py::dict structure_state(const Structure& s) {
  py::dict d;
  d["name"] = s.name;
  d["space_group"] = s.space_group;
  d["periodic"] = s.periodic;
  d["cell"] = py::make_tuple(s.cell.a, s.cell.b, s.cell.c, s.cell.alpha, s.cell.beta, s.cell.gamma);
  py::list operations;
  for (const SymmetryOperation& op : s.operations) operations.append(op.text);
  d["operations"] = operations;
  py::list sites;
  for (const Site& site : s.sites) {
    py::dict x;
    x["label"] = site.label;
    x["species"] = site.species;
    x["xyz"] = py::make_tuple(site.xyz[0], site.xyz[1], site.xyz[2]);
    x["occupancy"] = site.occupancy;
    x["u"] = mat_list(site.u);
    x["anisotropic"] = site.anisotropic;
    sites.append(x);
  }
  d["sites"] = sites;
  py::list cartesian;
  for (const Vec3& c : s.cartesian) cartesian.append(py::make_tuple(c[0], c[1], c[2]));
  d["cartesian"] = cartesian;
  return d;
}

[[noreturn]] void bad_structure(const std::string& why) { throw py::type_error("cannot restore a Structure: " + why); }

template <class T>
T state_item(const py::dict& d, const char* key) {
  if (!d.contains(key)) bad_structure(std::string("no \"") + key + "\"");
  try {
    return d[key].cast<T>();
  } catch (const py::cast_error&) {
    bad_structure(std::string("\"") + key + "\" is not of its kind");
  }
}

Structure structure_from_state(const py::handle& state) {
  if (!py::isinstance<py::dict>(state)) bad_structure("its state must be a dict");
  const auto d = py::reinterpret_borrow<py::dict>(state);
  Structure s;
  s.name = state_item<std::string>(d, "name");
  s.space_group = state_item<std::string>(d, "space_group");
  s.periodic = state_item<bool>(d, "periodic");
  const auto cell = state_item<std::array<double, 6>>(d, "cell");
  s.cell = take(make_cell(cell[0], cell[1], cell[2], cell[3], cell[4], cell[5]));
  for (const std::string& text : state_item<std::vector<std::string>>(d, "operations")) {
    SymmetryOperation op = take(parse_operation(text));
    op.text = text;
    s.operations.push_back(std::move(op));
  }
  for (const py::handle item : state_item<py::list>(d, "sites")) {
    if (!py::isinstance<py::dict>(item)) bad_structure("a site is no dict");
    const auto x = py::reinterpret_borrow<py::dict>(item);
    Site site;
    take(assign_species(site, state_item<std::string>(x, "species")));
    site.label = state_item<std::string>(x, "label");
    site.xyz = state_item<Vec3>(x, "xyz");
    site.occupancy = state_item<double>(x, "occupancy");
    site.u = state_item<Mat3>(x, "u");
    site.anisotropic = state_item<bool>(x, "anisotropic");
    s.sites.push_back(std::move(site));
  }
  s.cartesian = state_item<std::vector<Vec3>>(d, "cartesian");
  if (!s.periodic && s.cartesian.size() != s.sites.size()) bad_structure("a box needs one position a site");
  take(check_structure(s));
  return s;
}

// A structure file: read as a file (a name that is not there is FileNotFoundError), its text as a value
// (an unknown element in it is ValueError).
std::string file_text(const py::handle& path, std::string& name) {
  name = path_arg(path, "path");
  return take(read_whole_file(name), About::kFile);
}

Structure from_cif(const py::handle& path, const std::optional<std::string>& block) {
  std::string name;
  const std::string text = file_text(path, name);
  CifOptions o;
  if (block) o.block = text_arg(*block, "block");
  return take(read_cif_text(text, name, o));
}

Structure from_stru(const py::handle& path) {
  std::string name;
  const std::string text = file_text(path, name);
  return take(read_stru_text(text, name)).structure;
}

Structure from_xyz(const py::handle& path) {
  std::string name;
  const std::string text = file_text(path, name);
  return take(read_xyz_text(text, name));
}

Structure read_any_structure(const py::handle& path) {
  const std::string name = path_arg(path, "path");
  const std::size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (ext == "cif") return from_cif(path, std::nullopt);
  if (ext == "stru") return from_stru(path);
  if (ext == "xyz") return from_xyz(path);
  // The library's own words for another extension.
  return take(read_structure(name)).structure;
}

std::string structure_repr(const Structure& s) {
  return "Structure(name=" + py::repr(py::str(s.name)).cast<std::string>() +
         ", space_group=" + py::repr(py::str(s.space_group)).cast<std::string>() +
         ", periodic=" + (s.periodic ? "True" : "False") + ", sites=" + std::to_string(s.sites.size()) + ")";
}

// --- the options ------------------------------------------------------------------

// The model's options: the neutron lengths read (once) only for neutrons.
ModelOptions model_options(const Options& values) {
  return model_options_from(values, values.text("radiation") == "neutron" ? &neutron_table() : nullptr);
}

// --- pdf_model --------------------------------------------------------------------

struct ModelTag {};

constexpr std::array<Field, 16> kModelFields{{
    {"r", Kind::kArray},
    {"g", Kind::kArray},
    {"partials", Kind::kArrayDict},         // "Ti-O": its share of G (partials=True)
    {"partial_weights", Kind::kFloatDict},  // "Ti-O": its weight
    {"weights", Kind::kFloatDict},          // species: f (electrons) or b (fm)
    {"concentrations", Kind::kFloatDict},   // species: its share c of N
    {"weights_source", Kind::kText},
    {"radiation", Kind::kText},
    {"peak_norm", Kind::kText},  // "rij" or "r"
    {"line", Kind::kText},       // "after" or "terminated"
    {"rho0", Kind::kFloat},
    {"atoms", Kind::kFloat},
    {"pairs", Kind::kInt},
    {"pair_bin", Kind::kFloat},  // A: a large box's pairs binned by distance before their Gaussians; 0: each its own
    {"settings", Kind::kTexts},  // "key = value" of every option in effect, as talvo-tools model's header
    {"warnings", Kind::kTexts},
}};

py::object model_result(ModelResult&& m, const ModelOptions& o, const Options& values,
                        std::vector<std::string>&& warnings) {
  py::dict partials, partial_weights, weights, concentrations;
  for (ModelPartial& p : m.partials) {
    partials[py::str(p.pair)] = to_numpy(std::move(p.g));
    partial_weights[py::str(p.pair)] = p.weight;
  }
  for (const ModelWeight& w : m.weights) {
    weights[py::str(w.species)] = w.f;
    concentrations[py::str(w.species)] = w.concentration;
  }
  Typed<ModelTag> out;
  out.v = {to_numpy(std::move(m.r)),
           to_numpy(std::move(m.g)),
           partials,
           partial_weights,
           weights,
           concentrations,
           py::str(m.weights_source),
           py::str(o.radiation == ModelRadiation::kNeutron ? "neutron" : "xray"),
           py::str(std::string(peak_norm_name(o.peak_norm))),
           py::str(o.line_terminated ? "terminated" : "after"),
           py::float_(m.rho0),
           py::float_(m.atoms),
           py::int_(m.pairs),
           py::float_(m.pair_bin),
           lines_of(header_text(model_option_table(), values)),
           py::list(py::cast(warnings))};
  return make_result(std::move(out));
}

py::object pdf_model_of(Self<Structure> structure_self, const py::kwargs& kw) {
  const Structure& structure = structure_self;
  const Options values = take(
      read_options(model_option_table(), keyword_values(model_option_table(), kw, "pdf_model"), Spelling::kKeyword));
  ModelOptions o = model_options(values);
  const Interrupts interrupts;
  o.stop = interrupts.stop();
  Result<ModelResult> m = [&] {
    py::gil_scoped_release unlocked;
    return pdf_model(structure, o);
  }();
  interrupts.raise_if_stopped();
  std::vector<std::string> warnings = m.warnings();
  ModelResult result = take(std::move(m));
  return model_result(std::move(result), o, values, std::move(warnings));
}

// --- refine -----------------------------------------------------------------------

struct RefineTag {};

constexpr std::array<Field, 21> kRefineFields{{
    {"names", Kind::kTexts},  // the parameters in their order
    {"values", Kind::kFloatDict},
    {"sigma", Kind::kFloatDict},         // sqrt(diag((J^T W J)^-1)) at the minimum
    {"sigma_scaled", Kind::kFloatDict},  // sigma sqrt(reduced chi2)
    {"covariance", Kind::kArray},        // (J^T W J)^-1, n x n in the order of names
    {"correlation", Kind::kArray},       // n x n
    {"correlated", Kind::kTexts},        // "a-scale: 0.93" above 0.9
    {"rw", Kind::kFloat},
    {"chi2", Kind::kFloat},
    {"chi2_reduced", Kind::kFloat},
    {"points", Kind::kInt},
    {"iterations", Kind::kInt},
    {"converged", Kind::kBool},
    {"unit_weights", Kind::kBool},  // the data had no dG
    {"r", Kind::kArray},
    {"g_obs", Kind::kArray},
    {"g_calc", Kind::kArray},
    {"structure", Kind::kInstance},  // the refined structure
    {"cif", Kind::kText},            // it as CIF, the scaled sigma in parentheses
    {"svg", Kind::kText},            // the fit's plot, as talvo-tools refine --plot draws it
    {"settings", Kind::kTexts},
}};

// The data: a G(r) file, or (r, g) or (r, g, dg) arrays, or an array of rows r, g[, dg].
MeasuredPdf measured_of(const py::handle& data) {
  const bool arrays = py::isinstance<py::tuple>(data) || py::isinstance<py::list>(data);
  if (!arrays && !py::isinstance<py::array>(data)) {
    const std::string path = path_arg(data, "data");
    return take(read_measured_pdf(path), About::kFile);
  }
  MeasuredPdf m;
  m.source = "the arrays";
  const auto vector_of = [](const InArray& a) {
    const std::span<const double> v = view(a);
    return std::vector<double>(v.begin(), v.end());
  };
  if (arrays) {
    const std::size_t n = py::len(data);
    if (n != 2 && n != 3) raise_invalid("data must be (r, g) or (r, g, dg), not " + std::to_string(n) + " arrays");
    const char* names[] = {"r", "g", "dg"};
    std::vector<double>* into[] = {&m.r, &m.g, &m.dg};
    for (std::size_t k = 0; k < n; ++k) {
      const InArray a = numbers(data[py::int_(k)], names[k]);
      *into[k] = vector_of(a);
      if (shape_of(a).size() != 1) raise_invalid(std::string(names[k]) + " must be one-dimensional");
    }
  } else {
    const InArray a = numbers(data, "data");
    const std::vector<py::ssize_t> shape = shape_of(a);
    if (shape.size() != 2 || (shape[1] != 2 && shape[1] != 3))
      raise_invalid("data must hold rows of r, g and optionally dg: an array of shape (n, 2) or (n, 3)");
    const std::span<const double> v = view(a);
    const auto rows = static_cast<std::size_t>(shape[0]), columns = static_cast<std::size_t>(shape[1]);
    for (std::size_t i = 0; i < rows; ++i) {
      m.r.push_back(v[i * columns]);
      m.g.push_back(v[i * columns + 1]);
      if (columns == 3) m.dg.push_back(v[i * columns + 2]);
    }
  }
  if (m.g.size() != m.r.size() || (!m.dg.empty() && m.dg.size() != m.r.size()))
    raise_invalid("r, g and dg must be of one length: " + std::to_string(m.r.size()) + ", " +
                  std::to_string(m.g.size()) + (m.dg.empty() ? "" : ", " + std::to_string(m.dg.size())));
  if (m.r.size() < 2) raise_invalid("a G(r) needs at least 2 points, not " + std::to_string(m.r.size()));
  for (std::size_t i = 1; i < m.r.size(); ++i)
    if (!(m.r[i] > m.r[i - 1]))
      raise_invalid("r must increase: r[" + std::to_string(i) + "] is not above the one before");
  return m;
}

py::object refine_of(Self<Structure> structure_self, const py::handle& data, const py::kwargs& kw) {
  const Structure& structure = structure_self;
  const Options values = take(
      read_options(refine_option_table(), keyword_values(refine_option_table(), kw, "refine"), Spelling::kKeyword));
  if (!values.given("refine")) throw py::type_error("refine() needs refine=, the parameters to fit (\"a,uiso,scale\")");
  RefineOptions o;
  const std::string range = values.text("r");
  const std::size_t colon = range.find(':');
  if (colon == std::string::npos)
    raise(make_error(ErrorKind::kParseError, "r must be FROM:TO in Angstrom, not \"" + range + "\""));
  const Result<double> from = read_number(range.substr(0, colon), "r's FROM");
  if (!from.ok()) raise(from.error());
  const Result<double> to = read_number(range.substr(colon + 1), "r's TO");
  if (!to.ok()) raise(to.error());
  o.rmin = *from, o.rmax = *to;
  std::string list;
  for (const std::string& item : values.list("refine")) list += (list.empty() ? "" : ",") + item;
  o.parameters = take(parse_refine_list(list));
  const MeasuredPdf measured = measured_of(data);
  o.model = model_options(values);
  const Interrupts interrupts;
  o.model.stop = interrupts.stop();
  Result<RefineResult> fit = [&] {
    py::gil_scoped_release unlocked;
    return refine(structure, measured, o);
  }();
  interrupts.raise_if_stopped();
  RefineResult f = take(std::move(fit));
  py::list names;
  py::dict value, sigma, sigma_scaled;
  const std::size_t n = f.parameters.size();
  std::vector<double> covariance(n * n);
  for (std::size_t i = 0; i < n; ++i) {
    const RefinedParameter& p = f.parameters[i];
    names.append(p.name);
    value[py::str(p.name)] = p.value;
    sigma[py::str(p.name)] = p.sigma;
    sigma_scaled[py::str(p.name)] = p.sigma_scaled;
    for (std::size_t j = 0; j < n; ++j)
      covariance[i * n + j] = f.correlation[i * n + j] * p.sigma * f.parameters[j].sigma;
  }
  const std::string cif = take(cif_text(f.structure, f.uncertainties));
  const std::string svg = fit_plot_svg(
      f, (structure.name.empty() ? std::string("the structure") : structure.name) + " fitted to " + measured.source);
  const auto size = static_cast<py::ssize_t>(n);
  Typed<RefineTag> out;
  out.v = {names,
           value,
           sigma,
           sigma_scaled,
           to_numpy(std::move(covariance), {size, size}),
           to_numpy(std::move(f.correlation), {size, size}),
           py::list(py::cast(f.correlated)),
           py::float_(f.rw),
           py::float_(f.chi2),
           py::float_(f.chi2_reduced),
           py::int_(f.points),
           py::int_(f.iterations),
           py::bool_(f.converged),
           py::bool_(f.unit_weights),
           to_numpy(std::move(f.r)),
           to_numpy(std::move(f.g_obs)),
           to_numpy(std::move(f.g_calc)),
           py::cast(std::move(f.structure)),
           py::str(cif),
           py::str(svg),
           lines_of(header_text(refine_option_table(), values))};
  return make_result(std::move(out));
}

constexpr const char* kStructureDoc = R"(A crystal structure (unit cell, sites, symmetry operations) or a finite box.

Made by Structure.from_cif(path, block=None), Structure.from_stru(path),
Structure.from_xyz(path) or read_structure(path) (by the extension). Its
parts are read-only: name, space_group, periodic (False for a box), cell
(a, b, c in Angstrom, alpha, beta, gamma in degrees), lattice (3 x 3, its
columns the cell vectors in Angstrom: cartesian = lattice @ fractional),
volume (cubic Angstrom), operations (their xyz text) and sites (Site:
label, species, element, z, charge, xyz, occupancy, uiso, u = U_cart and
u_cif = the CIF's U_ij in square Angstrom, anisotropic). atoms() expands the
sites by the operations into the full cell; to_cif() writes it as CIF.)";

constexpr const char* kPdfModelText = R"(--

The pair distribution function G(r) of a structure, as `talvo-tools model`
computes it (the same numbers): every atom of the cell with every image of
every atom within reach (a box: its own pairs), the PDFfit2 / diffpy.srreal
model

  G0(r) = (1/N) sum_ij w_ij exp(-(r - r_ij)^2/(2 s_ij^2)) / (sqrt(2 pi) s_ij n_ij) - 4 pi rho0 r

with w_ij = c_i f_i c_j f_j / <f>^2 (f: Waasmaier-Kirfel f0(0) or Z -
charge for X-rays, the bound coherent length of Sears 1992 for neutrons),
s_ij^2 = u^T (U_i + U_j) u sharpened by delta1, delta2 and qbroad, times
sratio below rcut, n_ij = r_ij (peak_norm='rij') or the grid's r
(peak_norm='r', as PDFfit2); times scale, exp(-(qdamp r)^2/2) and a sphere's
envelope, terminated at qmax by the convolution with sin(Qmax r)/(pi r).

options (keywords, as the command's options with _ for -)
    radiation ('xray', 'neutron'), xray_weights ('f0', 'z'), r = (rmin,
    rmax, rstep) in Angstrom (default (0, 20, 0.01)), qmax, qmin, qdamp,
    qbroad (1/Angstrom), scale, delta1 (Angstrom), delta2 (square Angstrom),
    sratio with rcut (Angstrom), spdiameter (Angstrom), peak_norm ('rij',
    'r'), line ('after', 'terminated'), uiso (square Angstrom, every atom's
    in place of the structure's), rho0 (atoms per cubic Angstrom), partials
    (each element pair's share of G).

Returns a PdfModel: r, g (1/Angstrom^2), partials and partial_weights by
element pair, weights (f in electrons or b in fm) and concentrations by
species, weights_source (which table made f), radiation, peak_norm, line,
rho0, atoms (N), pairs (the Gaussians summed), pair_bin (the distance, A,
a large box's pairs are binned by before their Gaussians; 0: each pair its
own), settings (the "key = value" lines that rerun it) and warnings. Raises ValueError for an option out of
its domain or a structure the model cannot use.)";

constexpr const char* kRefineText = R"(--

The structure's G(r) fitted to a measured one by Levenberg-Marquardt, as
`talvo-tools refine` fits it (the same numbers).

data
    A G(r) file (r G, r G dG, or PDFgetX2/N's r G dr dG after its header;
    PDFgetX3's .gr), or the arrays (r, g) or (r, g, dg), or an array of rows
    r, g[, dg]. r in Angstrom, equally spaced.
refine
    The parameters to fit, as text "a,uiso=0.005,scale" or a sequence of
    names, each NAME or NAME=START: scale, a b c alpha beta gamma (as the
    crystal system lets them move), uiso (every site), uiso:S, u11:S ...
    u23:S, x:S y:S z:S, occ:S (S a site's label or an element), delta1,
    delta2, qdamp, qbroad, sratio, spdiameter.
r
    The fit's range (from, to) in Angstrom or "FROM:TO" (default 1.5:20).
other options
    pdf_model()'s but r and partials.

Weights 1/dg^2 (1 for every point where there is no dg: unit_weights).
Returns a Refinement: names, values, sigma (sqrt(diag((J^T W J)^-1)) at the
minimum, as PDFfit2 prints it) and sigma_scaled (sigma sqrt(reduced chi2)),
by name, both NaN for a parameter that ended at its bound (a warning names
it); covariance ((J^T W J)^-1) and correlation in the order of names,
correlated (pairs above 0.9), rw, chi2, chi2_reduced, points, iterations,
converged, unit_weights, r, g_obs, g_calc (1/Angstrom^2), structure (the
refined Structure), cif (it as CIF, the scaled sigma in parentheses), svg
(the plot of data, fit and difference below, as talvo-tools refine --plot
draws it) and settings. Raises ValueError for an unknown parameter or bad data, OSError
for a file that cannot be read.)";

}  // namespace

void init_model(py::module_& m) {
  define<SiteTag>(m, "Site", "A site of a Structure: its species, position, occupancy and displacement.", kSiteFields);
  define<AtomsTag>(m, "Atoms", "The full cell of a Structure (Structure.atoms()): every image of every site.",
                   kAtomsFields);
  auto structure = py::class_<Structure>(m, "Structure", kStructureDoc);
  structure
      .def_static("from_cif", &from_cif,
                  "from_cif(path, block=None)\n--\n\nA CIF file's structure: the data block named block (with or "
                  "without data_), else the first. Raises FileNotFoundError for a file that is not there, "
                  "ValueError for one that is no CIF, names an unknown element or a block not in it.",
                  py::arg("path"), py::arg("block") = py::none())
      .def_static(
          "from_stru", &from_stru,
          "from_stru(path)\n--\n\nA PDFfit .stru file's structure (its scale and sharpening line are not read).",
          py::arg("path"))
      .def_static("from_xyz", &from_xyz,
                  "from_xyz(path)\n--\n\nAn xyz file's finite box (positions in Angstrom, no displacements: give "
                  "pdf_model() a uiso).",
                  py::arg("path"))
      .def_property_readonly("name", [](Self<Structure> s) { return static_cast<const Structure&>(s).name; })
      .def_property_readonly("space_group",
                             [](Self<Structure> s) { return static_cast<const Structure&>(s).space_group; })
      .def_property_readonly("periodic", [](Self<Structure> s) { return static_cast<const Structure&>(s).periodic; })
      .def_property_readonly("cell",
                             [](Self<Structure> s_self) {
                               const UnitCell& c = static_cast<const Structure&>(s_self).cell;
                               return py::make_tuple(c.a, c.b, c.c, c.alpha, c.beta, c.gamma);
                             })
      .def_property_readonly(
          "lattice", [](Self<Structure> s) { return read_only(mat_array(static_cast<const Structure&>(s).cell.A)); })
      .def_property_readonly("volume", [](Self<Structure> s) { return static_cast<const Structure&>(s).cell.volume; })
      .def_property_readonly("operations",
                             [](Self<Structure> s_self) {
                               py::list out;
                               for (const SymmetryOperation& op : static_cast<const Structure&>(s_self).operations)
                                 out.append(op.text);
                               return out;
                             })
      .def_property_readonly("sites",
                             [](Self<Structure> s_self) {
                               const Structure& s = s_self;
                               py::list out;
                               for (std::size_t i = 0; i < s.sites.size(); ++i) out.append(site_result(s, i));
                               return py::tuple(out);
                             })
      .def(
          "atoms", [](Self<Structure> s) { return atoms_result(s); },
          "atoms($self)\n--\n\nThe full cell: every image of every site by the operations, wrapped into [0, 1) "
          "(positions in Angstrom too), images within 1e-3 Angstrom of one kept being the same atom.")
      .def(
          "to_cif", [](Self<Structure> s) { return take(cif_text(s)); },
          "to_cif($self)\n--\n\nThe structure as a CIF data block (what from_cif reads back); a box cannot be written.")
      .def(
          "to_dict", [](Self<Structure> s) { return structure_state(s); },
          "The values as a plain dict (what pickling keeps).")
      .def("__getstate__", [](Self<Structure> s) { return structure_state(s); })
      .def("__eq__",
           [](Self<Structure> a, const py::object& b) -> py::object {
             if (!py::isinstance<Structure>(b)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             return py::bool_(same(structure_state(a), structure_state(b.cast<Self<Structure>>())));
           })
      .def("__repr__", [](Self<Structure> s) { return structure_repr(s); });
  structure.attr("__hash__") = py::none();
  define_setstate(structure, [](const py::dict& state) { return structure_from_state(state); });
  m.def("read_structure", &read_any_structure,
        "read_structure(path)\n--\n\nA structure file by its extension: .cif (its first block), .stru or .xyz "
        "(any case); positions in fractions of the cell or Angstrom (a box).",
        py::arg("path"));

  define<ModelTag>(m, "PdfModel", "The G(r) of a structure (see pdf_model()) and what made it.", kModelFields);
  static const std::string model_doc =
      "pdf_model(structure, *" + keywords_text(model_option_table()) + ")\n" + kPdfModelText;
  m.def("pdf_model", &pdf_model_of, model_doc.c_str(), py::arg("structure"));

  define<RefineTag>(m, "Refinement", "A structure refined against a measured G(r) (see refine()).", kRefineFields,
                    structure);
  static const std::string refine_doc =
      "refine(structure, data, *" + keywords_text(refine_option_table()) + ")\n" + kRefineText;
  m.def("refine", &refine_of, refine_doc.c_str(), py::arg("structure"), py::arg("data"));
}

}  // namespace talvo::python
