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
// tie): for a double the JavaScript engine finds the digits, which a link with
// web/compat/shortest.js provides. With a precision it is printf's %.*f, %.*e
// or %.*g, which are exact.
#pragma once

#include <bit>
#include <charconv>
#include <memory>

#if defined(__EMSCRIPTEN__) && defined(_LIBCPP_VERSION) && _LIBCPP_VERSION < 200000
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
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

// The digits of the shortest text that reads back to value (a positive finite
// float) as the integer m, and its power of ten s: the fewest significant
// digits p for which a p-digit decimal m 10^s reads back, and of those the
// nearest. The correctly rounded p-digit decimal is the nearest; it reads back
// for every p from the least one on, so that p is found by halving. Where the
// value is a power of two the interval that reads back is wider above it than
// below, and the decimal above may read back with fewer digits still.
inline void shortest_digits(float value, std::uint64_t& m, int& s) {
  const auto rounded = [&](int p, std::uint64_t& n, int& e) {
    char sci[48];
    std::snprintf(sci, sizeof sci, "%.*e", p - 1, static_cast<double>(value));
    n = 0;
    const char* q = sci;
    for (; *q != 'e'; ++q)
      if (*q != '.') n = n * 10 + static_cast<std::uint64_t>(*q - '0');
    e = std::atoi(q + 1) - (p - 1);
  };
  int lo = 1, hi = 9;
  while (lo < hi) {
    const int p = (lo + hi) / 2;
    rounded(p, m, s);
    if (reads_back(m, s, value))
      hi = p;
    else
      lo = p + 1;
  }
  rounded(lo, m, s);
  int exponent = 0;
  if (std::frexp(value, &exponent) == 0.5f)
    for (int p = lo - 1; p >= 1; --p) {
      std::uint64_t n = 0;
      int e = 0;
      rounded(p, n, e);
      if (!reads_back(n + 1, e, value)) break;
      m = n + 1, s = e;
    }
}

}  // namespace talvo_web_compat

// Defined in web/compat/shortest.js.
extern "C" int talvo_js_shortest(double value, char* out, int size);

namespace talvo_web_compat {

// The same for a double, from the JavaScript engine, whose number-to-text
// conversion gives exactly these digits (ECMA-262, Number::toString).
inline void shortest_digits(double value, std::uint64_t& m, int& s) {
  char text[40];
  const int n = std::min(talvo_js_shortest(value, text, sizeof text), static_cast<int>(sizeof text) - 1);
  // "123.45", "1.2345e-7" or "123450000000000000000": the digits, where the
  // point falls among them, and the power of ten after "e".
  std::string digits;
  int point = -1, e = 0;
  for (int i = 0; i < n; ++i) {
    if (text[i] == 'e') {
      e = std::atoi(text + i + 1);
      break;
    }
    if (text[i] == '.')
      point = static_cast<int>(digits.size());
    else
      digits += text[i];
  }
  if (point < 0) point = static_cast<int>(digits.size());
  s = e + point - static_cast<int>(digits.size());
  while (!digits.empty() && digits.back() == '0') digits.pop_back(), ++s;
  m = 0;
  for (char c : digits) m = m * 10 + static_cast<std::uint64_t>(c - '0');
}

template <class T>
std::to_chars_result to_chars_shortest(char* first, char* last, T value) {
  const std::string sign = std::signbit(value) ? "-" : "";
  if (std::isnan(value)) return put(first, last, sign + "nan");
  if (std::isinf(value)) return put(first, last, sign + "inf");
  if (value == 0) return put(first, last, sign + "0");
  const T a = std::fabs(value);
  std::uint64_t m = 0;
  int s = 0;
  shortest_digits(a, m, s);
  while (m % 10 == 0) m /= 10, ++s;
  char digits[24];
  const int nd = std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(m));
  const int exponent = s + nd - 1;  // of the first digit
  const int exponent_digits = std::abs(exponent) >= 100 ? 3 : 2;
  const int sci_size = nd + (nd > 1) + 2 + exponent_digits;
  const int fixed_size = exponent >= nd - 1 ? exponent + 1 : exponent >= 0 ? nd + 1 : nd + 1 - exponent;
  std::string out = std::signbit(value) ? "-" : "";
  if (sci_size < fixed_size) {
    out += digits[0];
    if (nd > 1) out.append(".").append(digits + 1, static_cast<std::size_t>(nd - 1));
    out += exponent < 0 ? "e-" : "e+";
    const int e = std::abs(exponent);
    if (e >= 100) out += static_cast<char>('0' + e / 100);
    out += static_cast<char>('0' + e / 10 % 10);
    out += static_cast<char>('0' + e % 10);
  } else if (exponent >= nd - 1) {
    // A whole number. Below 2^53 (2^24 for a float) the value is the digits padded with zeros;
    // above, of the texts of this length that read back, the nearest to the
    // value is the value itself, written out whole.
    if (a < std::ldexp(T(1), std::numeric_limits<T>::digits)) {
      out.append(digits, static_cast<std::size_t>(nd)).append(static_cast<std::size_t>(exponent - (nd - 1)), '0');
    } else {
      char whole[320];
      std::snprintf(whole, sizeof whole, "%.0f", static_cast<double>(a));
      out += whole;
    }
  } else if (exponent >= 0) {
    out.append(digits, static_cast<std::size_t>(exponent + 1))
        .append(".")
        .append(digits + exponent + 1, static_cast<std::size_t>(nd - exponent - 1));
  } else {
    out.append("0.").append(static_cast<std::size_t>(-exponent - 1), '0').append(digits, static_cast<std::size_t>(nd));
  }
  return put(first, last, out);
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
