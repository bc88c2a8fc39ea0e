// Prints to_chars and from_chars results for many doubles and floats: built
// natively and by emscripten with web/compat/cxx20_compat.hpp, the two outputs
// must be the same text (compat_check.sh compares them). The values are made
// from bits and from decimal text, never by a libm function, whose last bit
// may differ between the two C libraries.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <system_error>

namespace {

const char* errc_name(std::errc e) {
  return e == std::errc() ? "ok"
         : e == std::errc::invalid_argument ? "invalid"
         : e == std::errc::result_out_of_range ? "range"
                                               : "other";
}

void show(double d) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  *r.ptr = 0;
  double back = 0;
  std::from_chars(buf, r.ptr, back);
  std::printf("%s %s", buf, std::memcmp(&back, &d, sizeof d) == 0 || d != d ? "ok" : "BAD");
  const float f = static_cast<float>(d);
  r = std::to_chars(buf, buf + sizeof buf, f);
  *r.ptr = 0;
  float fb = 0;
  std::from_chars(buf, r.ptr, fb);
  std::printf(" %s %s", buf, fb == f || f != f ? "ok" : "BAD");
  for (int precision : {0, 3, 17}) {
    r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, precision);
    *r.ptr = 0;
    std::printf(" %s", r.ec == std::errc() ? buf : errc_name(r.ec));
    r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific, precision);
    *r.ptr = 0;
    std::printf(" %s", buf);
  }
  std::printf("\n");
}

}  // namespace

int main() {
  std::mt19937_64 g(2026);
  for (int i = 0; i < 40000; ++i) {
    std::uint64_t bits = g();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (d == d) show(d);  // a NaN's sign does not survive the conversion to float on every machine
    char text[64];
    // One draw a statement: the order in which arguments are evaluated is the compiler's.
    const auto digits = static_cast<unsigned long long>(g() % 100000000000ull);
    const int exponent = static_cast<int>(g() % 60) - 40;
    std::snprintf(text, sizeof text, "%llue%d", digits, exponent);
    show(std::strtod(text, nullptr));
  }
  for (int k = -1074; k <= 1023; ++k) {
    char text[32];
    std::snprintf(text, sizeof text, "0x1p%d", k);
    show(std::strtod(text, nullptr));
  }
  for (int k = -323; k <= 308; ++k) {
    char text[32];
    std::snprintf(text, sizeof text, "1e%d", k);
    show(std::strtod(text, nullptr));
  }
  for (const char* s : {"1e-400", "1e400", "0x10", "+1", " 1", "1e", "1e+", ".5", "5.", "inf", "-INF", "nan",
                        "-nan", "nan(x1)", "1.5e3x", "-", ".", "-.e1", "00012", "1e-5000", "4.9e-324", "2.5e-324"}) {
    double v = -7;
    auto r = std::from_chars(s, s + std::strlen(s), v);
    float f = -7;
    auto rf = std::from_chars(s, s + std::strlen(s), f);
    std::printf("[%s] %s %ld %.17g %s %ld %.9g\n", s, errc_name(r.ec), static_cast<long>(r.ptr - s), v,
                errc_name(rf.ec), static_cast<long>(rf.ptr - s), static_cast<double>(f));
  }
}
