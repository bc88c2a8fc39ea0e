// Numbers as people type them into options, fields and Python strings.
#include "talvo/text/number.hpp"

#include <gtest/gtest.h>

#include <string>

namespace talvo {
namespace {

TEST(ReadNumber, PlainDecimalsWithTheirExponentLetter) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"1", 1.0},          {"-0.25", -0.25},     {"+2", 2.0},         {".5", 0.5},
      {"-.5", -0.5},       {"1.", 1.0},          {"2.5e-3", 0.0025},  {"6.02214076E23", 6.02214076e23},
      {"1d3", 1000.0},     {"1.5D-2", 0.015},    {" 7 ", 7.0},        {"1e+2", 100.0},
      {"4.9e-324", 4.9e-324},  // the smallest double is still a number
  };
  for (const auto& c : cases) {
    const Result<double> r = read_number(c.text, "--x");
    ASSERT_TRUE(r.ok()) << c.text << ": " << r.error().message;
    EXPECT_EQ(*r, c.value) << c.text;
  }
}

TEST(ReadNumber, RefusesWhatIsNoNumberAndQuotesIt) {
  const struct {
    const char* text;
    ErrorKind kind;
    const char* message;
  } cases[] = {
      {"", ErrorKind::kParseError, "--x is not a number: \"\""},
      {"abc", ErrorKind::kParseError, "--x is not a number: \"abc\""},
      {"nan", ErrorKind::kParseError, "--x is not a number: \"nan\""},
      {"inf", ErrorKind::kParseError, "--x is not a number: \"inf\""},
      {"1e", ErrorKind::kParseError, "--x is not a number: \"1e\""},
      {"1.2.3", ErrorKind::kParseError, "--x is not a number: \"1.2.3\""},
      {"1,5", ErrorKind::kParseError, "--x is not a number: \"1,5\""},
      {"0x10", ErrorKind::kParseError, "--x is not a number: \"0x10\""},
      {"10um", ErrorKind::kParseError, "--x is not a number: \"10um\""},  // a bare number takes no unit
      {"1\x1b[2J", ErrorKind::kParseError, "--x is not a number: \"1\\x1b[2J\""},
      {"1e999", ErrorKind::kOutOfRange, "--x is beyond the range of double precision: \"1e999\""},
      {"-1e999", ErrorKind::kOutOfRange, "--x is beyond the range of double precision: \"-1e999\""},
  };
  for (const auto& c : cases) {
    const Result<double> r = read_number(c.text, "--x");
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.kind(), c.kind) << c.text;
    EXPECT_EQ(r.error().message, c.message);
  }
}

TEST(ReadNumber, AnExponentWithoutItsLetterIsRefusedSayingWhatWasRead) {
  // The Fortran form 0.5-6 = 0.5e-6 is the dialogue's; typed into an option
  // it is more often a range, so it is refused, with the range suggested
  // where the option takes one.
  const struct {
    const char* text;
    bool range;
    const char* message;
  } cases[] = {
      {"0.5-6", true,
       "--wavelength is not a number: \"0.5-6\" reads as 0.5 then -6; an exponent needs its letter (0.5e-6), and a "
       "range is FROM:TO:STEP (0.5:6:STEP)"},
      {"1-3", false, "--wavelength is not a number: \"1-3\" reads as 1 then -3; an exponent needs its letter (1e-3)"},
      {"8+17", true, "--wavelength is not a number: \"8+17\" reads as 8 then +17; an exponent needs its letter (8e17)"},
  };
  for (const auto& c : cases) {
    NumberOptions o;
    o.range = c.range;
    const Result<double> r = read_number(c.text, "--wavelength", o);
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.kind(), ErrorKind::kParseError);
    EXPECT_EQ(r.error().message, c.message);
  }
}

