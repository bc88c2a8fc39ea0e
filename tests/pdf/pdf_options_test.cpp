// The reduction's options as text: each mistake refused with its kind and
// the option named as the caller spells it, and a full set read into the
// options the reduction gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "talvo/pdf/options.hpp"
#include "talvo/text/format.hpp"
#include "talvo/text/quote.hpp"

namespace talvo::pdf {
namespace {

using Texts = std::map<std::string, std::string, std::less<>>;

OptionValues texts(const Texts& values, std::set<std::string, std::less<>> from_file = {}) {
  OptionValues t;
  for (const auto& [k, v] : values) t.values[k] = v;
  t.from_file = std::move(from_file);
  if (!t.values.count("composition")) t.values["composition"] = "ZrO2";
  return t;
}

// "{mu-r} belongs to {geometry} capillary" with each {name} as the spelling writes it.
std::string words(std::string pattern, Spelling spelling) {
  for (std::size_t open = pattern.find('{'); open != std::string::npos; open = pattern.find('{')) {
    const std::size_t close = pattern.find('}', open);
    pattern.replace(open, close - open + 1, spelled(pattern.substr(open + 1, close - open - 1), spelling));
  }
  return pattern;
}

TEST(PdfOptions, SpellingOfTheCaller) {
  EXPECT_EQ(spelled("mu-r", Spelling::kCommandLine), "--mu-r");
  EXPECT_EQ(spelled("number-density", Spelling::kKeyword), "number_density");
  EXPECT_EQ(spelled("qmax", Spelling::kKeyword), "qmax");
}

struct Bad {
  Texts values;
  ErrorKind kind;
  std::string message;  // whole, {name} spelled as the caller does
};

TEST(PdfOptions, EachMistakeHasItsKindAndNamesTheOptionTheCallersWay) {
  const Texts dense = {{"density", "5.68"}, {"wavelength", "0.71"}};
  const auto with = [&dense](Texts more) {
    Texts t = dense;
    for (auto& [k, v] : more) t[k] = v;
    return t;
  };
  const std::vector<Bad> cases = {
      {with({{"mode", "both"}}), ErrorKind::kInvalidArgument, "{mode} must be physical or adhoc, not \"both\""},
      {with({{"mode", "a\tb"}}), ErrorKind::kInvalidArgument, "{mode} must be physical or adhoc, not \"a\\x09b\""},
      {with({{"geometry", "sphere"}}), ErrorKind::kInvalidArgument,
       "{geometry} must be reflection, transmission or capillary, not \"sphere\""},
      {with({{"compton", "klein"}}), ErrorKind::kInvalidArgument,
       "{compton} must be hubbell or balyuzi, not \"klein\""},
      {with({{"normalize", "max"}}), ErrorKind::kInvalidArgument, "{normalize} must be kmn or highq, not \"max\""},
      {with({{"window", "gaussian"}}), ErrorKind::kInvalidArgument,
       "{window} must be none, lorch, step or quadratic, not \"gaussian\""},
      {with({{"number-density", "0.08"}}), ErrorKind::kInvalidArgument, "give {density} or {number-density}, not both"},
      {with({{"anode", "Mo"}}), ErrorKind::kInvalidArgument, "give {wavelength} or {anode}, not both"},
      {with({{"mu-r", "1"}, {"mu-t", "1"}}), ErrorKind::kInvalidArgument, "give {mu-r} or {mu-t}, not both"},
      {with({{"mu-r", "1"}}), ErrorKind::kInvalidArgument,
       "{mu-r} belongs to {geometry} capillary; a plate takes {mu-t}"},
      {with({{"geometry", "capillary"}, {"mu-t", "1"}}), ErrorKind::kInvalidArgument,
       "{mu-t} belongs to a plate; a capillary takes {mu-r}"},
      {with({{"geometry", "capillary"}, {"mu-r", "1"}, {"thickness", "0.05"}}), ErrorKind::kInvalidArgument,
       "give {thickness} (mu from the composition) or {mu-r}/{mu-t}, not both"},
      {with({{"thickness", "-0.05"}}), ErrorKind::kOutOfRange, "{thickness} must be above 0 cm"},
      {{{"wavelength", "0.71"}, {"monochromator", "HOPG"}},
       ErrorKind::kInvalidArgument,
       "{monochromator} belongs to {mode} physical (give {density} for it); ad hoc mode fits the corrections away"},
      {with({{"mode", "adhoc"}, {"breit-dirac", "2"}}), ErrorKind::kInvalidArgument,
       "{breit-dirac} belongs to {mode} physical (give {density} for it); ad hoc mode fits the corrections away"},
      {with({{"qmaxinst", "20"}}), ErrorKind::kInvalidArgument, "{qmaxinst} belongs to {mode} adhoc"},
      {with({{"mono-crystal", "perfect"}}), ErrorKind::kInvalidArgument,
       "{mono-crystal} belongs to {monochromator} NAME"},
      {with({{"monochromator", "Si311"}}), ErrorKind::kInvalidArgument,
       "{monochromator} must be none, HOPG, Si111, Ge111, LiF200 or its 2theta in degrees, not \"Si311\""},
      {with({{"monochromator", "180"}}), ErrorKind::kInvalidArgument,
       "{monochromator} must be none, HOPG, Si111, Ge111, LiF200 or its 2theta in degrees, not \"180\""},
      {with({{"monochromator", "26"}, {"mono-crystal", "bent"}}), ErrorKind::kInvalidArgument,
       "{mono-crystal} must be mosaic or perfect, not \"bent\""},
      {with({{"monochromator", "26"}, {"mono-beam", "both"}}), ErrorKind::kInvalidArgument,
       "{mono-beam} must be diffracted or incident, not \"both\""},
      {{{"density", "5.68"}, {"monochromator", "HOPG"}},
       ErrorKind::kNotFound,
       "{monochromator} HOPG needs the wavelength for its Bragg angle"},
      {with({{"monochromator", "26"}, {"polarization", "0.5"}}), ErrorKind::kInvalidArgument,
       "{polarization} is for a polarised source without a monochromator; a monochromator's source is taken as "
       "unpolarised"},
      {with({{"polarization", "1.5"}}), ErrorKind::kOutOfRange, "{polarization} must lie between 0 and 1"},
      {with({{"breit-dirac", "1"}}), ErrorKind::kInvalidArgument, "{breit-dirac} must be 0 (none), 2 or 3"},
      {with({{"breit-dirac", "2.5"}}), ErrorKind::kParseError, "{breit-dirac} is not a whole number: \"2.5\""},
      {with({{"extrapolate", "cubic"}}), ErrorKind::kInvalidArgument,
       "{extrapolate} must be none, step, linear or poly, not \"cubic\""},
      {with({{"s0", "0.1"}}), ErrorKind::kInvalidArgument,
       "{s0} is S(Q) at Q = 0 for the extrapolation below the data: give {extrapolate} step, linear or poly"},
      {with({{"extrapolate", "none"}, {"s0", "0"}}), ErrorKind::kInvalidArgument,
       "{s0} is S(Q) at Q = 0 for the extrapolation below the data: give {extrapolate} step, linear or poly"},
      {with({{"extrapolate", "step"}, {"s0", "low"}}), ErrorKind::kParseError, "{s0} is not a number: \"low\""},
      {with({{"extrapolate", "step"}, {"s0", "-1"}}), ErrorKind::kOutOfRange,
       "{s0} must be 0 or more (S(0) = rho0 k_B T kappa_T), not -1"},
      {with({{"ruland", "0.05"}}), ErrorKind::kInvalidArgument,
       "{ruland} belongs to a monochromator in the diffracted beam ({monochromator} NAME)"},
      {with({{"monochromator", "26"}, {"mono-beam", "incident"}, {"ruland", "0.05"}}), ErrorKind::kInvalidArgument,
       "{ruland} belongs to a monochromator in the diffracted beam ({monochromator} NAME)"},
      {with({{"monochromator", "26"}, {"ruland", "0"}}), ErrorKind::kOutOfRange,
       "{ruland} is the monochromator's band pass in Angstrom: it must be above 0"},
      {with({{"capillary-diameter", "0.6"}}), ErrorKind::kInvalidArgument,
       "{capillary-diameter} belongs to {geometry} capillary"},
      {with({{"geometry", "capillary"}, {"capillary-diameter", "-0.6"}}), ErrorKind::kOutOfRange,
       "{capillary-diameter} must be above 0 mm"},
      {with({{"geometry", "capillary"}, {"capillary-diameter", "0.6"}, {"thickness", "0.06"}}),
       ErrorKind::kInvalidArgument, "give {thickness} (cm) or {capillary-diameter} (mm), not both"},
      {with({{"geometry", "capillary"}, {"beam-width", "0.15"}}), ErrorKind::kNotFound,
       "{beam-width} needs the capillary's diameter: give {capillary-diameter} MM"},
      {with({{"geometry", "capillary"}, {"capillary-diameter", "0.6"}, {"beam-width", "0"}}), ErrorKind::kOutOfRange,
       "{beam-width} must be above 0 mm"},
      {with(
           {{"geometry", "capillary"}, {"capillary-diameter", "0.6"}, {"beam-width", "0.2"}, {"beam-profile", "flat"}}),
       ErrorKind::kInvalidArgument, "{beam-profile} must be tophat or gaussian, not \"flat\""},
      {with({{"geometry", "capillary"}, {"capillary-diameter", "0.6"}, {"beam-profile", "gaussian"}}),
       ErrorKind::kInvalidArgument, "{beam-profile} belongs to {beam-width} or {zscan}"},
      {with({{"geometry", "capillary"}, {"zscan", "scan.xy"}}), ErrorKind::kNotFound,
       "{zscan} needs the capillary's diameter: give {capillary-diameter} MM"},
      {with({{"container-wall", "0.01"}}), ErrorKind::kInvalidArgument, "{container-wall} belongs to {container}"},
      {with({{"geometry", "capillary"}, {"capillary-diameter", "0.6"}, {"container", "empty.xy"}}),
       ErrorKind::kNotFound,
       "{container} needs the container's {container-composition}, {container-density} and {container-wall}"},
      {with({{"geometry", "capillary"},
             {"capillary-diameter", "0.6"},
             {"container", "empty.xy"},
             {"container-composition", "SiO2"},
             {"container-density", "0"},
             {"container-wall", "0.01"}}),
       ErrorKind::kOutOfRange, "{container-density} must be above 0 g/cm3"},
      {with({{"flat", "x"}}), ErrorKind::kParseError, "{flat} is not a number: \"x\""},
      {with({{"rmin-check", "0.4"}}), ErrorKind::kOutOfRange,
       "{rmin-check} must lie above 0.5 Angstrom (and at most 100), below the first interatomic distance"},
      {with({{"optimize", "mu-r,speed"}}), ErrorKind::kInvalidArgument,
       "{optimize} takes a list of density, bg-scale, container-scale, mu-r, beam-width, ruland and flat (each NAME "
       "or NAME:LOW:HIGH), not \"speed\""},
      {with({{"optimize", "flat,flat"}}), ErrorKind::kInvalidArgument, "{optimize} names flat twice"},
      {with({{"optimize", "flat:2:1"}}), ErrorKind::kInvalidArgument,
       "{optimize} \"flat:2:1\": the bounds are NAME:LOW:HIGH with LOW below HIGH"},
      // Bounds are numbers as every other option reads them: a dash is no exponent.
      {with({{"optimize", "density:1-3:9"}}), ErrorKind::kParseError,
       "{optimize} density LOW is not a number: \"1-3\" reads as 1 then -3; an exponent needs its letter (1e-3)"},
      {with({{"optimize", "mu-r:0.5"}}), ErrorKind::kInvalidArgument,
       "{optimize} \"mu-r:0.5\": the bounds are NAME:LOW:HIGH"},
      {with({{"optimize", "bg-scale"}}), ErrorKind::kInvalidArgument, "{optimize} bg-scale needs {background}"},
      {with({{"optimize", "mu-r"}}), ErrorKind::kInvalidArgument, "{optimize} mu-r needs {geometry} capillary"},
      {{{"mode", "adhoc"}, {"flat", "1"}},
       ErrorKind::kInvalidArgument,
       "{flat} belongs to {mode} physical (give {density} for it); ad hoc mode fits the corrections away"},
      {with({{"bg-scale", "1"}}), ErrorKind::kInvalidArgument, "{bg-scale} belongs to {background}"},
      {with({{"qmax", "lots"}}), ErrorKind::kParseError, "{qmax} is not a number: \"lots\""},
      // An exponent needs its letter in every option, as on the rest of the command line.
      {with({{"qmax", "2-1"}}), ErrorKind::kParseError,
       "{qmax} is not a number: \"2-1\" reads as 2 then -1; an exponent needs its letter (2e-1)"},
      {with({{"thickness", "5 furlongs"}}), ErrorKind::kParseError,
       "{thickness}: unknown unit \"furlongs\" in \"5 furlongs\": give nm, um, mm, cm or m (cm without one)"},
      {with({{"r", "0:30"}}), ErrorKind::kInvalidArgument, "{r} needs RMIN:RMAX:STEP"},
      {with({{"r", "0:x:0.1"}}), ErrorKind::kParseError, "{r} RMAX is not a number: \"x\""},
      {{{"density", "5.68"}, {"anode", "Qq"}},
       ErrorKind::kNotFound,
       "{anode}: no anode \"Qq\": Cr, Fe, Co, Cu, Mo, Ag or W"},
      {with({{"colour", "blue"}}), ErrorKind::kInvalidArgument, "{colour} is not an option of the reduction"},
  };
  for (const Spelling spelling : {Spelling::kCommandLine, Spelling::kKeyword})
    for (const Bad& c : cases) {
      const Result<ReductionSettings> s = reduction_settings(texts(c.values), std::nullopt, spelling);
      const std::string want = words(c.message, spelling);
      ASSERT_FALSE(s.ok()) << want;
      EXPECT_EQ(s.kind(), c.kind) << want;
      EXPECT_EQ(s.error().message, want);
    }
  // Without a composition there is nothing to reduce.
  OptionValues none;
  const Result<ReductionSettings> s = reduction_settings(none, 0.71, Spelling::kCommandLine);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.kind(), ErrorKind::kNotFound);
  EXPECT_EQ(s.error().message, "no composition: give --composition FORMULA (e.g. CeO2)");
}

TEST(PdfOptions, LengthsWavelengthsAndDensitiesTakeTheirUnits) {
  // 0.0711 nm = 0.711 A, 7215 kg/m3 = 7.215 g/cm3, 500 um = 0.05 cm.
  const Result<ReductionSettings> s =
      reduction_settings(texts({{"wavelength", "0.0711nm"}, {"density", "7215 kg/m3"}, {"thickness", "500um"}}),
                         std::nullopt, Spelling::kCommandLine);
  ASSERT_TRUE(s.ok()) << s.error().message;
  EXPECT_DOUBLE_EQ(*s->options.wavelength, 0.711);
  EXPECT_DOUBLE_EQ(*s->options.sample.density, 7.215);
  EXPECT_DOUBLE_EQ(*s->options.thickness, 0.05);
}

TEST(PdfOptions, AFullSetGivesTheReductionItsOptions) {
  const Result<ReductionSettings> s = reduction_settings(texts({{"composition", "CeO2"},
                                                                {"density", "7.215"},
                                                                {"packing", "0.5"},
                                                                {"background", "empty.xy"},
                                                                {"bg-scale", "0.95"},
                                                                {"geometry", "capillary"},
                                                                {"mu-r", "1.25"},
                                                                {"monochromator", "26.6"},
                                                                {"mono-crystal", "perfect"},
                                                                {"mono-beam", "incident"},
                                                                {"compton", "balyuzi"},
                                                                {"breit-dirac", "2"},
                                                                {"normalize", "highq"},
                                                                {"rmin-iterate", "1.5"},
                                                                {"qmin", "0.5"},
                                                                {"qmax", "20"},
                                                                {"window", "lorch"},
                                                                {"r", "0.5:20:0.02"},
                                                                {"capillary-diameter", "0.635"},
                                                                {"beam-width", "0.156"},
                                                                {"beam-profile", "gaussian"},
                                                                {"container", "glass.xy"},
                                                                {"container-composition", "SiO2"},
                                                                {"container-density", "2.2"},
                                                                {"container-wall", "0.01"},
                                                                {"container-scale", "0.9"},
                                                                {"flat", "-0.5"},
                                                                {"rmin-check", "1.8"},
                                                                {"optimize", "mu-r:1:2,flat"}}),
                                                         0.71073, Spelling::kCommandLine);
  ASSERT_TRUE(s.ok()) << s.error().message;
  const ReductionOptions& o = s->options;
  EXPECT_EQ(o.wavelength, 0.71073);  // the pattern's
  EXPECT_EQ(o.sample.composition, "CeO2");
  EXPECT_EQ(o.sample.density, 7.215);
  EXPECT_FALSE(o.sample.number_density);
  EXPECT_EQ(o.sample.packing, 0.5);
  EXPECT_EQ(o.sample.compton, IncoherentModel::kBalyuzi);
  EXPECT_EQ(o.mode, Mode::kPhysical);  // with a density
  EXPECT_EQ(o.absorption.geometry, Geometry::kCapillary);
  EXPECT_EQ(o.absorption.mu_x, 1.25);
  EXPECT_FALSE(o.thickness);
  EXPECT_EQ(o.polarization.monochromator_two_theta, 26.6);
  EXPECT_TRUE(o.polarization.perfect_crystal);
  EXPECT_EQ(o.polarization.normal_fraction, 0.5);
  EXPECT_EQ(o.breit_dirac, 2);
  EXPECT_EQ(o.normalization, Normalization::kHighQ);
  EXPECT_EQ(o.rmin_iterate, 1.5);
  EXPECT_EQ(o.qmin, 0.5);
  EXPECT_EQ(o.qmax, 20.0);
  EXPECT_EQ(o.window, Window::kLorch);
  EXPECT_EQ(o.rmin, 0.5);
  EXPECT_EQ(o.rmax, 20.0);
  EXPECT_EQ(o.rstep, 0.02);
  EXPECT_EQ(s->options.bg_scale, 0.95);
  EXPECT_EQ(s->monochromator, "26.6");
  EXPECT_EQ(s->mono_beam, "incident");
  EXPECT_EQ(o.capillary_diameter, 0.635);
  EXPECT_EQ(o.beam_width, 0.156);
  EXPECT_EQ(o.beam_profile, BeamProfile::kGaussian);
  EXPECT_EQ(o.container_composition, "SiO2");
  EXPECT_EQ(o.container_density, 2.2);
  EXPECT_EQ(o.container_wall, 0.01);
  EXPECT_EQ(o.container_scale, 0.9);
  EXPECT_EQ(o.flat, -0.5);
  EXPECT_EQ(o.rmin_check, 1.8);
  ASSERT_EQ(s->optimize.size(), 2u);
  EXPECT_EQ(s->optimize[0].what, Fitted::kMuR);
  EXPECT_EQ(s->optimize[0].lower, 1.0);
  EXPECT_EQ(s->optimize[0].upper, 2.0);
  EXPECT_EQ(s->optimize[1].what, Fitted::kFlat);
  EXPECT_FALSE(s->optimize[1].lower);
  EXPECT_EQ(fit_list_text(s->optimize), "mu-r:1:2,flat");

  // Nothing given but the composition: ad hoc, no wavelength, every default.
  const Result<ReductionSettings> bare = reduction_settings(texts({}), std::nullopt, Spelling::kKeyword);
  ASSERT_TRUE(bare.ok());
  const ReductionOptions defaults;
  EXPECT_EQ(bare->options.mode, Mode::kAdhoc);
  EXPECT_FALSE(bare->options.wavelength);
  EXPECT_EQ(bare->options.rpoly, defaults.rpoly);
  EXPECT_EQ(bare->options.rmax, defaults.rmax);
  EXPECT_EQ(bare->options.bg_scale, 1.0);
  EXPECT_EQ(bare->monochromator, "none");
}

TEST(PdfOptions, WavelengthOfAnAnodeAndTheBraggAngleOfACrystal) {
  // Mo Kalpha1 0.70931715 A (Deslattes et al., Rev. Mod. Phys. 75 (2003) 35), over the pattern's own.
  const Result<ReductionSettings> mo =
      reduction_settings(texts({{"anode", "Mo"}, {"density", "5.68"}}), 1.54, Spelling::kKeyword);
  ASSERT_TRUE(mo.ok());
  EXPECT_NEAR(*mo->options.wavelength, 0.70931715, 2e-6);
  // Put in place of the pattern's own wavelength, said so in the caller's words; not where the two agree.
  ASSERT_EQ(mo.warnings().size(), 1u);
  EXPECT_EQ(mo.warnings()[0].rfind("the pattern states its own wavelength, 1.54 A; anode puts 0.7093", 0), 0u)
      << mo.warnings()[0];
  const Result<ReductionSettings> given =
      reduction_settings(texts({{"wavelength", "0.7107"}, {"density", "5.68"}}), 1.54, Spelling::kCommandLine);
  ASSERT_EQ(given.warnings().size(), 1u);
  EXPECT_NE(given.warnings()[0].find("--wavelength puts 0.7107 A"), std::string::npos) << given.warnings()[0];
  for (const std::optional<double> own : {std::optional<double>(0.71075), std::optional<double>()})
    EXPECT_TRUE(
        reduction_settings(texts({{"wavelength", "0.7107"}, {"density", "5.68"}}), own, Spelling::kCommandLine)
            .warnings()
            .empty());
  // Si 111 (d = 3.1356 A) reflects Cu Kalpha1 at 2theta = 28.443 degrees, as a perfect crystal unless told.
  const Result<ReductionSettings> si =
      reduction_settings(texts({{"monochromator", "Si111"}, {"density", "2.33"}}), 1.540598, Spelling::kKeyword);
  ASSERT_TRUE(si.ok());
  EXPECT_NEAR(*si->options.polarization.monochromator_two_theta, 28.443, 2e-3);
  EXPECT_TRUE(si->options.polarization.perfect_crystal);
  // A wavelength beyond 2d cannot be reflected: a value out of the crystal's reach.
  const Result<ReductionSettings> far =
      reduction_settings(texts({{"monochromator", "LiF200"}, {"density", "2.33"}}), 5.0, Spelling::kKeyword);
  ASSERT_FALSE(far.ok());
  EXPECT_EQ(far.kind(), ErrorKind::kOutOfRange);
  EXPECT_EQ(far.error().message.rfind("monochromator LiF200: ", 0), 0u) << far.error().message;
}

TEST(PdfOptions, OptionsCarriedOverFromAFileAreNotRefusedForTheirMode) {
  // A physical run's file read back in ad hoc mode: its geometry and thickness stay unread, not refused.
  const OptionValues file = texts({{"mode", "adhoc"},
                                   {"geometry", "capillary"},
                                   {"thickness", "0.05"},
                                   {"mu-r", "1.2"},
                                   {"mono-beam", "diffracted"}},
                                  {"geometry", "thickness", "mono-beam"});
  const Result<ReductionSettings> s = reduction_settings(file, 0.71, Spelling::kCommandLine);
  ASSERT_FALSE(s.ok());  // mu-r was asked for now
  EXPECT_EQ(s.error().message,
            "--mu-r belongs to --mode physical (give --density for it); ad hoc mode fits the corrections away");
  OptionValues quiet = file;
  quiet.values.erase("mu-r");
  const Result<ReductionSettings> q = reduction_settings(quiet, 0.71, Spelling::kCommandLine);
  ASSERT_TRUE(q.ok()) << q.error().message;
  EXPECT_EQ(q->options.mode, Mode::kAdhoc);
}

TEST(PdfOptions, InputFormatAndScan) {
  struct Case {
    Texts values;
    const char* path;
    bool ok;
    InputFormat format;
    int scan;
    ErrorKind kind;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{}, "a.XRDML", true, InputFormat::kXrdml, 0, {}, ""},
      {{}, "a.xy", true, InputFormat::kTwoTheta, 0, {}, ""},
      {{{"format", "qa"}}, "a.xrdml", true, InputFormat::kQA, 0, {}, ""},
      {{{"scan", "2"}}, "a.xrdml", true, InputFormat::kXrdml, 2, {}, ""},
      {{{"scan", "1"}}, "a.xy", false, {}, 0, ErrorKind::kInvalidArgument, "{scan} belongs to XRDML input"},
      {{{"scan", "one"}}, "a.xrdml", false, {}, 0, ErrorKind::kParseError, "{scan} is not a whole number: \"one\""},
      {{{"format", "csv"}},
       "a.xy",
       false,
       {},
       0,
       ErrorKind::kInvalidArgument,
       "{format} must be xrdml, twotheta, qa or qnm, not \"csv\""},
      // Options that exclude each other are refused before any file is read.
      {{{"density", "1"}, {"number-density", "0.1"}},
       "a.xy",
       false,
       {},
       0,
       ErrorKind::kInvalidArgument,
       "give {density} or {number-density}, not both"},
  };
  for (const Spelling spelling : {Spelling::kCommandLine, Spelling::kKeyword})
    for (const Case& c : cases) {
      const Result<InputChoice> r = input_choice(texts(c.values), c.path, spelling);
      ASSERT_EQ(r.ok(), c.ok) << c.path << " " << c.message;
      if (c.ok) {
        EXPECT_EQ(r->format, c.format) << c.path;
        EXPECT_EQ(r->scan, c.scan) << c.path;
      } else {
        EXPECT_EQ(r.kind(), c.kind) << c.message;
        EXPECT_EQ(r.error().message, words(c.message, spelling));
      }
    }
}

