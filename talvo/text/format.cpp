#include "talvo/text/format.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace talvo {
namespace {

std::string right_justify(std::string s, int w) {
  if (w > 0 && static_cast<int>(s.size()) < w) s.insert(0, static_cast<std::size_t>(w) - s.size(), ' ');
  return s;
}

// Infinity and NaN in the way Fortran run-times write them, or "" for finite values.
std::string non_finite(double value, int w) {
  if (std::isnan(value)) return right_justify("NaN", w);
  if (std::isinf(value)) {
    std::string word = w >= 8 || w <= 0 ? "Infinity" : "Inf";
    if (value < 0) word = "-" + word;
    return right_justify(word, w);
  }
  return {};
}

}  // namespace

std::string fmt_i(long long value, int w) { return right_justify(std::to_string(value), w); }

std::string fmt_f(double value, int w, int d) {
  if (!std::isfinite(value)) return non_finite(value, w);
  char buf[512];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, d);
  std::string s(buf, res.ptr);
  if (w > 0 && static_cast<int>(s.size()) > w) {
    if (s.rfind("0.", 0) == 0)
      s.erase(0, 1);
    else if (s.rfind("-0.", 0) == 0)
      s.erase(1, 1);
  }
  return right_justify(s, w);
}

std::string fmt_e(double value, int w, int d) {
  if (!std::isfinite(value)) return non_finite(value, w);
  if (d < 1) d = 1;
  // Scientific form D.DDDDe±X, correctly rounded; Fortran's form shifts the point.
  char sci[512];
  int exponent = 0;
  std::size_t ndigits = 0;
  char digits[512];
  if (value != 0.0) {
    const auto res = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific, d - 1);
    const char* p = sci;
    for (; p < res.ptr && *p != 'e'; ++p)
      if (*p != '.') digits[ndigits++] = *p;
    int e = 0;
    const bool negative_exponent = p + 1 < res.ptr && p[1] == '-';
    for (const char* q = p + 2; q < res.ptr; ++q) e = e * 10 + (*q - '0');
    exponent = (negative_exponent ? -e : e) + 1;
  }
  const int mag = std::abs(exponent);
  std::string out;
  out.reserve(static_cast<std::size_t>(std::max(w, d + 8)));
  out += std::signbit(value) ? "-0." : "0.";
  for (int i = 0; i < d; ++i) out += static_cast<std::size_t>(i) < ndigits ? digits[i] : '0';
  if (mag <= 99) out += 'E';
  out += exponent < 0 ? '-' : '+';
  if (mag > 99) out += static_cast<char>('0' + mag / 100);
  out += static_cast<char>('0' + mag / 10 % 10);
  out += static_cast<char>('0' + mag % 10);
  return right_justify(std::move(out), w);
}

std::string fmt_a(std::string_view text, int w) {
  if (w <= 0) return {};
  if (static_cast<int>(text.size()) >= w) return std::string(text.substr(0, static_cast<std::size_t>(w)));
  return right_justify(std::string(text), w);
}

std::string fmt_x(int n) { return std::string(n > 0 ? static_cast<std::size_t>(n) : 0, ' '); }

std::string free_real(float value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.8g", static_cast<double>(value));
  return buf;
}

std::string free_real(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  return buf;
}

std::string free_int(long long value) { return std::to_string(value); }

namespace {

template <typename T>
void append_shortest_of(std::string& out, T value) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

}  // namespace

void append_shortest(std::string& out, double value) { append_shortest_of(out, value); }
void append_shortest(std::string& out, float value) { append_shortest_of(out, value); }

std::string shortest(double value) {
  std::string s;
  append_shortest(s, value);
  return s;
}

std::string shortest(float value) {
  std::string s;
  append_shortest(s, value);
  return s;
}

}  // namespace talvo
