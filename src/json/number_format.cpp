// format_unsigned and format_double: integers from digit pairs, doubles as their shortest
// round-trip digits laid out in one of four forms. Both write into the caller's fixed
// buffer and allocate nothing.
//
// Shortest digits come from one stage (shortest_digits, by Giulietti's Schubfach method,
// exact for every finite double) and are laid out by another: write_digit_text for the
// search's, write_scaled_decimal for digits known beforehand and whole numbers. Both
// layouts write the same text for the same digits.
#include "json/number_format.h"

#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "json/powers_of_ten.h"
#include "json/simd.h"
#include "json/word.h"

namespace velmar::json {
namespace detail {
namespace {

// Digits of a significand: 17 are enough for every double.
constexpr std::size_t kMaxSignificandDigits = 17;

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

// Largest magnitude of an exponent: 5e-324.
constexpr int kMaxExponent = 324;

// The exponent texts "e-324" to "e+324" as words, the text in the low bytes and its length
// in the highest: -7 -> "e-7" 3, 16 -> "e+16" 4, -324 -> "e-324" 5.
constexpr auto kExponentWords = [] {
  std::array<std::uint64_t, 2 * kMaxExponent + 1> table{};
  for (int u = -kMaxExponent; u <= kMaxExponent; ++u) {
    const int m = u < 0 ? -u : u;
    const int count = m >= 100 ? 3 : m >= 10 ? 2 : 1;
    std::uint64_t word = std::uint64_t{'e'} | static_cast<std::uint64_t>(u < 0 ? '-' : '+') << 8;
    for (int i = count - 1, rest = m; i >= 0; --i, rest /= 10) {
      word |= static_cast<std::uint64_t>('0' + rest % 10) << (8 * (2 + i));
    }
    table[static_cast<std::size_t>(u + kMaxExponent)] = word | static_cast<std::uint64_t>(2 + count)
                                                                   << 56;
  }
  return table;
}();

// e(+|-)|u| from p on, |u| <= 324; returns the end. Stores the whole word, so it writes up
// to eight bytes, within kDoubleBufferBytes.
char* write_exponent(int exponent, char* p) {
  const std::uint64_t word = kExponentWords[static_cast<std::size_t>(exponent + kMaxExponent)];
  std::memcpy(p, &word, 8);
  return p + (word >> 56);
}

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

constexpr std::uint64_t kZeroBytes = 0x3030303030303030;  // '0' in each byte

// The same digits as ASCII text: plus '0' in each byte.
std::uint64_t eight_digits(std::uint64_t v) { return eight_digit_values(v) + kZeroBytes; }

void put_8_digits(std::uint64_t v, char* p) {
  const std::uint64_t word = eight_digits(v);
  std::memcpy(p, &word, 8);
}

// Exactly the 16 digits of v < 10^16, leading zeros too, as two 8-digit words.
void put_16_digits(std::uint64_t v, char* p) {
  const std::uint64_t high = v / 100000000;
  put_8_digits(high, p);
  put_8_digits(v - high * 100000000, p + 8);
}

// The n digits of m (1 <= n <= 17, m < 10^n) from p on, followed by zeros up to 8, 16 or
// 17 bytes: m is scaled to the width of its words. 1234, 4 -> "12340000".
void put_significand(std::uint64_t m, std::size_t n, char* p) {
  assert(n >= 1 && n <= kMaxSignificandDigits && m < kPow10Int[n]);
  if (n <= 8) {
    put_8_digits(m * kPow10Int[8 - n], p);
  } else if (n <= 16) {
    put_16_digits(m * kPow10Int[16 - n], p);
  } else {
    const std::uint64_t first = m / kPow10Int[16];
    p[0] = static_cast<char>('0' + first);
    put_16_digits(m - first * kPow10Int[16], p + 1);
  }
}

// m * 10^-k, m > 0: a double's digits. Known digits have no trailing zero; the search's may
// have some, which the text leaves out.
struct ScaledDecimal {
  std::uint64_t m;
  int k;
};

// MARK: shortest digits
//
// Giulietti's Schubfach ("The Schubfach way to render doubles"). v = c * 2^q reads back
// from every decimal in its rounding interval R: from (c - 1/2) * 2^q to (c + 1/2) * 2^q,
// or from (c - 1/4) * 2^q when c = 2^52 and q > -1074 (the lower neighbour is then half as
// far); closed when c is even (a tie reads back as the even significand), open otherwise.
// With 10^k <= |R| < 10^(k+1), R holds at least one multiple of 10^k and at most one of
// 10^(k+1) (the pigeonhole the method is named after). So the shortest digits are the
// multiple of 10^(k+1) in R when there is one (s' or t' = s' + 10^(k+1), those around v),
// else the nearer to v of the two multiples of 10^k around it, s and t = s + 10^k, ties to
// the even one; no other decimal in R is shorter or nearer.
// Worked example: 0.3 = 5404319552844595 * 2^-54 (c odd, R open), k = -17: in units of
// 10^-17, v is 30000000000000000 less 1.1 and R reaches 2.8 either side, so of s' and t'
// (29999999999999990 and 30000000000000000) t' lies in R, and 0.3 = 3 * 10^-1 goes out.
// The scaled bounds are computed as 4 * x * 2^q * 10^-k (two fraction bits) from the
// 128-bit significand of 10^-k, rounded to odd: the floor, with the lowest bit set when
// something was cut off. A rounded-to-odd value compares with an even integer, 4s among
// them, exactly as the exact product does, which is all the selection needs.

// floor(e * log10(2)) as floor_log10_pow2, exact for |e| <= 1100 (every binary exponent),
// from log10(2) * 2^41 rounded down. -1074 -> -324, 971 -> 292.
constexpr int floor_log10_pow2_wide(int e) {
  return static_cast<int>((std::int64_t{e} * 661971961083) >> 41);
}
// floor(log10(3/4 * 2^e)) for -1073 <= e <= 971, the scale of the narrower interval at
// c = 2^52; log10(3/4) * 2^41 rounded up is subtracted. 4 -> 1 (12), 3 -> 0 (6).
constexpr int floor_log10_three_quarters_pow2(int e) {
  return static_cast<int>((std::int64_t{e} * 661971961083 - 274743187320) >> 41);
}
// floor(e * log2(10)) for |e| <= 400, from log2(10) * 2^40 rounded down. 3 -> 9, -1 -> -4.
constexpr int floor_log2_pow10(int e) {
  return static_cast<int>((std::int64_t{e} * 3652498566964) >> 40);
}
static_assert(floor_log10_pow2_wide(10) == 3 && floor_log10_pow2_wide(-1) == -1);
static_assert(floor_log10_pow2_wide(-1074) == -324 && floor_log10_pow2_wide(971) == 292);
static_assert(floor_log10_three_quarters_pow2(4) == 1 && floor_log10_three_quarters_pow2(3) == 0);
static_assert(floor_log2_pow10(3) == 9 && floor_log2_pow10(-1) == -4);

// Unsigned 128-bit products of a table entry and a scaled significand.
__extension__ using Uint128 = unsigned __int128;

// cp * g / 2^128 rounded to odd: the floor, with the lowest bit set when the bits from 2^64
// to 2^128 of the product are not all zero (those below are dropped). g exceeds the exact
// 10^-k scaled by less than one unit, which moves the product by less than cp < 2^59 units
// of 2^-128 of the result's unit, too little to reach the bits kept; and an exact product's
// fraction never comes that close to 0 or 1 (Schubfach's analysis of the double range).
std::uint64_t round_to_odd(Wide128 g, std::uint64_t cp) {
  const Uint128 low = Uint128{g.lo} * cp;
  const Uint128 high = Uint128{g.hi} * cp + static_cast<std::uint64_t>(low >> 64);
  return static_cast<std::uint64_t>(high >> 64) | (static_cast<std::uint64_t>(high) != 0 ? 1 : 0);
}

// The shortest digits of c * 2^q, 0 < c < 2^53, -1074 <= q <= 971 (see MARK above), as
// m * 10^-k where m may end in zeros: 0.5 comes as 5000000000000000 * 10^-16. kSymmetric
// unless c = 2^52 and q > -1074, whose lower neighbour is half as far. Each choice is made
// without a branch, as digits of random doubles leave every one of them unpredictable.
template <bool kSymmetric>
[[gnu::always_inline]] inline ScaledDecimal shortest_digits(std::uint64_t c, int q) {
  const int k = kSymmetric ? floor_log10_pow2_wide(q) : floor_log10_three_quarters_pow2(q);
  // 2^h puts the product's unit at 2^-128: 1 <= h <= 4, so cp < 2^59.
  const int h = q + floor_log2_pow10(-k) + 1;
  assert(h >= 1 && h <= 4 && -k >= kMinPow10Wide && -k <= kMaxPow10Wide);
  const Wide128 g = kPow10Wide.g[-k - kMinPow10Wide];
  const std::uint64_t open = c & 1;  // an odd c's bounds do not read back
  const std::uint64_t cb = c << 2;
  const std::uint64_t vb = round_to_odd(g, cb << h);  // 4v, scaled by 10^-k
  const std::uint64_t vbl = round_to_odd(g, (cb - (kSymmetric ? 2 : 1)) << h) + open;
  const std::uint64_t vbr = round_to_odd(g, (cb + 2) << h) - open;

  const std::uint64_t s = vb >> 2;
  const std::uint64_t sp10 = s / 10 * 10;
  const bool sp10_in = vbl <= sp10 << 2;
  const bool tp10_in = (sp10 + 10) << 2 <= vbr;
  // Neither s nor t = s + 1 ends in 0 when it lies in R, else sp10 or tp10 is it. R is
  // wider than 10^k, so it holds s or t; when both, the nearer to v, at a tie the even one:
  // 4v - 4s is 0 to 3 and the midpoint 2, so s is nearer below it, and at it when even.
  const std::uint64_t s_in = vbl <= s << 2 ? 1 : 0;
  const std::uint64_t t_out = (s + 1) << 2 <= vbr ? 0 : 1;
  const std::uint64_t s_nearer = (vb & 3) + (s & 1) < 3 ? 1 : 0;
  const std::uint64_t take_s = s_in & (t_out | s_nearer);
  const std::uint64_t nearest = s + 1 - take_s;
  const std::uint64_t shorter = sp10 + 10 - 10 * std::uint64_t{sp10_in};
  return {sp10_in != tp10_in ? shorter : nearest, -k};
}

// The digits shortest_digits<true> finds, from the one product v * 10^-k (its integer s
// and 64 fraction bits f) where that one tells them. With 10^k <= ulp < 10^(k+1), R is
// narrower than 10 units, so it holds at most one multiple of 10, the one below v (s less
// s % 10) or the one after it, which is then the shortest; else the integer nearest v, which
// lies in R, as half an ulp is at least half a unit. v's place in its decade, X = (s % 10)
// and f, and half an ulp H = g * 2^(h-65) are in units of 2^-64, each within 1.01 units of
// exact; a comparison that lands within 3 units, and a fraction within 2 of one half (ties
// and bounds on a multiple of 10 among them), is left to the full search. 0.3, k = -17:
// v * 10^17 = 29999999999999998.9 and H = 2.78, so 3 * 10^16 lies in R and is taken.
[[gnu::always_inline]] inline bool shortest_digits_near(std::uint64_t c, int q,
                                                        ScaledDecimal& out) {
  __extension__ using Int128 = __int128;
  const int k = floor_log10_pow2_wide(q);
  const int h = q + floor_log2_pow10(-k) + 1;
  const Wide128 g = kPow10Wide.g[-k - kMinPow10Wide];
  const std::uint64_t cp = c << h;
  const Uint128 low = Uint128{g.lo} * cp;
  const Uint128 high = Uint128{g.hi} * cp + static_cast<std::uint64_t>(low >> 64);
  const auto s = static_cast<std::uint64_t>(high >> 64);
  const auto f = static_cast<std::uint64_t>(high);
  const std::uint64_t below = s % 10;
  const auto x = static_cast<Int128>(Uint128{below} << 64 | f);
  const auto half_ulp = static_cast<Int128>((Uint128{g.hi} << 64 | g.lo) >> (65 - h));
  const Int128 to_lower = x - half_ulp;                       // < 0: the multiple below in R
  const Int128 to_upper = (Int128{10} << 64) - x - half_ulp;  // <= 0: the one after it in R
  const std::uint64_t to_half = f - (std::uint64_t{1} << 63);
  const bool unclear = static_cast<Uint128>(to_lower + 3) <= 6 ||
                       static_cast<Uint128>(to_upper + 3) <= 6 || to_half + 2 <= 4;
  if (unclear) return false;
  const std::uint64_t lower_in = to_lower < 0 ? 1 : 0;
  const std::uint64_t upper_in = to_upper < 0 ? 1 : 0;
  const std::uint64_t nearest = s + (f >> 63);
  const std::uint64_t shorter = s - below + 10 * upper_in;
  out = {(lower_in | upper_in) != 0 ? shorter : nearest, -k};
  return true;
}

// m * 10^-k, with n digits in m, in the layout for the power of ten u = n - 1 - k of its
// first digit (see uses_exponent_form). The digits go to their place as whole words, which
// may write past the text's end, within kDoubleBufferBytes.
std::size_t write_scaled_decimal(ScaledDecimal d, char* buf) {
  const std::size_t n = count_digits(d.m);
  const int u = static_cast<int>(n) - 1 - d.k;
  if (uses_exponent_form(u)) {
    // 15e-8 -> 1.5e-7: m scaled to 17 digits gives the first digit, then the 16 after the
    // point; 1e16 -> 1e+16: one digit, no point.
    const std::uint64_t m17 = d.m * kPow10Int[kMaxSignificandDigits - n];
    const std::uint64_t first = m17 / kPow10Int[16];
    buf[0] = static_cast<char>('0' + first);
    buf[1] = '.';
    put_16_digits(m17 - first * kPow10Int[16], buf + 2);
    return static_cast<std::size_t>(write_exponent(u, n > 1 ? buf + n + 1 : buf + 1) - buf);
  }
  if (u < 0) {
    // 123e-6 -> 0.000123: "0.", -u-1 zeros, the digits.
    const auto zeros = static_cast<std::size_t>(-u - 1);
    std::memcpy(buf, "0.0000", 6);  // "0." and up to four zeros
    put_significand(d.m, n, buf + 2 + zeros);
    return 2 + zeros + n;
  }
  const auto whole = static_cast<std::size_t>(u) + 1;
  if (whole < n) {
    // 123456e-3 -> 123.456: the digits, then the fraction moved one place on for the point.
    put_significand(d.m, n, buf);
    std::memmove(buf + whole + 1, buf + whole, 16);  // fraction of at most 16 digits
    buf[whole] = '.';
    return n + 1;
  }
  // 1e2 -> 100.0 (m = 1, k = -2) and 100e0 -> 100.0: m scaled to `whole` digits, ".0".
  put_significand(d.m * kPow10Int[whole - n], whole, buf);
  buf[whole] = '.';
  buf[whole + 1] = '0';
  return whole + 2;
}

// The 17 digits of m17, 10^16 <= m17 < 10^17, as text: the first digit's character, the 16
// after it in one block, and the count of significant digits, 17 less the zeros at the
// end. 12300000000000000 -> '1', "2300000000000000", 3.
struct DigitText {
  char first;
  Block rest;
  std::size_t n;
};

DigitText digit_text(std::uint64_t m17) {
  const std::uint64_t top = m17 / 100000000;  // the first 9 digits
  const std::uint32_t lead = static_cast<std::uint32_t>(top) / 100000000;
  const Block digits =
      decimal_digit_lanes(top - std::uint64_t{lead} * 100000000, m17 - top * 100000000);
  // Lane i holds digit i + 2, so the zeros at the end are the top lanes that hold 0.
  const unsigned nonzero = ~lane_bits(lanes_equal(digits, 0)) & 0xFFFF;
  const auto zeros = static_cast<std::size_t>(16 - std::bit_width(nonzero));
  return {static_cast<char>('0' + lead), either(digits, repeated_lanes('0')),
          kMaxSignificandDigits - zeros};
}

// The 17 digits from p on.
void put_digit_text(const DigitText& t, char* p) {
  p[0] = t.first;
  store_block(p + 1, t.rest);
}

// What write_scaled_decimal writes, for m that may end in zeros: all 17 digits of m scaled
// to 17 go out as words, and the zeros at the end are left out by where the text ends or is
// cut by the point. 1500e-10 -> 1.5e-7, 1234500e-4 -> 123.45, 1e2 -> 100.0.
std::size_t write_digit_text(ScaledDecimal d, char* buf) {
  std::size_t width = 0;
  std::uint64_t m17 = 0;
  if (d.m >= kPow10Int[15]) {
    // The search's digits of a normal double: 16 or 17 of them.
    width = d.m >= kPow10Int[16] ? 17 : 16;
    m17 = width == 17 ? d.m : d.m * 10;
  } else {
    width = count_digits(d.m);
    m17 = d.m * kPow10Int[kMaxSignificandDigits - width];
  }
  const int u = static_cast<int>(width) - 1 - d.k;
  const DigitText t = digit_text(m17);
  if (uses_exponent_form(u)) {
    buf[0] = t.first;
    buf[1] = '.';
    store_block(buf + 2, t.rest);
    return static_cast<std::size_t>(write_exponent(u, t.n > 1 ? buf + t.n + 1 : buf + 1) - buf);
  }
  if (u < 0) {
    const auto zeros = static_cast<std::size_t>(-u - 1);
    std::memcpy(buf, "0.0000", 6);  // "0." and up to four zeros
    put_digit_text(t, buf + 2 + zeros);
    return 2 + zeros + t.n;
  }
  const auto whole = static_cast<std::size_t>(u) + 1;
  put_digit_text(t, buf);
  if (whole < t.n) {
    std::memmove(buf + whole + 1, buf + whole, 16);  // fraction of at most 16 digits
    buf[whole] = '.';
    return t.n + 1;
  }
  buf[whole] = '.';  // the digits from n to `whole` are zeros
  buf[whole + 1] = '0';
  return whole + 2;
}

// The powers of two from 2^-1021 on, out of the hot path.
[[gnu::noinline]] ScaledDecimal shortest_digits_of_power_of_two(int q) {
  return shortest_digits<false>(std::uint64_t{1} << 52, q);
}

// The shortest digits of the finite double > 0 with these bits as m * 10^-k, found by the
// search.
ScaledDecimal shortest_scaled(std::uint64_t bits) {
  const auto biased = static_cast<int>(bits >> 52);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0) return shortest_digits<true>(fraction, -1074);  // subnormal
  const int q = biased - 1075;                                     // v = c * 2^q
  if (fraction == 0 && biased > 1) return shortest_digits_of_power_of_two(q);
  const std::uint64_t c = fraction | (std::uint64_t{1} << 52);
  ScaledDecimal near;
  if (shortest_digits_near(c, q, near)) [[likely]]
    return near;
  return shortest_digits<true>(c, q);
}

// The text of the finite double > 0 with these bits.
std::size_t write_shortest(std::uint64_t bits, char* buf) {
  const auto biased = static_cast<int>(bits >> 52);
  const std::uint64_t c = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int q = biased - 1075;  // v = c * 2^q when normal
  if (q <= 0 && q > -53 && std::countr_zero(c) >= -q) {
    // A whole number below 2^53: its own digits are the shortest up to trailing zeros, as
    // ulp(v) <= 1 and any shorter decimal lies at least 1 away. 1234.0 -> m = 1234, k = 0,
    // whose few digits the known digits' layout writes in fewer steps.
    return write_scaled_decimal({c >> -q, 0}, buf);
  }
  return write_digit_text(shortest_scaled(bits), buf);
}

}  // namespace
}  // namespace detail

std::size_t format_unsigned(std::uint64_t v, char* buf) { return detail::write_digits(v, buf); }

std::size_t format_double(double v, char* buf) {
  assert(std::isfinite(v));
  // The sign is written always and kept when set, a step no branch on random signs can take.
  const auto bits = std::bit_cast<std::uint64_t>(v);
  const std::uint64_t magnitude = bits & ~(std::uint64_t{1} << 63);
  const std::size_t sign = bits >> 63;
  buf[0] = '-';
  char* p = buf + sign;
  if (magnitude == 0) {
    std::memcpy(p, "0.0", 3);  // -0.0 -> "-0.0"
    return sign + 3;
  }
  return sign + detail::write_shortest(magnitude, p);
}

std::size_t format_known_digits(bool negative, std::uint64_t digits, int k, char* buf) {
  assert(digits > 0);
  char* p = buf;
  if (negative) *p++ = '-';
  return static_cast<std::size_t>(p - buf) + detail::write_scaled_decimal({digits, k}, p);
}

}  // namespace velmar::json
