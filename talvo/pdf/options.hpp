// The reduction's options as a user gives them, by name and as text, checked
// once for every front end: which choices each option takes, which options
// exclude or need each other, and the words a mistake is told in, with the
// option named the way the caller's user writes it ("--mu-r" on a command
// line, "mu_r" as a Python keyword).
//
// The names are those of the header lines of the files talvo-tools writes
// ("mu-r = 1.25"), so a file's header reads back as the same options.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "talvo/pdf/optimize.hpp"
#include "talvo/pdf/pattern.hpp"
#include "talvo/pdf/zscan.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/result.hpp"

namespace talvo::pdf {

// Every option the routines below read. A name outside it is refused.
inline constexpr std::string_view kOptionNames[] = {
    "format",         "scan",     "wavelength",  "anode",         "composition", "density",
    "number-density", "packing",  "background",  "bg-scale",      "mode",        "geometry",
    "mu-r",           "mu-t",     "thickness",   "monochromator", "mono-beam",   "mono-crystal",
    "polarization",   "compton",  "breit-dirac", "ruland",        "normalize",   "rmin-iterate",
    "rpoly",          "qmaxinst", "qmin",        "qmax",          "window",      "r",
    "capillary-diameter", "beam-width", "beam-profile", "zscan", "container", "container-composition",
    "container-density", "container-wall", "container-scale", "flat", "rmin-check", "optimize"};

// How the caller's user writes an option's name.
enum class Spelling {
  kCommandLine,  // --mu-r
  kKeyword,      // mu_r
};
std::string spelled(std::string_view name, Spelling spelling);

struct OptionTexts {
  // The options in effect by name ("mu-r"), each as text: numbers in any
  // decimal form ("1.25", "1e-3"), r as "RMIN:RMAX:STEP", background as its path.
  std::map<std::string, std::string, std::less<>> values;
  // The names whose value came from a file of earlier settings rather than
  // from the user now. A file written by one run holds every option of its
  // mode and monochromator: only what the user asks for now is refused for
  // belonging to another mode or to a monochromator, or for contradicting mu.
  std::set<std::string, std::less<>> from_file;
};

// How the pattern is read.
struct InputChoice {
  InputFormat format = InputFormat::kTwoTheta;
  int scan = 0;  // XRDML: 0 for all scans summed, else 1 to N
};

// The format (by `format`, else by the input's name) and scan, checked
// before any file is read, with the options that exclude each other
// (density or number-density, mu-r or mu-t, wavelength or anode).
Result<InputChoice> input_choice(const OptionTexts& options, std::string_view input_path, Spelling spelling);

struct ReductionSettings {
  ReductionOptions options;  // its wavelength: as given, the anode's Kalpha1, else the pattern's
  double bg_scale = 1.0;
  std::vector<FitSpec> optimize;  // the parameters to fit first (optimize.hpp), none by default
  std::string monochromator = "none";    // as given: none, a crystal's name or its 2theta in degrees
  std::string mono_beam = "diffracted";  // diffracted or incident
};

// The reduction's options, once the pattern's own wavelength is known (a
// monochromator crystal's Bragg angle needs it). The kinds: a choice that is
// not among an option's choices, options that contradict each other or an
// option of another mode is kInvalidArgument; text that is not a number where
// one is needed is kParseError; a value out of its range (thickness,
// polarization, a crystal that cannot diffract the wavelength) is
// kOutOfRange; a missing composition or a monochromator crystal without a
// wavelength is kNotFound, an unknown anode is anode_energy's kind. Every
// message names the option as `spelling` writes it.
Result<ReductionSettings> reduction_settings(const OptionTexts& options, std::optional<double> pattern_wavelength,
                                             Spelling spelling);

// A z-scan of the capillary fitted (fit_zscan, with the capillary's diameter
// and the beam's profile of the settings) and used: mu R = mu D / 2 unless mu R
// was given, and the beam's width unless given.
Result<ZScanFit> apply_zscan(const ZScan& scan, ReductionSettings& settings);

}  // namespace talvo::pdf
