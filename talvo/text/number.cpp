#include "talvo/text/number.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>
#include <string>

#include "talvo/text/quote.hpp"
#include "talvo/text/words.hpp"

namespace talvo {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A unit and the power of ten that takes a value in it to the canonical
// unit. The power goes into the decimal's exponent before the one rounding to
// a double, so that 0.18nm is the double nearest 1.8 A (0.18 * 10 is not).
struct Unit {
  std::string_view name;
  int power;
};

constexpr Unit kLengthUnits[] = {{"cm", 0},  {"nm", -7}, {"um", -4},
                                 {"\xc2\xb5m", -4},  // µm, MICRO SIGN
                                 {"\xce\xbcm", -4},  // μm, GREEK SMALL LETTER MU
                                 {"mm", -1}, {"m", 2}};
constexpr Unit kEnergyUnits[] = {{"keV", 0}, {"eV", -3}};
constexpr Unit kWavelengthUnits[] = {{"A", 0},
                                     {"\xc3\x85", 0},      // Å, LATIN CAPITAL LETTER A WITH RING ABOVE
                                     {"\xe2\x84\xab", 0},  // Å, ANGSTROM SIGN
                                     {"nm", 1}};
constexpr Unit kDensityUnits[] = {{"g/cm3", 0}, {"kg/m3", -3}};

std::span<const Unit> units_of(Quantity q) {
  switch (q) {
    case Quantity::kLength:
    case Quantity::kLengthMm: return kLengthUnits;
    case Quantity::kEnergy: return kEnergyUnits;
    case Quantity::kWavelength: return kWavelengthUnits;
    case Quantity::kDensity: return kDensityUnits;
    case Quantity::kNumber: break;
  }
  return {};
}

std::string subject(std::string_view what) { return what.empty() ? std::string("the value") : std::string(what); }

Error not_a_number(std::string_view text, std::string_view what) {
  return make_error(ErrorKind::kParseError, subject(what) + " is not a number: " + quote_for_message(text));
}

}  // namespace

std::string_view canonical_unit(Quantity quantity) {
  if (quantity == Quantity::kLengthMm) return "mm";
  const std::span<const Unit> units = units_of(quantity);
  return units.empty() ? std::string_view() : units.front().name;
}

namespace {

// The power of ten from the unit tables' unit (the first of each) to the quantity's own: cm to mm is 10^1.
int canonical_shift(Quantity quantity) { return quantity == Quantity::kLengthMm ? 1 : 0; }

}  // namespace

std::string_view unit_choices(Quantity quantity) {
  switch (quantity) {
    case Quantity::kLength:
    case Quantity::kLengthMm: return "nm, um, mm, cm or m";
    case Quantity::kEnergy: return "eV or keV";
    case Quantity::kWavelength: return "A or nm";
    case Quantity::kDensity: return "g/cm3 or kg/m3";
    case Quantity::kNumber: break;
  }
  return "";
}

