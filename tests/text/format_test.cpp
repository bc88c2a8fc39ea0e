#include "talvo/text/format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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