TEST(ReadNumber, UnitsComeBackInTheCanonicalUnit) {
  const struct {
    const char* text;
    Quantity quantity;
    double value;
  } cases[] = {
      // Lengths in cm: 1 cm = 10 mm = 1e4 um = 1e7 nm, 1 m = 100 cm.
      {"10um", Quantity::kLength, 0.001},
      {"10 um", Quantity::kLength, 0.001},
      {"10\xc2\xb5m", Quantity::kLength, 0.001},
      {"10\xce\xbcm", Quantity::kLength, 0.001},
      {"2.5mm", Quantity::kLength, 0.25},
      {"0.3", Quantity::kLength, 0.3},
      {"0.3cm", Quantity::kLength, 0.3},
      {"1.5m", Quantity::kLength, 150.0},
      {"300nm", Quantity::kLength, 3e-5},
      // Lengths given in mm without a unit: 1 cm = 10 mm.
      {"0.7", Quantity::kLengthMm, 0.7},
      {"700um", Quantity::kLengthMm, 0.7},
      {"0.07cm", Quantity::kLengthMm, 0.7},
      // Energies in keV.
      {"8048eV", Quantity::kEnergy, 8.048},
      {"17.4 keV", Quantity::kEnergy, 17.4},
      {"17.4", Quantity::kEnergy, 17.4},
      {"1e3eV", Quantity::kEnergy, 1.0},  // the exponent's e, then the unit's
      // Wavelengths in Angstrom.
      {"0.154nm", Quantity::kWavelength, 1.54},
      {"0.18nm", Quantity::kWavelength, 1.8},  // 0.18 * 10 in doubles is 1.7999999999999998
      {"1.54A", Quantity::kWavelength, 1.54},
      {"1.54 \xc3\x85", Quantity::kWavelength, 1.54},
      // Densities in g/cm3: 1000 kg/m3 = 1 g/cm3.
      {"997kg/m3", Quantity::kDensity, 0.997},
      {"2.2 g/cm3", Quantity::kDensity, 2.2},
  };
  for (const auto& c : cases) {
    NumberOptions o;
    o.quantity = c.quantity;
    const Result<double> r = read_number(c.text, "--v", o);
    ASSERT_TRUE(r.ok()) << c.text << ": " << r.error().message;
    // The unit's power of ten joins the decimal's exponent: one rounding, the double nearest the value.
    EXPECT_EQ(*r, c.value) << c.text;
  }
  EXPECT_EQ(canonical_unit(Quantity::kLength), "cm");
  EXPECT_EQ(canonical_unit(Quantity::kEnergy), "keV");
  EXPECT_EQ(canonical_unit(Quantity::kWavelength), "A");
  EXPECT_EQ(canonical_unit(Quantity::kDensity), "g/cm3");
}

TEST(ReadNumber, AnUnknownUnitIsNamedWithTheUnitsThatAreTaken) {
  const struct {
    const char* text;
    Quantity quantity;
    ErrorKind kind;
    const char* message;
  } cases[] = {
      {"10 furlongs", Quantity::kLength, ErrorKind::kParseError,
       "--t: unknown unit \"furlongs\" in \"10 furlongs\": give nm, um, mm, cm or m (cm without one)"},
      {"10keV", Quantity::kLength, ErrorKind::kParseError,
       "--t: unknown unit \"keV\" in \"10keV\": give nm, um, mm, cm or m (cm without one)"},
      {"8 kev", Quantity::kEnergy, ErrorKind::kParseError,
       "--t: unknown unit \"kev\" in \"8 kev\": give eV or keV (keV without one)"},
      {"1 g/cc", Quantity::kDensity, ErrorKind::kParseError,
       "--t: unknown unit \"g/cc\" in \"1 g/cc\": give g/cm3 or kg/m3 (g/cm3 without one)"},
      {"um", Quantity::kLength, ErrorKind::kParseError, "--t is not a number: \"um\""},
      {"1e308m", Quantity::kLength, ErrorKind::kOutOfRange,
       "--t is beyond the range of double precision in cm: \"1e308m\""},
      {"1e-320nm", Quantity::kLength, ErrorKind::kOutOfRange,
       "--t is beyond the range of double precision in cm: \"1e-320nm\""},
  };
  for (const auto& c : cases) {
    NumberOptions o;
    o.quantity = c.quantity;
    const Result<double> r = read_number(c.text, "--t", o);
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.kind(), c.kind) << c.text;
    EXPECT_EQ(r.error().message, c.message);
  }
}

TEST(ReadWholeNumber, DigitsWithinTheRangeOfInt) {
  EXPECT_EQ(*read_whole_number("42", "--scan"), 42);
  EXPECT_EQ(*read_whole_number("+3", "--scan"), 3);
  EXPECT_EQ(*read_whole_number("-7", "--scan"), -7);
  const struct {
    const char* text;
    ErrorKind kind;
    const char* message;
  } cases[] = {
      {"99999999999", ErrorKind::kOutOfRange,
       "--scan is out of range: \"99999999999\" (whole numbers from -2147483648 to 2147483647)"},
      {"2.5", ErrorKind::kParseError, "--scan is not a whole number: \"2.5\""},
      {"", ErrorKind::kParseError, "--scan is not a whole number: \"\""},
      {"+-1", ErrorKind::kParseError, "--scan is not a whole number: \"+-1\""},
      {"1e3", ErrorKind::kParseError, "--scan is not a whole number: \"1e3\""},
  };
  for (const auto& c : cases) {
    const Result<int> r = read_whole_number(c.text, "--scan");
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.kind(), c.kind) << c.text;
    EXPECT_EQ(r.error().message, c.message);
  }
}

}  // namespace
}  // namespace talvo