std::string file_text(const std::string& name) {
  std::ifstream in(std::string(TALVO_TEST_FILES_DIR) + name);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string text_of(const SettingsFile& f, std::string_view name) {
  const auto it = f.options.values.find(name);
  return it == f.options.values.end() ? std::string("(none)") : option_text(it->second);
}

// The reference program's configuration: [DEFAULT] under [PDF], its keys as TALVO's options, paths from its folder.
TEST(PdfSettingsFile, ReferenceConfigurationFile) {
  const std::string cfg =
      "# a comment\n[DEFAULT]\ndataformat = twotheta\ncomposition = SiO2\nqmax = 20\nplotconfig = off\n\n"
      "[PDF]\n; another comment\ndataformat: QA\ninputfile = glass.chi\nbackgroundfile = kapton.chi\n"
      "bgscale = 0.9\nwavelength = 0.1\nqmaxinst = 25\nqmin = 0.5\nrpoly = 1.1\nrmax = 40\noutputtype = gr, sq\n"
      "mode = xray\ntwothetazero = 0\n[Misc]\ninputdir = C:/data\n";
  const Result<SettingsFile> f = parse_settings(cfg, "runs/glass.cfg");
  ASSERT_TRUE(f.ok()) << f.error().message;
  EXPECT_TRUE(f->reference);
  const std::vector<std::pair<const char*, const char*>> expected = {
      {"format", "qa"},    {"composition", "SiO2"}, {"qmax", "20"},     {"background", "runs/kapton.chi"},
      {"bg-scale", "0.9"}, {"wavelength", "0.1"},   {"qmaxinst", "25"}, {"qmin", "0.5"},
      {"rpoly", "1.1"},    {"r", "0:40:0.01"},      {"mode", "adhoc"}};
  for (const auto& [name, value] : expected) EXPECT_EQ(text_of(*f, name), value) << name;
  EXPECT_EQ(f->options.values.size(), expected.size());
  EXPECT_EQ(f->options.from_file.size(), expected.size());  // every one carried over, none asked for now
  EXPECT_EQ(f->input, "runs/glass.chi");
  EXPECT_EQ(f->outputs, (std::vector<std::string>{"gr", "sq"}));
  EXPECT_EQ(f->unused, (std::vector<std::string>{"plotconfig", "twothetazero", "inputdir"}));
  // Saved with a byte-order mark and Windows line ends, it reads the same.
  std::string windows = "\xEF\xBB\xBF";
  for (const char c : cfg) windows += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const Result<SettingsFile> bom = parse_settings(windows, "runs/glass.cfg");
  ASSERT_TRUE(bom.ok()) << bom.error().message;
  for (const auto& [name, value] : expected) EXPECT_EQ(text_of(*bom, name), value) << name;
  EXPECT_EQ(bom->input, f->input);
  // What the reference program has and TALVO has not is refused, in words that say so.
  const struct {
    std::string text;
    ErrorKind kind;
    std::string message;
  } bad[] = {
      {"[PDF]\nmode = neutron\n", ErrorKind::kUnsupported,
       "c.cfg: mode = neutron: TALVO reduces X-ray patterns (mode = xray)"},
      {"[PDF]\ndataformat = degrees\n", ErrorKind::kInvalidArgument,
       "c.cfg: dataformat must be twotheta, QA or Qnm, not \"degrees\""},
      {"[PDF]\noutputtype = iq, chi\n", ErrorKind::kInvalidArgument,
       "c.cfg: outputtype must list iq, sq, fq or gr, not \"iq, chi\""},
      {"[PDF]\nqmax = 1\nqmax = 2\n", ErrorKind::kParseError, "c.cfg line 3: \"qmax\" is given twice in [pdf]"},
      {"[PDF]\njust words\n", ErrorKind::kParseError,
       "c.cfg line 2: not a \"key = value\" line of a [section]: \"just words\""},
  };
  for (const auto& c : bad) {
    const Result<SettingsFile> r = parse_settings(c.text, "c.cfg");
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.kind(), c.kind) << c.text;
    EXPECT_EQ(r.error().message, c.message);
  }
}

