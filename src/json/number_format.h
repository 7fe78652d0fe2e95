// The number texts of the writer: integers in plain digits and doubles as their shortest
// round-trip digits in one of four layouts. Both write into the caller's fixed buffer and
// allocate nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmar::json {

// Longest texts format_unsigned and format_double write.
inline constexpr std::size_t kMaxUnsignedText = 20;  // 18446744073709551615
inline constexpr std::size_t kMaxDoubleText = 24;    // -2.2250738585072014e-308
// Room format_double and format_known_digits need: they write digits as whole words,
// which may pass the text's end. The most is for a point inside 17 digits: the sign, 16
// digits, the point, then the fraction moved as a 16-byte block (-1234567890123456.7).
inline constexpr std::size_t kDoubleBufferBytes = 34;

// The layout rule of doubles: exponent form outside 1e-5 <= |x| < 1e16, that is when the
// first significant digit stands for 10^u with u < -5 or u > 15; positional inside.
constexpr bool uses_exponent_form(int u) { return u < -5 || u > 15; }

// Writes the decimal digits of `v` into `buf` (at least kMaxUnsignedText bytes) and
// returns their count.
std::size_t format_unsigned(std::uint64_t v, char* buf);

// Writes finite `v` into `buf` (at least kDoubleBufferBytes) and returns the count:
// the sign, then 0.0 for zero, else the fewest significant digits d1..dn that read back
// as `v` (of those the nearest to it, ties to even), laid out by the power of ten u of d1:
// exponent form when uses_exponent_form(u) (1e+16, 1.5e-7), else small fraction for u < 0
// (0.00001), point inside for u < n-1 (1234.5), whole number otherwise (100.0).
std::size_t format_double(double v, char* buf);

// What format_double writes for a double whose shortest digits are already known,
// `digits` * 10^-`k` (0 < digits < 10^17), negative or not, without searching for them;
// `buf` as for format_double.
std::size_t format_known_digits(bool negative, std::uint64_t digits, int k, char* buf);

}  // namespace velmar::json
