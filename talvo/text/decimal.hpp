// Decimal numbers read from text, without a locale, in the two forms files
// write them: plain (XML, CSV, C) and Fortran list-directed.
#pragma once

#include <charconv>

namespace talvo {

enum class DecimalForm {
  // [-]digits[.digits][(e|E)[+|-]digits], or [-].digits...: no '+' before
  // the number, no "inf" or "nan".
  kPlain,
  // Fortran list-directed input: also a leading '+', the exponent letters
  // d, D, q and Q, and an exponent with its sign but no letter (1.0+3).
  kFortran,
};

// kPlain: the number that starts at `first`, read as std::from_chars reads
// it (ptr past its last character; errc::invalid_argument and ptr = first
// when none starts there; errc::result_out_of_range beyond the type's
// range).
// kFortran: [first, last) must be one number whose value is finite (ptr =
// last); otherwise errc::invalid_argument and ptr = first. Rounded once to
// the type, as a single- or double-precision read rounds it.
std::from_chars_result read_decimal(const char* first, const char* last, double& value,
                                    DecimalForm form = DecimalForm::kPlain);
std::from_chars_result read_decimal(const char* first, const char* last, float& value,
                                    DecimalForm form = DecimalForm::kPlain);

}  // namespace talvo
