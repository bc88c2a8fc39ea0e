// The one decimal reader of the library, in both its forms: plain (what the
// XRDML reader takes) and Fortran (what the free-format reader takes).
#include "talvo/text/decimal.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>
#include <string>

namespace talvo {
namespace {

struct Case {
  const char* text;
  bool ok;
  double value;      // when ok
  std::size_t used;  // characters read, when ok (plain only)
};

TEST(Decimal, PlainTakesWhatXmlAndCWrite) {
  const Case cases[] = {
      {"1719", true, 1719.0, 4},
      {"-0.25", true, -0.25, 5},
      {".5", true, 0.5, 2},
      {"-.5", true, -0.5, 3},
      {"1.", true, 1.0, 2},
      {"2.5e-3", true, 0.0025, 6},
      {"6.02214076E23", true, 6.02214076e23, 13},
      {"1.5 2", true, 1.5, 3},
      {"3<", true, 3.0, 1},
      {"1e", true, 1.0, 1},  // the exponent letter without digits is not part of the number
      {"+1", false, 0, 0},
      {"inf", false, 0, 0},
      {"nan", false, 0, 0},
      {"-inf", false, 0, 0},
      {".", false, 0, 0},
      {"-", false, 0, 0},
      {"", false, 0, 0},
      {"1D3", true, 1.0, 1},
      {"e5", false, 0, 0},
  };
  for (const Case& c : cases) {
    const std::string t = c.text;
    double v = -99.0;
    const auto r = read_decimal(t.data(), t.data() + t.size(), v);
    EXPECT_EQ(r.ec == std::errc(), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
      EXPECT_EQ(static_cast<std::size_t>(r.ptr - t.data()), c.used) << c.text;
    } else {
      EXPECT_EQ(r.ptr, t.data()) << c.text;
      EXPECT_EQ(v, -99.0) << c.text;  // untouched
    }
  }
  // Beyond the double range: refused, as out of range.
  const std::string huge = "1e400";
  double v = 0.0;
  EXPECT_EQ(read_decimal(huge.data(), huge.data() + huge.size(), v).ec, std::errc::result_out_of_range);
}

TEST(Decimal, FortranTakesListDirectedFormsWhole) {
  const Case cases[] = {
      {"2", true, 2.0, 0},     {"2.5", true, 2.5, 0},   {"-1.e-3", true, -0.001, 0}, {"1D3", true, 1000.0, 0},
      {"1d-2", true, 0.01, 0}, {"1Q2", true, 100.0, 0}, {"1.0+3", true, 1000.0, 0},  {"2.5-1", true, 0.25, 0},
      {"+2", true, 2.0, 0},    {"+.5", true, 0.5, 0},   {"1.5 ", false, 0, 0},       {"1,5", false, 0, 0},
      {"1e", false, 0, 0},     {"1D", false, 0, 0},     {"e3", false, 0, 0},         {"", false, 0, 0},
      {"1e400", false, 0, 0},  {"inf", false, 0, 0},    {"nan", false, 0, 0},        {"1.0+", false, 0, 0},
  };
  for (const Case& c : cases) {
    const std::string t = c.text;
    double v = -99.0;
    const auto r = read_decimal(t.data(), t.data() + t.size(), v, DecimalForm::kFortran);
    EXPECT_EQ(r.ec == std::errc(), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
      EXPECT_EQ(r.ptr, t.data() + t.size()) << c.text;
    } else {
      EXPECT_EQ(v, -99.0) << c.text;
    }
  }
  // -0 keeps its sign; single precision rounds the text once (0.1 to the
  // nearest float, not the nearest double rounded again).
  const std::string minus_zero = "-0";
  double z = 1.0;
  ASSERT_EQ(read_decimal(minus_zero.data(), minus_zero.data() + 2, z, DecimalForm::kFortran).ec, std::errc());
  EXPECT_TRUE(z == 0.0 && std::signbit(z));
  const std::string tenth = "0.1D0";
  float f = 0.0f;
  ASSERT_EQ(read_decimal(tenth.data(), tenth.data() + tenth.size(), f, DecimalForm::kFortran).ec, std::errc());
  EXPECT_EQ(f, 0.1f);
}

// Short decimals, as pattern files hold them, read the same as a full
// correctly rounded read: every length, sign, place of the point and zeros
// at either end, against from_chars.
TEST(Decimal, FortranShortDecimalsMatchAFullRead) {
  std::mt19937_64 rng(7);
  int checked = 0;
  for (int length = 1; length <= 15; ++length)
    for (int k = 0; k < 4000; ++k) {
      std::string t;
      if (rng() % 3 == 0) t += '-';
      const int digits = 1 + static_cast<int>(rng() % static_cast<unsigned>(length));
      const int point = static_cast<int>(rng() % static_cast<unsigned>(digits + 1));
      for (int i = 0; i < digits; ++i) {
        if (i == point) t += '.';
        t += static_cast<char>('0' + (rng() % 4 == 0 ? 0 : rng() % 10));
      }
      if (point == digits) t += '.';
      double want = 0.0;
      const auto r = std::from_chars(t.data(), t.data() + t.size(), want);
      ASSERT_EQ(r.ptr, t.data() + t.size()) << t;
      double got = -99.0;
      ASSERT_EQ(read_decimal(t.data(), t.data() + t.size(), got, DecimalForm::kFortran).ec, std::errc()) << t;
      EXPECT_EQ(got, want) << t;
      EXPECT_EQ(std::signbit(got), std::signbit(want)) << t;
      ++checked;
    }
  EXPECT_EQ(checked, 15 * 4000);
  // A lone point, with or without a sign, is no number.
  for (const std::string t : {".", "-.", "+."}) {
    double v = -99.0;
    EXPECT_NE(read_decimal(t.data(), t.data() + t.size(), v, DecimalForm::kFortran).ec, std::errc()) << t;
  }
}

}  // namespace
}  // namespace talvo
