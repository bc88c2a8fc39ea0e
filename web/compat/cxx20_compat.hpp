// What the libc++ of Debian's emscripten lacks of C++20 and the library uses:
// std::from_chars and std::to_chars for float and double (it declares only the
// integer overloads), std::bit_cast and std::make_unique_for_overwrite. The wasm build includes this header
// before every source, so the library compiles there unchanged and prints the
// same text as the native build.
//
// from_chars follows the standard's rules: no leading blank or "+", "inf" and
// "nan" in any case, an exponent only when digits follow it, the value
// untouched and result_out_of_range when the number overflows or underflows to
// zero; the digits are converted by strtod (strtof), which rounds correctly.
// to_chars without a format gives the shortest text that reads back to the
// same value (the fewest significant digits, and of those the nearest to the
// value, in fixed or scientific notation, whichever is shorter, fixed on a
// tie); with a precision it is printf's %.*f, %.*e or %.*g, which are exact.
#pragma once

#include <bit>
#include <charconv>
#include <memory>

#if defined(__EMSCRIPTEN__) && defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 200000
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <type_traits>

namespace talvo_web_compat {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline bool starts_with_word(const char* p, const char* last, const char* word) {
  for (; *word; ++word, ++p) {
    if (p == last) return false;
    const char c = *p >= 'A' && *p <= 'Z' ? static_cast<char>(*p - 'A' + 'a') : *p;
    if (c != *word) return false;
  }
  return true;
}

// The end of the longest number at first, or first when there is none.
inline const char* number_end(const char* first, const char* last, std::chars_format fmt) {
  const char* p = first;
  if (p != last && *p == '-') ++p;
  if (starts_with_word(p, last, "infinity")) return p + 8;
  if (starts_with_word(p, last, "inf")) return p + 3;
  if (starts_with_word(p, last, "nan")) {
    p += 3;
    // "nan(chars)" with letters, digits and "_" only.
    if (p != last && *p == '(') {
      const char* q = p + 1;
      while (q != last && (is_digit(*q) || (*q >= 'a' && *q <= 'z') || (*q >= 'A' && *q <= 'Z') || *q == '_')) ++q;
      if (q != last && *q == ')') return q + 1;
    }
    return p;
  }
  const char* digits = p;
  while (p != last && is_digit(*p)) ++p;
  bool any = p != digits;
  if (p != last && *p == '.') {
    const char* fraction = ++p;
    while (p != last && is_digit(*p)) ++p;
    any = any || p != fraction;
  }
  if (!any) return first;
  if (fmt != std::chars_format::fixed && p != last && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    if (q != last && (*q == '+' || *q == '-')) ++q;
    const char* exponent = q;
    while (q != last && is_digit(*q)) ++q;
    if (q != exponent) return q;
  }
  if (fmt == std::chars_format::scientific) return first;
  return p;
}

template <class T>
std::from_chars_result from_chars_real(const char* first, const char* last, T& value, std::chars_format fmt) {
  if (fmt == std::chars_format::hex) return {first, std::errc::invalid_argument};
  const char* end = number_end(first, last, fmt);
  if (end == first) return {first, std::errc::invalid_argument};
  const std::string text(first, end);
  const int saved = errno;
  errno = 0;
  char* stop = nullptr;
  // strtof for float: going through double would round twice.
  T v;
  if constexpr (sizeof(T) == sizeof(float))
    v = std::strtof(text.c_str(), &stop);
  else
    v = std::strtod(text.c_str(), &stop);
  const bool range = errno == ERANGE;
  errno = saved;
  if (range && (std::isinf(v) || v == 0)) return {end, std::errc::result_out_of_range};
  // The C library drops the sign of "-nan".
  value = std::isnan(v) && *first == '-' ? -std::fabs(v) : v;
  return {end, std::errc()};
}

template <class T>
bool reads_back(std::uint64_t m, int s, T value) {
  char text[48];
  std::snprintf(text, sizeof text, "%llue%d", static_cast<unsigned long long>(m), s);
  if constexpr (sizeof(T) == sizeof(float))
    return std::strtof(text, nullptr) == value;
  else
    return std::strtod(text, nullptr) == value;
}

inline std::to_chars_result put(char* first, char* last, const std::string& text) {
  if (static_cast<std::size_t>(last - first) < text.size()) return {last, std::errc::value_too_large};
  std::memcpy(first, text.data(), text.size());
  return {first + text.size(), std::errc()};
}

template <class T>
std::to_chars_result to_chars_shortest(char* first, char* last, T value) {
  std::string sign = std::signbit(value) ? "-" : "";
  if (std::isnan(value)) return put(first, last, sign + "nan");
  if (std::isinf(value)) return put(first, last, sign + "inf");
  if (value == 0) return put(first, last, sign + "0");
  const T a = std::fabs(value);
  // The fewest digits p with a p-digit decimal M 10^s that reads back: the
  // correctly rounded one, or next to it where a power of two makes the
  // interval that reads back lopsided.
  constexpr int kMaxDigits = sizeof(T) == sizeof(float) ? 9 : 17;
  std::uint64_t m = 0;
  int s = 0;
  for (int p = 1; p <= kMaxDigits; ++p) {
    char sci[48];
    std::snprintf(sci, sizeof sci, "%.*e", p - 1, static_cast<double>(a));
    std::uint64_t n = 0;
    const char* q = sci;
    for (; *q != 'e'; ++q)
      if (*q != '.') n = n * 10 + static_cast<std::uint64_t>(*q - '0');
    const int e = std::atoi(q + 1) - (p - 1);
    if (reads_back(n, e, a)) {
      m = n, s = e;
    } else if (reads_back(n + 1, e, a)) {
      m = n + 1, s = e;
    } else if (reads_back(n - 1, e, a)) {
      m = n - 1, s = e;
    } else {
      continue;
    }
    break;
  }
  while (m % 10 == 0) m /= 10, ++s;
  const std::string digits = std::to_string(m);
  const int nd = static_cast<int>(digits.size());
  const int exponent = s + nd - 1;  // of the first digit
  std::string sci = digits.substr(0, 1);
  if (nd > 1) sci += "." + digits.substr(1);
  char tail[8];
  std::snprintf(tail, sizeof tail, "e%c%02d", exponent < 0 ? '-' : '+', exponent < 0 ? -exponent : exponent);
  sci += tail;
  std::string fixed;
  if (exponent >= nd - 1) {
    // A whole number: of the texts of this length that read back, the nearest
    // to the value is the value rounded to a whole number, not the digits
    // padded with zeros.
    char whole[320];
    std::snprintf(whole, sizeof whole, "%.0f", static_cast<double>(a));
    fixed = whole;
  } else if (exponent >= 0) {
    fixed = digits.substr(0, static_cast<std::size_t>(exponent + 1)) + "." +
            digits.substr(static_cast<std::size_t>(exponent + 1));
  } else {
    fixed = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  }
  return put(first, last, sign + (sci.size() < fixed.size() ? sci : fixed));
}

inline std::to_chars_result to_chars_precision(char* first, char* last, double value, std::chars_format fmt,
                                               int precision) {
  const char* spec = fmt == std::chars_format::fixed ? "%.*f" : fmt == std::chars_format::scientific ? "%.*e" : "%.*g";
  const int n = std::snprintf(nullptr, 0, spec, precision, value);
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(text.data(), text.size(), spec, precision, value);
  text.pop_back();
  return put(first, last, text);
}

}  // namespace talvo_web_compat