// A settings file of TALVO's own keys as people write it: any of the usual marks, blanks or tabs, the key in any
// case; a line that says nothing readable is named with its line, and so is every value a message names.
TEST(PdfSettingsFile, OwnKeysInEveryUsualFormWithTheirLines) {
  const std::string cfg =
      "# Density = 7.215\nwavelength=0.71\ncomposition:\tCeO2\nQMAX\t=\t24 ; comment\n\n; a comment\n"
      "# a note: nothing to read\n# fits: a = 1.2 (a note with a mark)\n";
  const Result<SettingsFile> f = parse_settings(cfg, "runs/run.cfg");
  ASSERT_TRUE(f.ok()) << f.error().message;
  EXPECT_FALSE(f->reference);
  EXPECT_EQ(text_of(*f, "density"), "7.215");
  EXPECT_EQ(text_of(*f, "wavelength"), "0.71");
  EXPECT_EQ(text_of(*f, "composition"), "CeO2");
  EXPECT_EQ(text_of(*f, "qmax"), "24 ; comment");
  EXPECT_EQ(f->options.values.size(), 4u);
  EXPECT_EQ(f->options.origins.at("qmax"), "runs/run.cfg line 4");
  // The value at fault is named with the file and line it came from, as it was written.
  const Result<ReductionSettings> s = reduction_settings(f->options, std::nullopt, Spelling::kCommandLine);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.kind(), ErrorKind::kParseError);
  EXPECT_NE(s.error().message.find("--qmax (runs/run.cfg line 4)"), std::string::npos) << s.error().message;
  EXPECT_NE(s.error().message.find("\"24 ; comment\""), std::string::npos) << s.error().message;
  // Asked now, the same option is no longer the file's, and its line is not named.
  const OptionValues asked = texts({{"qmax", "20"}});
  const Result<ReductionSettings> fixed =
      reduction_settings(merged_options(f->options, asked), std::nullopt, Spelling::kCommandLine);
  EXPECT_TRUE(fixed.ok()) << fixed.error().message;

  const struct {
    std::string text, message;
    ErrorKind kind;
  } bad[] = {
      {"density 7.215\n",
       "c.cfg line 1 is not read: \"density 7.215\" is no \"key = value\" setting (a comment starts "
       "with #)",
       ErrorKind::kParseError},
      {"qmax = 1\n#QMAX = 2\n", "c.cfg line 2: \"qmax\" is given twice", ErrorKind::kParseError},
      {"\n\ncolour = red\n", "c.cfg line 3: unknown key \"colour\"", ErrorKind::kInvalidArgument},
      {"bg_scale = 1\n", "c.cfg line 1: unknown key \"bg_scale\" (the option is bg-scale)",
       ErrorKind::kInvalidArgument},
      {"input = \"a.xy\n", "c.cfg line 1: the value of \"input\" opens a quote it does not close",
       ErrorKind::kParseError},
  };
  for (const auto& c : bad) {
    const Result<SettingsFile> r = parse_settings(c.text, "c.cfg");
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.kind(), c.kind) << c.text;
    EXPECT_EQ(r.error().message, c.message);
  }
  // An output's rows end its header: what follows is not read as settings.
  const Result<SettingsFile> out = parse_settings("# qmin = 0.5\n# columns: r G\n0.01 0.5\nnot a setting\n", "o.gr");
  ASSERT_TRUE(out.ok()) << out.error().message;
  EXPECT_EQ(text_of(*out, "qmin"), "0.5");
  // The reference program's keys are named with their lines too, under TALVO's name and their own.
  const Result<SettingsFile> ref =
      parse_settings("[PDF]\nqmax = 24 ; comment\nbgscale = x\nbackgroundfile = b.xy\n", "p.cfg");
  ASSERT_TRUE(ref.ok()) << ref.error().message;
  EXPECT_EQ(ref->options.origins.at("qmax"), "p.cfg line 2");
  EXPECT_EQ(ref->options.origins.at("bg-scale"), "p.cfg line 3, bgscale");
}

