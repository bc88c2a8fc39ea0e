#include "talvo/pdf/options.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "talvo/numeric/modification.hpp"
#include "talvo/pdf/corrections.hpp"
#include "talvo/pdf/sample_model.hpp"
#include "talvo/text/free_format.hpp"
#include "talvo/text/quote.hpp"
#include "talvo/xray/dispersion.hpp"

namespace talvo::pdf {

std::string spelled(std::string_view name, Spelling spelling) {
  if (spelling == Spelling::kCommandLine) return "--" + std::string(name);
  std::string k(name);
  std::replace(k.begin(), k.end(), '-', '_');
  return k;
}

namespace {

// The options as read: each message names an option as the caller spells it.
class Reader {
 public:
  Reader(const OptionTexts& o, Spelling spelling) : o_(o), spelling_(spelling) {}

  std::string name(std::string_view n) const { return spelled(n, spelling_); }
  bool has(std::string_view n) const { return o_.values.find(n) != o_.values.end(); }
  // Asked for by the user now, not only carried over from a file.
  bool asked(std::string_view n) const { return has(n) && o_.from_file.find(n) == o_.from_file.end(); }
  std::optional<std::string> text(std::string_view n) const {
    const auto it = o_.values.find(n);
    return it == o_.values.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  Result<double> number(std::string_view n) const { return number_of(*text(n), name(n)); }
  static Result<double> number_of(const std::string& t, const std::string& what) {
    const std::optional<double> v = parse_real(t);
    if (!v) return make_error(ErrorKind::kParseError, what + " is not a number: " + t);
    return *v;
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
  const OptionTexts& o_;
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
Outcome check_names(const OptionTexts& options, const Reader& r) {
  for (const auto& [k, v] : options.values)
    if (std::find(std::begin(kOptionNames), std::end(kOptionNames), k) == std::end(kOptionNames))
      return invalid(r.name(k) + " is not an option of the reduction");
  for (const auto& [x, y] : {std::pair{"density", "number-density"}, {"mu-r", "mu-t"}, {"wavelength", "anode"}})
    if (r.has(x) && r.has(y)) return invalid("give " + r.name(x) + " or " + r.name(y) + ", not both");
  return Done{};
}

}  // namespace

Result<InputChoice> input_choice(const OptionTexts& options, std::string_view input_path, Spelling spelling) {
  const Reader r(options, spelling);
  if (const Outcome names = check_names(options, r); !names.ok()) return names.error();
  InputChoice c;
  c.format = input_format_of_path(input_path);
  if (const auto f = r.text("format")) {
    const std::optional<InputFormat> named = input_format_named(*f);
    if (!named) return r.choice("format", "xrdml, twotheta, qa or qnm");
    c.format = *named;
  }
  if (const auto s = r.text("scan")) {
    const std::optional<int> k = parse_int(*s);
    if (!k) return make_error(ErrorKind::kParseError, r.name("scan") + " is not a whole number: " + *s);
    if (c.format != InputFormat::kXrdml) return invalid(r.name("scan") + " belongs to XRDML input");
    c.scan = *k;
  }
  return c;
}

Result<ReductionSettings> reduction_settings(const OptionTexts& options, std::optional<double> pattern_wavelength,
                                             Spelling spelling) {
  const Reader r(options, spelling);
  if (const Outcome names = check_names(options, r); !names.ok()) return names.error();
  ReductionSettings settings;
  ReductionOptions& o = settings.options;

  // The wavelength: as given, the anode's, else the pattern's.
  std::optional<double> wavelength;
  if (Outcome set = into(wavelength, r.optional("wavelength")); !set.ok()) return set.error();
  if (const auto anode = r.text("anode")) {
    const Result<double> kev = anode_energy(*anode);
    if (!kev.ok()) return make_error(kev.kind(), r.name("anode") + " " + *anode + ": " + kev.error().message);
    if (Outcome set = into(wavelength, wavelength_of_energy(*kev)); !set.ok()) return set.error();
  }
  if (!wavelength) wavelength = pattern_wavelength;
  o.wavelength = wavelength;

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
  for (const std::string_view n : kPhysicalOnlyOptions)
    if (o.mode == Mode::kAdhoc && r.asked(n))
      return invalid(r.name(n) + " belongs to " + r.name("mode") + " physical (give " + r.name("density") +
                     " for it); ad hoc mode fits the corrections away");
  for (const std::string_view n : kAdhocOnlyOptions)
    if (o.mode == Mode::kPhysical && r.asked(n)) return invalid(r.name(n) + " belongs to " + r.name("mode") + " adhoc");

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
      const std::optional<double> angle = parse_real(mono);
      if (!angle || !(*angle > 0.0 && *angle < 180.0))
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
  if (r.has("polarization")) {
    if (mono != "none")
      return invalid(r.name("polarization") +
                     " is for a polarised source without a monochromator; a monochromator's source is taken as "
                     "unpolarised");
    if (Outcome set = into(o.polarization.normal_fraction, r.number("polarization")); !set.ok()) return set.error();
    if (!(o.polarization.normal_fraction >= 0.0 && o.polarization.normal_fraction <= 1.0))
      return make_error(ErrorKind::kOutOfRange, r.name("polarization") + " must lie between 0 and 1");
  }
  if (const auto bd = r.text("breit-dirac")) {
    const std::optional<int> n = parse_int(*bd);
    if (!n) return make_error(ErrorKind::kParseError, r.name("breit-dirac") + " is not a whole number: " + *bd);
    if (*n != 2 && *n != 3) return invalid(r.name("breit-dirac") + " must be 2 or 3");
    o.breit_dirac = *n;
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
  if (const auto spec = r.text("r")) {
    const std::size_t c1 = spec->find(':'), c2 = spec->find(':', c1 == std::string::npos ? 0 : c1 + 1);
    if (c1 == std::string::npos || c2 == std::string::npos) return invalid(r.name("r") + " needs RMIN:RMAX:STEP");
    if (Outcome set = into(o.rmin, Reader::number_of(spec->substr(0, c1), r.name("r") + " RMIN")); !set.ok())
      return set.error();
    if (Outcome set = into(o.rmax, Reader::number_of(spec->substr(c1 + 1, c2 - c1 - 1), r.name("r") + " RMAX"));
        !set.ok())
      return set.error();
    if (Outcome set = into(o.rstep, Reader::number_of(spec->substr(c2 + 1), r.name("r") + " STEP")); !set.ok())
      return set.error();
  }
  if (r.has("bg-scale"))
    if (Outcome set = into(settings.bg_scale, r.number("bg-scale")); !set.ok()) return set.error();
  if (r.has("bg-scale") && !r.has("background"))
    return invalid(r.name("bg-scale") + " belongs to " + r.name("background"));
  return settings;
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

}  // namespace talvo::pdf
