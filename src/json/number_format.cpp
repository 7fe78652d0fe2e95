// format_unsigned and format_double: integers from digit pairs, doubles as the shortest
// round-trip digits laid out in one of four forms. Both write into the caller's fixed
// buffer and allocate nothing.
#include "json/number_format.h"

#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "json/writer.h"

namespace velmar::json {
namespace detail {
namespace {

constexpr std::array<std::uint64_t, 20> kPowersOfTen = [] {
  std::array<std::uint64_t, 20> powers{};
  std::uint64_t p = 1;
  for (std::uint64_t& slot : powers) {
    slot = p;
    p *= 10;
  }
  return powers;
}();

// 1 for zero, else the number of decimal digits of `v`. The bit width times log10(2)
// (1233 / 4096) estimates floor(log10(v)) from below by at most one; one comparison
// corrects it. `v | 1` keeps zero at one digit and crosses no power of ten.
std::size_t count_digits(std::uint64_t v) {
  const std::uint64_t w = v | 1;
  const int width = 64 - std::countl_zero(w);
  const auto estimate = static_cast<std::size_t>((width * 1233) >> 12);
  return estimate + (w >= kPowersOfTen[estimate] ? 1 : 0);
}

void put_pair(char* p, std::uint64_t pair) { std::memcpy(p, &kDigitPairs[2 * pair], 2); }

// d1[.d2...dn]e(+|-)|u|: 1e+16, 1.5e-7, 5e-324.
std::size_t layout_exponent_form(const DecimalDigits& d, char* buf) {
  const auto n = static_cast<std::size_t>(d.count);
  char* p = buf;
  *p++ = d.digits[0];
  if (n > 1) {
    *p++ = '.';
    std::memcpy(p, &d.digits[1], n - 1);
    p += n - 1;
  }
  *p++ = 'e';
  *p++ = d.exponent < 0 ? '-' : '+';
  auto magnitude = static_cast<std::uint64_t>(d.exponent < 0 ? -d.exponent : d.exponent);
  if (magnitude >= 100) {
    *p++ = static_cast<char>('0' + magnitude / 100);
    magnitude %= 100;
    put_pair(p, magnitude);
    p += 2;
  } else if (magnitude >= 10) {
    put_pair(p, magnitude);
    p += 2;
  } else {
    *p++ = static_cast<char>('0' + magnitude);
  }
  return static_cast<std::size_t>(p - buf);
}

// 123e-6 -> 0.000123: "0.", -u-1 zeros, the digits.
std::size_t layout_small_fraction(const DecimalDigits& d, char* buf) {
  const auto n = static_cast<std::size_t>(d.count);
  const auto zeros = static_cast<std::size_t>(-d.exponent - 1);
  buf[0] = '0';
  buf[1] = '.';
  std::memset(buf + 2, '0', zeros);
  std::memcpy(buf + 2 + zeros, d.digits.data(), n);
  return 2 + zeros + n;
}

// 12345e-1 -> 1234.5: the point after digit u+1.
std::size_t layout_point_inside(const DecimalDigits& d, char* buf) {
  const auto n = static_cast<std::size_t>(d.count);
  const auto whole = static_cast<std::size_t>(d.exponent) + 1;
  std::memcpy(buf, d.digits.data(), whole);
  buf[whole] = '.';
  std::memcpy(buf + whole + 1, d.digits.data() + whole, n - whole);
  return n + 1;
}

// 1e2 -> 100.0: the digits, u+1-n zeros, ".0".
std::size_t layout_whole_number(const DecimalDigits& d, char* buf) {
  const auto n = static_cast<std::size_t>(d.count);
  const auto whole = static_cast<std::size_t>(d.exponent) + 1;
  std::memcpy(buf, d.digits.data(), n);
  std::memset(buf + n, '0', whole - n);
  buf[whole] = '.';
  buf[whole + 1] = '0';
  return whole + 2;
}

}  // namespace

// std::to_chars in scientific form without a precision yields the shortest round-trip
// digits, nearest to the value and ties to even, as "d[.ddd]e(+|-)XX[X]".
DecimalDigits shortest_digits(double v) {
  assert(std::isfinite(v) && v > 0);
  std::array<char, 32> text;
  const auto [end, ec] =
      std::to_chars(text.data(), text.data() + text.size(), v, std::chars_format::scientific);
  assert(ec == std::errc());
  (void)ec;

  DecimalDigits d{};
  d.digits[0] = text[0];
  d.count = 1;
  const char* p = text.data() + 1;
  if (*p == '.') {
    for (++p; *p != 'e'; ++p) d.digits[static_cast<std::size_t>(d.count++)] = *p;
  }
  ++p;  // 'e'
  const bool negative = *p++ == '-';
  int exponent = 0;
  for (; p != end; ++p) exponent = exponent * 10 + (*p - '0');
  d.exponent = negative ? -exponent : exponent;
  assert(d.digits[static_cast<std::size_t>(d.count - 1)] != '0');
  return d;
}

// Plain notation exactly for -5 <= u <= 15, so for significands from 1e-5 up to but not
// including 1e16; exponent form outside.
std::size_t layout_digits(const DecimalDigits& d, char* buf) {
  if (d.exponent < -5 || d.exponent > 15) return layout_exponent_form(d, buf);
  if (d.exponent < 0) return layout_small_fraction(d, buf);
  if (d.exponent < d.count - 1) return layout_point_inside(d, buf);
  return layout_whole_number(d, buf);
}

}  // namespace detail

std::size_t format_unsigned(std::uint64_t v, char* buf) {
  const std::size_t n = detail::count_digits(v);
  char* p = buf + n;
  while (v >= 100) {
    p -= 2;
    detail::put_pair(p, v % 100);
    v /= 100;
  }
  if (v >= 10) {
    detail::put_pair(p - 2, v);
  } else {
    p[-1] = static_cast<char>('0' + v);
  }
  return n;
}

std::size_t format_double(double v, char* buf) {
  assert(std::isfinite(v));
  char* p = buf;
  if (std::signbit(v)) {
    *p++ = '-';
    v = -v;
  }
  if (v == 0) {
    std::memcpy(p, "0.0", 3);
    return static_cast<std::size_t>(p - buf) + 3;
  }
  return static_cast<std::size_t>(p - buf) + detail::layout_digits(detail::shortest_digits(v), p);
}

}  // namespace velmar::json