// What the user asks now wins over what a file (a header's defaults) says where the two cannot stand together.
TEST(PdfSettingsFile, AskedOptionsReplaceWhatTheyConflictWithFromTheFile) {
  const OptionValues header =
      texts({{"composition", "CeO2"},
             {"density", "7.2"},
             {"wavelength", "0.71"},
             {"geometry", "transmission"},
             {"mu-t", "1.5"},
             {"monochromator", "none"},
             {"polarization", "0.5"}},
            {"composition", "density", "wavelength", "geometry", "mu-t", "monochromator", "polarization"});
  // --thickness replaces the file's mu t: mu then comes from the composition.
  const OptionValues thick = merged_options(header, texts({{"thickness", "0.05"}}));
  EXPECT_FALSE(thick.values.count("mu-t"));
  const Result<ReductionSettings> t = reduction_settings(thick, std::nullopt, Spelling::kCommandLine);
  ASSERT_TRUE(t.ok()) << t.error().message;
  EXPECT_EQ(t->options.thickness, 0.05);
  EXPECT_FALSE(t->options.absorption.mu_x);
  // --monochromator replaces the polarisation the header wrote as its default.
  const Result<ReductionSettings> m = reduction_settings(merged_options(header, texts({{"monochromator", "HOPG"}})),
                                                         std::nullopt, Spelling::kCommandLine);
  ASSERT_TRUE(m.ok()) << m.error().message;
  EXPECT_GT(m->options.polarization.monochromator_two_theta, 0.0);
  // Both asked now, they are refused as before.
  const Result<ReductionSettings> both =
      reduction_settings(merged_options(header, texts({{"monochromator", "HOPG"}, {"polarization", "0.3"}})),
                         std::nullopt, Spelling::kCommandLine);
  EXPECT_FALSE(both.ok());
  const Result<ReductionSettings> both_mu = reduction_settings(
      merged_options(header, texts({{"thickness", "0.05"}, {"mu-t", "1"}})), std::nullopt, Spelling::kCommandLine);
  EXPECT_FALSE(both_mu.ok());
}

