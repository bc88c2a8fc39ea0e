// The shortest decimal that reads back to a double, by R. Giulietti's
// Schubfach method ("The Schubfach way to render doubles", 2020): the value's
// rounding interval is scaled by one 126-bit power of ten, read with
// round-to-odd, and the one or two decimals it can hold are compared. The text
// is laid out as std::to_chars lays out its plain form, fixed or exponent,
// whichever is shorter, so that the two give the same bytes.
#include "talvo/text/shortest.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace talvo {
namespace {

using u64 = std::uint64_t;
__extension__ typedef unsigned __int128 u128;

constexpr int kMinK = -324;  // the decimal exponents the scaled interval needs
constexpr int kMaxK = 292;
constexpr int kPrecision = 53;
constexpr int kMinQ = -1074;
constexpr u64 kMinC = u64{1} << (kPrecision - 1);
constexpr u64 kMask63 = (u64{1} << 63) - 1;

// floor(e log10 2), floor(log10(3/4 2^e)) and floor(e log2 10), exact over the
// exponents used here.
constexpr int floor_log10_pow2(int e) { return static_cast<int>((e * std::int64_t{661971961083}) >> 41); }
constexpr int floor_log10_three_quarters_pow2(int e) {
  return static_cast<int>((e * std::int64_t{661971961083} - std::int64_t{274743187321}) >> 41);
}
constexpr int floor_log2_pow10(int e) { return static_cast<int>((e * std::int64_t{913124641741}) >> 38); }

// A little unsigned integer of fixed width, enough for 2^1210 and 10^324.
struct Big {
  static constexpr int kLimbs = 20;
  std::array<u64, kLimbs> limb{};

