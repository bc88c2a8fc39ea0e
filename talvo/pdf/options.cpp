#include "talvo/pdf/options.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "talvo/numeric/modification.hpp"
#include "talvo/pdf/corrections.hpp"
#include "talvo/pdf/sample_model.hpp"
#include "talvo/text/format.hpp"
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

// The value into `target`, or false with the error in `failure`.
template <class T, class U>
bool into(T& target, Result<U>&& r, Error& failure) {
  if (!r.ok()) {
    failure = r.error();
    return false;
  }
  target = std::move(r).value();
  return true;
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
  Error failure;

  // The wavelength: as given, the anode's, else the pattern's.
  std::optional<double> wavelength;
  if (!into(wavelength, r.optional("wavelength"), failure)) return failure;
  if (const auto anode = r.text("anode")) {
    const Result<double> kev = anode_energy(*anode);
    if (!kev.ok()) return make_error(kev.kind(), r.name("anode") + " " + *anode + ": " + kev.error().message);
    if (!into(wavelength, wavelength_of_energy(*kev), failure)) return failure;
  }
  if (!wavelength) wavelength = pattern_wavelength;
  o.wavelength = wavelength;

  const auto composition = r.text("composition");
  if (!composition)
    return make_error(ErrorKind::kNotFound, "no composition: give " + r.name("composition") + " FORMULA (e.g. CeO2)");
  o.sample.composition = *composition;
  if (!into(o.sample.density, r.optional("density"), failure)) return failure;
  if (!into(o.sample.number_density, r.optional("number-density"), failure)) return failure;
  if (r.has("packing") && !into(o.sample.packing, r.number("packing"), failure)) return failure;
  if (const auto c = r.text("compton")) {
    const std::optional<ComptonTable> t = compton_table_named(*c);
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
  if (!into(o.absorption.mu_x, r.optional(r.has("mu-r") ? "mu-r" : "mu-t"), failure)) return failure;
  if (r.asked("thickness") && (r.asked("mu-r") || r.asked("mu-t")))
    return invalid("give " + r.name("thickness") + " (mu from the composition) or " + r.name("mu-r") + "/" +
                   r.name("mu-t") + ", not both");
  if (!into(o.thickness, r.optional("thickness"), failure)) return failure;
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
    if (r.asked(n) && !capillary)
      return invalid(r.name(n) + " belongs to " + r.name("geometry") + " capillary");
  if (!into(o.capillary_diameter, r.optional("capillary-diameter"), failure)) return failure;
  if (o.capillary_diameter && !(*o.capillary_diameter > 0.0 && std::isfinite(*o.capillary_diameter)))
    return make_error(ErrorKind::kOutOfRange, r.name("capillary-diameter") + " must be above 0 mm");
  if (r.asked("thickness") && r.asked("capillary-diameter"))
    return invalid("give " + r.name("thickness") + " (cm) or " + r.name("capillary-diameter") + " (mm), not both");
  if (!into(o.beam_width, r.optional("beam-width"), failure)) return failure;
  if (o.beam_width && !(*o.beam_width > 0.0 && std::isfinite(*o.beam_width)))
    return make_error(ErrorKind::kOutOfRange, r.name("beam-width") + " must be above 0 mm");
  for (const char* n : {"beam-width", "zscan", "container"})
    if (r.has(n) && !o.capillary_diameter)
      return make_error(ErrorKind::kNotFound, r.name(n) + " needs the capillary's diameter: give " +
                                                  r.name("capillary-diameter") + " MM");
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
                                                  r.name("container-composition") + ", " +
                                                  r.name("container-density") + " and " + r.name("container-wall"));
    o.container_composition = *cc;
    if (!into(o.container_density, r.optional("container-density"), failure)) return failure;
    if (!into(o.container_wall, r.optional("container-wall"), failure)) return failure;
    if (!(*o.container_density > 0.0 && std::isfinite(*o.container_density)))
      return make_error(ErrorKind::kOutOfRange, r.name("container-density") + " must be above 0 g/cm3");
    if (!(*o.container_wall > 0.0 && std::isfinite(*o.container_wall)))
      return make_error(ErrorKind::kOutOfRange, r.name("container-wall") + " must be above 0 mm");
    if (r.has("container-scale") && !into(o.container_scale, r.number("container-scale"), failure)) return failure;
    if (!(o.container_scale >= 0.0 && std::isfinite(o.container_scale)))
      return make_error(ErrorKind::kOutOfRange, r.name("container-scale") + " must be 0 or more");
  }
  if (r.has("flat") && !into(o.flat, r.number("flat"), failure)) return failure;
  if (!std::isfinite(o.flat)) return make_error(ErrorKind::kOutOfRange, r.name("flat") + " must be a finite number");
  if (r.has("rmin-check") && !into(o.rmin_check, r.number("rmin-check"), failure)) return failure;
  if (!(o.rmin_check > 0.5 && o.rmin_check <= 100.0))
    return make_error(ErrorKind::kOutOfRange,
                      r.name("rmin-check") + " must lie above 0.5 Angstrom (and at most 100), below the first "
                                             "interatomic distance");
  if (const auto list = r.text("optimize")) {
    Result<std::vector<FitSpec>> fit = parse_fit_list(*list, r.name("optimize"));
    if (!fit.ok()) return fit.error();
    settings.optimize = std::move(*fit);
    for (const FitSpec& f : settings.optimize) {
      const char* needs = nullptr;
      switch (f.what) {
        case Fitted::kBgScale: needs = r.has("background") ? nullptr : "background"; break;
        case Fitted::kContainerScale: needs = r.has("container") ? nullptr : "container"; break;
        case Fitted::kBeamWidth: needs = r.has("beam-width") || r.has("zscan") ? nullptr : "beam-width"; break;
        case Fitted::kRuland: needs = r.has("ruland") ? nullptr : "ruland"; break;
        case Fitted::kMuR: needs = capillary ? nullptr : "geometry"; break;
        default: break;
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
    if (!into(o.polarization.normal_fraction, r.number("polarization"), failure)) return failure;
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
    if (!into(o.ruland, r.optional("ruland"), failure)) return failure;
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
  if (!into(o.rmin_iterate, r.optional("rmin-iterate"), failure)) return failure;
  if (r.has("rpoly") && !into(o.rpoly, r.number("rpoly"), failure)) return failure;
  if (!into(o.qmaxinst, r.optional("qmaxinst"), failure)) return failure;
  if (r.has("qmin") && !into(o.qmin, r.number("qmin"), failure)) return failure;
  if (!into(o.qmax, r.optional("qmax"), failure)) return failure;
  if (const auto w = r.text("window")) {
    const std::optional<Window> named = window_from_name(*w);
    if (!named || *named == Window::kSphere || *named == Window::kGaussian)
      return r.choice("window", "none, lorch, step or quadratic");
    o.window = *named;
  }
  if (const auto spec = r.text("r")) {
    const std::size_t c1 = spec->find(':'), c2 = spec->find(':', c1 == std::string::npos ? 0 : c1 + 1);
    if (c1 == std::string::npos || c2 == std::string::npos) return invalid(r.name("r") + " needs RMIN:RMAX:STEP");
    if (!into(o.rmin, Reader::number_of(spec->substr(0, c1), r.name("r") + " RMIN"), failure)) return failure;
    if (!into(o.rmax, Reader::number_of(spec->substr(c1 + 1, c2 - c1 - 1), r.name("r") + " RMAX"), failure))
      return failure;
    if (!into(o.rstep, Reader::number_of(spec->substr(c2 + 1), r.name("r") + " STEP"), failure)) return failure;
  }
  if (r.has("bg-scale") && !into(settings.bg_scale, r.number("bg-scale"), failure)) return failure;
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

Parameters header_parameters(std::string_view input, const InputChoice& choice, const OptionTexts& options,
                             const ReductionSettings& settings, const Reduction& reduction) {
  const ReductionOptions& o = settings.options;
  const auto given = [&](std::string_view n) -> const std::string* {
    const auto it = options.values.find(n);
    return it == options.values.end() ? nullptr : &it->second;
  };
  Parameters p;
  p.emplace_back("input", std::string(input));
  p.emplace_back("format", std::string(input_format_name(choice.format)));
  if (choice.format == InputFormat::kXrdml) p.emplace_back("scan", std::to_string(choice.scan));
  if (o.wavelength) p.emplace_back("wavelength", shortest(*o.wavelength));
  p.emplace_back("composition", o.sample.composition);
  if (o.sample.density) p.emplace_back("density", shortest(*o.sample.density));
  if (o.sample.number_density) p.emplace_back("number-density", shortest(*o.sample.number_density));
  p.emplace_back("packing", shortest(o.sample.packing));
  if (const std::string* bg = given("background")) {
    p.emplace_back("background", *bg);
    p.emplace_back("bg-scale", shortest(settings.bg_scale));
  }
  p.emplace_back("mode", o.mode == Mode::kPhysical ? "physical" : "adhoc");
  if (o.mode == Mode::kPhysical) {
    p.emplace_back("geometry", std::string(geometry_name(o.absorption.geometry)));
    // mu as given, or as a z-scan or a fit found it.
    if (o.absorption.mu_x) p.emplace_back(given("mu-t") ? "mu-t" : "mu-r", shortest(*o.absorption.mu_x));
    if (o.thickness) p.emplace_back("thickness", shortest(*o.thickness));
    if (o.capillary_diameter) p.emplace_back("capillary-diameter", shortest(*o.capillary_diameter));
    if (o.beam_width) {
      p.emplace_back("beam-width", shortest(*o.beam_width));
      p.emplace_back("beam-profile", std::string(beam_profile_name(o.beam_profile)));
    }
    if (const std::string* z = given("zscan")) p.emplace_back("zscan", *z);
    if (const std::string* c = given("container")) {
      p.emplace_back("container", *c);
      p.emplace_back("container-composition", o.container_composition);
      if (o.container_density) p.emplace_back("container-density", shortest(*o.container_density));
      if (o.container_wall) p.emplace_back("container-wall", shortest(*o.container_wall));
      p.emplace_back("container-scale", shortest(o.container_scale));
    }
    if (o.flat != 0.0) p.emplace_back("flat", shortest(o.flat));
    if (o.ruland) p.emplace_back("ruland", shortest(*o.ruland));
    p.emplace_back("rmin-check", shortest(o.rmin_check));
    // The fitted values stand in the header as the options used, so that --config reruns this reduction
    // (the fit itself is in the notes): "optimize" is not written.
    p.emplace_back("monochromator", settings.monochromator);
    if (settings.monochromator != "none") {
      p.emplace_back("mono-beam", settings.mono_beam);
      p.emplace_back("mono-crystal", o.polarization.perfect_crystal ? "perfect" : "mosaic");
    } else {
      p.emplace_back("polarization", shortest(o.polarization.normal_fraction));
    }
    p.emplace_back("compton", std::string(compton_table_name(o.sample.compton)));
    p.emplace_back("breit-dirac", std::to_string(o.breit_dirac));
    p.emplace_back("normalize", o.normalization == Normalization::kKroghMoeNorman ? "kmn" : "highq");
    if (o.rmin_iterate) p.emplace_back("rmin-iterate", shortest(*o.rmin_iterate));
  } else {
    p.emplace_back("rpoly", shortest(o.rpoly));
    if (o.qmaxinst) p.emplace_back("qmaxinst", shortest(*o.qmaxinst));
  }
  p.emplace_back("qmin", shortest(o.qmin));
  p.emplace_back("qmax", shortest(reduction.qmax));
  p.emplace_back("window", std::string(window_name(o.window)));
  p.emplace_back("r", shortest(o.rmin) + ":" + shortest(o.rmax) + ":" + shortest(o.rstep));
  return p;
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
      notes.push_back("mean of S(Q) from Q = " + shortest(d->high_q_from) + ": " + shortest(d->high_q_mean) +
                      " +- " + shortest(d->high_q_sigma));
      notes.push_back("lowest smoothed S(Q): " + shortest(d->lowest_smoothed) + " at Q = " + shortest(d->lowest_at) +
                      ", where its floor 1 - <f^2>/<f>^2 is " + shortest(d->floor_there));
      if (d->low_r_rms)
        notes.push_back("rms of G(r) + 4 pi rho0 r from 0.5 to " + shortest(o.rmin_check) +
                        " A: " + shortest(*d->low_r_rms) + " (warned above " + shortest(d->low_r_level) + ")");
    }
  } else {
    notes.push_back("ad hoc polynomial degree: " + std::to_string(r.poly_degree));
  }
  if (r.number_density) notes.push_back("number density (atoms/A^3): " + shortest(*r.number_density));
  std::string removed;
  for (double x : r.outliers) removed += (removed.empty() ? "" : " ") + shortest(x);
  notes.push_back("outliers removed at x: " + (removed.empty() ? std::string("none") : removed));
  return notes;
}

}  // namespace talvo::pdf
