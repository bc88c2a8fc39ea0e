#include "talvo/pdf/options.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

#include "talvo/files/read.hpp"
#include "talvo/numeric/modification.hpp"
#include "talvo/pdf/corrections.hpp"
#include "talvo/pdf/sample_model.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/ini.hpp"
#include "talvo/text/number.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"
#include "talvo/xray/dispersion.hpp"

namespace talvo::pdf {

namespace {

// The options as read: each message names an option as the caller spells it.
class Reader {
 public:
  Reader(const OptionValues& o, Spelling spelling) : o_(o), spelling_(spelling) {}

  // The option as the caller spells it; a value read from a file says where ("--qmax (run.cfg line 5)").
  std::string name(std::string_view n) const {
    const auto origin = o_.origins.find(n);
    if (origin == o_.origins.end() || !o_.from_file.count(n)) return spelled(n, spelling_);
    return spelled(n, spelling_) + " (" + origin->second + ")";
  }
  bool has(std::string_view n) const { return o_.values.find(n) != o_.values.end(); }
  // Asked for by the user now, not only carried over from a file.
  bool asked(std::string_view n) const { return has(n) && o_.from_file.find(n) == o_.from_file.end(); }
  const OptionValue* value(std::string_view n) const {
    const auto it = o_.values.find(n);
    return it == o_.values.end() ? nullptr : &it->second;
  }
  std::optional<std::string> text(std::string_view n) const {
    const OptionValue* v = value(n);
    return v ? std::optional<std::string>(option_text(*v)) : std::nullopt;
  }
  Result<double> number(std::string_view n) const {
    const OptionValue& v = *value(n);
    if (const auto* d = std::get_if<double>(&v)) return *d;
    if (const auto* i = std::get_if<int>(&v)) return static_cast<double>(*i);
    return number_of(option_text(v), name(n), quantity_of(n));
  }
  Result<int> whole(std::string_view n) const {
    const OptionValue& v = *value(n);
    if (const auto* i = std::get_if<int>(&v)) return *i;
    return read_whole_number(option_text(v), name(n));
  }
  static Result<double> number_of(const std::string& t, const std::string& what,
                                  Quantity quantity = Quantity::kNumber) {
    NumberOptions o;
    o.quantity = quantity;
    return read_number(t, what, o);
  }
  // The unit an option's number is read in (its canonical unit: A, g/cm3, cm, mm).
  static Quantity quantity_of(std::string_view n) {
    const OptionSpec* spec = reduction_option(n);
    return spec ? spec->quantity : Quantity::kNumber;
  }
  Result<std::optional<double>> optional(std::string_view n) const {
    if (!has(n)) return std::optional<double>();
    const Result<double> v = number(n);
    if (!v.ok()) return v.error();
    return std::optional<double>(*v);
  }
  Error choice(std::string_view n, std::string_view choices) const {
    return make_error(ErrorKind::kInvalidArgument,
                      name(n) + " must be " + std::string(choices) + ", not " + quote_for_message(*text(n)));
  }