// The header of the reference program's output: the settings of the run that made it, the file's own type aside.
TEST(PdfSettingsFile, ReferenceOutputHeader) {
  const std::string dir = "pdf_reference/ni_kapton_synchrotron/";
  const Result<SettingsFile> f = parse_settings(file_text(dir + "ni.gr"), "ref/ni.gr");
  ASSERT_TRUE(f.ok()) << f.error().message;
  const std::vector<std::pair<const char*, const char*>> expected = {{"format", "qnm"},
                                                                     {"wavelength", "0.1"},
                                                                     {"background", "ref/Kapton-bkg.chi"},
                                                                     {"bg-scale", "0.0848126086863"},
                                                                     {"mode", "adhoc"},
                                                                     {"composition", "Ni"},
                                                                     {"qmaxinst", "31.5"},
                                                                     {"qmin", "0.1"},
                                                                     {"qmax", "31.5"},
                                                                     {"r", "0.0:80.0:0.01"},
                                                                     {"rpoly", "0.9"}};
  for (const auto& [name, value] : expected) EXPECT_EQ(text_of(*f, name), value) << name;
  EXPECT_EQ(f->options.values.size(), expected.size());
  EXPECT_EQ(f->input, "ref/Ni.chi");
  EXPECT_FALSE(f->outputs);  // outputtype = gr names the file, not what a rerun writes
  EXPECT_EQ(f->unused, (std::vector<std::string>{"inputdir", "savedir", "backgroundfilefull"}));
  // Options asked for now replace the file's, and an alternative asked for now drops the file's.
  OptionValues asked;
  asked.values["qmax"] = 25.0;
  asked.values["number-density"] = "0.0913";
  OptionValues file = f->options;
  file.values["density"] = "8.9";
  file.from_file.insert("density");
  const OptionValues m = merged_options(file, asked);
  EXPECT_EQ(option_text(m.values.at("qmax")), "25");
  EXPECT_FALSE(m.from_file.count("qmax"));
  EXPECT_FALSE(m.values.count("density"));
  EXPECT_TRUE(m.from_file.count("composition"));
}

