#include "talvo/text/format.hpp"

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
  std::snprintf(buf, sizeof buf, "%.*f", d, value);
  std::string s = buf;
  if (w > 0 && static_cast<int>(s.size()) > w) {
    if (s.rfind("0.", 0) == 0) s.erase(0, 1);
    else if (s.rfind("-0.", 0) == 0) s.erase(1, 1);
  }
  return right_justify(s, w);
}

std::string fmt_e(double value, int w, int d) {
  if (!std::isfinite(value)) return non_finite(value, w);
  std::string digits(static_cast<std::size_t>(d), '0');
  int exponent = 0;
  if (value != 0.0) {
    // %e gives D.DDDDe±X with correct rounding; Fortran's form shifts the point.
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*e", d > 0 ? d - 1 : 0, std::fabs(value));
    std::string s = buf;
    const auto e_at = s.find('e');
    std::string mantissa = s.substr(0, e_at);
    exponent = std::atoi(s.c_str() + e_at + 1) + 1;
    digits.clear();
    for (char c : mantissa)
      if (c != '.') digits += c;
    digits.resize(static_cast<std::size_t>(d), '0');
  }
  std::string out = std::signbit(value) ? "-0." : "0.";
  out += digits;
  const int mag = std::abs(exponent);
  char ebuf[16];
  if (mag <= 99) std::snprintf(ebuf, sizeof ebuf, "E%c%02d", exponent < 0 ? '-' : '+', mag);
  else std::snprintf(ebuf, sizeof ebuf, "%c%03d", exponent < 0 ? '-' : '+', mag);
  out += ebuf;
  return right_justify(out, w);
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

}  // namespace talvo