 private:
  const OptionValues& o_;
  Spelling spelling_;
};

// The value into `target`, or the error that says why there is none.
template <class T, class U>
Outcome into(T& target, Result<U>&& r) {
  if (!r.ok()) return r.error();
  target = std::move(r).value();
  return Done{};
}

Error invalid(std::string message) { return make_error(ErrorKind::kInvalidArgument, std::move(message)); }

// Options that exclude each other, and names that are no option.
Outcome check_names(const OptionValues& options, const Reader& r) {
  for (const auto& [k, v] : options.values)
    if (!is_reduction_option(k)) return invalid(r.name(k) + " is not an option of the reduction");
  for (const auto& [x, y] : {std::pair{"density", "number-density"}, {"mu-r", "mu-t"}, {"wavelength", "anode"}})
    if (r.has(x) && r.has(y)) return invalid("give " + r.name(x) + " or " + r.name(y) + ", not both");
  return Done{};
}

// The steps of reduction_settings, each the options of one concern in the order their faults are named.

Result<std::optional<double>> wavelength_of(const Reader& r, std::optional<double> pattern_wavelength) {
  // The wavelength: as given, the anode's, else the pattern's.
  std::optional<double> wavelength;
  if (Outcome set = into(wavelength, r.optional("wavelength")); !set.ok()) return set.error();
  if (const auto anode = r.text("anode")) {
    const Result<double> kev = anode_energy(*anode);
    if (!kev.ok()) return with_context(kev, r.name("anode") + ": ");
    if (Outcome set = into(wavelength, wavelength_of_energy(*kev)); !set.ok()) return set.error();
  }
  // A wavelength asked for in place of the pattern's own: said where they differ.
  std::vector<std::string> warnings;
  if (wavelength && pattern_wavelength && std::abs(*wavelength - *pattern_wavelength) > 1e-3 * *pattern_wavelength)
    warnings.push_back("the pattern states its own wavelength, " + significant(*pattern_wavelength) + " A; " +
                       r.name(r.has("wavelength") ? "wavelength" : "anode") + " puts " + significant(*wavelength) +
                       " A in its place");
  if (!wavelength) wavelength = pattern_wavelength;
  return Result<std::optional<double>>(wavelength, std::move(warnings));
}

Outcome read_sample(const Reader& r, ReductionOptions& o) {
  const auto composition = r.text("composition");
  if (!composition)
    return make_error(ErrorKind::kNotFound, "no composition: give " + r.name("composition") + " FORMULA (e.g. CeO2)");
  o.sample.composition = *composition;
  if (Outcome set = into(o.sample.density, r.optional("density")); !set.ok()) return set.error();
  if (Outcome set = into(o.sample.number_density, r.optional("number-density")); !set.ok()) return set.error();
  if (r.has("packing"))
    if (Outcome set = into(o.sample.packing, r.number("packing")); !set.ok()) return set.error();
  if (const auto c = r.text("compton")) {
    const std::optional<IncoherentModel> t = incoherent_model_named(*c);
    if (!t) return r.choice("compton", "hubbell or balyuzi");
    o.sample.compton = *t;
  }

  // The mode: physical where the density is known, unless asked otherwise.
  o.mode = o.sample.density || o.sample.number_density ? Mode::kPhysical : Mode::kAdhoc;
  if (const auto m = r.text("mode")) {
    if (*m == "physical")
      o.mode = Mode::kPhysical;
    else if (*m == "adhoc")
      o.mode = Mode::kAdhoc;
    else
      return r.choice("mode", "physical or adhoc");
  }

  return Done{};
}

Outcome read_absorption(const Reader& r, ReductionOptions& o) {
  // Absorption.
  if (const auto g = r.text("geometry")) {
    const std::optional<Geometry> named = geometry_named(*g);
    if (!named) return r.choice("geometry", "reflection, transmission or capillary");
    o.absorption.geometry = *named;
  }
  const bool capillary = o.absorption.geometry == Geometry::kCapillary;
  if (r.has("mu-r") && !capillary)
    return invalid(r.name("mu-r") + " belongs to " + r.name("geometry") + " capillary; a plate takes " +
                   r.name("mu-t"));
  if (r.has("mu-t") && capillary)
    return invalid(r.name("mu-t") + " belongs to a plate; a capillary takes " + r.name("mu-r"));
  if (Outcome set = into(o.absorption.mu_x, r.optional(r.has("mu-r") ? "mu-r" : "mu-t")); !set.ok()) return set.error();
  if (r.asked("thickness") && (r.asked("mu-r") || r.asked("mu-t")))
    return invalid("give " + r.name("thickness") + " (mu from the composition) or " + r.name("mu-r") + "/" +
                   r.name("mu-t") + ", not both");
  if (Outcome set = into(o.thickness, r.optional("thickness")); !set.ok()) return set.error();
  if (o.thickness && !(*o.thickness > 0.0))
    return make_error(ErrorKind::kOutOfRange, r.name("thickness") + " must be above 0 cm");

  // An option of the other mode would be ignored without a word: it is refused.
  for (const OptionSpec& spec : reduction_option_table().options) {
    if (spec.when == "mode=physical" && o.mode == Mode::kAdhoc && r.asked(spec.name))
      return invalid(r.name(spec.name) + " belongs to " + r.name("mode") + " physical (give " + r.name("density") +
                     " for it); ad hoc mode fits the corrections away");
    if (spec.when == "mode=adhoc" && o.mode == Mode::kPhysical && r.asked(spec.name))
      return invalid(r.name(spec.name) + " belongs to " + r.name("mode") + " adhoc");
  }

  return Done{};
}

Outcome read_capillary(const Reader& r, ReductionOptions& o) {
  const bool capillary = o.absorption.geometry == Geometry::kCapillary;
  // The capillary as the beam lights it, and its empty container.
  for (const char* n : {"capillary-diameter", "beam-width", "beam-profile", "zscan", "container"})
    if (r.asked(n) && !capillary) return invalid(r.name(n) + " belongs to " + r.name("geometry") + " capillary");
  if (Outcome set = into(o.capillary_diameter, r.optional("capillary-diameter")); !set.ok()) return set.error();
  if (o.capillary_diameter && !(*o.capillary_diameter > 0.0 && std::isfinite(*o.capillary_diameter)))
    return make_error(ErrorKind::kOutOfRange, r.name("capillary-diameter") + " must be above 0 mm");
  if (r.asked("thickness") && r.asked("capillary-diameter"))
    return invalid("give " + r.name("thickness") + " (cm) or " + r.name("capillary-diameter") + " (mm), not both");
  if (Outcome set = into(o.beam_width, r.optional("beam-width")); !set.ok()) return set.error();
  if (o.beam_width && !(*o.beam_width > 0.0 && std::isfinite(*o.beam_width)))
    return make_error(ErrorKind::kOutOfRange, r.name("beam-width") + " must be above 0 mm");
  for (const char* n : {"beam-width", "zscan", "container"})
    if (r.has(n) && !o.capillary_diameter)
      return make_error(ErrorKind::kNotFound,
                        r.name(n) + " needs the capillary's diameter: give " + r.name("capillary-diameter") + " MM");
  if (const auto bp = r.text("beam-profile")) {
    const std::optional<BeamProfile> named = beam_profile_named(*bp);
    if (!named) return r.choice("beam-profile", "tophat or gaussian");
    if (!r.has("beam-width") && !r.has("zscan"))
      return invalid(r.name("beam-profile") + " belongs to " + r.name("beam-width") + " or " + r.name("zscan"));
    o.beam_profile = *named;
  }
  for (const char* n : {"container-composition", "container-density", "container-wall", "container-scale"})
    if (r.asked(n) && !r.has("container")) return invalid(r.name(n) + " belongs to " + r.name("container"));
  if (r.has("container")) {
    const auto cc = r.text("container-composition");
    if (!cc || !r.has("container-density") || !r.has("container-wall"))
      return make_error(ErrorKind::kNotFound, r.name("container") + " needs the container's " +
                                                  r.name("container-composition") + ", " + r.name("container-density") +
                                                  " and " + r.name("container-wall"));
    o.container_composition = *cc;
    if (Outcome set = into(o.container_density, r.optional("container-density")); !set.ok()) return set.error();
    if (Outcome set = into(o.container_wall, r.optional("container-wall")); !set.ok()) return set.error();
    if (!(*o.container_density > 0.0 && std::isfinite(*o.container_density)))
      return make_error(ErrorKind::kOutOfRange, r.name("container-density") + " must be above 0 g/cm3");
    if (!(*o.container_wall > 0.0 && std::isfinite(*o.container_wall)))
      return make_error(ErrorKind::kOutOfRange, r.name("container-wall") + " must be above 0 mm");
    if (r.has("container-scale"))
      if (Outcome set = into(o.container_scale, r.number("container-scale")); !set.ok()) return set.error();
    if (!(o.container_scale >= 0.0 && std::isfinite(o.container_scale)))
      return make_error(ErrorKind::kOutOfRange, r.name("container-scale") + " must be 0 or more");
  }
  if (r.has("flat"))
    if (Outcome set = into(o.flat, r.number("flat")); !set.ok()) return set.error();
  if (!std::isfinite(o.flat)) return make_error(ErrorKind::kOutOfRange, r.name("flat") + " must be a finite number");
  if (r.has("rmin-check"))
    if (Outcome set = into(o.rmin_check, r.number("rmin-check")); !set.ok()) return set.error();
  if (!(o.rmin_check > 0.5 && o.rmin_check <= 100.0))
    return make_error(ErrorKind::kOutOfRange, r.name("rmin-check") +
                                                  " must lie above 0.5 Angstrom (and at most 100), below the first "
                                                  "interatomic distance");
  return Done{};
}

Outcome read_optimize(const Reader& r, ReductionSettings& settings) {
  const bool capillary = settings.options.absorption.geometry == Geometry::kCapillary;
  if (const auto list = r.text("optimize")) {
    Result<std::vector<FitSpec>> fit = parse_fit_list(*list, r.name("optimize"));
    if (!fit.ok()) return fit.error();
    settings.optimize = std::move(*fit);
    for (const FitSpec& f : settings.optimize) {
      const char* needs = nullptr;
      switch (f.what) {
        case Fitted::kBgScale:
          needs = r.has("background") ? nullptr : "background";
          break;
        case Fitted::kContainerScale:
          needs = r.has("container") ? nullptr : "container";
          break;
        case Fitted::kBeamWidth:
          needs = r.has("beam-width") || r.has("zscan") ? nullptr : "beam-width";
          break;
        case Fitted::kRuland:
          needs = r.has("ruland") ? nullptr : "ruland";
          break;
        case Fitted::kMuR:
          needs = capillary ? nullptr : "geometry";
          break;
        default:
          break;
      }
      if (needs)
        return invalid(r.name("optimize") + " " + std::string(fitted_name(f.what)) + " needs " + r.name(needs) +
                       (std::string(needs) == "geometry" ? " capillary" : ""));
    }
  }

  return Done{};
}

Outcome read_monochromator(const Reader& r, ReductionSettings& settings) {
  ReductionOptions& o = settings.options;
  const std::optional<double>& wavelength = o.wavelength;
  // The monochromator: a crystal at its Bragg angle for the wavelength, or the angle itself.
  settings.monochromator = r.text("monochromator").value_or("none");
  const std::string& mono = settings.monochromator;
  if (mono == "none")
    for (const char* n : {"mono-crystal", "mono-beam"})
      if (r.asked(n)) return invalid(r.name(n) + " belongs to " + r.name("monochromator") + " NAME");
  if (mono != "none") {
    bool perfect = false;
    if (const MonochromatorCrystal* c = monochromator_crystal_named(mono)) {
      if (!wavelength)
        return make_error(ErrorKind::kNotFound,
                          r.name("monochromator") + " " + mono + " needs the wavelength for its Bragg angle");
      const Result<double> tt = bragg_two_theta(c->d, *wavelength);
      // The crystal cannot reflect this wavelength: a value beyond its reach, not a malformed option.
      if (!tt.ok())
        return make_error(ErrorKind::kOutOfRange, r.name("monochromator") + " " + mono + ": " + tt.error().message);
      o.polarization.monochromator_two_theta = *tt;
      perfect = c->perfect;
    } else {
      const Result<double> angle = read_number(mono, r.name("monochromator"));
      if (!angle.ok() || !(*angle > 0.0 && *angle < 180.0))
        return r.choice("monochromator", "none, HOPG, Si111, Ge111, LiF200 or its 2theta in degrees");
      o.polarization.monochromator_two_theta = *angle;
    }
    if (const auto mc = r.text("mono-crystal")) {
      if (*mc != "mosaic" && *mc != "perfect") return r.choice("mono-crystal", "mosaic or perfect");
      perfect = *mc == "perfect";
    }
    o.polarization.perfect_crystal = perfect;
  }
  // The coplanar polarisation factor is the same for either beam; only Ruland's window would tell them apart.
  settings.mono_beam = r.text("mono-beam").value_or("diffracted");
  if (settings.mono_beam != "diffracted" && settings.mono_beam != "incident")
    return r.choice("mono-beam", "diffracted or incident");
  // A file's polarisation (a header's default) yields to a monochromator asked now.
  const bool polarization_yields = !r.asked("polarization") && r.asked("monochromator") && mono != "none";
  if (r.has("polarization") && !polarization_yields) {
    if (mono != "none")
      return invalid(r.name("polarization") +
                     " is for a polarised source without a monochromator; a monochromator's source is taken as "
                     "unpolarised");
    if (Outcome set = into(o.polarization.normal_fraction, r.number("polarization")); !set.ok()) return set.error();
    if (!(o.polarization.normal_fraction >= 0.0 && o.polarization.normal_fraction <= 1.0))
      return make_error(ErrorKind::kOutOfRange, r.name("polarization") + " must lie between 0 and 1");
  }
  if (r.has("breit-dirac")) {
    if (Outcome set = into(o.breit_dirac, r.whole("breit-dirac")); !set.ok()) return set.error();
    if (o.breit_dirac != 0 && o.breit_dirac != 2 && o.breit_dirac != 3)
      return invalid(r.name("breit-dirac") + " must be 0 (none), 2 or 3");
  }
  if (r.has("ruland")) {
    // An incident-beam monochromator sees the whole Compton scattering: there is nothing to window.
    if (mono == "none" || settings.mono_beam != "diffracted")
      return invalid(r.name("ruland") + " belongs to a monochromator in the diffracted beam (" +
                     r.name("monochromator") + " NAME)");
    if (Outcome set = into(o.ruland, r.optional("ruland")); !set.ok()) return set.error();
    if (!(*o.ruland > 0.0 && std::isfinite(*o.ruland)))
      return make_error(ErrorKind::kOutOfRange,
                        r.name("ruland") + " is the monochromator's band pass in Angstrom: it must be above 0");
  }
  if (const auto n = r.text("normalize")) {
    if (*n == "kmn")
      o.normalization = Normalization::kKroghMoeNorman;
    else if (*n == "highq")
      o.normalization = Normalization::kHighQ;
    else
      return r.choice("normalize", "kmn or highq");
  }
  return Done{};
}

Outcome read_grids(const Reader& r, ReductionOptions& o) {
  if (Outcome set = into(o.rmin_iterate, r.optional("rmin-iterate")); !set.ok()) return set.error();
  if (r.has("rpoly"))
    if (Outcome set = into(o.rpoly, r.number("rpoly")); !set.ok()) return set.error();
  if (Outcome set = into(o.qmaxinst, r.optional("qmaxinst")); !set.ok()) return set.error();
  if (r.has("qmin"))
    if (Outcome set = into(o.qmin, r.number("qmin")); !set.ok()) return set.error();
  if (Outcome set = into(o.qmax, r.optional("qmax")); !set.ok()) return set.error();
  if (const auto w = r.text("window")) {
    const std::optional<Window> named = window_named(*w);
    if (!named || *named == Window::kSphere || *named == Window::kGaussian)
      return r.choice("window", "none, lorch, step or quadratic");
    o.window = *named;
  }
  if (const auto e = r.text("extrapolate")) {
    const std::optional<LowQExtrapolation> how = low_q_extrapolation_named(*e);
    if (!how) return r.choice("extrapolate", "none, step, linear or poly");
    o.extrapolate = *how;
  }
  if (r.has("s0")) {
    if (o.extrapolate == LowQExtrapolation::kNone)
      return invalid(r.name("s0") + " is S(Q) at Q = 0 for the extrapolation below the data: give " +
                     r.name("extrapolate") + " step, linear or poly");
    if (Outcome set = into(o.s0, r.number("s0")); !set.ok()) return set.error();
    if (!std::isfinite(o.s0)) return invalid(r.name("s0") + " must be a finite number, not " + shortest(o.s0));
    if (o.s0 < 0.0)
      return make_error(ErrorKind::kOutOfRange,
                        r.name("s0") + " must be 0 or more (S(0) = rho0 k_B T kappa_T), not " + shortest(o.s0));
  }
  if (const OptionValue* spec = r.value("r")) {
    if (const auto* grid = std::get_if<std::array<double, 3>>(spec)) {
      o.rmin = (*grid)[0];
      o.rmax = (*grid)[1];
      o.rstep = (*grid)[2];
    } else {
      const std::string t = option_text(*spec);
      const std::size_t c1 = t.find(':'), c2 = t.find(':', c1 == std::string::npos ? 0 : c1 + 1);
      if (c1 == std::string::npos || c2 == std::string::npos) return invalid(r.name("r") + " needs RMIN:RMAX:STEP");
      if (Outcome set = into(o.rmin, Reader::number_of(t.substr(0, c1), r.name("r") + " RMIN")); !set.ok())
        return set.error();
      if (Outcome set = into(o.rmax, Reader::number_of(t.substr(c1 + 1, c2 - c1 - 1), r.name("r") + " RMAX"));
          !set.ok())
        return set.error();
      if (Outcome set = into(o.rstep, Reader::number_of(t.substr(c2 + 1), r.name("r") + " STEP")); !set.ok())
        return set.error();
    }
  }
  if (r.has("bg-scale"))
    if (Outcome set = into(o.bg_scale, r.number("bg-scale")); !set.ok()) return set.error();
  if (r.has("bg-scale") && !r.has("background"))
    return invalid(r.name("bg-scale") + " belongs to " + r.name("background"));
  return Done{};
}

}  // namespace

Result<InputChoice> input_choice(const OptionValues& options, std::string_view input_path, Spelling spelling) {
  const Reader r(options, spelling);
  if (const Outcome names = check_names(options, r); !names.ok()) return names.error();
  InputChoice c;
  c.format = input_format_of_path(input_path);
  if (const auto f = r.text("format")) {
    const std::optional<InputFormat> named = input_format_named(*f);
    if (!named) return r.choice("format", "xrdml, twotheta, qa or qnm");
    c.format = *named;
    c.format_asked = r.asked("format");
    c.format_given = true;
  }
  if (r.has("scan")) {
    if (Outcome set = into(c.scan, r.whole("scan")); !set.ok()) return set.error();
    if (c.format != InputFormat::kXrdml) return invalid(r.name("scan") + " belongs to XRDML input");
  }
  return c;
}

Result<ReductionSettings> reduction_settings(const OptionValues& options, std::optional<double> pattern_wavelength,
                                             Spelling spelling) {
  const Reader r(options, spelling);
  if (const Outcome names = check_names(options, r); !names.ok()) return names.error();
  ReductionSettings settings;
  ReductionOptions& o = settings.options;

  Result<std::optional<double>> wavelength = wavelength_of(r, pattern_wavelength);
  if (!wavelength.ok()) return wavelength.error();
  o.wavelength = *wavelength;
  if (Outcome step = read_sample(r, o); !step.ok()) return step.error();
  if (Outcome step = read_absorption(r, o); !step.ok()) return step.error();
  if (Outcome step = read_capillary(r, o); !step.ok()) return step.error();
  if (Outcome step = read_optimize(r, settings); !step.ok()) return step.error();
  if (Outcome step = read_monochromator(r, settings); !step.ok()) return step.error();
  if (Outcome step = read_grids(r, o); !step.ok()) return step.error();
  return Result<ReductionSettings>(std::move(settings), wavelength.warnings());
}

Result<ZScanFit> apply_zscan(const ZScan& scan, ReductionSettings& settings) {
  ReductionOptions& o = settings.options;
  if (!o.capillary_diameter) return make_error(ErrorKind::kNotFound, "a z-scan needs the capillary's diameter");
  Result<ZScanFit> fit = fit_zscan(scan, ZScanFitOptions{*o.capillary_diameter, o.beam_profile, false});
  if (!fit.ok()) return fit;
  if (!o.absorption.mu_x) o.absorption.mu_x = 0.5 * fit->mu_d.value;
  if (!o.beam_width) o.beam_width = fit->width.value;
  return fit;
}

std::vector<std::string> header_notes(const ReductionSettings& settings, const Reduction& r,
                                      std::span<const std::string> fits) {
  const ReductionOptions& o = settings.options;
  std::vector<std::string> notes;
  if (o.mode == Mode::kPhysical) {
    notes.push_back("normalisation constant alpha: " + shortest(r.alpha) + " +- " + shortest(r.alpha_sigma) +
                    " (counting errors; common to every point, not in the sigma column)");
    if (r.mu_x) notes.push_back("absorption mu x: " + shortest(*r.mu_x));
    notes.push_back("absorption factor from " + shortest(r.absorption_min) + " to " + shortest(r.absorption_max));
    notes.push_back(r.compton_subtracted ? "Compton fraction at qmax: " + shortest(r.compton_fraction_at_qmax)
                                         : "Compton scattering: not subtracted");
    if (o.rmin_iterate)
      notes.push_back("rmin iterations: " + std::to_string(r.iterations) + ", residual " + shortest(r.residual));
    notes.insert(notes.end(), fits.begin(), fits.end());
    if (const auto& d = r.diagnostics) {
      notes.push_back("mean of S(Q) from Q = " + shortest(d->high_q_from) + ": " + shortest(d->high_q_mean) + " +- " +
                      shortest(d->high_q_sigma));
      notes.push_back("lowest smoothed S(Q): " + shortest(d->lowest_smoothed) + " at Q = " + shortest(d->lowest_at) +
                      ", where its floor 1 - <f^2>/<f>^2 is " + shortest(d->floor_there));
      if (d->low_r_rms)
        notes.push_back("rms of G(r) + 4 pi rho0 r from 0.5 to " + shortest(o.rmin_check) +
                        " A: " + shortest(*d->low_r_rms) + " (warned above " + shortest(d->low_r_level) + ")");
    }
  } else {
    notes.push_back("ad hoc polynomial degree: " + std::to_string(r.poly_degree));
  }
  if (r.extrapolated > 0)
    notes.push_back("S(Q) extrapolated below the first measured Q, " + shortest(r.qmin) + ": " +
                    std::to_string(r.extrapolated) + " points (" +
                    std::string(low_q_extrapolation_name(o.extrapolate)) + " from S0 = " + shortest(o.s0) +
                    "; sigma 0)");
  if (r.number_density) notes.push_back("number density (atoms/A^3): " + shortest(*r.number_density));
  if (r.f_table)
    notes.push_back("f_table = " + std::string(dispersion_table_name(*r.f_table)) +
                    " (f', f'' and the photoabsorption in mu; henke93: Henke et al. 1993, chantler-ffast: "
                    "Chantler 1995, 2000)");
  std::string removed;
  for (double x : r.outliers) removed += (removed.empty() ? "" : " ") + shortest(x);
  notes.push_back("outliers removed at x: " + (removed.empty() ? std::string("none") : removed));
  return notes;
}

}  // namespace talvo::pdf