// A header that states its x unit decides it, unless the user asked now for another.
TEST(PdfSettingsFile, AFilesOwnUnitAgainstTheFormatAsked) {
  const std::string path = std::string(TALVO_TEST_FILES_DIR) + "pdf_reference/ni_kapton_synchrotron/ni.chi";
  for (const bool asked : {false, true}) {
    const InputChoice choice{InputFormat::kTwoTheta, 0, asked};
    const Result<Pattern> p = read_input(path, choice, Spelling::kKeyword);
    ASSERT_EQ(p.ok(), !asked);
    if (!asked) {
      EXPECT_EQ(p->abscissa, Abscissa::kQnm);
      continue;
    }
    EXPECT_EQ(p.kind(), ErrorKind::kInvalidArgument);
    EXPECT_EQ(p.error().message,
              path + " states its x as \"Q (Inverse Nanometres)\", which is qnm: format twotheta contradicts it");
  }
  const InputChoice same{InputFormat::kQnm, 0, true};
  EXPECT_TRUE(read_input(path, same, Spelling::kCommandLine).ok());
  // input_choice tells a format asked now from one carried over.
  OptionValues v = texts({{"format", "qa"}});
  EXPECT_TRUE(input_choice(v, "x.chi", Spelling::kKeyword)->format_asked);
  v.from_file.insert("format");
  EXPECT_FALSE(input_choice(v, "x.chi", Spelling::kKeyword)->format_asked);
}

// A file whose header names its x in a unit that is neither 2theta nor Q is
// reduced only with a format given: the user says what the column holds.
TEST(PdfSettingsFile, AForeignXUnitNeedsTheFormat) {
  const std::string path = testing::TempDir() + "radial\x1b[2J.chi";
  {
    std::ofstream out(path);
    out << "ring.edf\nRadial distance (mm)\nIntensity\n     3\n 10 100\n 11 121\n 12 144\n";
  }
  const InputChoice by_name{InputFormat::kTwoTheta, 0, false, false};
  const Result<Pattern> refused = read_input(path, by_name, Spelling::kCommandLine);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(refused.error().message,
            escape_for_message(path) +
                " states its x as \"Radial distance (mm)\", neither 2theta nor Q: integrate the image to 2theta or "
                "Q, or give --format twotheta, qa or qnm if the column holds one of them");
  EXPECT_EQ(refused.error().message.find('\x1b'), std::string::npos);
  for (const bool asked : {true, false}) {  // now, or by a file of settings
    const InputChoice given{InputFormat::kQA, 0, asked, true};
    const Result<Pattern> p = read_input(path, given, Spelling::kKeyword);
    ASSERT_TRUE(p.ok()) << p.error().message;
    EXPECT_EQ(p->abscissa, Abscissa::kQA);
  }
  OptionValues v = texts({{"format", "qa"}});
  v.from_file.insert("format");
  EXPECT_TRUE(input_choice(v, "x.chi", Spelling::kKeyword)->format_given);
  EXPECT_FALSE(input_choice(OptionValues{}, "x.chi", Spelling::kKeyword)->format_given);
  std::remove(path.c_str());
}

