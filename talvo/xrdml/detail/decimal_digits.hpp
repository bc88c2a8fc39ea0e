// Decimal digits eight at a time, for readers whose numbers are mostly short
// plain decimals (internal to the XRDML reader). A number of up to 15 significant
// digits is its digits as an integer divided by a power of ten: both are
// exact doubles, so the one division rounds as read_decimal does.
#pragma once

#include <bit>
#include <cstdint>

namespace talvo::decimal_detail {

inline constexpr std::uint64_t kPowersOf10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
inline constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// A byte is a digit when its high nibble is 3 and its low one at most 9.
// How many of the 8 bytes of w (the first in the lowest byte) lead as digits.
inline int leading_digits(std::uint64_t w) {
  const std::uint64_t t = w ^ 0x3030303030303030u;
  // A byte of t that is no digit has a high nibble, or gets one by adding 6;
  // a carry out of a byte only comes from one that is no digit, and only
  // changes bytes after it.
  const std::uint64_t other = (t | (t + 0x0606060606060606u)) & 0xF0F0F0F0F0F0F0F0u;
  return other ? std::countr_zero(other) / 8 : 8;
}

// The value of the first k (1 to 8) digits of w.
inline std::uint64_t digits_value(std::uint64_t w, int k) {
  const int shift = 8 * (8 - k);  // the k digits to the top, '0's below them
  std::uint64_t v = shift ? (w << shift) | (0x3030303030303030u >> (64 - shift)) : w;
  // Pairs, then fours, then all eight, each by one multiplication.
  v -= 0x3030303030303030u;
  v = v * 10 + (v >> 8);
  constexpr std::uint64_t kMask = 0x000000FF000000FFu, kMul1 = 100 + (1000000ull << 32), kMul2 = 1 + (10000ull << 32);
  return (((v & kMask) * kMul1) + (((v >> 16) & kMask) * kMul2)) >> 32;
}

}  // namespace talvo::decimal_detail