namespace talvo::pdf {
namespace {

InputFormat format_of(Abscissa a) {
  switch (a) {
    case Abscissa::kQA:
      return InputFormat::kQA;
    case Abscissa::kQnm:
      return InputFormat::kQnm;
    case Abscissa::kTwoTheta:
      break;
  }
  return InputFormat::kTwoTheta;
}

}  // namespace

InputChoice as_read(InputChoice choice, const Pattern& pattern) {
  if (choice.format != InputFormat::kXrdml)
    choice.format = pattern.abscissa == Abscissa::kQA    ? InputFormat::kQA
                    : pattern.abscissa == Abscissa::kQnm ? InputFormat::kQnm
                                                         : InputFormat::kTwoTheta;
  return choice;
}

Result<Pattern> read_input(const std::string& path, const InputChoice& choice, Spelling spelling) {
  Result<Pattern> p = read_pattern(path, choice.format, choice.scan);
  if (p.ok() && !p->foreign_abscissa.empty() && !choice.format_given)
    return make_error(ErrorKind::kInvalidArgument,
                      escape_for_message(path) + " states its x as " + quote_for_message(p->foreign_abscissa) +
                          ", neither 2theta nor Q: integrate the image to 2theta or Q, or give " +
                          spelled("format", spelling) + " twotheta, qa or qnm if the column holds one of them");
  if (!p.ok() || p->abscissa_label.empty() || !choice.format_asked) return p;
  const InputFormat stated = format_of(p->abscissa);
  if (choice.format == stated) return p;
  return make_error(ErrorKind::kInvalidArgument,
                    escape_for_message(path) + " states its x as " + quote_for_message(p->abscissa_label) +
                        ", which is " + std::string(input_format_name(stated)) + ": " + spelled("format", spelling) +
                        " " + std::string(input_format_name(choice.format)) + " contradicts it");
}

Result<std::vector<std::string>> output_list(std::string_view text, Spelling spelling) {
  const std::string name = spelled("output", spelling);
  if (trim(text).empty())
    return make_error(ErrorKind::kInvalidArgument,
                      name + " is empty: give one or more of iq, sq, fq, gr, gofr and rdf");
  std::vector<std::string> kinds;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view item =
        trim(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (std::find(std::begin(kOutputKinds), std::end(kOutputKinds), item) == std::end(kOutputKinds))
      return make_error(ErrorKind::kInvalidArgument,
                        name + " takes a list of iq, sq, fq, gr, gofr and rdf, not " + quote_for_message(item));
    if (std::find(kinds.begin(), kinds.end(), item) == kinds.end()) kinds.emplace_back(item);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return kinds;
}

Parameters header_parameters(const RunRecord& run) {
  const ReductionSettings& s = run.settings;
  const ReductionOptions& o = s.options;
  Parameters p;
  p.emplace_back("input", run.input);
  p.emplace_back("format", std::string(input_format_name(run.choice.format)));
  if (run.choice.format == InputFormat::kXrdml) p.emplace_back("scan", std::to_string(run.choice.scan));
  if (o.wavelength) p.emplace_back("wavelength", shortest(*o.wavelength));
  p.emplace_back("composition", o.sample.composition);
  if (o.sample.density) p.emplace_back("density", shortest(*o.sample.density));
  if (o.sample.number_density) p.emplace_back("number-density", shortest(*o.sample.number_density));
  p.emplace_back("packing", shortest(o.sample.packing));
  if (run.background) {
    p.emplace_back("background", *run.background);
    p.emplace_back("bg-scale", shortest(o.bg_scale));
  }
  p.emplace_back("mode", o.mode == Mode::kPhysical ? "physical" : "adhoc");
  if (o.mode == Mode::kPhysical) {
    p.emplace_back("geometry", std::string(geometry_name(o.absorption.geometry)));
    if (o.absorption.mu_x)
      p.emplace_back(o.absorption.geometry == Geometry::kCapillary ? "mu-r" : "mu-t", shortest(*o.absorption.mu_x));
    if (o.thickness) p.emplace_back("thickness", shortest(*o.thickness));
    if (o.capillary_diameter) p.emplace_back("capillary-diameter", shortest(*o.capillary_diameter));
    if (o.beam_width) {
      p.emplace_back("beam-width", shortest(*o.beam_width));
      p.emplace_back("beam-profile", std::string(beam_profile_name(o.beam_profile)));
    }
    if (run.zscan) p.emplace_back("zscan", *run.zscan);
    if (run.container) {
      p.emplace_back("container", *run.container);
      p.emplace_back("container-composition", o.container_composition);
      p.emplace_back("container-density", shortest(*o.container_density));
      p.emplace_back("container-wall", shortest(*o.container_wall));
      p.emplace_back("container-scale", shortest(o.container_scale));
    }
    if (o.flat != 0.0) p.emplace_back("flat", shortest(o.flat));
    if (o.ruland) p.emplace_back("ruland", shortest(*o.ruland));
    p.emplace_back("rmin-check", shortest(o.rmin_check));
    p.emplace_back("monochromator", s.monochromator);
    if (s.monochromator != "none") {
      p.emplace_back("mono-beam", s.mono_beam);
      p.emplace_back("mono-crystal", o.polarization.perfect_crystal ? "perfect" : "mosaic");
    } else {
      p.emplace_back("polarization", shortest(o.polarization.normal_fraction));
    }
    p.emplace_back("compton", std::string(incoherent_model_name(o.sample.compton)));
    p.emplace_back("breit-dirac", std::to_string(o.breit_dirac));
    p.emplace_back("normalize", o.normalization == Normalization::kKroghMoeNorman ? "kmn" : "highq");
    if (o.rmin_iterate) p.emplace_back("rmin-iterate", shortest(*o.rmin_iterate));
  } else {
    p.emplace_back("rpoly", shortest(o.rpoly));
    if (o.qmaxinst) p.emplace_back("qmaxinst", shortest(*o.qmaxinst));
  }
  p.emplace_back("qmin", shortest(o.qmin));
  p.emplace_back("qmax", shortest(run.qmax));
  if (o.extrapolate != LowQExtrapolation::kNone) {
    p.emplace_back("extrapolate", std::string(low_q_extrapolation_name(o.extrapolate)));
    p.emplace_back("s0", shortest(o.s0));
  }
  p.emplace_back("window", std::string(window_name(o.window)));
  p.emplace_back("r", shortest(o.rmin) + ":" + shortest(o.rmax) + ":" + shortest(o.rstep));
  if (run.outputs) {
    std::string list;
    for (const std::string& k : *run.outputs) list += (list.empty() ? "" : ",") + k;
    p.emplace_back("output", list);
  }
  return p;
}

namespace {

bool reference_layout(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view t = trim(text.substr(start, end - start));
    start = end + 1;
    if (t.size() > 2 && t.front() == '[' && t.back() == ']') return true;
    if (t == "#### start data") return false;
  }
  return false;
}

// A path of the reference program's file, found from the folder of `source`.
std::string beside(std::string_view source, const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  const std::size_t slash = source.rfind('/');
  return slash == std::string_view::npos ? path : std::string(source.substr(0, slash + 1)) + path;
}

Result<SettingsFile> reference_settings(std::string_view text, std::string_view source) {
  IniOptions ini;
  ini.stop_at = "#### start data";  // an output file's rows follow
  const Result<std::vector<IniKey>> keys = read_ini(text, source, ini);
  if (!keys.ok()) return keys.error();
  SettingsFile f;
  f.reference = true;
  // [PDF] over [DEFAULT]; other sections hold nothing of the reduction's.
  std::map<std::string, std::string, std::less<>> v;
  std::map<std::string, int, std::less<>> line_of;
  for (const char* section : {"default", "pdf"})
    for (const IniKey& k : *keys)
      if (k.section == section) {
        v[k.key] = k.value;
        line_of[k.key] = k.line;
      }
  const std::string where = std::string(source) + ": ";
  // An option from the key `key` of the file (by default the option's own name).
  const auto set = [&](std::string_view name, std::string value, std::string_view key = {}) {
    const std::string k(key.empty() ? name : key);
    f.options.values[std::string(name)] = std::move(value);
    f.options.from_file.emplace(name);
    if (const auto at = line_of.find(k); at != line_of.end())
      f.options.origins[std::string(name)] =
          std::string(source) + " line " + std::to_string(at->second) + (k == name ? "" : ", " + k);
  };
  constexpr std::string_view kSame[] = {"composition", "wavelength", "qmaxinst", "qmin", "qmax", "rpoly"};
  std::set<std::string, std::less<>> used;
  for (const std::string_view n : kSame)
    if (const auto it = v.find(n); it != v.end() && !it->second.empty()) {
      set(n, it->second);
      used.emplace(n);
    }
  if (const auto it = v.find("dataformat"); it != v.end()) {
    const std::string d = lower_ascii(it->second);
    if (d != "twotheta" && d != "qa" && d != "qnm")
      return make_error(ErrorKind::kInvalidArgument,
                        where + "dataformat must be twotheta, QA or Qnm, not " + quote_for_message(it->second));
    set("format", d, "dataformat");
    used.emplace("dataformat");
  }
  if (const auto it = v.find("mode"); it != v.end()) {
    if (lower_ascii(it->second) != "xray")
      return make_error(ErrorKind::kUnsupported, where + "mode = " + escape_for_message(it->second) +
                                                     ": TALVO reduces X-ray patterns (mode = xray)");
    set("mode", "adhoc", "mode");
    used.emplace("mode");
  }
  if (const auto it = v.find("inputfile"); it != v.end()) {
    if (!it->second.empty()) f.input = beside(source, it->second);
    used.emplace("inputfile");
  }
  if (const auto it = v.find("backgroundfile"); it != v.end()) {
    used.emplace("backgroundfile");
    used.emplace("bgscale");
    if (!it->second.empty()) {
      set("background", beside(source, it->second), "backgroundfile");
      if (const auto scale = v.find("bgscale"); scale != v.end() && !scale->second.empty())
        set("bg-scale", scale->second, "bgscale");
    }
  }
  if (v.count("rmin") || v.count("rmax") || v.count("rstep")) {
    const ReductionOptions defaults;
    const auto part = [&](const char* k, double fallback) {
      const auto it = v.find(k);
      return it == v.end() || it->second.empty() ? shortest(fallback) : it->second;
    };
    set("r", part("rmin", defaults.rmin) + ":" + part("rmax", defaults.rmax) + ":" + part("rstep", defaults.rstep),
        v.count("rmin")   ? "rmin"
        : v.count("rmax") ? "rmax"
                          : "rstep");
    used.insert({"rmin", "rmax", "rstep"});
  }
  // An output file's outputtype says which file it is, not which a rerun should write.
  const bool output_file = text.find("#### start data") != std::string_view::npos;
  if (output_file) used.emplace("outputtype");
  if (const auto it = v.find("outputtype"); it != v.end() && !output_file) {
    std::string list = it->second;
    std::replace(list.begin(), list.end(), ' ', ',');
    std::string folded;
    for (std::size_t i = 0; i < list.size(); ++i)
      if (list[i] != ',' || (!folded.empty() && folded.back() != ',')) folded += list[i];
    while (!folded.empty() && folded.back() == ',') folded.pop_back();
    const Result<std::vector<std::string>> kinds = output_list(lower_ascii(folded), Spelling::kCommandLine);
    if (!kinds.ok())
      return make_error(ErrorKind::kInvalidArgument,
                        where + "outputtype must list iq, sq, fq or gr, not " + quote_for_message(it->second));
    f.outputs = *kinds;
    used.emplace("outputtype");
  }
  for (const IniKey& k : *keys)
    if (!(used.count(k.key) && (k.section == "pdf" || k.section == "default")) &&
        std::find(f.unused.begin(), f.unused.end(), k.key) == f.unused.end())
      f.unused.push_back(k.key);
  return f;
}

}  // namespace

namespace {

// A line of a settings file read as "key = value", "key=value", "key: value"
// (blanks or tabs around the mark), the key in any case; a header's line
// ("# key = value") takes "=" alone, its other lines being the notes.
struct KeyLine {
  std::string key;
  std::string_view value;
};

std::optional<KeyLine> key_line(std::string_view t, bool comment, const std::function<bool(std::string_view)>& known) {
  std::size_t mark = t.find('=');
  if (!comment) mark = std::min(mark, t.find(':'));
  if (mark == std::string_view::npos) return std::nullopt;
  KeyLine k{lower_ascii(trim(t.substr(0, mark))), trim(t.substr(mark + 1))};
  if (!known(k.key)) {
    // A note's words before its "=" are no key; a key that is none is named by the caller.
    for (const char c : k.key)
      // A header's notes hold words with underscores ("f_table = ..."); a setting's line may misspell a key so.
      if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || (c == '_' && !comment)))
        return std::nullopt;
  }
  if (k.key.empty()) return std::nullopt;
  return k;
}