TEST(PdfSettingsFile, OutputLists) {
  const struct {
    const char* text;
    std::vector<std::string> kinds;
    const char* message;
  } cases[] = {
      {"iq,gr", {"iq", "gr"}, ""},
      {"iq,iq,iq", {"iq"}, ""},  // one file each, however often named
      {"gr, sq,gr", {"gr", "sq"}, ""},
      {"", {}, "--output is empty: give one or more of iq, sq, fq, gr, gofr and rdf"},
      {"  ", {}, "--output is empty: give one or more of iq, sq, fq, gr, gofr and rdf"},
      {"iq,,gr", {}, "--output takes a list of iq, sq, fq, gr, gofr and rdf, not \"\""},
      {"nq", {}, "--output takes a list of iq, sq, fq, gr, gofr and rdf, not \"nq\""},
  };
  for (const auto& c : cases) {
    const Result<std::vector<std::string>> r = output_list(c.text, Spelling::kCommandLine);
    ASSERT_EQ(r.ok(), c.kinds.size() > 0) << c.text;
    if (r.ok())
      EXPECT_EQ(*r, c.kinds);
    else
      EXPECT_EQ(r.error().message, c.message);
  }
}

// Every run's header reads back as the same run: its settings, input and outputs, whatever the names hold.
TEST(PdfSettingsFile, EveryHeaderGivesBackTheRunThatWroteIt) {
  std::mt19937 rng(11);
  const auto pick = [&rng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
  const auto number = [&rng](double lo, double hi) {
    // Numbers with every digit a double holds (1/3, 0.1 + 0.2), not only short decimals.
    return std::uniform_real_distribution<double>(lo, hi)(rng);
  };
  const std::vector<std::string> names = {"plain.xy",       "data/run 7.chi",  "a\nplot = injected.svg.xy",
                                          "tab\there.xy",   "\x1b[2Jclear.xy", "bad \xff\xfe utf8.xy",
                                          " lead.xy",       "trail.xy ",       "\"quoted\".xy",
                                          "back\\slash.xy", "# key = value",   "\xe2\x80\xaeright-to-left.xy",
                                          "caf\xc3\xa9.xy"};
  for (int round = 0; round < 300; ++round) {
    Texts t;
    t["composition"] = pick(4) == 0 ? names[pick(names.size())] : std::string("CeO2");
    const bool physical = pick(2) == 0;
    const bool xrdml = pick(4) == 0;
    if (pick(2) == 0) t["wavelength"] = shortest(number(0.1, 2.5));
    if (physical || pick(3) == 0) t[pick(2) ? "density" : "number-density"] = shortest(number(0.01, 9));
    t["mode"] = physical ? "physical" : "adhoc";
    if (pick(2) == 0) t["packing"] = shortest(number(0.1, 1));
    if (pick(3) == 0) {
      t["background"] = names[pick(names.size())];
      if (pick(2)) t["bg-scale"] = shortest(number(0, 2));
    }
    if (physical) {
      const char* geometries[] = {"reflection", "transmission", "capillary"};
      t["geometry"] = geometries[pick(3)];
      const int mu = static_cast<int>(pick(3));
      if (mu == 1) t[t["geometry"] == "capillary" ? "mu-r" : "mu-t"] = shortest(number(0.01, 5));
      if (mu == 2) t["thickness"] = shortest(number(0.001, 1));
      const char* monos[] = {"none", "HOPG", "Si111", "26.6", "none"};
      const std::string mono = monos[pick(5)];
      if (mono != "none" || pick(2)) t["monochromator"] = mono;
      if (mono != "none" && mono != "26.6" && !t.count("wavelength")) t["wavelength"] = "0.71073";
      if (mono == "none" && pick(2)) t["polarization"] = shortest(number(0, 1));
      if (mono != "none" && pick(2)) t["mono-crystal"] = pick(2) ? "perfect" : "mosaic";
      if (mono != "none" && pick(2)) t["mono-beam"] = pick(2) ? "incident" : "diffracted";
      if (pick(2)) t["compton"] = pick(2) ? "balyuzi" : "hubbell";
      if (pick(2)) t["breit-dirac"] = std::to_string(pick(3) == 0 ? 0 : 2 + pick(2));
      if (pick(2)) t["normalize"] = pick(2) ? "highq" : "kmn";
      if (pick(3) == 0) t["rmin-iterate"] = shortest(number(0.5, 2));
      if (t["geometry"] == "capillary" && !t.count("thickness") && pick(2)) {
        t["capillary-diameter"] = shortest(number(0.1, 2));
        if (pick(2)) t["beam-width"] = shortest(number(0.05, 1));
        if (t.count("beam-width") && pick(2)) t["beam-profile"] = pick(2) ? "gaussian" : "tophat";
        if (pick(3) == 0) {
          t["container"] = names[pick(names.size())];
          t["container-composition"] = "SiO2";
          t["container-density"] = shortest(number(1, 3));
          t["container-wall"] = shortest(number(0.005, 0.05));
          if (pick(2)) t["container-scale"] = shortest(number(0.5, 1.5));
        }
      }
      if (mono != "none" && (!t.count("mono-beam") || t.at("mono-beam") != "incident") && pick(2))
        t["ruland"] = shortest(number(0.01, 1));
      if (pick(3) == 0) t["flat"] = shortest(number(-5, 5));
      if (pick(3) == 0) t["rmin-check"] = shortest(number(0.6, 3));
    } else {
      if (pick(2)) t["rpoly"] = shortest(number(0.3, 2));
      if (pick(2)) t["qmaxinst"] = shortest(number(10, 30));
    }
    if (pick(2)) t["qmin"] = shortest(number(0, 2));
    if (pick(2)) t["qmax"] = shortest(number(10, 30));
    const char* extrapolations[] = {"none", "step", "linear", "poly"};
    if (pick(2)) t["extrapolate"] = extrapolations[pick(4)];
    if (t.count("extrapolate") && t["extrapolate"] != "none" && pick(2)) t["s0"] = shortest(number(0, 0.5));
    const char* windows[] = {"none", "lorch", "step", "quadratic"};
    if (pick(2)) t["window"] = windows[pick(4)];
    if (pick(2)) t["r"] = shortest(number(0, 1)) + ":" + shortest(number(10, 50)) + ":" + shortest(number(0.005, 0.05));
    if (xrdml) t["scan"] = std::to_string(pick(3));
    const std::string input = names[pick(names.size())] + (xrdml ? ".xrdml" : "");

    const OptionValues values = texts(t);
    const Result<InputChoice> choice = input_choice(values, input, Spelling::kCommandLine);
    ASSERT_TRUE(choice.ok()) << choice.error().message;
    const std::optional<double> pattern_wavelength = xrdml ? std::optional<double>(1.5405980) : std::nullopt;
    const Result<ReductionSettings> settings = reduction_settings(values, pattern_wavelength, Spelling::kCommandLine);
    ASSERT_TRUE(settings.ok()) << settings.error().message;
    RunRecord run;
    run.input = input;
    run.choice = *choice;
    run.settings = *settings;
    if (t.count("background")) run.background = t["background"];
    if (t.count("container")) run.container = t["container"];
    run.qmax = settings->options.qmax.value_or(number(10, 30));
    if (pick(2)) {
      const std::vector<std::string> all = {"iq", "sq", "fq", "gr"};
      run.outputs = std::vector<std::string>(all.begin(), all.begin() + 1 + static_cast<std::ptrdiff_t>(pick(4)));
    }
    const Parameters header = header_parameters(run);
    const std::string notes[] = {"ad hoc polynomial degree: 9"};
    const std::vector<double> x = {0.0, 0.01};
    const std::span<const double> table[] = {x, x};
    const std::string text = table_text("talvo-tools pdf: G(r)", header, notes, "columns: r G", table);
    // One header line a parameter: no value adds a line.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(header.size() + 5)) << text;

    const Result<SettingsFile> back = parse_settings(text, "out.gr");
    ASSERT_TRUE(back.ok()) << back.error().message << "\n" << text;
    EXPECT_EQ(back->input, input);
    EXPECT_EQ(back->outputs, run.outputs);
    const Result<InputChoice> choice2 = input_choice(back->options, *back->input, Spelling::kCommandLine);
    ASSERT_TRUE(choice2.ok());
    EXPECT_EQ(choice2->format, choice->format);
    EXPECT_EQ(choice2->scan, choice->scan);
    const Result<ReductionSettings> again = reduction_settings(back->options, std::nullopt, Spelling::kCommandLine);
    ASSERT_TRUE(again.ok()) << again.error().message << "\n" << text;
    RunRecord rerun = run;
    rerun.settings = *again;
    if (back->options.values.count("background")) rerun.background = option_text(back->options.values.at("background"));
    if (back->options.values.count("container")) rerun.container = option_text(back->options.values.at("container"));
    EXPECT_EQ(header_parameters(rerun), header) << text;
    const ReductionOptions &a = settings->options, &b = again->options;
    EXPECT_EQ(a.sample.composition, b.sample.composition);
    EXPECT_EQ(a.wavelength, b.wavelength);
    EXPECT_EQ(a.sample.density, b.sample.density);
    EXPECT_EQ(a.sample.number_density, b.sample.number_density);
    EXPECT_EQ(a.mode, b.mode);
    EXPECT_EQ(a.absorption.mu_x, b.absorption.mu_x);
    EXPECT_EQ(a.polarization.monochromator_two_theta, b.polarization.monochromator_two_theta);
    EXPECT_EQ(a.rmin, b.rmin);
    EXPECT_EQ(a.rstep, b.rstep);
    EXPECT_EQ(a.qmin, b.qmin);
    EXPECT_EQ(a.capillary_diameter, b.capillary_diameter);
    EXPECT_EQ(a.beam_width, b.beam_width);
    EXPECT_EQ(a.container_wall, b.container_wall);
    EXPECT_EQ(a.ruland, b.ruland);
    EXPECT_EQ(a.flat, b.flat);
    EXPECT_EQ(a.rmin_check, b.rmin_check);
    EXPECT_EQ(a.bg_scale, b.bg_scale);
    EXPECT_EQ(a.breit_dirac, b.breit_dirac);
    EXPECT_EQ(a.extrapolate, b.extrapolate);
    EXPECT_EQ(a.s0, b.s0);
    Reduction found;
    found.qmax = run.qmax;
    EXPECT_EQ(header_notes(*again, found), header_notes(*settings, found));
  }
}

}  // namespace
}  // namespace talvo::pdf