  constexpr int bits() const {
    for (int i = kLimbs - 1; i >= 0; --i)
      if (limb[static_cast<std::size_t>(i)] != 0) return 64 * i + 64 - std::countl_zero(limb[static_cast<std::size_t>(i)]);
    return 0;
  }
  constexpr void multiply(u64 m) {
    u64 carry = 0;
    for (u64& l : limb) {
      const u128 p = static_cast<u128>(l) * m + carry;
      l = static_cast<u64>(p);
      carry = static_cast<u64>(p >> 64);
    }
  }
  constexpr void divide(u64 d) {  // floor
    u128 rest = 0;
    for (int i = kLimbs - 1; i >= 0; --i) {
      const u128 cur = (rest << 64) | limb[static_cast<std::size_t>(i)];
      limb[static_cast<std::size_t>(i)] = static_cast<u64>(cur / d);
      rest = cur % d;
    }
  }
  // floor(this / 2^n) or this * 2^n (n < 0), kept to its low 128 bits.
  constexpr u128 shifted(int n) const {
    u128 out = 0;
    for (int b = 127; b >= 0; --b) {
      const int src = b + n;
      if (src < 0 || src >= 64 * kLimbs) continue;
      if ((limb[static_cast<std::size_t>(src / 64)] >> (src % 64)) & 1) out |= u128{1} << b;
    }
    return out;
  }
};

struct G {
  u64 hi;  // g >> 63
  u64 lo;  // g mod 2^63
};

// For every k, 10^-k = beta 2^r with 2^125 <= beta < 2^126, and g = floor(beta) + 1,
// so that (g - 1) 2^r <= 10^-k < g 2^r.
constexpr std::array<G, kMaxK - kMinK + 1> make_powers() {
  std::array<G, kMaxK - kMinK + 1> out{};
  const auto put = [&out](int k, u128 g) {
    out[static_cast<std::size_t>(k - kMinK)] = G{static_cast<u64>(g >> 63), static_cast<u64>(g) & kMask63};
  };
  Big ten;  // 10^e for e = -k = 0, 1, ... 324
  ten.limb[0] = 1;
  for (int e = 0; e <= -kMinK; ++e) {
    if (e > 0) ten.multiply(10);
    put(-e, ten.shifted(ten.bits() - 126) + 1);
  }
  // floor(2^M / 10^k) by division by 10 at each step; floor(floor(x) / n) = floor(x / n).
  constexpr int kM = 1250;
  Big inverse;
  inverse.limb[kM / 64] = u64{1} << (kM % 64);
  Big power;
  power.limb[0] = 1;
  for (int k = 1; k <= kMaxK; ++k) {
    inverse.divide(10);
    power.multiply(10);
    // 10^-k = 2^(125 + b) / 10^k * 2^-(125 + b), b the bit length of 10^k (never a power of two).
    put(k, inverse.shifted(kM - 125 - power.bits()) + 1);
  }
  return out;
}

constexpr std::array<G, kMaxK - kMinK + 1> kPowers = make_powers();

u64 high(u64 a, u64 b) { return static_cast<u64>((static_cast<u128>(a) * b) >> 64); }

// g cp / 2^127, rounded to odd.
u64 round_odd(const G& g, u64 cp) {
  const u64 x1 = high(g.lo, cp);
  const u64 y0 = g.hi * cp;
  const u64 y1 = high(g.hi, cp);
  const u64 z = (y0 >> 1) + x1;
  const u64 vbp = y1 + (z >> 63);
  return vbp | (((z & kMask63) + kMask63) >> 63);
}

struct Decimal {
  u64 digits;
  int exponent;  // value = digits 10^exponent
};

// The shortest decimal in the rounding interval of c 2^q, the nearest of them
// (ties to even digits).
Decimal to_decimal(int q, u64 c, int dk) {
  const u64 out = c & 1;
  const u64 cb = c << 2;
  const u64 cbr = cb + 2;
  u64 cbl;
  int k;
  if (c != kMinC || q == kMinQ) {
    cbl = cb - 2;
    k = floor_log10_pow2(q);
  } else {  // at a power of two the interval below is half as wide
    cbl = cb - 1;
    k = floor_log10_three_quarters_pow2(q);
  }
  const int h = q + floor_log2_pow10(-k) + 2;
  const G& g = kPowers[static_cast<std::size_t>(k - kMinK)];
  const u64 vb = round_odd(g, cb << h);
  const u64 vbl = round_odd(g, cbl << h);
  const u64 vbr = round_odd(g, cbr << h);
  // The nearest of the two decimals about v with as many digits as s, and
  // the one multiple of ten in the interval where there is one; chosen
  // without branches, as which it is changes from value to value.
  const u64 s = vb >> 2;
  const u64 t = s + 1;
  const bool uin = vbl + out <= s << 2;
  const bool win = (t << 2) + out <= vbr;
  const std::int64_t cmp = static_cast<std::int64_t>(vb - ((s + t) << 1));
  const u64 nearest = cmp < 0 || (cmp == 0 && (s & 1) == 0) ? s : t;
  const u64 longer = uin != win ? (uin ? s : t) : nearest;
  const u64 sp10 = s / 10 * 10;
  const u64 tp10 = sp10 + 10;
  const bool upin = vbl + out <= sp10 << 2;
  const bool wpin = (tp10 << 2) + out <= vbr;
  const bool shorter = s >= 10 && upin != wpin;
  return {shorter ? (upin ? sp10 : tp10) : longer, k + dk};
}

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The eight digits of x < 10^8 as text in one 64-bit word, first digit in
// the lowest byte, leading zeros and all: two halves of four digits, then
// four pairs, then eight digits, side by side (multiplications by
// 10486 / 2^20 and 103 / 2^10 divide exactly by 100 and 10 over the ranges
// they meet here).
u64 eight_digits(std::uint32_t x) {
  const u64 halves = (x / 10000) | (static_cast<u64>(x % 10000) << 32);
  const u64 hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007Fu;
  const u64 pairs = hundreds | ((halves - 100 * hundreds) << 16);
  const u64 tens = ((pairs * 103) >> 10) & 0x000F000F000F000Fu;
  const u64 digits = tens | ((pairs - 10 * tens) << 8);
  return digits + 0x3030303030303030u;
}

int digit_count(u64 v) {  // v > 0
  static constexpr u64 kTens[] = {1u,
                                  10u,
                                  100u,
                                  1000u,
                                  10000u,
                                  100000u,
                                  1000000u,
                                  10000000u,
                                  100000000u,
                                  1000000000u,
                                  10000000000u,
                                  100000000000u,
                                  1000000000000u,
                                  10000000000000u,
                                  100000000000000u,
                                  1000000000000000u,
                                  10000000000000000u,
                                  100000000000000000u,
                                  1000000000000000000u,
                                  10000000000000000000u};
  const int t = (static_cast<int>(std::bit_width(v)) * 1233) >> 12;  // floor(log10 2^width), the count or one less
  return t + (v >= kTens[t] ? 1 : 0);
}

// The digits of v < 10^24 written to end at `end`, which has 24 characters
// before it to write in, eight at a time with leading zeros.
void write_digits_back(char* end, u64 v) {
  constexpr u64 kEight = 100000000;
  const u64 upper = v / kEight;
  const u64 words[3] = {eight_digits(static_cast<std::uint32_t>(upper / kEight)),
                        eight_digits(static_cast<std::uint32_t>(upper % kEight)),
                        eight_digits(static_cast<std::uint32_t>(v % kEight))};
  std::memcpy(end - 24, words, 24);
}

}  // namespace

