#include "talvo/text/format.hpp"

#include "talvo/text/shortest.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Small routines of the E field, inlined into the field so that its
// constants fold.
#if defined(__GNUC__)
#define TALVO_INLINE [[gnu::always_inline]] inline
#else
#define TALVO_INLINE inline
#endif

namespace talvo {
namespace {

// Blanks before a field of `len` characters in a field of w; none when it is wider.
std::size_t blanks(std::size_t len, int w) {
  return w > 0 && len < static_cast<std::size_t>(w) ? static_cast<std::size_t>(w) - len : 0;
}

void append_justified(std::string& out, std::string_view text, int w) {
  out.append(blanks(text.size(), w), ' ');
  out += text;
}

// Infinity and NaN in the way Fortran run-times write them.
std::string_view non_finite_text(double value, int w) {
  if (std::isnan(value)) return "NaN";
  const bool word = w >= 8 || w <= 0;
  if (value < 0) return word ? "-Infinity" : "-Inf";
  return word ? "Infinity" : "Inf";
}

void append_non_finite(std::string& out, double value, int w) { append_justified(out, non_finite_text(value, w), w); }

}  // namespace

void append_i(std::string& out, long long value, int w) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  append_justified(out, std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)), w);
}

void append_f(std::string& out, double value, int w, int d) {
  if (!std::isfinite(value)) return append_non_finite(out, value, w);
  char buf[512];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, d);
  std::string_view s(buf, static_cast<std::size_t>(res.ptr - buf));
  // A leading zero before the point is dropped when that is what makes the value fit.
  if (w > 0 && s.size() > static_cast<std::size_t>(w)) {
    if (s.substr(0, 2) == "0.") {
      s.remove_prefix(1);
    } else if (s.substr(0, 3) == "-0.") {
      buf[1] = '-';
      s = std::string_view(buf + 1, s.size() - 1);
    }
  }
  append_justified(out, s, w);
}

namespace {

// Exact powers of ten in double: 1e0 .. 1e22.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The d significant digits of |value| correctly rounded, as the integer N
// (10^(d-1) <= N < 10^d) and the decimal exponent p of its first digit, by
// one multiplication or division with an exact power of ten. False when the
// rounding cannot be decided that way: the value is too near a half, or out
// of the range of exact powers; the caller then takes the long way.
TALVO_INLINE bool fast_digits(double a, int d, std::uint64_t& n, int& p) {
  if (d > 15 || !(a > 0.0)) return false;
  // 2^(e2-1) <= a < 2^e2 from the bits (a is positive, finite and normal here
  // or below the range anyway); floor((e2 - 1) log10 2) by integers.
  const auto bits = std::bit_cast<std::uint64_t>(a);
  const int e2 = static_cast<int>(bits >> 52) - 1022;
  p = ((e2 - 1) * 78913) >> 18;
  if (p + 1 < -22 || p + 1 > 22) return false;
  if (p + 1 >= 0 ? a >= kPow10[p + 1] : a * kPow10[-(p + 1)] >= 1.0) ++p;  // the estimate is p or p - 1
  const int k = d - 1 - p;
  if (k > 22 || k < -22) return false;
  // One correctly rounded operation: within half a unit of its last place of the exact value.
  const double scaled = k >= 0 ? a * kPow10[k] : a / kPow10[-k];
  const auto whole = static_cast<std::uint64_t>(scaled);  // below 2^53: truncation is the floor
  const double frac = scaled - static_cast<double>(whole);
  if (std::fabs(frac - 0.5) <= 4.0 * scaled * 0x1p-52) return false;
  n = whole + (frac > 0.5 ? 1 : 0);
  const auto top = static_cast<std::uint64_t>(kPow10[d]);
  if (n >= top) {  // 9.9999999 rounded up: one digit more
    n /= 10;
    ++p;
  }
  return n >= top / 10;  // else the estimate of p was one too high after all
}

// The same digits the long way: the decimal text of the exact binary value.
[[gnu::noinline]] void slow_digits(double a, int d, char* digits, int& exponent) {
  char sci[512];
  const auto res = std::to_chars(sci, sci + sizeof sci, a, std::chars_format::scientific, d - 1);
  const char* q = sci;
  int nd = 0;
  for (; q < res.ptr && *q != 'e'; ++q)
    if (*q != '.') digits[nd++] = *q;
  int e = 0;
  const bool negative_exponent = q + 1 < res.ptr && q[1] == '-';
  for (const char* r = q + 2; r < res.ptr; ++r) e = e * 10 + (*r - '0');
  exponent = negative_exponent ? -e : e;
}

}  // namespace

