// The reduction's options as text: each mistake refused with its kind and
// the option named as the caller spells it, and a full set read into the
// options the reduction gets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "talvo/pdf/options.hpp"

namespace talvo::pdf {
namespace {

using Texts = std::map<std::string, std::string, std::less<>>;

OptionTexts texts(Texts values, std::set<std::string, std::less<>> from_file = {}) {
  OptionTexts t;
  t.values = std::move(values);
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
      {with({{"breit-dirac", "1"}}), ErrorKind::kInvalidArgument, "{breit-dirac} must be 2 or 3"},
      {with({{"breit-dirac", "2.5"}}), ErrorKind::kParseError, "{breit-dirac} is not a whole number: 2.5"},
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
      {with({{"geometry", "capillary"}, {"capillary-diameter", "0.6"}, {"beam-width", "0.2"}, {"beam-profile", "flat"}}),
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
      {with({{"flat", "x"}}), ErrorKind::kParseError, "{flat} is not a number: x"},
      {with({{"rmin-check", "0.4"}}), ErrorKind::kOutOfRange,
       "{rmin-check} must lie above 0.5 Angstrom (and at most 100), below the first interatomic distance"},
      {with({{"optimize", "mu-r,speed"}}), ErrorKind::kInvalidArgument,
       "{optimize} takes a list of density, bg-scale, container-scale, mu-r, beam-width, ruland and flat (each NAME "
       "or NAME:LOW:HIGH), not \"speed\""},
      {with({{"optimize", "flat,flat"}}), ErrorKind::kInvalidArgument, "{optimize} names flat twice"},
      {with({{"optimize", "flat:2:1"}}), ErrorKind::kInvalidArgument,
       "{optimize} flat:2:1: the bounds are NAME:LOW:HIGH, two numbers with LOW below HIGH"},
      {with({{"optimize", "bg-scale"}}), ErrorKind::kInvalidArgument, "{optimize} bg-scale needs {background}"},
      {with({{"optimize", "mu-r"}}), ErrorKind::kInvalidArgument, "{optimize} mu-r needs {geometry} capillary"},
      {{{"mode", "adhoc"}, {"flat", "1"}},
       ErrorKind::kInvalidArgument,
       "{flat} belongs to {mode} physical (give {density} for it); ad hoc mode fits the corrections away"},
      {with({{"bg-scale", "1"}}), ErrorKind::kInvalidArgument, "{bg-scale} belongs to {background}"},
      {with({{"qmax", "lots"}}), ErrorKind::kParseError, "{qmax} is not a number: lots"},
      {with({{"r", "0:30"}}), ErrorKind::kInvalidArgument, "{r} needs RMIN:RMAX:STEP"},
      {with({{"r", "0:x:0.1"}}), ErrorKind::kParseError, "{r} RMAX is not a number: x"},
      {{{"density", "5.68"}, {"anode", "Qq"}},
       ErrorKind::kNotFound,
       "{anode} Qq: no anode \"Qq\": Cr, Fe, Co, Cu, Mo, Ag or W"},
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
  OptionTexts none;
  const Result<ReductionSettings> s = reduction_settings(none, 0.71, Spelling::kCommandLine);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.kind(), ErrorKind::kNotFound);
  EXPECT_EQ(s.error().message, "no composition: give --composition FORMULA (e.g. CeO2)");
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
  EXPECT_EQ(s->bg_scale, 0.95);
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
  EXPECT_EQ(bare->bg_scale, 1.0);
  EXPECT_EQ(bare->monochromator, "none");
}

TEST(PdfOptions, WavelengthOfAnAnodeAndTheBraggAngleOfACrystal) {
  // Mo Kalpha1 0.70931715 A (Deslattes et al., Rev. Mod. Phys. 75 (2003) 35), over the pattern's own.
  const Result<ReductionSettings> mo =
      reduction_settings(texts({{"anode", "Mo"}, {"density", "5.68"}}), 1.54, Spelling::kKeyword);
  ASSERT_TRUE(mo.ok());
  EXPECT_NEAR(*mo->options.wavelength, 0.70931715, 2e-6);
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
  const OptionTexts file = texts({{"mode", "adhoc"},
                                  {"geometry", "capillary"},
                                  {"thickness", "0.05"},
                                  {"mu-r", "1.2"},
                                  {"mono-beam", "diffracted"}},
                                 {"geometry", "thickness", "mono-beam"});
  const Result<ReductionSettings> s = reduction_settings(file, 0.71, Spelling::kCommandLine);
  ASSERT_FALSE(s.ok());  // mu-r was asked for now
  EXPECT_EQ(s.error().message,
            "--mu-r belongs to --mode physical (give --density for it); ad hoc mode fits the corrections away");
  OptionTexts quiet = file;
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
      {{{"scan", "one"}}, "a.xrdml", false, {}, 0, ErrorKind::kParseError, "{scan} is not a whole number: one"},
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

}  // namespace
}  // namespace talvo::pdf
