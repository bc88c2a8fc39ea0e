#include "talvo/text/free_format.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace talvo {
namespace {

TEST(FreeFormat, IntegersTakeTheFirstItemOnly) {
  struct Case {
    const char* line;
    bool ok;
    int value;
  } cases[] = {
      {"3,4", true, 3},  {"  5", true, 5},  {"-12 x", true, -12}, {"+7", true, 7},
      {"2.5", false, 9}, {"abc", false, 9}, {"", false, 9},       {"   ", false, 9},
      {",", true, 9},    {"/", true, 9},    {" , 4", true, 9},    {"99999999999", false, 9},
      {"1e3", false, 9}, {"5\t6", true, 5},
  };
  for (const Case& c : cases) {
    int v = 9;
    EXPECT_EQ(read_free(c.line, {&v}), c.ok) << c.line;
    EXPECT_EQ(v, c.value) << c.line;
  }
}

TEST(FreeFormat, RealsAcceptDecimalAndExponentForms) {
  struct Case {
    const char* line;
    bool ok;
    double value;
  } cases[] = {
      {"2", true, 2.0},        {"2.5", true, 2.5},    {"-1.e-3", true, -1e-3}, {"1D3", true, 1000.0},
      {"1.5d-2", true, 0.015}, {".5", true, 0.5},     {"5.", true, 5.0},       {"1.0+3", true, 1000.0},
      {"1e", false, 7.0},      {"e5", false, 7.0},    {"1.2.3", false, 7.0},   {"inf", false, 7.0},
      {"nan", false, 7.0},     {"1e999", false, 7.0}, {"-", false, 7.0},       {",", true, 7.0},
  };
  for (const Case& c : cases) {
    double v = 7.0;
    EXPECT_EQ(read_free(c.line, {&v}), c.ok) << c.line;
    EXPECT_DOUBLE_EQ(v, c.value) << c.line;
  }
}

TEST(FreeFormat, SeveralTargetsEmptyItemsAndSlash) {
  int n = 0;
  float x = 0.0f;
  EXPECT_TRUE(read_free("  2   0.5  extra", {&n, &x}));
  EXPECT_EQ(n, 2);
  EXPECT_FLOAT_EQ(x, 0.5f);

  n = 4, x = 1.5f;
  EXPECT_TRUE(read_free(",, 3", {&n, &x}));  // both items empty
  EXPECT_EQ(n, 4);
  EXPECT_FLOAT_EQ(x, 1.5f);

  EXPECT_TRUE(read_free("8 /", {&n, &x}));  // the slash leaves x unchanged
  EXPECT_EQ(n, 8);
  EXPECT_FLOAT_EQ(x, 1.5f);

  EXPECT_FALSE(read_free("8", {&n, &x}));  // the line ends before x
  EXPECT_FALSE(read_free("8 y", {&n, &x}));
}

TEST(FreeFormat, SinglePrecisionTargetsRoundTheTextOnce) {
  float x = 0.0f;
  ASSERT_TRUE(read_free("0.1", {&x}));
  EXPECT_EQ(x, 0.1f);
  ASSERT_TRUE(read_free("1.0E-6", {&x}));
  EXPECT_EQ(x, 1.0e-6f);
}

// A field cut out of a line reads as the C library reads the same number in
// its own form, bit for bit: the sign of zero, the last place and the
// smallest values included.
TEST(FreeFormat, OneItemReadsAsTheCLibraryReadsIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"-0", "-0"},
      {"-0.0", "-0.0"},
      {"0", "0"},
      {"123456789012345", "123456789012345"},
      {"-9007199254740993", "-9007199254740993"},  // beyond 2^53: rounded once
      {"0.1", "0.1"},
      {"-2.5e-3", "-2.5e-3"},
      {"1.0+3", "1.0e+3"},
      {"1D-2", "1e-2"},
      {"+4.5", "4.5"},
      {"4.9e-324", "4.9e-324"},
      {"1e-400", "1e-400"},
      {"2.2250738585072011e-308", "2.2250738585072011e-308"},
      {"1.7976931348623157e308", "1.7976931348623157e308"},
      {"63.546001", "63.546001"},
  };
  for (const auto& [item, c_form] : cases) {
    const auto v = parse_real(item);
    ASSERT_TRUE(v.has_value()) << item;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(*v), std::bit_cast<std::uint64_t>(std::strtod(c_form, nullptr))) << item;
  }
  for (const char* bad : {"+", "-", ".", "1e999", "1.2.3", "1e", "inf", "0x10", "1 2"})
    EXPECT_FALSE(parse_real(bad).has_value()) << bad;

  float x = 1.0f;
  ASSERT_TRUE(read_free("-0", {&x}));
  EXPECT_TRUE(std::signbit(x));
}

}  // namespace
}  // namespace talvo
