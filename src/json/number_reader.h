// The reader's number grammar and conversion: integers that fit stay exact 64-bit
// values, everything else is a decimal significand scaled by a tabulated power of ten.
// Internal to the reader.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "json/powers_of_ten.h"
#include "json/value.h"
#include "json/word.h"

namespace velmar::json::detail {

// How a number read ended. On a failure the reader reports the error with its byte
// count i = (the returned position) - (start of input): one past the offending byte,
// or the end of the input for kEof. kDigits: read as DecimalDigits, where the caller asked.
enum class NumberStatus : std::uint8_t { kOk, kEof, kInvalid, kOutOfRange, kDigits };

// A double by its shortest digits alone, digits * 10^-k and its sign, as the reader gives
// it where the double itself is not needed yet: 0 < digits <= JsonNumber::kMaxKnownDigits
// and |k| <= kMaxExactPow10, so the double is one correctly rounded operation on two exact
// ones away (to_number). Its division is then left out of the read.
struct DecimalDigits {
  std::uint64_t digits = 0;
  int k = 0;
  bool negative = false;
};

// The double of `d` with its digits: the one the reader makes from the same text.
inline JsonNumber to_number(const DecimalDigits& d) {
  double f = static_cast<double>(d.digits);
  f = d.k >= 0 ? f / kPow10[d.k] : f * kPow10[-d.k];
  return JsonNumber::from_double_with_digits(d.negative ? -f : f, d.digits, d.k, d.negative);
}

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') <= 9; }
inline unsigned digit_value(char c) { return static_cast<unsigned char>(c - '0'); }

// A digit can be appended to the significand without leaving 64 bits.
inline bool digit_fits(std::uint64_t s, unsigned digit) {
  constexpr std::uint64_t kLimit = UINT64_MAX / 10;  // 1844674407370955161
  return s < kLimit || (s == kLimit && digit <= UINT64_MAX % 10);
}

// Digits eight bytes at a time: each byte of a word loaded from the text, xor '0', is its
// digit value when it is a digit, and above 9 otherwise.
inline std::uint64_t digit_word(const char* p) { return load_word(p) ^ (kOnes * '0'); }

// How many of the word's bytes, from its first, are digits (0 to 8). Adding 0x76 sets the
// top bit of a byte above 9; a byte of 0x80 or more has it already. A carry out of a
// non-digit byte only reaches bytes after it.
inline unsigned leading_digits(std::uint64_t t) {
  const std::uint64_t flags = ((t + kOnes * 0x76) | t) & kHighBits;
  return flags == 0 ? 8 : static_cast<unsigned>(std::countr_zero(flags)) >> 3;
}

// The value of the first `n` (1 to 8) digits of the word. They are shifted to its top,
// then neighbouring lanes are combined: bytes into pairs (10a + b), pairs into quads
// (100a + b), quads into eights (10000a + b). "1234" is the bytes 1 2 3 4, the first
// lowest; shifted up, 0 0 0 0 1 2 3 4 -> pairs 0 0 12 34 -> quads 0 1234 -> 1234.
inline std::uint64_t leading_value(std::uint64_t t, unsigned n) {
  t <<= 8 * (8 - n);
  t = (t * 10 + (t >> 8)) & 0x00FF00FF00FF00FF;
  t = (t * 100 + (t >> 16)) & 0x0000FFFF0000FFFF;
  return (t * 10000 + (t >> 32)) & 0xFFFFFFFF;
}

// A word of digits is appended only while s < 10^11, so that s * 10^8 + 99999999 stays
// below 2^64 (10^19 - 1 at most).
inline constexpr std::uint64_t kWordAppendLimit = 100'000'000'000;
// At most two words (sixteen digits) in a run, which holds every integer below 10^16;
// the digits after them go on one at a time.
inline constexpr int kMaxDigitWords = 2;

// Appends the digits at p to s a word at a time: at most `words` words (the callers pass
// kMaxDigitWords, a constant the loop is unrolled by), each while s stays below
// kWordAppendLimit. Stops at the first non-digit or where the word would pass `end`;
// the caller reads on digit by digit.
inline void append_digit_words(const char*& p, const char* end, std::uint64_t& s, int words) {
  for (; words > 0 && end - p >= 8 && s < kWordAppendLimit; --words) {
    const std::uint64_t t = digit_word(p);
    const unsigned n = leading_digits(t);
    if (n == 0) return;
    s = s * kPow10Int[n] + leading_value(t, n);
    p += n;
    if (n < 8) return;
  }
}

// The largest s to which any n more digits (1 to 7) can be appended within 64 bits:
// (2^64 - 10^n) / 10^n. 1 -> 1844674407370955160.
inline constexpr auto kAppendLimit = [] {
  std::array<std::uint64_t, 8> limits{};
  for (std::size_t n = 1; n < limits.size(); ++n) {
    limits[n] = (UINT64_MAX - (kPow10Int[n] - 1)) / kPow10Int[n];
  }
  return limits;
}();

// The digits at p after the words, fewer than eight (as the 17th to 19th significant digits
// of a full-precision double are), appended to s in one step when any that many would fit;
// else nothing is appended and the caller goes on digit by digit, as it would have.
// Precondition: p < end and *p is a digit.
inline void append_last_digits(const char*& p, const char* end, std::uint64_t& s) {
  if (end - p < 8) return;
  const std::uint64_t t = digit_word(p);
  const unsigned n = leading_digits(t);
  if (n == 8 || s > kAppendLimit[n]) return;
  s = s * kPow10Int[n] + leading_value(t, n);
  p += n;
}

// An integer without fraction or exponent: unsigned when not negative, signed when its
// magnitude fits, else a double (-0 is the double -0.0).
inline JsonNumber integer_number(std::uint64_t magnitude, bool negative) {
  if (!negative) return JsonNumber::from_unsigned(magnitude);
  if (magnitude == 0) return JsonNumber::from_double(-0.0);
  if (magnitude <= std::uint64_t{1} << 63) {
    return JsonNumber::from_signed(static_cast<std::int64_t>(0 - magnitude));
  }
  return JsonNumber::from_double(-static_cast<double>(magnitude));
}

// f = s * 10^e by the tabulated powers, dividing by 1e308 while e < -308. False when the
// result would be infinite. Precondition: e within the signed 32-bit range.
bool scale_decimal(std::uint64_t s, std::int64_t e, double& out);

// Reads the rest of a number whose integer part has been read into `s` up to `p`:
// either the integer digits that no longer fit (`long_integer`, p at the first of them),
// or the fraction and exponent (p at the point or the exponent letter). A double that
// DecimalDigits holds goes to `digits` when it is not null (kDigits).
NumberStatus read_number_tail(const char*& p, const char* end, std::uint64_t s, bool long_integer,
                              bool negative, JsonNumber& out, DecimalDigits* digits);

// Reads one number. Precondition: p < end and *p is a minus sign or a digit. On kOk,
// `p` is just past the number and `out` holds it; on kDigits, `digits` does; otherwise
// see NumberStatus.
inline NumberStatus read_number(const char*& p, const char* end, JsonNumber& out,
                                DecimalDigits* digits = nullptr) {
  bool negative = *p == '-';
  if (negative) ++p;
  if (p == end) return NumberStatus::kEof;
  const unsigned first = digit_value(*p);
  if (first > 9) {
    ++p;  // "-a" fails at the "a"
    return NumberStatus::kInvalid;
  }
  std::uint64_t s = 0;
  if (first == 0) {
    // "0" stands alone: "01" fails at the "1".
    ++p;
    if (p != end && is_digit(*p)) {
      ++p;
      return NumberStatus::kInvalid;
    }
  } else {
    // "1234" -> 1234, a word at a time first; the digit that would leave 64 bits hands
    // the rest to the long-integer path ("18446744073709551616" at its last "6").
    // A lone digit, as before the point of a number in exponent form, skips the words.
    if (p + 1 != end && !is_digit(p[1])) {
      s = first;
      ++p;
    } else {
      append_digit_words(p, end, s, kMaxDigitWords);
      if (p != end && is_digit(*p)) append_last_digits(p, end, s);
    }
    while (p != end && is_digit(*p)) {
      unsigned d = digit_value(*p);
      if (!digit_fits(s, d)) return read_number_tail(p, end, s, true, negative, out, digits);
      s = s * 10 + d;
      ++p;
    }
  }
  if (p != end && (*p == '.' || *p == 'e' || *p == 'E')) {
    return read_number_tail(p, end, s, false, negative, out, digits);
  }
  out = integer_number(s, negative);
  return NumberStatus::kOk;
}

}  // namespace velmar::json::detail