// A row of numbers: a header's end.
bool data_row(std::string_view t) {
  const std::vector<std::string_view> w = split_words(t);
  return !w.empty() && read_number(w.front(), "x").ok();
}

// A path a header names, from the header's folder: as written there, or (a
// header written before paths were kept from their header's folder) as it
// stands from here when only that is a file.
std::string from_header(std::string_view source, const std::string& path) {
  const std::string near = beside(source, path);
  if (near == path || file_exists(near) || !file_exists(path)) return near;
  return path;
}

}  // namespace

namespace {

// A header's "# key = value" lines (or a file of "key = value" lines) read as settings: `known` the keys
// besides "input" and "output" (the options, and any the caller takes), `is_path` those whose value is a
// path to be found from the header's folder.
Result<SettingsFile> header_settings(std::string_view text, std::string_view source,
                                     const std::function<bool(std::string_view)>& is_option,
                                     const std::function<bool(std::string_view)>& is_path) {
  const auto known = [&](std::string_view key) { return is_option(key) || key == "input" || key == "output"; };
  SettingsFile f;
  std::size_t start = 0;
  int line = 0;
  std::set<std::string, std::less<>> seen;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view t = trim(text.substr(start, end - start));
    start = end + 1;
    ++line;
    const std::string where = std::string(source) + " line " + std::to_string(line);
    if (t.empty() || t.front() == ';') continue;
    const bool comment = t.front() == '#';
    if (comment) t = trim(t.substr(1));
    if (!comment && data_row(t)) break;  // an output's rows follow its header
    const std::optional<KeyLine> k = key_line(t, comment, known);
    if (!k) {
      if (comment) continue;
      return make_error(ErrorKind::kParseError, where + " is not read: " + quote_for_message(t) +
                                                    " is no \"key = value\" setting (a comment starts with #)");
    }
    std::string value(k->value);
    if (!value.empty() && value.front() == '"') {
      std::optional<std::string> unquoted = unquote(value);
      if (!unquoted)
        return make_error(ErrorKind::kParseError,
                          where + ": the value of " + quote_for_message(k->key) + " opens a quote it does not close");
      value = std::move(*unquoted);
    }
    if (!seen.insert(k->key).second)
      return make_error(ErrorKind::kParseError, where + ": " + quote_for_message(k->key) + " is given twice");
    if (k->key == "input") {
      f.input = from_header(source, value);
      continue;
    }
    if (k->key == "output") {
      const Result<std::vector<std::string>> kinds = output_list(value, Spelling::kCommandLine);
      if (!kinds.ok()) return with_context(kinds, where + ": ");
      f.outputs = *kinds;
      continue;
    }
    if (!is_option(k->key)) {
      std::string dashed = k->key;
      std::replace(dashed.begin(), dashed.end(), '_', '-');
      return make_error(ErrorKind::kInvalidArgument, where + ": unknown key " + quote_for_message(k->key) +
                                                         (is_option(dashed) ? " (the option is " + dashed + ")" : ""));
    }
    if (is_path(k->key)) value = from_header(source, value);
    f.options.values[k->key] = value;
    f.options.from_file.insert(k->key);
    f.options.origins[k->key] = where;
  }
  return f;
}

}  // namespace

