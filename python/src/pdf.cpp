// talvo.pdf: the X-ray total-scattering reduction of a measured pattern to
// S(Q), F(Q) and G(r), with the options of talvo-tools pdf.
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core.hpp"
#include "results.hpp"
#include "talvo/pdf/optimize.hpp"
#include "talvo/pdf/options.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/pdf/reduction_fields.hpp"
#include "talvo/pdf/zscan.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"

namespace talvo::python {
namespace {

struct PdfTag {};

constexpr std::array<Field, 45> kPdfFields{{
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
    {"f_table", Kind::kText},
    {"absorption_min", Kind::kFloat},
    {"absorption_max", Kind::kFloat},
    {"compton_subtracted", Kind::kBool},
    {"compton_fraction_at_qmax", Kind::kFloat},
    {"qmin", Kind::kFloat},
    {"qmax", Kind::kFloat},
    {"qstep", Kind::kFloat},
    {"extrapolated", Kind::kInt},  // the first points of sq_q, below the data (extrapolate)
    {"poly_degree", Kind::kInt},
    {"iterations", Kind::kInt},
    {"residual", Kind::kFloat},
    {"outliers", Kind::kArray},          // x of the points removed, in the input's units
    {"diagnostics", Kind::kFloatDict},   // high_q_mean (and _sigma), lowest_smoothed_s (_at), floor_there, low_r_rms
    {"zscan", Kind::kFloatDict},         // mu_d, beam_width, centre (mm) and their _sigma, chi2_per_point
    {"fitted", Kind::kFloatDict},        // each fitted parameter's value
    {"fitted_sigma", Kind::kFloatDict},  // and its standard deviation
    {"fit_cost", Kind::kFloatDict},      // before, after, reductions
    {"warnings", Kind::kTexts},
}};

// Keywords as Python writes them: mu_r for the command's --mu-r.
constexpr pdf::Spelling kSpelling = pdf::Spelling::kKeyword;

// A path as str or os.PathLike.
// The keywords as the library's options, each of the kind it takes: numbers as numbers, r as three.
pdf::OptionValues options_of(const std::string& composition, const py::kwargs& kw, const char* function) {
  for (const auto& [k, v] : kw) {
    const std::string key = k.cast<std::string>();
    const auto known = [&key](const OptionSpec& o) {
      return o.name != "composition" && pdf::spelled(o.name, kSpelling) == key;
    };
    const std::span<const OptionSpec> table = pdf::reduction_option_table().options;
    if (std::none_of(table.begin(), table.end(), known))
      throw py::type_error(std::string(function) + "() got an unexpected keyword argument '" + key + "'");
  }
  pdf::OptionValues options;
  options.values["composition"] = text_arg(composition, "composition");
  for (const OptionSpec& spec : pdf::reduction_option_table().options) {
    const std::string_view name = spec.name;
    const std::string k = pdf::spelled(name, kSpelling);
    if (name == "composition" || !kw.contains(k)) continue;
    const py::object v = kw[py::str(k)];
    if (v.is_none()) continue;
    pdf::OptionValue& value = options.values[std::string(name)];
    // Each keyword of the kind its option takes; a monochromator is named or given by its 2theta.
    if (spec.type == OptionType::kWhole) {
      if (!py::isinstance<py::int_>(v) || py::isinstance<py::bool_>(v))
        throw py::type_error(k + " must be a whole number (int), not " + type_name(v));
      try {
        value = v.cast<int>();
      } catch (const py::cast_error&) {
        raise_invalid(k + " is too large: " + py::str(v).cast<std::string>());
      }
    } else if (spec.type == OptionType::kPath) {
      value = path_arg(v, k.c_str());
    } else if (spec.type == OptionType::kGrid) {
      try {
        if (py::isinstance<py::str>(v)) throw py::cast_error();
        value = v.cast<std::array<double, 3>>();
      } catch (const py::cast_error&) {
        throw py::type_error("r must be a sequence of three numbers (rmin, rmax, step) in Angstrom");
      }
    } else if (((spec.type == OptionType::kChoice || spec.type == OptionType::kList ||
                 spec.type == OptionType::kText) &&
                name != "monochromator") ||
               (name == "monochromator" && py::isinstance<py::str>(v))) {
      if (!py::isinstance<py::str>(v)) throw py::type_error(k + " must be a text (str), not " + type_name(v));
      value = text_arg(v.cast<std::string>(), k.c_str());
    } else if (py::isinstance<py::str>(v)) {  // a number as text, with its unit ("0.0711nm", "500um")
      value = text_arg(v.cast<std::string>(), k.c_str());
    } else {  // a number (a monochromator's 2theta too)
      value = number_arg(v, k.c_str());
    }
  }
  return options;
}

// What the patterns of a call share: the options, checked before any file is read, and the background.
struct PdfRun {
  pdf::OptionValues options;
  std::optional<pdf::Pattern> background, container;
  std::vector<std::string> background_warnings;  // the background's and the container's
  std::optional<pdf::ZScan> zscan;
};

PdfRun run_of(const std::string& composition, const py::kwargs& kw, const char* function) {
  PdfRun run;
  run.options = options_of(composition, kw, function);
  const pdf::InputChoice choice = take(pdf::input_choice(run.options, "", kSpelling));
  (void)choice;
  // A wrong choice or a contradiction is the same for every pattern; what a pattern's own wavelength may
  // settle waits for it.
  const Result<pdf::ReductionSettings> settings = pdf::reduction_settings(run.options, std::nullopt, kSpelling);
  if (!settings.ok() && (settings.kind() == ErrorKind::kInvalidArgument || settings.kind() == ErrorKind::kParseError))
    raise(settings.error());
  if (const auto bg = run.options.values.find("background"); bg != run.options.values.end()) {
    const std::string path = pdf::option_text(bg->second);
    const pdf::InputChoice bg_choice = take(pdf::input_choice(run.options, path, kSpelling));
    Result<pdf::Pattern> p = pdf::read_input(path, bg_choice, kSpelling);
    if (!p.ok()) raise(p.error(), About::kFile);
    for (const std::string& w : p.warnings()) run.background_warnings.push_back("background: " + w);
    run.background = std::move(*p);
  }
  if (const auto c = run.options.values.find("container"); c != run.options.values.end()) {
    const std::string path = pdf::option_text(c->second);
    const pdf::InputChoice c_choice = take(pdf::input_choice(run.options, path, kSpelling));
    Result<pdf::Pattern> p = pdf::read_input(path, c_choice, kSpelling);
    if (!p.ok()) raise(p.error(), About::kFile);
    for (const std::string& w : p.warnings()) run.background_warnings.push_back("container: " + w);
    run.container = std::move(*p);
  }
  if (const auto z = run.options.values.find("zscan"); z != run.options.values.end()) {
    Result<pdf::ZScan> rows = pdf::read_zscan(pdf::option_text(z->second));
    if (!rows.ok()) raise(rows.error(), About::kFile);
    run.zscan = std::move(*rows);
  }
  return run;
}

// A pattern given as an array: its rows x, intensity[, sigma].
Result<pdf::Pattern> pattern_of_array(const py::handle& input, const pdf::InputChoice& choice,
                                      const std::string& source) {
  const InArray a = numbers(input, "input");
  const std::vector<py::ssize_t> shape = shape_of(a);
  if (shape.size() != 2 || (shape[1] != 2 && shape[1] != 3))
    raise_invalid(source + " must hold rows of x, intensity and optionally sigma: an array of shape (n, 2) or (n, 3)");
  if (choice.format == pdf::InputFormat::kXrdml) raise_invalid("format xrdml reads a file, not " + source);
  const std::span<const double> v = view(a);
  const auto rows = static_cast<std::size_t>(shape[0]), columns = static_cast<std::size_t>(shape[1]);
  std::vector<double> x(rows), y(rows), sigma(columns == 3 ? rows : 0);
  for (std::size_t i = 0; i < rows; ++i) {
    x[i] = v[i * columns];
    y[i] = v[i * columns + 1];
    if (columns == 3) sigma[i] = v[i * columns + 2];
  }
  const pdf::Abscissa abscissa = choice.format == pdf::InputFormat::kQA    ? pdf::Abscissa::kQA
                                 : choice.format == pdf::InputFormat::kQnm ? pdf::Abscissa::kQnm
                                                                           : pdf::Abscissa::kTwoTheta;
  return pdf::pattern_of_columns(std::move(x), std::move(y), std::move(sigma), abscissa, source);
}

// What a reduction's fits found, for its result.
struct FitDicts {
  py::dict zscan, fitted, fitted_sigma, fit_cost;
};

py::object pdf_result(py::object input, pdf::Reduction&& r, const pdf::ReductionOptions& o, FitDicts&& fits,
                      std::vector<std::string>&& warnings) {
  // The summary's values from its table; the self-checks in one dict, without those the reduction has not.
  py::dict diagnostics;
  const auto summary = [&](std::string_view name) {
    const pdf::SummaryField* f = pdf::find_summary_field(name);
    return summary_value(f->value(r, o));
  };
  for (const pdf::SummaryField& f : pdf::summary_fields())
    if (f.group == pdf::SummaryGroup::kDiagnostics)
      if (const pdf::SummaryValue v = f.value(r, o); !std::holds_alternative<std::monostate>(v))
        diagnostics[py::str(std::string(f.name))] = summary_value(v);
  // The table of f', f'' and mu; "none" without a wavelength (no dispersion applied).
  py::object f_table = summary("f_table");
  if (f_table.is_none()) f_table = py::str("none");
  Typed<PdfTag> out;
  out.v = {std::move(input),
           summary("mode"),
           summary("wavelength"),
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
           summary("normalization_constant"),
           summary("normalization_constant_sigma"),
           summary("number_density"),
           summary("mu"),
           summary("mu_x"),
           f_table,
           summary("absorption_min"),
           summary("absorption_max"),
           summary("compton_subtracted"),
           summary("compton_fraction_at_qmax"),
           summary("qmin"),
           summary("qmax"),
           summary("qstep"),
           summary("extrapolated"),
           summary("poly_degree"),
           summary("iterations"),
           summary("residual"),
           to_numpy(std::move(r.outliers)),
           diagnostics,
           fits.zscan,
           fits.fitted,
           fits.fitted_sigma,
           fits.fit_cost,
           py::list(py::cast(warnings))};
  return make_result(std::move(out));
}

// One pattern: a path, or an array named `source` in messages.
py::object reduce_one(const PdfRun& run, const py::handle& input, const std::string& source) {
  const bool array = py::isinstance<py::array>(input);
  const std::string path = array ? std::string() : path_arg(input, "input");
  const pdf::InputChoice choice = take(pdf::input_choice(run.options, path, kSpelling));
  Result<pdf::Pattern> read =
      array ? pattern_of_array(input, choice, source) : pdf::read_input(path, choice, kSpelling);
  if (!read.ok()) raise(read.error(), array ? About::kValue : About::kFile);
  std::vector<std::string> warnings = read.warnings();
  const pdf::Pattern sample = std::move(read).value();
  pdf::ReductionSettings settings = take(pdf::reduction_settings(run.options, sample.wavelength, kSpelling));
  const pdf::Pattern* background = run.background ? &*run.background : nullptr;
  if (background || run.container)
    warnings.insert(warnings.end(), run.background_warnings.begin(), run.background_warnings.end());
  if (background && sample.subtracted_background)
    warnings.push_back(escape_for_message(source) + " is the reference program's I(Q), its background (" +
                       escape_for_message(*sample.subtracted_background) +
                       ") subtracted already: background is subtracted from it as asked");
  // Warnings so far go out with an error that stops the pattern.
  const auto fail = [&warnings](const Error& e) {
    for (const std::string& w : warnings) warn(w);
    raise(e, About::kValue);
  };
  FitDicts fits;
  if (run.zscan) {
    Result<pdf::ZScanFit> z = pdf::apply_zscan(*run.zscan, settings);
    if (!z.ok()) fail(z.error());
    for (const std::string& w : z.warnings()) warnings.push_back(w);
    fits.zscan["mu_d"] = z->mu_d.value;
    fits.zscan["mu_d_sigma"] = z->mu_d.sigma;
    fits.zscan["beam_width"] = z->width.value;
    fits.zscan["beam_width_sigma"] = z->width.sigma;
    fits.zscan["centre"] = z->centre.value;
    fits.zscan["centre_sigma"] = z->centre.sigma;
    fits.zscan["chi2_per_point"] = z->residual_variance;
  }
  if (!background) settings.options.bg_scale = 1.0;  // a scale with nothing to scale
  const Interrupts interrupts;
  settings.options.stop = interrupts.stop();
  const pdf::Inputs inputs{&sample, background, run.container ? &*run.container : nullptr};
  if (!settings.optimize.empty()) {
    Result<pdf::Optimization> fit = [&] {
      py::gil_scoped_release unlocked;
      return pdf::optimize(inputs, settings.options, settings.optimize);
    }();
    interrupts.raise_if_stopped();
    if (!fit.ok()) fail(fit.error());
    for (const std::string& w : fit.warnings()) warnings.push_back(w);
    for (const pdf::FittedParameter& p : fit->parameters) {
      const std::string name = pdf::spelled(pdf::fitted_name(p.what), kSpelling);
      fits.fitted[py::str(name)] = p.value;
      fits.fitted_sigma[py::str(name)] = p.sigma;
    }
    fits.fit_cost["before"] = fit->cost_before;
    fits.fit_cost["after"] = fit->cost_after;
    fits.fit_cost["reductions"] = static_cast<double>(fit->reductions);
    settings.options = fit->options;
  }
  const pdf::ReductionOptions& o = settings.options;
  Result<pdf::Reduction> red = [&] {
    py::gil_scoped_release unlocked;
    return pdf::reduce(inputs, o);
  }();
  interrupts.raise_if_stopped();
  if (!red.ok()) fail(red.error());
  // Each warning once: the reduction's with the inputs'.
  for (const std::string& w : red.warnings()) warnings.push_back(w);
  for (const std::string& w : warnings) warn(w);
  py::object name = array ? py::object(py::str(source)) : py::module_::import("os").attr("fsdecode")(input);
  return pdf_result(std::move(name), std::move(red).value(), o, std::move(fits), std::move(warnings));
}

// Several patterns: a list or a tuple (of paths or arrays), not a text, a path or one array.
bool is_series(const py::handle& input) { return py::isinstance<py::list>(input) || py::isinstance<py::tuple>(input); }

std::string source_of(const py::handle& input, std::size_t index, bool series) {
  if (!py::isinstance<py::array>(input)) return path_arg(input, "input");
  return series ? "inputs[" + std::to_string(index) + "]" : std::string("the array");
}

// The keywords less radiation, which picks the reduction: "xray" (the default) or "neutron".
py::kwargs xray_keywords(const py::kwargs& kw, bool& neutron) {
  py::kwargs rest;
  neutron = false;
  for (const auto& [k, v] : kw) {
    if (k.cast<std::string>() != "radiation") {
      rest[k] = v;
      continue;
    }
    if (v.is_none()) continue;
    if (!py::isinstance<py::str>(v)) throw py::type_error("radiation must be 'xray' or 'neutron', not " + type_name(v));
    const std::string radiation = v.cast<std::string>();
    if (radiation != "xray" && radiation != "neutron")
      raise_invalid("radiation must be 'xray' or 'neutron', not " + quote_for_message(radiation));
    neutron = radiation == "neutron";
  }
  return rest;
}

py::object reduce_pdf(const py::object& input, const std::string& composition, const py::kwargs& all) {
  bool neutron = false;
  const py::kwargs kw = xray_keywords(all, neutron);
  if (neutron) return neutron_pdf(input, composition, kw);
  const bool series = is_series(input);
  const PdfRun run = run_of(composition, kw, "pdf");
  if (!series) return reduce_one(run, input, source_of(input, 0, false));
  py::list out;
  std::size_t index = 0;
  for (const py::handle item : input) {
    out.append(reduce_one(run, item, source_of(item, index, true)));
    ++index;
  }
  return out;
}

// iter_pdf(): the patterns reduced one at a time, as they are asked for. The
// inputs are pulled one at a time too: an endless or lazy iterable (a
// generator of arrays, itertools.repeat) holds one pattern at a time.
class PdfSeries {
 public:
  PdfSeries(py::object inputs, std::optional<std::size_t> size, PdfRun run)
      : inputs_(std::move(inputs)), size_(size), run_(std::move(run)) {}
  py::object next() {
    if (done_) throw py::stop_iteration();
    // The next input only now, none ahead of it.
    const py::object item = py::reinterpret_steal<py::object>(PyIter_Next(inputs_.ptr()));
    if (!item) {
      if (PyErr_Occurred()) throw py::error_already_set();
      done_ = true;
      throw py::stop_iteration();
    }
    const std::size_t i = next_++;
    return reduce_one(run_, item, source_of(item, i, true));
  }
  // How many are left, where the inputs know their length; else Python's "no hint".
  py::object remaining() const {
    if (!size_) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
    return py::int_(done_ || next_ >= *size_ ? 0 : *size_ - next_);
  }

