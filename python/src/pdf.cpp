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
#include "talvo/pdf/options.hpp"
#include "talvo/pdf/optimize.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/pdf/zscan.hpp"
#include "talvo/text/format.hpp"

namespace talvo::python {
namespace {

struct PdfTag {};

constexpr std::array<Field, 43> kPdfFields{{
    {"input", Kind::kText},  // the input's path as given (a plot's title names its file)
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
    {"diagnostics", Kind::kFloatDict},  // high_q_mean (and _sigma), lowest_smoothed_s (_at), floor_there, low_r_rms
    {"zscan", Kind::kFloatDict},        // mu_d, beam_width, centre (mm) and their _sigma, chi2_per_point
    {"fitted", Kind::kFloatDict},       // each fitted parameter's value
    {"fitted_sigma", Kind::kFloatDict},  // and its standard deviation
    {"fit_cost", Kind::kFloatDict},     // before, after, reductions
    {"warnings", Kind::kTexts},
}};

// Keywords as Python writes them: mu_r for the command's --mu-r.
constexpr pdf::Spelling kSpelling = pdf::Spelling::kKeyword;

// The options whose values are names (the others are numbers, but for scan,
// breit_dirac, background, r and ruland, and a monochromator, named or by its 2theta).
constexpr std::string_view kChoices[] = {"format",       "anode",   "mode",      "geometry",     "mono-beam",
                                         "mono-crystal", "compton", "normalize", "window",       "beam-profile",
                                         "optimize",     "container-composition"};
// The options whose values are files.
constexpr std::string_view kPaths[] = {"background", "container", "zscan"};

// A path as str or os.PathLike.
std::string path_arg(const py::handle& p, const char* what) {
  return text_arg(py::module_::import("os").attr("fspath")(p).cast<std::string>(), what);
}

py::object reduce_pdf(const py::object& input_path, const std::string& composition, const py::kwargs& kw) {
  const auto get = [&kw](const std::string& k) -> py::object {
    return kw.contains(k) ? py::reinterpret_borrow<py::object>(kw[py::str(k)]) : py::none();
  };
  for (const auto& [k, v] : kw) {
    const std::string key = k.cast<std::string>();
    const auto known = [&key](std::string_view n) { return n != "composition" && pdf::spelled(n, kSpelling) == key; };
    if (std::none_of(std::begin(pdf::kOptionNames), std::end(pdf::kOptionNames), known))
      throw py::type_error("pdf() got an unexpected keyword argument '" + key + "'");
  }
  // The options as text, as the library reads them: a number as the shortest text that reads back to it.
  pdf::OptionTexts texts;
  texts.values["composition"] = text_arg(composition, "composition");
  const std::string input = path_arg(input_path, "input");
  for (const std::string_view name : pdf::kOptionNames) {
    const std::string k = pdf::spelled(name, kSpelling);
    const py::object v = get(k);
    if (v.is_none() || name == "composition") continue;
    std::string& text = texts.values[std::string(name)];
    if (name == "scan" || name == "breit-dirac") {
      if (!py::isinstance<py::int_>(v) || py::isinstance<py::bool_>(v))
        throw py::type_error(k + " must be a whole number (int), not " + type_name(v));
      try {
        text = std::to_string(v.cast<int>());
      } catch (const py::cast_error&) {
        raise_invalid(k + " is too large: " + py::str(v).cast<std::string>());
      }
    } else if (std::find(std::begin(kPaths), std::end(kPaths), name) != std::end(kPaths)) {
      text = path_arg(v, k.c_str());
    } else if (name == "r") {
      std::array<double, 3> r{};
      try {
        if (py::isinstance<py::str>(v)) throw py::cast_error();
        r = v.cast<std::array<double, 3>>();
      } catch (const py::cast_error&) {
        throw py::type_error("r must be a sequence of three numbers (rmin, rmax, step) in Angstrom");
      }
      text = shortest(r[0]) + ":" + shortest(r[1]) + ":" + shortest(r[2]);
    } else if (std::find(std::begin(kChoices), std::end(kChoices), name) != std::end(kChoices) ||
               (name == "monochromator" && py::isinstance<py::str>(v))) {
      if (!py::isinstance<py::str>(v)) throw py::type_error(k + " must be a text (str), not " + type_name(v));
      text = text_arg(v.cast<std::string>(), k.c_str());
    } else {  // a number (a monochromator's 2theta too)
      text = shortest(number_arg(v, k.c_str()));
    }
  }
  const pdf::InputChoice choice = take(pdf::input_choice(texts, input, kSpelling));
  std::vector<std::string> warnings;
  const auto read = [&](const std::string& path) {
    Result<pdf::Pattern> p = pdf::read_pattern(path, choice.format, choice.scan);
    if (!p.ok()) raise(p.error(), About::kFile);
    for (const std::string& w : p.warnings()) warnings.push_back(w);
    return std::move(p).value();
  };
  const pdf::Pattern sample = read(input);
  std::optional<pdf::Pattern> background, container;
  if (const auto bg = texts.values.find("background"); bg != texts.values.end()) background = read(bg->second);
  if (const auto c = texts.values.find("container"); c != texts.values.end()) container = read(c->second);

  pdf::ReductionSettings settings = take(pdf::reduction_settings(texts, sample.wavelength, kSpelling));
  py::dict zscan, fitted, fitted_sigma, fit_cost;
  if (const auto z = texts.values.find("zscan"); z != texts.values.end()) {
    Result<pdf::ZScan> rows = pdf::read_zscan(z->second);
    if (!rows.ok()) raise(rows.error(), About::kFile);
    Result<pdf::ZScanFit> fitted_scan = pdf::apply_zscan(*rows, settings);
    if (!fitted_scan.ok()) {
      for (const std::string& w : warnings) warn(w);
      raise(fitted_scan.error(), About::kValue);
    }
    for (const std::string& w : fitted_scan.warnings()) warnings.push_back(w);
    const pdf::ZScanFit& f = *fitted_scan;
    zscan["mu_d"] = f.mu_d.value;
    zscan["mu_d_sigma"] = f.mu_d.sigma;
    zscan["beam_width"] = f.width.value;
    zscan["beam_width_sigma"] = f.width.sigma;
    zscan["centre"] = f.centre.value;
    zscan["centre_sigma"] = f.centre.sigma;
    zscan["chi2_per_point"] = f.residual_variance;
  }
  settings.options.bg_scale = settings.bg_scale;
  const pdf::Inputs inputs{&sample, background ? &*background : nullptr, container ? &*container : nullptr};
  if (!settings.optimize.empty()) {
    Result<pdf::Optimization> fit = [&] {
      py::gil_scoped_release unlocked;
      return pdf::optimize(inputs, settings.options, settings.optimize);
    }();
    if (!fit.ok()) {
      for (const std::string& w : warnings) warn(w);
      raise(fit.error(), About::kValue);
    }
    for (const std::string& w : fit.warnings()) warnings.push_back(w);
    const pdf::Optimization& done = *fit;
    for (const pdf::FittedParameter& p : done.parameters) {
      const std::string name = pdf::spelled(pdf::fitted_name(p.what), kSpelling);
      fitted[py::str(name)] = p.value;
      fitted_sigma[py::str(name)] = p.sigma;
    }
    fit_cost["before"] = done.cost_before;
    fit_cost["after"] = done.cost_after;
    fit_cost["reductions"] = static_cast<double>(done.reductions);
    settings.options = done.options;
  }
  const pdf::ReductionOptions& o = settings.options;
  const std::optional<double> wavelength = o.wavelength;

  Result<pdf::Reduction> red = [&] {
    py::gil_scoped_release unlocked;
    return pdf::reduce(inputs, o);
  }();
  if (!red.ok()) {
    for (const std::string& w : warnings) warn(w);
    raise(red.error(), About::kValue);
  }
  // Each warning once: the reduction's with the inputs' (take() would issue the reduction's again).
  for (const std::string& w : red.warnings()) warnings.push_back(w);
  for (const std::string& w : warnings) warn(w);
  pdf::Reduction r = std::move(red).value();
  py::dict diagnostics;
  if (r.diagnostics) {
    diagnostics["high_q_mean"] = r.diagnostics->high_q_mean;
    diagnostics["high_q_mean_sigma"] = r.diagnostics->high_q_sigma;
    diagnostics["high_q_from"] = r.diagnostics->high_q_from;
    diagnostics["lowest_smoothed_s"] = r.diagnostics->lowest_smoothed;
    diagnostics["lowest_smoothed_s_at"] = r.diagnostics->lowest_at;
    diagnostics["floor_there"] = r.diagnostics->floor_there;
    if (r.diagnostics->low_r_rms) diagnostics["low_r_rms"] = *r.diagnostics->low_r_rms;
  }
  Typed<PdfTag> out;
  out.v = {py::module_::import("os").attr("fsdecode")(input_path),
           py::str(o.mode == pdf::Mode::kPhysical ? "physical" : "adhoc"),
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
           diagnostics,
           zscan,
           fitted,
           fitted_sigma,
           fit_cost,
           py::list(py::cast(warnings))};
  return py::cast(std::move(out));
}

constexpr const char* kPdfDoc =
    R"(pdf(input, composition, *, format=None, scan=None, wavelength=None, anode=None, density=None, number_density=None, packing=None, background=None, bg_scale=None, mode=None, geometry=None, mu_r=None, mu_t=None, thickness=None, monochromator=None, mono_crystal=None, mono_beam=None, ruland=None, polarization=None, compton=None, breit_dirac=None, normalize=None, rmin_iterate=None, rpoly=None, qmaxinst=None, qmin=None, qmax=None, window=None, r=None, capillary_diameter=None, beam_width=None, beam_profile=None, zscan=None, container=None, container_composition=None, container_density=None, container_wall=None, container_scale=None, flat=None, rmin_check=None, optimize=None)
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
    'incident': the same polarisation factor), ruland (the band pass in
    Angstrom of a diffracted-beam monochromator: Ruland's window on the
    Compton scattering), polarization, compton ('hubbell', 'balyuzi'),
    breit_dirac (2 or 3), normalize ('kmn', 'highq'), rmin_iterate
    (Angstrom), rpoly (Angstrom), qmaxinst, qmin, qmax (1/Angstrom), window
    ('none', 'lorch', 'step', 'quadratic'), r = (rmin, rmax, rstep) in
    Angstrom (default (0, 30, 0.01)); a capillary's capillary_diameter (mm),
    the beam_width (mm) and beam_profile ('tophat', 'gaussian': the width its
    FWHM) that light it, zscan (a file of height mm and intensity, fitted for
    mu D and the beam's width, used where not given), container (the empty
    capillary's pattern) with container_composition, container_density
    (g/cm3), container_wall (mm) and container_scale, flat (a constant taken
    from the pattern), rmin_check (Angstrom, default 1: the low-r check), and
    optimize ('mu-r,flat', any of density, bg-scale, container-scale, mu-r,
    beam-width, ruland, flat, each NAME:LOW:HIGH for bounds).

Returns a Pdf: input (the path as given), q, iq, iq_sigma (per atom,
electron units) and model (what iq oscillates about); sq_q with sq, fq and
their sigmas; r with gr (G(r), 1/Angstrom^2), g (g(r)), rr (R(r)),
rr_integral (N(r), the integral of R(r) from rmin) and their sigmas;
normalization_constant (alpha) and normalization_constant_sigma (from the
counting errors: common to every point, so not in the per-point sigmas),
number_density, mu (1/cm), mu_x, absorption_min/max, compton_subtracted,
compton_fraction_at_qmax, qmin, qmax, qstep, poly_degree, iterations,
residual, diagnostics (high_q_mean and its sigma over the top fifth of Q from
high_q_from, lowest_smoothed_s at lowest_smoothed_s_at beside floor_there =
1 - <f^2>/<f>^2, low_r_rms of G + 4 pi rho0 r from 0.5 A to rmin_check), zscan
(mu_d, beam_width, centre and their sigmas), fitted and fitted_sigma (by
parameter), fit_cost (before, after, reductions) and warnings (also issued as
TalvoWarning). pdf.plot() draws the four panels with matplotlib, where it is
installed, titled with the input's file name and the mode. Raises ValueError
for bad options or input, OSError for a file that cannot be read.)";

}  // namespace

void init_pdf(py::module_& m) {
  define<PdfTag>(m, "Pdf",
                 "A total-scattering reduction (see pdf()): I(Q), S(Q), F(Q), G(r), g(r), R(r) with their standard "
                 "deviations, the normalisation constant and a summary.",
                 kPdfFields);
  m.def("pdf", &reduce_pdf, kPdfDoc, py::arg("input"), py::arg("composition"));
}

}  // namespace talvo::python
