// Numbers as a person types them into the modern interfaces: talvo-tools
// options and grids, batch fields, --config values, the page's fields and
// Python's text arguments. An exponent needs its letter ("0.5e-6", also
// "0.5d-6"): "0.5-6" is refused, where the calculator's dialogue reads it
// the Fortran way as 0.5e-6 (free_format.hpp). A quantity may carry its unit
// ("10um", "8.05 keV") and comes back in the unit its quantity is given in
// without one.
#pragma once

#include <string_view>

#include "talvo/result.hpp"

namespace talvo {

// What a number stands for, and so which units may follow it.
enum class Quantity {
  kNumber,      // a bare number, no unit
  kLength,      // nm, um (or µm), mm, cm (without a unit), m
  kLengthMm,    // the same units, mm without one (a capillary's diameter, a beam's width)
  kEnergy,      // eV, keV (without a unit)
  kWavelength,  // A (or Å) (without a unit), nm
  kDensity,     // g/cm3 (without a unit), kg/m3
};

// The unit of a quantity without one, which read_number gives its value in:
// "cm", "keV", "A", "g/cm3"; "" for a bare number.
std::string_view canonical_unit(Quantity quantity);

// The units a quantity may carry, as a message lists them: "nm, um, mm, cm
// or m".
std::string_view unit_choices(Quantity quantity);

struct NumberOptions {
  Quantity quantity = Quantity::kNumber;
  // The value may also be a range FROM:TO:STEP: "0.5-6" is then answered
  // with the range it may have meant (0.5:6:STEP).
  bool range = false;
};

// One number, the whole of `text` (blanks around it and between the number
// and its unit are allowed): [+|-]digits[.digits][(e|E|d|D)[+|-]digits], or
// with no digits before the point, then the unit, if any. The value is in
// canonical_unit(quantity). Errors name the value `what` ("--density"), quote
// the text, and say what was read: kParseError for text that is no number,
// an unknown unit or an exponent without its letter; kOutOfRange for a
// number beyond double precision (1e999, or 1e308 m in cm).
Result<double> read_number(std::string_view text, std::string_view what, const NumberOptions& options = {});

// A whole number: [+|-]digits. kParseError for anything else, kOutOfRange
// past the range of int.
Result<int> read_whole_number(std::string_view text, std::string_view what);

}  // namespace talvo