namespace std {
inline to_chars_result to_chars(char* first, char* last, double value) {
  return talvo_web_compat::to_chars_shortest(first, last, value);
}
inline to_chars_result to_chars(char* first, char* last, float value) {
  return talvo_web_compat::to_chars_shortest(first, last, value);
}
inline to_chars_result to_chars(char* first, char* last, double value, chars_format fmt, int precision) {
  return talvo_web_compat::to_chars_precision(first, last, value, fmt, precision);
}
inline to_chars_result to_chars(char* first, char* last, float value, chars_format fmt, int precision) {
  return talvo_web_compat::to_chars_precision(first, last, value, fmt, precision);
}
inline from_chars_result from_chars(const char* first, const char* last, double& value,
                                    chars_format fmt = chars_format::general) {
  return talvo_web_compat::from_chars_real(first, last, value, fmt);
}
inline from_chars_result from_chars(const char* first, const char* last, float& value,
                                    chars_format fmt = chars_format::general) {
  return talvo_web_compat::from_chars_real(first, last, value, fmt);
}
}  // namespace std

#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
requires(sizeof(To) == sizeof(From) && is_trivially_copyable_v<To> && is_trivially_copyable_v<From>) constexpr To
    bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
#if !defined(__cpp_lib_smart_ptr_for_overwrite)
namespace std {
// Arrays of unknown bound only, the one form the library uses.
template <class T>
requires is_unbounded_array_v<T> unique_ptr<T> make_unique_for_overwrite(size_t n) {
  return unique_ptr<T>(new remove_extent_t<T>[n]);
}
}  // namespace std
#endif
#endif