namespace {

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

std::uint64_t digit_pair(std::uint32_t n) {
  std::uint16_t pair = 0;
  std::memcpy(&pair, kPairs + 2 * n, 2);
  return pair;
}

// The d decimal digits of n (below 10^d), leading zeros included. With 4 to
// 8 digits it writes 8 bytes at p: the exponent that follows the digits
// overwrites the ones beyond them.
TALVO_INLINE void put_digits(char* p, std::uint64_t n, int d) {
  if constexpr (std::endian::native == std::endian::little) {
    if (d >= 4 && d <= 8) {
      // Four independent pairs gathered in a register, stored at once.
      const auto v = static_cast<std::uint32_t>(n);
      const std::uint32_t hi = v / 10000;
      const std::uint32_t lo = v % 10000;
      std::uint64_t all =
          digit_pair(hi / 100) | digit_pair(hi % 100) << 16 | digit_pair(lo / 100) << 32 | digit_pair(lo % 100) << 48;
      all >>= 8 * (8 - d);
      std::memcpy(p, &all, 8);
      return;
    }
  }
  int i = d;
  for (; i >= 2; i -= 2, n /= 100) std::memcpy(p + i - 2, kPairs + 2 * (n % 100), 2);
  if (i == 1) p[0] = static_cast<char>('0' + n);
}

[[gnu::noinline]] char* put_non_finite(char* p, double value, int w) {
  const std::string_view text = non_finite_text(value, w);
  const std::size_t pad = blanks(text.size(), w);
  std::memset(p, ' ', pad);
  std::memcpy(p + pad, text.data(), text.size());
  return p + pad + text.size();
}

// The whole field; inlined where w and d are constants so that the field's
// layout is settled when the program is compiled.
TALVO_INLINE char* put_e_field(char* out, double value, int w, int d) {
  if (!std::isfinite(value)) [[unlikely]]
    return put_non_finite(out, value, w);
  d = std::clamp(d, 1, 400);
  // Fortran's form 0.DDDDE+XX: the digits of D.DDDe(X-1), correctly rounded.
  // Its length is known before its digits: sign, "0.", d digits, 4 more.
  const bool negative = std::signbit(value);
  const auto len = static_cast<std::size_t>((negative ? 1 : 0) + 2 + d + 4);
  char* p = out;
  const std::size_t pad = blanks(len, w);
  std::memset(p, ' ', pad);
  p += pad;
  if (negative) *p++ = '-';
  *p++ = '0';
  *p++ = '.';
  const double a = std::fabs(value);
  int exponent = 0;  // of the first digit, as in D.DDDe(exponent)
  std::uint64_t n = 0;
  if (a == 0.0)
    std::memset(p, '0', static_cast<std::size_t>(d));
  else if (fast_digits(a, d, n, exponent))
    put_digits(p, n, d);
  else
    slow_digits(a, d, p, exponent);
  p += d;
  const int shown = a == 0.0 ? 0 : exponent + 1;
  const int mag = std::abs(shown);
  if (mag <= 99) *p++ = 'E';
  *p++ = shown < 0 ? '-' : '+';
  if (mag > 99) *p++ = static_cast<char>('0' + mag / 100);
  *p++ = static_cast<char>('0' + mag / 10 % 10);
  *p++ = static_cast<char>('0' + mag % 10);
  return p;
}

}  // namespace

std::size_t e_room(int w, int d) {
  const std::size_t digits = static_cast<std::size_t>(std::clamp(d, 1, 400));
  return std::max(w > 0 ? static_cast<std::size_t>(w) : 0, digits + 8);
}

char* put_e(char* out, double value, int w, int d) { return put_e_field(out, value, w, d); }

char* put_e14_7(char* out, double value) { return put_e_field(out, value, 14, 7); }

void append_e(std::string& out, double value, int w, int d) {
  char buf[512];
  if (e_room(w, d) <= sizeof buf) {
    out.append(buf, put_e(buf, value, w, d));
    return;
  }
  const std::size_t old = out.size();
  out.resize(old + e_room(w, d));
  out.resize(static_cast<std::size_t>(put_e(out.data() + old, value, w, d) - out.data()));
}

int int_columns(long long i) {
  if (i == 0) return 1;
  const float mag = static_cast<float>(std::llabs(i));
  int n = static_cast<int>(std::log10(mag)) + 1;
  return i < 0 ? n + 1 : n;
}

std::string fmt_i(long long value, int w) {
  std::string s;
  append_i(s, value, w);
  return s;
}

std::string fmt_f(double value, int w, int d) {
  std::string s;
  append_f(s, value, w, d);
  return s;
}

std::string fmt_e(double value, int w, int d) {
  std::string s;
  s.reserve(static_cast<std::size_t>(std::max(w, d + 8)));
  append_e(s, value, w, d);
  return s;
}

std::string fmt_a(std::string_view text, int w) {
  if (w <= 0) return {};
  if (static_cast<int>(text.size()) >= w) return std::string(text.substr(0, static_cast<std::size_t>(w)));
  std::string s;
  append_justified(s, text, w);
  return s;
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

void append_shortest(std::string& out, double value) {
  char buf[kShortestRoom];
  out.append(buf, write_shortest(buf, value));
}

void append_shortest(std::string& out, float value) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

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

std::string significant(double value, int digits) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits);
  return std::string(buf, res.ptr);
}

}  // namespace talvo
