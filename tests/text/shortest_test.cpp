// The shortest round-trip writer gives std::to_chars' bytes for every kind of
// double: random bit patterns, the neighbours of every power of two and ten,
// integers about 2^53 and beyond, subnormals, and the values it does not
// work out itself (zeros, infinities, not-a-number).
#include "talvo/text/shortest.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <string_view>

namespace talvo {
namespace {

std::string mine(double v) {
  // Guard bytes after the room it may use: they must stay as they were.
  char buf[kShortestRoom + 8];
  std::fill(std::begin(buf), std::end(buf), '#');
  char* end = write_shortest(buf, v);
  EXPECT_LE(static_cast<std::size_t>(end - buf), kShortestChars);
  for (std::size_t i = kShortestRoom; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '#');
  return std::string(buf, static_cast<std::size_t>(end - buf));
}

std::string theirs(double v) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

int mismatches = 0;

void check(double v) {
  const std::string m = mine(v);
  const std::string t = theirs(v);
  if (m != t && ++mismatches <= 10) ADD_FAILURE() << "bits " << std::bit_cast<std::uint64_t>(v) << ": " << m << " vs " << t;
}

TEST(Shortest, GivesToCharsBytes) {
  mismatches = 0;
  std::mt19937_64 rng(2026);
  for (int i = 0; i < 300000; ++i) check(std::bit_cast<double>(rng()));
  for (int e = -1074; e <= 1023; ++e) {
    const double v = std::ldexp(1.0, e);
    for (double w : {v, std::nextafter(v, 0.0), std::nextafter(v, 2 * v)}) {
      check(w);
      check(-w);
    }
  }
  for (int e = -323; e <= 308; ++e) {
    const double v = std::strtod(("1e" + std::to_string(e)).c_str(), nullptr);
    for (double w : {v, std::nextafter(v, 0.0), std::nextafter(v, 2 * v), 3 * v, 0.5 * v}) check(w);
  }
  // Integers about the end of exact integers and the change of form.
  for (std::uint64_t i = 0; i < 20000; ++i) {
    check(static_cast<double>((std::uint64_t{1} << 53) - 10000 + i));
    check(static_cast<double>(rng() >> (rng() % 64)));
    check(static_cast<double>(rng() % 100000) * std::pow(10.0, static_cast<int>(rng() % 30) - 10));
  }
  // The smallest subnormals, whose interval needs one digit more to work in.
  for (std::uint64_t t = 1; t < 5000; ++t) check(std::bit_cast<double>(t));
  // Values a pattern's columns hold.
  for (int i = 0; i < 20000; ++i) check(0.01 * i), check(std::sin(0.001 * i) * std::exp(i % 40 - 20.0));
  for (double v : {0.0, -0.0, std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::max(),
                   std::numeric_limits<double>::lowest(), std::numeric_limits<double>::min(),
                   std::numeric_limits<double>::denorm_min(), 1e22, 1e23, 9007199254740993.0, 123456789012345680000.0})
    check(v);
  EXPECT_EQ(mismatches, 0);
}

// Where the two forms tie in length the fixed one is written; where the
// exponent form is shorter it is.
TEST(Shortest, ChoosesTheShorterForm) {
  EXPECT_EQ(mine(0.001), "0.001");
  EXPECT_EQ(mine(0.0001), "1e-04");
  EXPECT_EQ(mine(0.00012), "0.00012");
  EXPECT_EQ(mine(10000.0), "10000");  // five characters either way
  EXPECT_EQ(mine(100000.0), "1e+05");
  EXPECT_EQ(mine(120000.0), "120000");
  EXPECT_EQ(mine(-2.5e-310), "-2.5e-310");
  EXPECT_EQ(mine(24.40697), "24.40697");
  EXPECT_EQ(mine(0.1), "0.1");
}

}  // namespace
}  // namespace talvo