namespace talvo::pdf {
namespace {

// The table's defaults are the reduction's own: giving each one explicitly
// changes no setting a header records, in either mode (the options that
// need another one first are given with it).
TEST(PdfOptionTable, DefaultsAreWhatTheReductionDoesWithoutThem) {
  const auto header_of = [](const Texts& t) {
    const Result<ReductionSettings> s = reduction_settings(texts(t), 0.7107, Spelling::kCommandLine);
    EXPECT_TRUE(s.ok()) << (s.ok() ? "" : s.error().message);
    RunRecord run;
    run.input = "p.xy";
    if (s.ok()) run.settings = *s;
    if (t.count("background")) run.background = t.at("background");
    run.qmax = 20.0;
    return header_parameters(run);
  };
  // What an option needs before its default may be given.
  const Texts context_of_physical = {{"density", "5"}};
  const std::map<std::string, Texts, std::less<>> needs = {
      {"bg-scale", {{"background", "bg.xy"}}},
      {"mono-beam", {{"monochromator", "HOPG"}}},
      {"beam-profile", {{"geometry", "capillary"}, {"capillary-diameter", "1"}, {"beam-width", "0.5"}}},
      {"container-scale",
       {{"geometry", "capillary"},
        {"capillary-diameter", "1"},
        {"container", "c.xy"},
        {"container-composition", "SiO2"},
        {"container-density", "2.2"},
        {"container-wall", "0.01"}}},
      {"s0", {{"extrapolate", "linear"}}},
  };
  int checked = 0;
  for (const OptionSpec& o : reduction_option_table().options) {
    if (o.default_text.empty() || o.name == "scan") continue;  // scan is the input's, not the reduction's
    Texts base = o.when == "mode=adhoc" ? Texts{{"mode", "adhoc"}} : context_of_physical;
    if (const auto it = needs.find(o.name); it != needs.end())
      for (const auto& [k, v] : it->second) base[k] = v;
    Texts with = base;
    with[std::string(o.name)] = std::string(o.default_text);
    EXPECT_EQ(header_of(with), header_of(base)) << o.name << " = " << o.default_text;
    ++checked;
  }
  EXPECT_GE(checked, 15);
}

}  // namespace
}  // namespace talvo::pdf