char* write_shortest(char* at, double value) {
  if constexpr (std::endian::native != std::endian::little) return std::to_chars(at, at + kShortestChars, value).ptr;
  const u64 bits = std::bit_cast<u64>(value);
  const int bq = static_cast<int>((bits >> (kPrecision - 1)) & 0x7ff);
  const u64 t = bits & (kMinC - 1);
  if (bq == 0x7ff || (bq == 0 && t == 0)) return std::to_chars(at, at + kShortestChars, value).ptr;
  char* const start = at;
  if (bits >> 63) *at++ = '-';

  Decimal d;
  if (bq != 0) {
    const int mq = -kMinQ + 1 - bq;
    const u64 c = kMinC | t;
    if (0 < mq && mq < kPrecision && ((c >> mq) << mq) == c) {
      d = {c >> mq, 0};  // an integer below 2^53
    } else {
      d = to_decimal(-mq, c, 0);
    }
  } else {
    d = t < 3 ? to_decimal(kMinQ, 10 * t, -1) : to_decimal(kMinQ, t, 0);  // subnormal
  }
  while (d.digits % 10 == 0) {
    d.digits /= 10;
    ++d.exponent;
  }

  // The digits at buf + 24, with room after them to copy whole blocks from
  // (zeros, so that nothing unset is ever copied).
  char buf[64] = {};
  const int n = digit_count(d.digits);
  const char* const first = buf + 24;
  write_digits_back(buf + 24 + n, d.digits);
  const int x = d.exponent + n - 1;  // value = d.ddd 10^x
  const int sci_len = n + (n > 1 ? 1 : 0) + 2 + (x <= -100 || x >= 100 ? 3 : 2);
  const int fixed_len = x >= n - 1 ? x + 1 : (x >= 0 ? n + 1 : n + 1 - x);
  // Copies of fixed length, cut where the text ends: n <= 17, and the fixed
  // form is the shorter only within four places of the point.
  if (fixed_len <= sci_len) {
    if (x >= n - 1) {
      // std::to_chars writes the exact integer here, which can differ from the
      // shortest digits with zeros once the value passes 2^53.
      if (std::fabs(value) >= 0x1p53) return std::to_chars(start, start + kShortestChars, value).ptr;
      std::memcpy(at, first, 17);
      std::memcpy(at + n, "00000000", 8);
      return at + x + 1;
    }
    if (x >= 0) {
      std::memcpy(at, first, 16);
      at[x + 1] = '.';
      std::memcpy(at + x + 2, first + x + 1, 16);
      return at + n + 1;
    }
    std::memcpy(at, "0.000", 5);
    std::memcpy(at + 1 - x, first, 17);
    return at + n + 1 - x;
  }
  at[0] = first[0];
  at[1] = '.';
  std::memcpy(at + 2, first + 1, 16);
  at += n > 1 ? n + 1 : 1;
  *at++ = 'e';
  *at++ = x < 0 ? '-' : '+';
  const int ax = x < 0 ? -x : x;
  if (ax >= 100) {
    *at++ = static_cast<char>('0' + ax / 100);
    std::memcpy(at, kPairs + 2 * (ax % 100), 2);
  } else {
    std::memcpy(at, kPairs + 2 * ax, 2);
  }
  return at + 2;
}

}  // namespace talvo