Result<SettingsFile> parse_settings(std::string_view text, std::string_view source) {
  // A byte-order mark, as some editors save a file, is no part of its first line.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (reference_layout(text)) return reference_settings(text, source);
  return header_settings(
      text, source, [](std::string_view key) { return is_reduction_option(key); },
      [](std::string_view key) { return key == "background" || key == "container" || key == "zscan"; });
}

Result<SettingsFile> parse_table_settings(std::string_view text, std::string_view source, const OptionTable& table,
                                          std::span<const std::string_view> also) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  return header_settings(
      text, source,
      [&](std::string_view key) {
        return find_option(table, key) != nullptr || std::find(also.begin(), also.end(), key) != also.end();
      },
      [&](std::string_view key) {
        const OptionSpec* o = find_option(table, key);
        return o && o->type == OptionType::kPath;
      });
}

OptionValues merged_options(const OptionValues& file, const OptionValues& asked) {
  OptionValues out = file;
  for (const auto& [k, v] : asked.values) {
    out.values[k] = v;
    if (!asked.from_file.count(k)) out.from_file.erase(k);
  }
  for (const auto& [k, v] : asked.values)
    if (!asked.from_file.count(k)) out.origins.erase(k);
  // A value asked for now replaces what it cannot stand with from the file, either way the table says so.
  const auto exclude = [](std::string_view a, std::string_view b) {
    const OptionSpec *x = reduction_option(a), *y = reduction_option(b);
    return x && y && options_exclude(*x, *y);
  };
  for (const auto& [k, v] : asked.values) {
    if (asked.from_file.count(k)) continue;
    for (auto it = out.values.begin(); it != out.values.end();) {
      const bool drop =
          it->first != k && !asked.values.count(it->first) && out.from_file.count(it->first) && exclude(k, it->first);
      if (!drop) {
        ++it;
        continue;
      }
      out.from_file.erase(it->first);
      out.origins.erase(it->first);
      it = out.values.erase(it);
    }
  }
  return out;
}

}  // namespace talvo::pdf
