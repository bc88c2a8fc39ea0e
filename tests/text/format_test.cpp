#include "talvo/text/format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace talvo {
namespace {

struct ECase {
  double value;
  int w, d;
  const char* text;
};

TEST(FieldFormat, ExponentFormMatchesFortranLayout) {
  const ECase cases[] = {
      {1.5, 14, 7, " 0.1500000E+01"},
      {-1.5, 14, 7, "-0.1500000E+01"},
      {0.0, 14, 7, " 0.0000000E+00"},
      {3.0, 14, 7, " 0.3000000E+01"},
      {0.1002840, 14, 7, " 0.1002840E+00"},
      {9.99999999, 14, 7, " 0.1000000E+02"},  // rounding carries into the exponent
      {-3.739, 12, 5, "-0.37390E+01"},
      {1.0e-5, 14, 7, " 0.1000000E-04"},
      {1.0e100, 14, 7, " 0.1000000+101"},
      {7.0, 10, 3, " 0.700E+01"},
      {6.005066712697347, 20, 13, " 0.6005066712697E+01"},
  };
  for (const ECase& c : cases) EXPECT_EQ(fmt_e(c.value, c.w, c.d), c.text) << c.value;
}

TEST(FieldFormat, FixedFormRoundsAndWidensInsteadOfAsterisks) {
  EXPECT_EQ(fmt_f(1.00797, 10, 6), "  1.007970");
  EXPECT_EQ(fmt_f(-3.739, 10, 5), "  -3.73900");
  EXPECT_EQ(fmt_f(0.5, 8, 6), "0.500000");
  EXPECT_EQ(fmt_f(0.5, 7, 6), ".500000");             // leading zero dropped to fit
  EXPECT_EQ(fmt_f(259000.0, 11, 5), "259000.00000");  // too wide: written in full
  EXPECT_EQ(fmt_f(12.5, 9, 7), "12.5000000");
  EXPECT_EQ(fmt_f(-0.0000001, 10, 7), "-0.0000001");
}

TEST(FieldFormat, IntegersTextsAndBlanks) {
  EXPECT_EQ(fmt_i(7, 3), "  7");
  EXPECT_EQ(fmt_i(-12, 3), "-12");
  EXPECT_EQ(fmt_i(1000, 3), "1000");
  EXPECT_EQ(fmt_a("abc", 5), "  abc");
  EXPECT_EQ(fmt_a("abcdef", 4), "abcd");
  EXPECT_EQ(fmt_x(3), "   ");
}

TEST(FieldFormat, NonFiniteValuesAreNamedNotGarbled) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(fmt_e(inf, 14, 7), "      Infinity");
  EXPECT_EQ(fmt_e(-inf, 14, 7), "     -Infinity");
  EXPECT_EQ(fmt_e(std::nan(""), 14, 7), "           NaN");
  EXPECT_EQ(fmt_f(inf, 5, 2), "  Inf");
}

}  // namespace
}  // namespace talvo

namespace talvo {
namespace {

// Ew.d from C's printf, which writes the exact binary value correctly
// rounded: an oracle independent of the formatter's own fast path.
std::string e_by_printf(double v, int w, int d) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*e", d - 1, std::fabs(v));
  std::string digits;
  const char* p = buf;
  for (; *p != 'e'; ++p)
    if (*p != '.') digits += *p;
  const int e = v == 0.0 ? 0 : std::atoi(p + 1) + 1;
  char tail[16];
  std::snprintf(tail, sizeof tail, std::abs(e) <= 99 ? "E%c%02d" : "%c%03d", e < 0 ? '-' : '+', std::abs(e));
  std::string s = (std::signbit(v) ? "-0." : "0.") + digits + tail;
  if (static_cast<int>(s.size()) < w) s.insert(0, static_cast<std::size_t>(w) - s.size(), ' ');
  return s;
}

TEST(FormatE, AgreesWithCorrectlyRoundedPrintf) {
  std::mt19937_64 random(7);
  std::vector<double> values = {0.5,   1.25e-5,   9999999.5, 9999999.4, 0.99999995, 1e-22, 1e22, 1e23,
                                1e-23, 123456.75, 0.000125,  2.5,       3.5,        1e7,   1e6,  0.1,
                                -0.1,  1e-300,    4.9e-324,  1e300,     -3.25e-7,   0.125, 1.0};
  for (int i = 0; i < 200000; ++i) {
    const double mantissa = std::ldexp(static_cast<double>(random() >> 11), -53);
    const int e = static_cast<int>(random() % 160) - 80;
    const double v = std::ldexp(mantissa, e) * ((random() & 1) ? 1.0 : -1.0);
    values.push_back(v);
    values.push_back(static_cast<float>(v));  // the report's values are floats
    // Exact halves at 7 digits (1234567.5, 12345675, ...): the ties of the rounding.
    const double tie = static_cast<double>(1000000 + random() % 9000000) + 0.5;
    values.push_back(tie);
    values.push_back(tie * 10.0);
    values.push_back(tie * 1000.0);
  }
  for (const double v : values)
    for (const auto& [w, d] : {std::pair{14, 7}, std::pair{12, 5}, std::pair{20, 13}, std::pair{10, 3}}) {
      const std::string got = fmt_e(v, w, d);
      ASSERT_EQ(got, e_by_printf(v, w, d)) << std::hexfloat << v << " E" << w << "." << d;
    }
  // The report's own E14.7 routine.
  for (const double v : values) {
    char buf[32];
    ASSERT_EQ(std::string(buf, put_e14_7(buf, v)), e_by_printf(v, 14, 7)) << std::hexfloat << v;
  }
}

// A field written into a line buffer stays within its room and leaves what
// follows it as it was, whatever the digits' fast path stores.
TEST(FormatE, PutStaysWithinItsField) {
  for (const double v : {1.5, -2.5e-7, 0.0, 123456789.0, -1e300, 1.0 / 3.0})
    for (int d = 1; d <= 16; ++d)
      for (const int w : {0, 10, 14, 30}) {
        char buf[64];
        std::memset(buf, '#', sizeof buf);
        ASSERT_LE(e_room(w, d), sizeof buf);
        const char* end = put_e(buf, v, w, d);
        const std::string field(static_cast<const char*>(buf), end);
        EXPECT_EQ(field, fmt_e(v, w, d));
        EXPECT_LE(field.size(), e_room(w, d));
        const std::string after(end, static_cast<const char*>(buf) + sizeof buf);
        EXPECT_EQ(after, std::string(after.size(), '#')) << v << " E" << w << "." << d;
      }
}

}  // namespace
}  // namespace talvo
