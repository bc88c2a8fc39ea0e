// The reduction's options as a user gives them, by name, checked once for
// every front end: which choices each option takes, which options exclude or
// need each other, and the words a mistake is told in, with the option named
// the way the caller's user writes it ("--mu-r" on a command line, "mu_r" as
// a Python keyword). And the options' text in the header of an output file,
// in both directions: a run's header written from its settings, and the
// settings read back from a header (or from the reference program's
// configuration file or output header).
//
// The names are those of the header lines of the files talvo-tools writes
// ("mu-r = 1.25"), so a file's header reads back as the same options.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "talvo/pdf/optimize.hpp"
#include "talvo/pdf/option_table.hpp"
#include "talvo/pdf/pattern.hpp"
#include "talvo/pdf/pdf_files.hpp"
#include "talvo/pdf/reduce.hpp"
#include "talvo/pdf/zscan.hpp"
#include "talvo/result.hpp"
#include "talvo/text/options.hpp"

namespace talvo::pdf {

// The option table's words (text/options.hpp): how a user writes a name, a
// value as the caller has it, the values given by name.
using talvo::option_text;
using talvo::OptionValue;
using talvo::OptionValues;
using talvo::spelled;
using talvo::Spelling;

// How the pattern is read.
struct InputChoice {
  InputFormat format = InputFormat::kTwoTheta;
  int scan = 0;  // XRDML: 0 for all scans summed, else 1 to N
  // The format was asked for now (not from a file of settings, nor from
  // the input's name): a file whose own header states another unit is refused.
  bool format_asked = false;
  // The format was given at all (now or by a file of settings): only then is
  // a file read whose header names its x in another unit than 2theta or Q.
  bool format_given = false;
};

// The format (by `format`, else by the input's name) and scan, checked
// before any file is read, with the options that exclude each other
// (density or number-density, mu-r or mu-t, wavelength or anode).
Result<InputChoice> input_choice(const OptionValues& options, std::string_view input_path, Spelling spelling);

// The pattern of `path` read as `choice` says. Where the file's own header
// states its x unit (a .chi file, the reference program's output) that unit
// is taken, and a format asked for now that says otherwise is refused
// (kInvalidArgument); a format from a file of settings gives way to it.
Result<Pattern> read_input(const std::string& path, const InputChoice& choice, Spelling spelling);

// The choice as the pattern was read: its format the unit the file's own
// header stated, where it stated one.
InputChoice as_read(InputChoice choice, const Pattern& pattern);

struct ReductionSettings {
  ReductionOptions options;              // its wavelength: as given, the anode's Kalpha1, else the pattern's
  std::vector<FitSpec> optimize;         // the parameters to fit first (optimize.hpp), none by default
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
Result<ReductionSettings> reduction_settings(const OptionValues& options, std::optional<double> pattern_wavelength,
                                             Spelling spelling);

// A z-scan of the capillary fitted (fit_zscan, with the capillary's diameter
// and the beam's profile of the settings) and used: mu R = mu D / 2 unless mu R
// was given, and the beam's width unless given.
Result<ZScanFit> apply_zscan(const ZScan& scan, ReductionSettings& settings);

// A list of output kinds as given ("iq,gr"): each one of kOutputKinds, a
// kind given twice taken once, in the order first given. An empty list or
// an empty item is refused (kInvalidArgument), naming the option as
// `spelling` writes "output".
Result<std::vector<std::string>> output_list(std::string_view text, Spelling spelling);

// What a run's header records: everything needed to make the same run again.
struct RunRecord {
  std::string input;
  InputChoice choice;  // format as read: the pattern's own unit where its header states it
  ReductionSettings settings;
  std::optional<std::string> background;            // the background subtracted, when one was
  std::optional<std::string> container, zscan;      // the empty container's pattern, the z-scan
  double qmax = 0.0;                                // as used: the data's end unless given
  std::optional<std::vector<std::string>> outputs;  // as asked; nothing for the default set
};

// The header's parameters of a run: key = value in a fixed order, every
// number the shortest text that reads back to it, only the options of the
// run's mode and monochromator. Fitted values stand as the options used (a
// rerun makes the fitted reduction): "optimize" is not written.
Parameters header_parameters(const RunRecord& run);

// What the reduction found, as the lines that follow the settings in the
// header (no " = " in them): the normalisation constant with its sigma, the
// absorption, the Compton fraction, the iterations, the notes of the fits
// that set the options (`fits`: a z-scan's, --optimize's) and the
// self-checks (physical mode), or the polynomials' degree (ad hoc); then the
// number density and the outliers removed.
std::vector<std::string> header_notes(const ReductionSettings& settings, const Reduction& reduction,
                                      std::span<const std::string> fits = {});

// Settings read from a file (--config).
struct SettingsFile {
  OptionValues options;  // every name in from_file
  std::optional<std::string> input;
  std::optional<std::vector<std::string>> outputs;
  // The reference program's keys that TALVO does not use, in file order.
  std::vector<std::string> unused;
  bool reference = false;  // the reference program's configuration or output header
};

// Reads settings from the text of `source` (a path, for messages and for
// the reference program's relative paths):
//  - a header of talvo-tools pdf's files ("# key = value"; every key must be
//    an option's, "input" or "output"; any other is kInvalidArgument);
//  - the reference program's (PDFgetX3) configuration file or the header of
//    its output: "key = value" (or "key: value") lines in [DEFAULT] and [PDF]
//    sections ([PDF] over [DEFAULT]); dataformat (twotheta, QA, Qnm) is the
//    format, inputfile the input and backgroundfile the background (both
//    found from the folder of `source`), bgscale, composition, wavelength,
//    qmaxinst, qmin, qmax, rpoly as their options, rmin, rmax and rstep the
//    r grid (TALVO's defaults for those missing), outputtype the outputs
//    (of a configuration file: in an output's header it names that file),
//    mode = xray the ad hoc mode (another mode is kUnsupported). Every other
//    key, in any section, is listed in `unused`.
Result<SettingsFile> parse_settings(std::string_view text, std::string_view source);

// The same "# key = value" header (or "key = value" file) read for another
// table of options: its options, "input", "output" and the keys `also`
// (kept as options' values); the values of its path options found from the
// file's folder. Any other key is kInvalidArgument.
Result<SettingsFile> parse_table_settings(std::string_view text, std::string_view source, const OptionTable& table,
                                          std::span<const std::string_view> also = {});

// The settings in effect: the file's, then `asked` over them. An option
// asked for now replaces its alternative from the file (density or
// number-density, mu-r or mu-t, wavelength or anode).
OptionValues merged_options(const OptionValues& file, const OptionValues& asked);

}  // namespace talvo::pdf
