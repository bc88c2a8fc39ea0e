// talvo.pdf: the X-ray total-scattering reduction of a measured pattern to
// S(Q), F(Q) and G(r), with the options of talvo-tools pdf.
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core.hpp"
#include "results.hpp"
#include "talvo/numeric/modification.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/xray/dispersion.hpp"

namespace talvo::python {
namespace {

struct PdfTag {};

constexpr std::array<Field, 37> kPdfFields{{
    {"mode", Kind::kText},
    {"wavelength", Kind::kOptionalFloat},
    {"q", Kind::kArray},  // the measured Q of iq
    {"iq", Kind::kArray},
    {"iq_sigma", Kind::kArray},
    {"model", Kind::kArray},
    {"sq_q", Kind::kArray},  // the transform's Q grid of sq and fq
    {"sq", Kind::kArray},
    {"sq_sigma", Kind::kArray},
    {"fq", Kind::kArray},
    {"fq_sigma", Kind::kArray},
    {"r", Kind::kArray},
    {"gr", Kind::kArray},
    {"gr_sigma", Kind::kArray},
    {"g", Kind::kArray},
    {"g_sigma", Kind::kArray},
    {"rr", Kind::kArray},
    {"rr_sigma", Kind::kArray},
    {"rr_integral", Kind::kArray},
    {"rr_integral_sigma", Kind::kArray},
    {"normalization_constant", Kind::kFloat},
    {"normalization_constant_sigma", Kind::kFloat},
    {"number_density", Kind::kOptionalFloat},
    {"mu", Kind::kOptionalFloat},
    {"mu_x", Kind::kOptionalFloat},
    {"absorption_min", Kind::kFloat},
    {"absorption_max", Kind::kFloat},
    {"compton_subtracted", Kind::kBool},
    {"compton_fraction_at_qmax", Kind::kFloat},
    {"qmin", Kind::kFloat},
    {"qmax", Kind::kFloat},
    {"qstep", Kind::kFloat},
    {"poly_degree", Kind::kInt},
    {"iterations", Kind::kInt},
    {"residual", Kind::kFloat},
    {"outliers", Kind::kArray},  // x of the points removed, in the input's units
    {"warnings", Kind::kTexts},
}};

template <class T>
T named(std::optional<T> v, const char* what, const std::string& name, const char* choices) {
  if (!v) raise_invalid(std::string(what) + " must be " + choices + ", not \"" + escaped(name) + "\"");
  return *v;
}

// A path as str or os.PathLike.
std::string path_arg(const py::handle& p, const char* what) {
  return text_arg(py::module_::import("os").attr("fspath")(p).cast<std::string>(), what);
}

py::object reduce_pdf(const py::object& input_path, const std::string& composition, const py::kwargs& kw) {
  const auto get = [&kw](const char* k) -> py::object {
    return kw.contains(k) ? py::reinterpret_borrow<py::object>(kw[k]) : py::none();
  };
  const auto num = [&get](const char* k) -> std::optional<double> {
    const py::object v = get(k);
    if (v.is_none()) return std::nullopt;
    return number_arg(v, k);
  };
  const auto str = [&get](const char* k) -> std::optional<std::string> {
    const py::object v = get(k);
    if (v.is_none()) return std::nullopt;
    if (!py::isinstance<py::str>(v))
      throw py::type_error(std::string(k) + " must be a text (str), not " +
                           py::str(py::type::of(v).attr("__name__")).cast<std::string>());
    return text_arg(v.cast<std::string>(), k);
  };
  static constexpr std::array<const char*, 27> known{
      "format",        "scan",         "wavelength",   "anode",    "density",     "number_density", "packing",
      "background",    "bg_scale",     "mode",         "geometry", "mu_r",        "mu_t",           "thickness",
      "monochromator", "mono_crystal", "polarization", "compton",  "breit_dirac", "normalize",      "rmin_iterate",
      "rpoly",         "qmaxinst",     "qmin",         "qmax",     "mono_beam",   "ruland"};
  for (const auto& [k, v] : kw) {
    const std::string key = k.cast<std::string>();
    if (key != "window" && key != "r" && std::find(known.begin(), known.end(), key) == known.end())
      throw py::type_error("pdf() got an unexpected keyword argument '" + key + "'");
  }
  const std::string input = path_arg(input_path, "input");
  pdf::InputFormat format = pdf::input_format_of_path(input);
  if (const auto f = str("format"))
    format = named(pdf::input_format_named(*f), "format", *f, "xrdml, twotheta, qa or qnm");
  const auto whole = [&get](const char* k) -> std::optional<int> {
    const py::object v = get(k);
    if (v.is_none()) return std::nullopt;
    if (!py::isinstance<py::int_>(v) || py::isinstance<py::bool_>(v))
      throw py::type_error(std::string(k) + " must be a whole number (int), not " +
                           py::str(py::type::of(v).attr("__name__")).cast<std::string>());
    try {
      return v.cast<int>();
    } catch (const py::cast_error&) {
      raise_invalid(std::string(k) + " is too large: " + py::str(v).cast<std::string>());
    }
  };
  const int scan = whole("scan").value_or(0);
  if (!get("scan").is_none() && format != pdf::InputFormat::kXrdml) raise_invalid("scan belongs to XRDML input");
  std::vector<std::string> warnings;
  const auto read = [&](const std::string& path) {
    Result<pdf::Pattern> p = pdf::read_pattern(path, format, scan);
    if (!p.ok()) raise(p.error(), About::kFile);
    for (const std::string& w : p.warnings()) warnings.push_back(w);
    return std::move(p).value();
  };
  const pdf::Pattern sample = read(input);
  std::optional<pdf::Pattern> background;
  if (!get("background").is_none()) background = read(path_arg(get("background"), "background"));

  pdf::ReductionOptions o;
  if (num("wavelength") && str("anode")) raise_invalid("give wavelength or anode, not both");
  std::optional<double> wavelength = num("wavelength");
  if (const auto a = str("anode")) wavelength = take(wavelength_of_energy(take(anode_energy(*a))));
  if (!wavelength) wavelength = sample.wavelength;
  o.wavelength = wavelength;
  o.sample.composition = text_arg(composition, "composition");
  o.sample.density = num("density");
  o.sample.number_density = num("number_density");
  if (const auto p = num("packing")) o.sample.packing = *p;
  if (const auto c = str("compton"))
    o.sample.compton = named(pdf::compton_table_named(*c), "compton", *c, "hubbell or balyuzi");
  o.mode = o.sample.density || o.sample.number_density ? pdf::Mode::kPhysical : pdf::Mode::kAdhoc;
  if (const auto m = str("mode")) {
    if (*m != "physical" && *m != "adhoc") raise_invalid("mode must be physical or adhoc, not \"" + escaped(*m) + "\"");
    o.mode = *m == "physical" ? pdf::Mode::kPhysical : pdf::Mode::kAdhoc;
  }
  if (const auto g = str("geometry"))
    o.absorption.geometry = named(pdf::geometry_named(*g), "geometry", *g, "reflection, transmission or capillary");
  const bool capillary = o.absorption.geometry == pdf::Geometry::kCapillary;
  if (num("mu_r") && !capillary) raise_invalid("mu_r belongs to geometry capillary; a plate takes mu_t");
  if (num("mu_t") && capillary) raise_invalid("mu_t belongs to a plate; a capillary takes mu_r");
  o.absorption.mu_x = capillary ? num("mu_r") : num("mu_t");
  if (num("thickness") && (num("mu_r") || num("mu_t")))
    raise_invalid("give thickness (mu from the composition) or mu_r/mu_t, not both");
  o.thickness = num("thickness");
  // An option of the other mode would be ignored without a word: it is refused.
  const auto keyword = [](std::string_view option) {
    std::string k(option);
    std::replace(k.begin(), k.end(), '-', '_');
    return k;
  };
  for (const std::string_view option : pdf::kPhysicalOnlyOptions)
    if (const std::string k = keyword(option); o.mode == pdf::Mode::kAdhoc && !get(k.c_str()).is_none())
      raise_invalid(k + " belongs to mode physical (give the density for it); ad hoc mode fits the corrections away");
  for (const std::string_view option : pdf::kAdhocOnlyOptions)
    if (const std::string k = keyword(option); o.mode == pdf::Mode::kPhysical && !get(k.c_str()).is_none())
      raise_invalid(k + " belongs to mode adhoc");
  const py::object mono_arg = get("monochromator");  // a crystal's name or its 2theta in degrees
  const std::string mono =
      mono_arg.is_none() ? "none" : text_arg(py::str(mono_arg).cast<std::string>(), "monochromator");
  if (mono == "none")
    for (const char* k : {"mono_crystal", "mono_beam"})
      if (!get(k).is_none()) raise_invalid(std::string(k) + " belongs to monochromator=NAME");
  if (mono != "none") {
    bool perfect = false;
    if (const pdf::MonochromatorCrystal* c = pdf::monochromator_crystal_named(mono)) {
      if (!wavelength) raise_invalid("monochromator " + mono + " needs the wavelength for its Bragg angle");
      o.polarization.monochromator_two_theta = take(pdf::bragg_two_theta(c->d, *wavelength));
      perfect = c->perfect;
    } else {
      const double angle = py::float_(mono_arg).cast<double>();
      if (!(angle > 0.0 && angle < 180.0)) raise_invalid("monochromator angle must lie between 0 and 180 degrees");
      o.polarization.monochromator_two_theta = angle;
    }
    if (const auto mc = str("mono_crystal")) {
      if (*mc != "mosaic" && *mc != "perfect") raise_invalid("mono_crystal must be mosaic or perfect");
      perfect = *mc == "perfect";
    }
    o.polarization.perfect_crystal = perfect;
  }
  // The coplanar polarisation factor is the same for either beam; only Ruland's window would tell them apart.
  const std::string mono_beam = str("mono_beam").value_or("diffracted");
  if (mono_beam != "diffracted" && mono_beam != "incident")
    raise_invalid("mono_beam must be diffracted or incident, not \"" + escaped(mono_beam) + "\"");
  if (!get("ruland").is_none()) {
    if (mono == "none" || mono_beam != "diffracted")
      raise_invalid("ruland belongs to a monochromator in the diffracted beam (monochromator=NAME)");
    raise_invalid(
        "ruland: the Ruland window of a diffracted-beam monochromator is not available: its published form could "
        "not be checked; leave it out (the whole Compton scattering is then subtracted)");
  }
  if (const auto p = num("polarization")) o.polarization.normal_fraction = *p;
  if (const auto n = whole("breit_dirac")) o.breit_dirac = *n;
  if (const auto n = str("normalize")) {
    if (*n != "kmn" && *n != "highq") raise_invalid("normalize must be kmn or highq, not \"" + escaped(*n) + "\"");
    o.normalization = *n == "kmn" ? pdf::Normalization::kKroghMoeNorman : pdf::Normalization::kHighQ;
  }
  o.rmin_iterate = num("rmin_iterate");
  if (const auto v = num("rpoly")) o.rpoly = *v;
  o.qmaxinst = num("qmaxinst");
  if (const auto v = num("qmin")) o.qmin = *v;
  o.qmax = num("qmax");
  if (const auto w = str("window")) {
    o.window = named(window_from_name(*w), "window", *w, "none, lorch, step or quadratic");
    if (o.window == Window::kSphere || o.window == Window::kGaussian)
      raise_invalid("window must be none, lorch, step or quadratic, not \"" + escaped(*w) + "\"");
  }
  if (!get("r").is_none()) {
    const py::object spec = get("r");
    std::array<double, 3> r{};
    try {
      if (py::isinstance<py::str>(spec)) throw py::cast_error();
      r = spec.cast<std::array<double, 3>>();
    } catch (const py::cast_error&) {
      throw py::type_error("r must be a sequence of three numbers (rmin, rmax, step) in Angstrom");
    }
    o.rmin = r[0];
    o.rmax = r[1];
    o.rstep = r[2];
  }
  const double bg_scale = num("bg_scale").value_or(1.0);

  Result<pdf::Reduction> red = [&] {
    py::gil_scoped_release unlocked;
    return pdf::reduce(sample, background ? &*background : nullptr, bg_scale, o);
  }();
  if (red.ok())
    for (const std::string& w : red.warnings()) warnings.push_back(w);
  for (const std::string& w : warnings) warn(w);
  pdf::Reduction r = take(std::move(red));
  Typed<PdfTag> out;
  out.v = {py::str(o.mode == pdf::Mode::kPhysical ? "physical" : "adhoc"),
           optional_float(wavelength),
           to_numpy(std::move(r.iq.x)),
           to_numpy(std::move(r.iq.y)),
           to_numpy(std::move(r.iq.sigma)),
           to_numpy(std::move(r.model)),
           to_numpy(std::move(r.sq.x)),
           to_numpy(std::move(r.sq.y)),
           to_numpy(std::move(r.sq.sigma)),
           to_numpy(std::move(r.fq.y)),
           to_numpy(std::move(r.fq.sigma)),
           to_numpy(std::move(r.gr.x)),
           to_numpy(std::move(r.gr.y)),
           to_numpy(std::move(r.gr.sigma)),
           to_numpy(std::move(r.g)),
           to_numpy(std::move(r.sigma_g)),
           to_numpy(std::move(r.rr)),
           to_numpy(std::move(r.sigma_rr)),
           to_numpy(std::move(r.rr_integral)),
           to_numpy(std::move(r.sigma_rr_integral)),
           py::float_(r.alpha),
           py::float_(r.alpha_sigma),
           optional_float(r.number_density),
           optional_float(r.mu),
           optional_float(r.mu_x),
           py::float_(r.absorption_min),
           py::float_(r.absorption_max),
           py::bool_(r.compton_subtracted),
           py::float_(r.compton_fraction_at_qmax),
           py::float_(r.qmin),
           py::float_(r.qmax),
           py::float_(r.qstep),
           py::int_(r.poly_degree),
           py::int_(r.iterations),
           py::float_(r.residual),
           to_numpy(std::move(r.outliers)),
           py::list(py::cast(warnings))};
  return py::cast(std::move(out));
}

constexpr const char* kPdfDoc =
    R"(pdf(input, composition, *, format=None, scan=None, wavelength=None, anode=None, density=None, number_density=None, packing=None, background=None, bg_scale=None, mode=None, geometry=None, mu_r=None, mu_t=None, thickness=None, monochromator=None, mono_crystal=None, mono_beam=None, ruland=None, polarization=None, compton=None, breit_dirac=None, normalize=None, rmin_iterate=None, rpoly=None, qmaxinst=None, qmin=None, qmax=None, window=None, r=None)
--

The X-ray total-scattering reduction of a measured powder pattern to I(Q),
S(Q), F(Q) and G(r), as `talvo-tools pdf` makes it (the same numbers as its
.iq, .sq, .fq and .gr files).

input
    An XRDML file (scans summed, or scan=K) or text rows "x I [sigma]" (x:
    2theta in degrees, Q in 1/Angstrom or 1/nm; format= names which).
composition
    The sample's formula ("CeO2").
options (keywords, as the command's options with _ for -)
    format ('xrdml', 'twotheta', 'qa', 'qnm'), scan, wavelength (Angstrom) or
    anode ('Mo'), density (g/cm3) or number_density (atoms per cubic
    Angstrom), packing, background (a file) and bg_scale, mode ('physical',
    the default with a density, or 'adhoc'), geometry ('reflection',
    'transmission', 'capillary'), mu_r or mu_t, thickness (cm),
    monochromator ('none', 'HOPG', 'Si111', 'Ge111', 'LiF200' or its 2theta
    in degrees), mono_crystal ('mosaic', 'perfect'), mono_beam ('diffracted',
    'incident': the same polarisation factor; ruland, the Compton window of
    a diffracted-beam monochromator, is refused), polarization, compton
    ('hubbell', 'balyuzi'), breit_dirac (2 or 3), normalize ('kmn',
    'highq'), rmin_iterate (Angstrom), rpoly (Angstrom), qmaxinst, qmin, qmax
    (1/Angstrom), window ('none', 'lorch', 'step', 'quadratic'), r = (rmin,
    rmax, rstep) in Angstrom (default (0, 30, 0.01)).

Returns a Pdf: q, iq, iq_sigma (per atom, electron units) and model (what
iq oscillates about); sq_q with sq, fq and their sigmas; r with gr (G(r),
1/Angstrom^2), g (g(r)), rr (R(r)), rr_integral (N(r), the integral of
R(r) from rmin) and their sigmas; normalization_constant (alpha) and
normalization_constant_sigma (from the counting errors: common to every
point, so not in the per-point sigmas), number_density, mu (1/cm), mu_x,
absorption_min/max, compton_subtracted, compton_fraction_at_qmax, qmin,
qmax, qstep, poly_degree, iterations, residual and warnings (also issued as
TalvoWarning). pdf.plot() draws the four panels with matplotlib, where it is
installed. Raises ValueError for bad options or input, OSError for a file
that cannot be read.)";

}  // namespace

void init_pdf(py::module_& m) {
  define<PdfTag>(m, "Pdf",
                 "A total-scattering reduction (see pdf()): I(Q), S(Q), F(Q), G(r), g(r), R(r) with their standard "
                 "deviations, the normalisation constant and a summary.",
                 kPdfFields);
  m.def("pdf", &reduce_pdf, kPdfDoc, py::arg("input"), py::arg("composition"));
}

}  // namespace talvo::python