 private:
  py::object inputs_;  // an iterator
  std::optional<std::size_t> size_;
  PdfRun run_;
  std::size_t next_ = 0;
  bool done_ = false;
};

PdfSeries iter_pdf(const py::iterable& inputs, const std::string& composition, const py::kwargs& kw) {
  if (py::isinstance<py::str>(inputs) || py::isinstance<py::array>(inputs) || py::isinstance<py::bytes>(inputs))
    throw py::type_error("iter_pdf() takes a sequence of patterns (paths or arrays), not one " + type_name(inputs) +
                         ": give pdf() one pattern");
  std::optional<std::size_t> size;
  if (py::hasattr(inputs, "__len__")) size = py::len(inputs);
  PdfRun run = run_of(composition, kw, "iter_pdf");
  return PdfSeries(py::reinterpret_borrow<py::object>(py::iter(inputs)), size, std::move(run));
}

// The keywords of pdf() and iter_pdf() after composition, from the reduction's option table.
std::string keywords_of_table() {
  std::string out;
  for (const OptionSpec& o : pdf::reduction_option_table().options)
    if (o.name != "composition") out += ", " + pdf::spelled(o.name, kSpelling) + "=None";
  return out;
}

constexpr const char* kPdfDocText =
    R"(--

The X-ray total-scattering reduction of a measured powder pattern to I(Q),
S(Q), F(Q) and G(r), as `talvo-tools pdf` makes it (the same numbers as its
.iq, .sq, .fq and .gr files).

input
    An XRDML file (scans summed, or scan=K) or text rows "x I [sigma]" (x:
    2theta in degrees, Q in 1/Angstrom or 1/nm; format= names which, unless
    a .chi header or the reference program's I(Q) output states it), or an
    array of rows x, I[, sigma] of shape (n, 2) or (n, 3). A list (or tuple)
    of these reduces each with the same options and returns a list; the
    background, the container and the z-scan are read once. iter_pdf() gives
    them one at a time.
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
    breit_dirac (0 for none, 2 or 3), normalize ('kmn', 'highq'), rmin_iterate
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
    beam-width, ruland, flat, each NAME:LOW:HIGH for bounds), extrapolate
    ('none', 'step', 'linear', 'poly': S(Q) below the first point, before
    the low-r iteration and the transform) with s0 (S at Q = 0, default 0).

Returns a Pdf (a list of them for a list): input (the path as given, or
the array's name), q, iq, iq_sigma (per atom, electron units) and model
(what iq oscillates about); sq_q with sq, fq and their sigmas; r with gr (G(r), 1/Angstrom^2), g (g(r)), rr (R(r)),
rr_integral (N(r), the integral of R(r) from rmin) and their sigmas;
normalization_constant (alpha) and normalization_constant_sigma (from the
counting errors: common to every point, so not in the per-point sigmas),
number_density, mu (1/cm), mu_x, f_table (the table of f', f'' and mu:
"henke93", "chantler-ffast", or "none" without a wavelength),
absorption_min/max, compton_subtracted, compton_fraction_at_qmax, qmin, qmax, qstep,
extrapolated (how many of sq_q's first points lie below the data), poly_degree, iterations,
residual, diagnostics (high_q_mean and its sigma over the top fifth of Q from
high_q_from, lowest_smoothed_s at lowest_smoothed_s_at beside floor_there =
1 - <f^2>/<f>^2, low_r_rms of G + 4 pi rho0 r from 0.5 A to rmin_check), zscan
(mu_d, beam_width, centre and their sigmas), fitted and fitted_sigma (by
parameter), fit_cost (before, after, reductions) and warnings (also issued as
TalvoWarning). pdf.plot() draws the four panels with matplotlib, where it is
installed, titled with the input's file name and the mode. Raises ValueError
for bad options or input, OSError for a file that cannot be read.)";

constexpr const char* kNeutronPdfDocText =
    R"(

radiation='neutron' reduces constant-wavelength neutron runs instead, as
`talvo-tools pdf --radiation neutron` does: input is the sample's run in its
can (a path, or a list of them sharing the runs beside it: rows "2theta
counts [sigma]" with a "# monitor N" line), composition the sample's formula,
and the keywords those of the neutron reduction: background and vanadium
(required: the empty instrument's and the vanadium rod's runs), can and
vanadium_background, number_density or density, radius and height (mm),
container with its number density or density and container_inner,
container_outer, container_height (mm), vanadium_radius, vanadium_height,
vanadium_number_density or vanadium_density, wavelength, beam_width,
beam_height, detector_height, temperature and vanadium_temperature (K),
detector_alpha, tolerance, histories, seed, omit (corrections left out:
monitor, background, can, attenuation, multiple-scattering, placzek), qmin,
qmax, window, r, rmin_iterate and rmin_check. Returns a NeutronPdf (a list
for a list): input, q with dcs (dsigma/dOmega per atom, b/sr), dcs_sigma,
twotheta and self ((sigma_s / 4 pi)(1 + P)); sq_q with sq, fq and their
sigmas; r with gr and gr_sigma; number_density, b_mean_sq (|<b>|^2, barn),
self_static (sigma_s / 4 pi), qmin, qmax, iterations, residual, diagnostics,
settings (the "key = value" lines that rerun it), notes and warnings.)";

constexpr const char* kIterPdfDocText =
    R"(--

The patterns of `inputs` (paths or arrays, as pdf() takes them) reduced
one at a time as the iterator is asked for the next: a long series never
holds more than one result. The options are pdf()'s, in its units
(Angstrom, 1/Angstrom, g/cm3), checked and the background read once, before
the first pattern. A pattern that cannot be reduced raises its error when
its turn comes; the iterator goes on with the next one after it.)";

}  // namespace

// A summary value as Python has it: None for none, else a float, an int, a bool or a str.
py::object summary_value(const pdf::SummaryValue& v) {
  if (const double* x = std::get_if<double>(&v)) return py::float_(*x);
  if (const long long* n = std::get_if<long long>(&v)) return py::int_(*n);
  if (const bool* b = std::get_if<bool>(&v)) return py::bool_(*b);
  if (const std::string* t = std::get_if<std::string>(&v)) return py::str(*t);
  return py::none();
}

void init_pdf(py::module_& m) {
  define<PdfTag>(m, "Pdf",
                 "A total-scattering reduction (see pdf()): I(Q), S(Q), F(Q), G(r), g(r), R(r) with their standard "
                 "deviations, the normalisation constant and a summary.",
                 kPdfFields);
  static const std::string pdf_doc =
      "pdf(input, composition, *, radiation=None" + keywords_of_table() + ")\n" + kPdfDocText + kNeutronPdfDocText;
  static const std::string iter_pdf_doc =
      "iter_pdf(inputs, composition, *" + keywords_of_table() + ")\n" + kIterPdfDocText;
  m.def("pdf", &reduce_pdf, pdf_doc.c_str(), py::arg("input"), py::arg("composition"));
  py::class_<PdfSeries>(m, "PdfSeries", "The patterns of iter_pdf(), reduced one at a time.")
      .def("__iter__", [](PdfSeries& s) -> PdfSeries& { return s; })
      .def("__next__", &PdfSeries::next)
      .def("__length_hint__", &PdfSeries::remaining);
  m.def("iter_pdf", &iter_pdf, iter_pdf_doc.c_str(), py::arg("inputs"), py::arg("composition"));
}

}  // namespace talvo::python
