#include "talvo/text/decimal.hpp"

#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>
#include <type_traits>

namespace talvo {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

template <typename T>
std::from_chars_result read_plain(const char* first, const char* last, T& value) {
  const char* p = first;
  if (p != last && *p == '-') ++p;
  // from_chars would also take "inf" and "nan": a number starts with a digit or a point and a digit.
  if (p == last || !(is_digit(*p) || (*p == '.' && p + 1 != last && is_digit(p[1]))))
    return {first, std::errc::invalid_argument};
  return std::from_chars(first, last, value);
}

// A Fortran real item as std::strtod reads it, or "" when it is not one.
std::string normalise_fortran(std::string_view t) {
  std::size_t i = 0;
  std::string out;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) out += t[i++];
  std::size_t mantissa_digits = 0;
  while (i < t.size() && is_digit(t[i])) out += t[i++], ++mantissa_digits;
  if (i < t.size() && t[i] == '.') {
    out += t[i++];
    while (i < t.size() && is_digit(t[i])) out += t[i++], ++mantissa_digits;
  }
  if (mantissa_digits == 0) return {};
  if (i < t.size()) {
    const char c = t[i];
    if (c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q')
      ++i;
    else if (c != '+' && c != '-')
      return {};
    out += 'e';
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) out += t[i++];
    std::size_t exp_digits = 0;
    while (i < t.size() && is_digit(t[i])) out += t[i++], ++exp_digits;
    if (exp_digits == 0 || i != t.size()) return {};
  }
  return out;
}

// Most items are plain decimals that from_chars reads at once; the Fortran
// forms it does not take (D exponents, "1.0+3", a leading "+") go the long way.
template <typename T>
bool plain_item(std::string_view item, T& out) {
  if (item.empty() || item[0] == '+') return false;
  // Whole numbers of up to 15 digits, as diffraction counts are, are exact in a double.
  if (item.size() <= 15) {
    long long whole = 0;
    std::size_t i = item[0] == '-' ? 1 : 0;
    const std::size_t first = i;
    while (i < item.size() && is_digit(item[i])) whole = whole * 10 + (item[i++] - '0');
    if (i == item.size() && i > first) {
      // -0 keeps its sign, as the long way keeps it.
      out = item[0] == '-' ? -static_cast<T>(whole) : static_cast<T>(whole);
      return true;
    }
    // And so are decimals of up to 14 digits as a whole number and its power
    // of ten: one division of two exact doubles rounds once, as a full read does.
    if constexpr (std::is_same_v<T, double>) {
      if (i < item.size() && item[i] == '.') {
        const std::size_t point = i++;
        while (i < item.size() && is_digit(item[i])) whole = whole * 10 + (item[i++] - '0');
        if (i == item.size() && i > first + 1) {
          static constexpr double kTens[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14};
          const double v = static_cast<double>(whole) / kTens[i - point - 1];
          out = item[0] == '-' ? -v : v;
          return true;
        }
      }
    }
  }
  for (char c : item)
    if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+')) return false;
  T v{};
  auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), v);
  if (ec != std::errc() || end != item.data() + item.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

template <typename T>
std::from_chars_result read_fortran(const char* first, const char* last, T& value) {
  const std::string_view item(first, static_cast<std::size_t>(last - first));
  if (plain_item(item, value)) return {last, std::errc()};
  const std::string s = normalise_fortran(item);
  if (s.empty()) return {first, std::errc::invalid_argument};
  // strtof rounds the decimal text once, as a single-precision read does.
  T v{};
  if constexpr (std::is_same_v<T, float>)
    v = std::strtof(s.c_str(), nullptr);
  else
    v = std::strtod(s.c_str(), nullptr);
  if (!std::isfinite(v)) return {first, std::errc::invalid_argument};
  value = v;
  return {last, std::errc()};
}

template <typename T>
std::from_chars_result read(const char* first, const char* last, T& value, DecimalForm form) {
  return form == DecimalForm::kPlain ? read_plain(first, last, value) : read_fortran(first, last, value);
}

}  // namespace

std::from_chars_result read_decimal(const char* first, const char* last, double& value, DecimalForm form) {
  return read(first, last, value, form);
}

std::from_chars_result read_decimal(const char* first, const char* last, float& value, DecimalForm form) {
  return read(first, last, value, form);
}

}  // namespace talvo
