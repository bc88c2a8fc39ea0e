// Field formatting in the layouts the program's screens and files use:
// Iw, Fw.d, Ew.d, Aw and nX, plus the general form of free-form lines.
//
// Every function returns exactly w characters when the value fits. A value that
// does not fit is written in the width it needs instead of a field of
// asterisks, so that no value is ever hidden from the user. Infinite values
// print as "Infinity" (or "Inf" in a field narrower than 8) and not-a-number
// as "NaN", right-justified, as Fortran run-times do.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace talvo {

// Iw: integer right-justified in w columns.
std::string fmt_i(long long value, int w);

// The columns the dialogue gives an integer (its LEN_INT): computed through
// single precision, so magnitudes that round up to a power of ten (99999999)
// get one column more.
int int_columns(long long i);

// Fw.d: fixed point with d decimals, right-justified in w columns. A leading
// zero before the point is dropped when that is what makes the value fit.
std::string fmt_f(double value, int w, int d);

// Ew.d: sign (nothing for positive), "0.", d digits, "E", exponent sign and
// two digits; 1.5 in E14.7 is " 0.1500000E+01". Exponents beyond two digits
// drop the "E" ("0.1000000+100").
std::string fmt_e(double value, int w, int d);

// The same fields appended to `out`, with no string of their own: what a
// report of many thousand fields is written with.
void append_i(std::string& out, long long value, int w);
void append_f(std::string& out, double value, int w, int d);
void append_e(std::string& out, double value, int w, int d);

// Ew.d written at `out`, which has room for e_room(w, d) characters; the end
// of what was written. For lines built in a buffer of their own.
std::size_t e_room(int w, int d);
char* put_e(char* out, double value, int w, int d);
// E14.7, the field of the report's many values: put_e(out, value, 14, 7).
char* put_e14_7(char* out, double value);

// Aw: a longer text is cut to its first w characters, a shorter one is
// right-justified with leading blanks.
std::string fmt_a(std::string_view text, int w);

// nX: n blanks.
std::string fmt_x(int n);

// General form of a number on a free-form line: single-precision values with 8
// significant digits, double-precision values with 15.
std::string free_real(float value);
std::string free_real(double value);
std::string free_int(long long value);

// The shortest text that reads back to the same value: 24.40697 for a float
// that prints as 24.406969070434570 in double, 0.1 for the double 0.1.
// Infinite values print as "inf" or "-inf", not-a-number as "nan".
std::string shortest(double value);
std::string shortest(float value);
// The same, appended to `out` without a string of its own.
void append_shortest(std::string& out, double value);
void append_shortest(std::string& out, float value);

// The significant digits a computed value is shown with in words (notes) and
// in plain output unless asked for more: 1.0535, not 1.0534999999999999.
inline constexpr int kSignificantDigits = 6;
// `value` with `digits` significant digits, the shortest of fixed and
// exponent form (printf's %g without its trailing zeros).
std::string significant(double value, int digits = kSignificantDigits);

}  // namespace talvo