Result<double> read_number(std::string_view text, std::string_view what, const NumberOptions& options) {
  const std::string_view t = trim(text, " \t");
  std::size_t i = 0;
  std::string digits;  // the mantissa as from_chars reads it: no '+'
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    if (t[i] == '-') digits += '-';
    ++i;
  }
  std::size_t mantissa_digits = 0;
  while (i < t.size() && is_digit(t[i])) digits += t[i++], ++mantissa_digits;
  if (i < t.size() && t[i] == '.') {
    digits += t[i++];
    while (i < t.size() && is_digit(t[i])) digits += t[i++], ++mantissa_digits;
  }
  if (mantissa_digits == 0) return not_a_number(text, what);
  const std::string_view mantissa = t.substr(0, i);
  bool exponent = false;
  long long power = 0;  // of ten; kept within a million, far past any double, so that it cannot overflow
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E' || t[i] == 'd' || t[i] == 'D')) {
    std::size_t j = i + 1;
    const std::size_t sign = j < t.size() && (t[j] == '+' || t[j] == '-') ? 1 : 0;
    if (j + sign < t.size() && is_digit(t[j + sign])) {
      const bool negative = sign && t[j] == '-';
      j += sign;
      while (j < t.size() && is_digit(t[j])) power = std::min(power * 10 + (t[j++] - '0'), 1'000'000LL);
      if (negative) power = -power;
      i = j;
      exponent = true;
    }
  }
  const std::string_view rest = trim(t.substr(i), " \t");

  // A sign and digits straight after the number: the Fortran exponent, or a range typed with a dash.
  if (!exponent && rest.size() >= 2 && (rest[0] == '-' || rest[0] == '+') &&
      rest.find_first_not_of("0123456789", 1) == std::string_view::npos) {
    const std::string first(mantissa), second(rest.substr(1));
    std::string message = subject(what) + " is not a number: " + quote_for_message(text) + " reads as " + first +
                          " then " + std::string(rest) + "; an exponent needs its letter (" + first + "e" +
                          std::string(rest.substr(rest[0] == '-' ? 0 : 1)) + ")";
    if (options.range && rest[0] == '-')
      message += ", and a range is FROM:TO:STEP (" + first + ":" + second + ":STEP)";
    return make_error(ErrorKind::kParseError, std::move(message));
  }

  const std::span<const Unit> units = units_of(options.quantity);
  const Unit* unit = nullptr;  // none written: the quantity's own
  if (!rest.empty()) {
    for (const Unit& u : units)
      if (u.name == rest) unit = &u;
    if (unit == nullptr) {
      // A word after the number is a unit the quantity does not take; anything else is no number.
      const auto c = static_cast<unsigned char>(rest[0]);
      const bool word = ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c >= 0x80;
      if (units.empty() || !word) return not_a_number(text, what);
      return make_error(ErrorKind::kParseError, subject(what) + ": unknown unit " + quote_for_message(rest) +
                                                    " in " + quote_for_message(text) + ": give " +
                                                    std::string(unit_choices(options.quantity)) + " (" +
                                                    std::string(canonical_unit(options.quantity)) + " without one)");
    }
  }

  // The decimal with its exponent, and with the unit's power too: one rounding each.
  const auto read = [&](long long p, double& v) {
    const std::string decimal = digits + "e" + std::to_string(p);
    const auto [end, ec] = std::from_chars(decimal.data(), decimal.data() + decimal.size(), v);
    return end == decimal.data() + decimal.size() && ec == std::errc() && std::isfinite(v) &&
           (v != 0 || digits.find_first_of("123456789") == std::string::npos);
  };
  double value = 0;
  if (!read(power, value))
    return make_error(ErrorKind::kOutOfRange,
                      subject(what) + " is beyond the range of double precision: " + quote_for_message(text));
  // Past the doubles once in the canonical unit (1e308 m in cm).
  const int shift = unit == nullptr ? 0 : unit->power + canonical_shift(options.quantity);
  if (shift != 0 && !read(power + shift, value))
    return make_error(ErrorKind::kOutOfRange, subject(what) + " is beyond the range of double precision in " +
                                                  std::string(canonical_unit(options.quantity)) + ": " +
                                                  quote_for_message(text));
  return value;
}

Result<int> read_whole_number(std::string_view text, std::string_view what) {
  const std::string_view t = trim(text, " \t");
  std::string_view digits = t;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
    return make_error(ErrorKind::kParseError, subject(what) + " is not a whole number: " + quote_for_message(text));
  int value = 0;
  const char* first = t.data() + (t[0] == '+' ? 1 : 0);
  const auto [end, ec] = std::from_chars(first, t.data() + t.size(), value);
  if (ec == std::errc::result_out_of_range)
    return make_error(ErrorKind::kOutOfRange,
                      subject(what) + " is out of range: " + quote_for_message(text) + " (whole numbers from " +
                          std::to_string(std::numeric_limits<int>::min()) + " to " +
                          std::to_string(std::numeric_limits<int>::max()) + ")");
  if (ec != std::errc() || end != t.data() + t.size())
    return make_error(ErrorKind::kParseError, subject(what) + " is not a whole number: " + quote_for_message(text));
  return value;
}

}  // namespace talvo
