// Number reading past the integer fast path: fraction, exponent, long integers and the
// scaling of a decimal significand by a tabulated power of ten.
#include "json/number_reader.h"

#include <cmath>
#include <cstdint>

namespace velmar::json::detail {

namespace {

void skip_digits(const char*& p, const char* end) {
  while (p != end && is_digit(*p)) ++p;
}

// Fraction digits: appended while they fit; the rest is truncated, not rounded. "1.25"
// -> s = 125, e = -2. Precondition: p is just past the point.
NumberStatus read_fraction(const char*& p, const char* end, std::uint64_t& s, std::int64_t& e) {
  if (p == end) return NumberStatus::kEof;
  if (!is_digit(*p)) {
    ++p;
    return NumberStatus::kInvalid;
  }
  const char* first = p;
  append_digit_words(p, end, s, kMaxDigitWords);
  if (p != end && is_digit(*p)) append_last_digits(p, end, s);
  e -= p - first;
  while (p != end && is_digit(*p)) {
    unsigned d = digit_value(*p);
    if (!digit_fits(s, d)) {
      skip_digits(p, end);
      break;
    }
    s = s * 10 + d;
    --e;
    ++p;
  }
  return NumberStatus::kOk;
}

// An exponent's digits when they are one to four, as a double's are, in one step from a
// word; else false with nothing consumed, and they go one by one (with the checks for an
// exponent that is missing or beyond 32 bits).
bool read_short_exponent(const char*& p, const char* end, std::int32_t& x) {
  if (end - p < 8) return false;
  const std::uint64_t t = digit_word(p);
  const unsigned n = leading_digits(t);
  if (n == 0 || n > 4) return false;
  x = static_cast<std::int32_t>(leading_value(t, n));
  p += n;
  return true;
}

}  // namespace

bool scale_decimal(std::uint64_t s, std::int64_t e, double& out) {
  double f = static_cast<double>(s);
  for (;;) {
    if (e >= -kMaxPow10 && e <= kMaxPow10) {
      if (e >= 0) {
        f *= kPow10[e];  // 25e2 -> 25 * 1e2; 2e308 -> infinity, out of range
        if (std::isinf(f)) return false;
      } else {
        f /= kPow10[-e];  // 25e-2 -> 25 / 1e2
      }
      break;
    }
    // Beyond the table: zero stays zero, a large exponent overflows, a small one divides
    // by 1e308 at a time (the quotient may become subnormal, then zero). 1e-320 -> 1 /
    // 1e308 / 1e12; 0e400 -> 0; 1e400 -> out of range.
    if (f == 0) break;
    if (e > 0) return false;
    f /= kPow10[kMaxPow10];
    e += kMaxPow10;
  }
  out = f;
  return true;
}

namespace {

// s * 10^e as its shortest digits when they are s's: scale_decimal rounds s * 10^e once,
// correctly, when s < 2^53 and |e| <= 22 (both factors exact), and doubles lie closer
// together than decimals of 15 significant digits, so no other decimal of that many digits
// or fewer reads as the same double. "17.3710" -> 17371 * 10^-3; "1.25e5" -> 125 * 10^3,
// k = -3.
bool shortest_digits_of(std::uint64_t s, std::int64_t e, bool negative, DecimalDigits& out) {
  constexpr std::uint64_t kExactSignificand = std::uint64_t{1} << 53;
  if (s == 0 || s >= kExactSignificand || e < -kMaxExactPow10 || e > kMaxExactPow10) return false;
  while (s % 10 == 0) {
    s /= 10;
    ++e;
  }
  if (s > JsonNumber::kMaxKnownDigits || -e < JsonNumber::kMinKnownK ||
      -e > JsonNumber::kMaxKnownK) {
    return false;
  }
  out = {s, static_cast<int>(-e), negative};
  return true;
}

NumberStatus read_tail(const char*& p, const char* end, std::uint64_t s, bool long_integer,
                       bool negative, JsonNumber& out, DecimalDigits* digits) {
  std::int64_t e = 0;
  if (long_integer) {
    // Every integer digit that no longer fits scales the kept significand by ten:
    // "184467440737095516160" -> s = 1844674407370955161, e = 2.
    while (p != end && is_digit(*p)) {
      ++p;
      ++e;
    }
  }
  if (p != end && *p == '.') {
    ++p;
    NumberStatus status = read_fraction(p, end, s, e);
    if (status != NumberStatus::kOk) return status;
  }
  if (p != end && (*p == 'e' || *p == 'E')) {
    ++p;
    bool minus = false;
    if (p != end && (*p == '+' || *p == '-')) {
      minus = *p == '-';
      ++p;
    }
    if (p == end) return NumberStatus::kEof;
    std::int32_t x = 0;
    if (!read_short_exponent(p, end, x)) {
      unsigned d = digit_value(*p++);
      if (d > 9) return NumberStatus::kInvalid;
      x = static_cast<std::int32_t>(d);
      while (p != end && is_digit(*p)) {
        d = digit_value(*p++);
        if (x > INT32_MAX / 10 || (x == INT32_MAX / 10 && d > INT32_MAX % 10)) {
          // An exponent beyond 32 bits: zero or a negative power gives zero, a positive
          // power of a non-zero significand cannot be represented.
          if (s != 0 && !minus) return NumberStatus::kOutOfRange;
          skip_digits(p, end);
          out = JsonNumber::from_double(negative ? -0.0 : 0.0);
          return NumberStatus::kOk;
        }
        x = x * 10 + static_cast<std::int32_t>(d);
      }
    }
    e = minus ? e - x : e + x;
    if (e > INT32_MAX) e = INT32_MAX;
    if (e < INT32_MIN) e = INT32_MIN;
  }
  DecimalDigits known;
  const bool has_digits = shortest_digits_of(s, e, negative, known);
  if (has_digits && digits != nullptr && known.k >= -kMaxExactPow10) {
    *digits = known;
    return NumberStatus::kDigits;
  }
  double f = 0;
  if (!scale_decimal(s, e, f)) return NumberStatus::kOutOfRange;
  if (negative) f = -f;
  out = has_digits ? JsonNumber::from_double_with_digits(f, known.digits, known.k, negative)
                   : JsonNumber::from_double(f);
  return NumberStatus::kOk;
}

}  // namespace

// Reads through a local cursor, which stays in a register, and stores it once.
NumberStatus read_number_tail(const char*& p, const char* end, std::uint64_t s, bool long_integer,
                              bool negative, JsonNumber& out, DecimalDigits* digits) {
  const char* cursor = p;
  const NumberStatus status = read_tail(cursor, end, s, long_integer, negative, out, digits);
  p = cursor;
  return status;
}

}  // namespace velmar::json::detail
