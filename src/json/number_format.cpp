// format_unsigned and format_double: integers from digit pairs, doubles as their shortest
// round-trip digits laid out in one of four forms. Both write into the caller's fixed
// buffer and allocate nothing.
//
// Shortest digits: the fewest decimal places whose nearest decimal lies within half an ulp.
// The test is exact, in 128-bit integers; the doubles they cannot hold go to std::to_chars.
#include "json/number_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "json/powers_of_ten.h"

namespace velmar::json {
namespace detail {
namespace {

// "00" to "99": the digit pairs integers are written with, two digits per division.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// floor(e * log10(2)), the power of ten of the first digit of 2^e: 1233 / 4096 is log10(2)
// rounded down, and the result is exact for |e| <= 680. 10 -> 3 (2^10 = 1024),
// -1 -> -1 (0.5).
constexpr int floor_log10_pow2(int e) {
  assert(e >= -680 && e <= 680);
  return (e * 1233) >> 12;
}

// 1 for zero, else the number of decimal digits of `v`. With w bits, v lies in
// [2^(w-1), 2^w) and has floor_log10_pow2(w) digits or one more, one more when it reaches
// the next power of ten: 999 and 1000 both have 10 bits, so 3 and 3 + 1. `v | 1` keeps
// zero at one digit and crosses no power of ten.
std::size_t count_digits(std::uint64_t v) {
  const std::uint64_t w = v | 1;
  const int width = 64 - std::countl_zero(w);
  const auto estimate = static_cast<std::size_t>(floor_log10_pow2(width));
  return estimate + (w >= kPow10Int[estimate] ? 1 : 0);
}

void put_pair(char* p, std::uint64_t pair) { std::memcpy(p, &kDigitPairs[2 * pair], 2); }

// e(+|-)|u| from p on; returns the end.
char* write_exponent(int exponent, char* p) {
  *p++ = 'e';
  *p++ = exponent < 0 ? '-' : '+';
  auto magnitude = static_cast<std::uint64_t>(exponent < 0 ? -exponent : exponent);
  if (magnitude >= 100) {
    // -324 -> e-324: the hundreds, then a pair.
    *p++ = static_cast<char>('0' + magnitude / 100);
    magnitude %= 100;
    put_pair(p, magnitude);
    p += 2;
  } else if (magnitude >= 10) {
    put_pair(p, magnitude);  // 16 -> e+16
    p += 2;
  } else {
    *p++ = static_cast<char>('0' + magnitude);  // -7 -> e-7
  }
  return p;
}

// Unsigned 128-bit arithmetic, exact for the products of the short-digits search.
__extension__ using Uint128 = unsigned __int128;

// 5^k for k <= 40, all below 2^93; the search divides by 10^j = 2^j * 5^j for j up to
// here, and reads 10^-j from kPow10Neg.
constexpr int kMaxPow5 = 40;
constexpr auto kPowersOfFive = [] {
  std::array<Uint128, kMaxPow5 + 1> powers{};
  Uint128 p = 1;
  for (Uint128& slot : powers) {
    slot = p;
    p *= 5;
  }
  return powers;
}();
static_assert(kMaxPow5 <= kMaxPow10Neg);

// Writes the count_digits(v) digits of `v` from `buf` on, four at a time from the last
// (one division of the wide value per four digits), then two at a time: 123456789 ->
// "6789", "2345", then the lone "1".
std::size_t write_digits(std::uint64_t v, char* buf) {
  const std::size_t n = count_digits(v);
  char* p = buf + n;
  while (v >= 10000) {
    const auto four = static_cast<std::uint32_t>(v % 10000);
    v /= 10000;
    p -= 4;
    put_pair(p, four / 100);
    put_pair(p + 2, four % 100);
  }
  auto rest = static_cast<std::uint32_t>(v);
  if (rest >= 100) {
    p -= 2;
    put_pair(p, rest % 100);
    rest /= 100;
  }
  if (rest >= 10) {
    put_pair(p - 2, rest);  // 1234 -> "34", then the pair "12"
  } else {
    p[-1] = static_cast<char>('0' + rest);
  }
  return n;
}

// m * 10^-k, m > 0: the shortest digits found by exact arithmetic. m has no trailing zero,
// except for a whole number below 2^53, which is its own m with k = 0.
struct ScaledDecimal {
  std::uint64_t m;
  int k;
};

// A 53-bit significand times 5^k stays below 2^128 for k up to here.
constexpr int kMaxFractionDigits = 32;

// v = m * 2^e scaled by 10^k is m * 5^k / 2^s with s = -(e + k). The integer nearest to
// it (ties to even) goes into `out` when it is closer than half a unit in the last place
// of v scaled alike, 5^k / 2 in units of 2^-s; that distance is never exactly half a
// unit, as 5^k is odd. 0.3 = 5404319552844595 * 2^-54, k = 1: 5404319552844595 * 5 / 2^53
// is 3 less 1 / 2^53, nearer than 5 / 2 units, so 3 goes out (0.3 reads back).
// Preconditions: 0 <= k <= kMaxFractionDigits, m < 2^53, 0 <= s < 128.
bool nearest_reads_back(std::uint64_t m, int e, int k, std::uint64_t& out) {
  assert(k >= 0 && k <= kMaxFractionDigits && m < std::uint64_t{1} << 53);
  const Uint128 scaled = Uint128{m} * kPowersOfFive[static_cast<std::size_t>(k)];
  const int s = -(e + k);
  assert(s >= 0 && s < 128);
  const Uint128 unit = Uint128{1} << s;
  const Uint128 remainder = scaled & (unit - 1);
  auto nearest = static_cast<std::uint64_t>(scaled >> s);
  Uint128 distance = remainder;
  if (2 * remainder > unit || (2 * remainder == unit && (nearest & 1) != 0)) {
    ++nearest;
    distance = unit - remainder;
  }
  if (2 * distance >= kPowersOfFive[static_cast<std::size_t>(k)]) return false;
  out = nearest;
  return true;
}

// Whether v * 10^k may lie within half a unit in the last place of v scaled alike,
// 10^k * 2^(e-1), of an integer, judged in doubles: false only when it cannot. The
// rounded product t is within 10^k * 2^e of the exact one, so a candidate that reads
// back lies within 1.5 * 10^k * 2^e of t; rounding t to an integer and the difference are
// exact below 2^52. `twice_ulp` is 2^(e+1).
bool may_read_back(double v, int k, double twice_ulp) {
  if (k > kMaxExactPow10) return true;
  const double p = kPow10[k];
  const double t = v * p;
  if (t >= 0x1p52) return true;
  const double rest = t - static_cast<double>(static_cast<std::int64_t>(t + 0.5));
  return std::fabs(rest) <= p * twice_ulp;
}

// Whether v / 10^j may lie within half a unit in the last place of v scaled alike,
// 2^(e-1) / 10^j, of an integer, judged in doubles: false only when it cannot. t, the
// rounded product by the rounded 10^-j, is within 2^(e+1) / 10^j of the exact quotient, so
// a candidate that reads back lies within 2.5 * 2^e / 10^j of t; the bound tested is
// 4 * 2^e / 10^j, which rounding cannot bring below that. `two_to_e` is 2^e.
bool may_read_back_scaled_down(double v, int j, double two_to_e) {
  const double q = kPow10Neg[j];
  const double t = v * q;
  if (t >= 0x1p52) return true;
  const double rest = t - static_cast<double>(static_cast<std::int64_t>(t + 0.5));
  return std::fabs(rest) <= 4 * two_to_e * q;
}

// v = m * 2^e, e >= 1, near c * 10^j: the nearest c goes into `out` when c * 10^j reads
// back as v, that is lies within half a unit in the last place, 2^(e-1), or at it with m
// even (a tie reads as the even significand). Preconditions: 1 <= e <= 74,
// 0 <= j <= kMaxPow5, m < 2^53 not a power of two.
bool nearest_multiple_reads_back(std::uint64_t m, int e, int j, std::uint64_t& out) {
  assert(e >= 1 && e <= 74 && j >= 0 && j <= kMaxPow5);
  assert(m < std::uint64_t{1} << 53 && !std::has_single_bit(m));
  const Uint128 five = kPowersOfFive[static_cast<std::size_t>(j)];
  if (j > e) {
    // The distance is a multiple of 2^e, so only v itself reads back: 1e22 is
    // 4768371582031250 * 2^21, and with j = 22 the step 10^22 / 2^21 = 2 * 5^22 is m
    // itself, so c = 1.
    const Uint128 step = five << (j - e);
    if (step > m || m % static_cast<std::uint64_t>(step) != 0) return false;
    out = m / static_cast<std::uint64_t>(step);
    return true;
  }
  // v / 10^j = m * 2^(e-j) / 5^j; the distance is the remainder times 2^j.
  const Uint128 scaled = Uint128{m} << (e - j);
  auto nearest = static_cast<std::uint64_t>(scaled / five);
  Uint128 distance = scaled % five;
  if (2 * distance > five) {  // never equal, as 5^j is odd
    ++nearest;
    distance = five - distance;
  }
  if (e == j) {
    // The distance counts whole units in the last place: only none reads back.
    if (distance != 0) return false;
  } else {
    // In units of 2^j. 1e23 is 5960464477539062 * 2^24, 10^23 less 2^23: with j = 23 the
    // nearest c is 1, at half a unit in the last place with m even, so 1e+23.
    const Uint128 half_ulp = Uint128{1} << (e - j - 1);
    if (distance > half_ulp || (distance == half_ulp && (m & 1) != 0)) return false;
  }
  out = nearest;
  return true;
}

// Whole numbers from 2^53 to 2^127, not powers of two: the candidates are the multiples of
// 10^j nearest to v, and the greatest j that reads back gives the fewest digits, so j is
// tried downwards from where the candidate is 1 or less; 17 significant digits always read
// back, which bounds j from below. The candidate there has no trailing zero, else j + 1
// would do.
bool shortest_whole_digits(double v, std::uint64_t m, int e, ScaledDecimal& d) {
  const int log2 = e + 52;
  const int low_log10 = floor_log10_pow2(log2);  // floor(log10(v)) or one less
  const int least = std::max(0, low_log10 - 16);
  const double two_to_e = std::bit_cast<double>(static_cast<std::uint64_t>(e + 1023) << 52);
  for (int j = low_log10 + 2; j >= least; --j) {
    std::uint64_t found = 0;
    if (may_read_back_scaled_down(v, j, two_to_e) && nearest_multiple_reads_back(m, e, j, found)) {
      d = {found, -j};
      return true;
    }
  }
  return false;
}

// The shortest digits by exact integer arithmetic, for values below 2^127 that are whole
// numbers or at least 2^-46, and not a power of two (whose lower neighbour is nearer)
// unless a whole number below 2^53.
// Each candidate is the decimal nearest to v with k fraction digits; it reads back as v
// exactly when its distance is below half a unit in the last place. A candidate with k
// digits scales to one with k + 1, so the first k that reads back, tried upwards, gives
// the fewest digits; a quick test in doubles skips most k that cannot. 17 significant
// digits always read back, which bounds k. At the least k the candidate has no trailing
// zero, else k - 1 would do. False outside the range; the caller then formats by text.
bool shortest_digits_exactly(double v, ScaledDecimal& d) {
  const auto bits = std::bit_cast<std::uint64_t>(v);
  const auto biased = static_cast<int>(bits >> 52);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0) return false;
  const std::uint64_t m = fraction | (std::uint64_t{1} << 52);
  const int e = biased - 1075;  // v = m * 2^e
  // 1e22 -> m = 1, k = -22; powers of two and values from 2^127 on (1e40) by text.
  if (e > 0) return fraction != 0 && e <= 74 && shortest_whole_digits(v, m, e, d);
  if (std::countr_zero(m) >= -e) {
    // A whole number below 2^53: its own digits are the shortest, as ulp(v) <= 1 and any
    // shorter decimal lies at least 1 away. 1234.0 -> m = 1234, k = 0.
    d = {m >> -e, 0};
    return true;
  }
  if (fraction == 0) return false;  // 0.5, 2^-3: by text
  const int log2 = e + 52;
  if (log2 < -46) return false;  // 1e-15: by text
  // The first digit of v stands for 10^u with u = f or f + 1.
  const int f = floor_log10_pow2(log2);
  // 16 - u fraction digits give 17 significant ones, which always read back.
  const int most = std::min(16 - f, kMaxFractionDigits);
  const double twice_ulp = std::bit_cast<double>(static_cast<std::uint64_t>(biased - 51) << 52);
  // v is not whole, so no candidate has zero fraction digits; and v < 10^(u+1), so with
  // fewer than -(u+1) >= -(f+2) digits the candidates are 0 and multiples of 10^(u+2),
  // above 10v. 0.3: k = 1 at once (m = 3); 0.000123: k = 2 to 6 (m = 123).
  const int least = std::max(1, -(f + 2));
  for (int k = least; k <= most; ++k) {
    std::uint64_t found = 0;
    if (may_read_back(v, k, twice_ulp) && nearest_reads_back(m, e, k, found)) {
      d = {found, k};
      return true;
    }
  }
  return false;
}

// m * 10^-k, with n digits in m, in the layout for the power of ten u = n - 1 - k of its
// first digit (see uses_exponent_form).
std::size_t write_scaled_decimal(ScaledDecimal d, char* buf) {
  const std::size_t n = count_digits(d.m);
  const int u = static_cast<int>(n) - 1 - d.k;
  if (uses_exponent_form(u)) {
    // 15e-8 -> 1.5e-7: the digits one place on, then the first moved before the point.
    write_digits(d.m, buf + 1);
    buf[0] = buf[1];
    char* end = buf + 1;  // 1e16 -> 1e+16: one digit, no point
    if (n > 1) {
      buf[1] = '.';
      end = buf + n + 1;
    }
    return static_cast<std::size_t>(write_exponent(u, end) - buf);
  }
  if (u < 0) {
    // 123e-6 -> 0.000123: "0.", -u-1 zeros, the digits.
    const auto zeros = static_cast<std::size_t>(-u - 1);
    std::memcpy(buf, "0.0000", 6);  // "0." and up to four zeros
    return 2 + zeros + write_digits(d.m, buf + 2 + zeros);
  }
  const auto whole = static_cast<std::size_t>(u) + 1;
  if (whole < n) {
    // 123456e-3 -> 123.456: the digits after the point from the last, "56" then "4", the
    // point, then those before it.
    std::uint64_t m = d.m;
    char* p = buf + n + 1;
    std::size_t fraction = n - whole;
    for (; fraction >= 2; fraction -= 2) {
      p -= 2;
      put_pair(p, m % 100);
      m /= 100;
    }
    if (fraction == 1) {
      *--p = static_cast<char>('0' + m % 10);
      m /= 10;
    }
    *--p = '.';
    write_digits(m, buf);
    return n + 1;
  }
  // 1e2 -> 100.0 (m = 1, k = -2) and 100e0 -> 100.0: the digits, u+1-n zeros, ".0".
  write_digits(d.m, buf);
  for (std::size_t i = n; i < whole; ++i) buf[i] = '0';
  buf[whole] = '.';
  buf[whole + 1] = '0';
  return whole + 2;
}

// std::to_chars in scientific form without a precision yields the shortest round-trip
// digits, nearest to the value and ties to even, as "d[.ddd]e(+|-)XX[X]"; at most 17
// digits, so m fits. "1.5e-07" -> m = 15, k = 1 + 7; "5e-324" -> m = 5, k = 324.
ScaledDecimal shortest_digits_by_text(double v) {
  assert(std::isfinite(v) && v > 0);
  std::array<char, 32> text;
  const auto [end, ec] =
      std::to_chars(text.data(), text.data() + text.size(), v, std::chars_format::scientific);
  assert(ec == std::errc());
  (void)ec;

  const char* p = text.data();
  std::uint64_t m = static_cast<std::uint64_t>(*p++ - '0');
  int fraction_digits = 0;
  if (*p == '.') {
    for (++p; *p != 'e'; ++p, ++fraction_digits) {
      m = m * 10 + static_cast<std::uint64_t>(*p - '0');
    }
  }
  ++p;  // 'e'
  const bool negative = *p++ == '-';
  int exponent = 0;
  for (; p != end; ++p) exponent = exponent * 10 + (*p - '0');
  return {m, fraction_digits - (negative ? -exponent : exponent)};
}

// The shortest digits of finite v > 0 as m * 10^-k.
ScaledDecimal shortest_scaled(double v) {
  ScaledDecimal exact{};
  if (shortest_digits_exactly(v, exact)) return exact;
  return shortest_digits_by_text(v);
}

}  // namespace
}  // namespace detail

std::size_t format_unsigned(std::uint64_t v, char* buf) { return detail::write_digits(v, buf); }

std::size_t format_double(double v, char* buf) {
  assert(std::isfinite(v));
  char* p = buf;
  if (std::signbit(v)) {
    *p++ = '-';
    v = -v;
  }
  if (v == 0) {
    std::memcpy(p, "0.0", 3);  // -0.0 -> "-0.0"
    return static_cast<std::size_t>(p - buf) + 3;
  }
  return static_cast<std::size_t>(p - buf) +
         detail::write_scaled_decimal(detail::shortest_scaled(v), p);
}

std::size_t format_known_digits(bool negative, std::uint64_t digits, int k, char* buf) {
  assert(digits > 0);
  char* p = buf;
  if (negative) *p++ = '-';
  return static_cast<std::size_t>(p - buf) + detail::write_scaled_decimal({digits, k}, p);
}

}  // namespace velmar::json
