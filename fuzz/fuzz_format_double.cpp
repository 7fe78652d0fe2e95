// Fuzz target for format_double on every 8-byte bit pattern that is a finite double: the
// text must be in one of the four layouts, read back to the same bits through the C
// library's correctly rounding strtod, and have the fewest digits that do so and of those
// the nearest, ties to even; and be byte for byte what std::to_chars's shortest digits
// give laid out by format_known_digits. The first two tests trust no shortest converter,
// the third the standard library's. Shortest:
// when n digits are written, the two (n-1)-digit numbers just below and just above the
// written one must both read back to another double (any shorter number that read back
// to the same double would make one of those two do so as well, the doubles' rounding
// intervals being intervals). Nearest: printf rounds to n digits exactly; its text must
// be the written one when it reads back, else the written one is its neighbour across v.
#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

#include "fuzz_check.h"
#include "json/number_format.h"

namespace {

using velmar::fuzz::fail;
using velmar::fuzz::require;

bool all_digits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// The significand d1..dn and the power of ten u of d1 that a text stands for.
struct Decimal {
  std::string digits;
  int exponent;
};

// 1.5e-7, 1e+16: a point only with two digits or more, a signed exponent without leading
// zeros, used only outside -5 <= u <= 15.
Decimal parse_exponent_form(std::string_view body) {
  std::size_t e = body.find('e');
  std::string_view mantissa = body.substr(0, e);
  std::string_view power = body.substr(e + 1);
  Decimal d{std::string(mantissa.substr(0, 1)), 0};
  if (mantissa.size() > 1) {
    require(mantissa.size() > 2 && mantissa[1] == '.', "exponent form significand", body);
    d.digits.append(mantissa.substr(2));
  }
  require(all_digits(d.digits) && d.digits.front() != '0' && d.digits.back() != '0',
          "exponent form digits", body);
  require(power.size() >= 2 && (power[0] == '+' || power[0] == '-'), "exponent sign", body);
  std::string_view magnitude = power.substr(1);
  require(all_digits(magnitude) && magnitude[0] != '0' && magnitude.size() <= 3, "exponent digits",
          body);
  d.exponent = std::atoi(std::string(magnitude).c_str());
  if (power[0] == '-') d.exponent = -d.exponent;
  require(velmar::json::uses_exponent_form(d.exponent), "exponent form inside the plain range",
          body);
  return d;
}

// 0.00001 (small fraction), 1234.5 (point inside), 100.0 (whole number).
Decimal parse_plain_form(std::string_view body) {
  std::size_t point = body.find('.');
  require(point != std::string_view::npos, "no point in a plain double", body);
  std::string_view whole = body.substr(0, point);
  std::string_view fraction = body.substr(point + 1);
  require(all_digits(whole) && all_digits(fraction), "plain form characters", body);
  // The zeros and the integer part's length checked below keep -5 <= u <= 15.
  if (whole == "0") {
    std::size_t zeros = fraction.find_first_not_of('0');
    require(zeros != std::string_view::npos && zeros <= 4 && fraction.back() != '0',
            "small fraction form", body);
    return {std::string(fraction.substr(zeros)), -static_cast<int>(zeros) - 1};
  }
  require(whole[0] != '0' && whole.size() <= 16, "integer part", body);
  auto u = static_cast<int>(whole.size()) - 1;
  if (fraction == "0") {
    std::size_t last = whole.find_last_not_of('0');
    return {std::string(whole.substr(0, last + 1)), u};
  }
  require(fraction.back() != '0', "point inside form ends in zero", body);
  return {std::string(whole) + std::string(fraction), u};
}

// The magnitude the text d1.d2...dn e u stands for, read by strtod (which rounds
// correctly); infinity when it overflows.
double read_scientific(const std::string& digits, int exponent) {
  std::string text = digits.substr(0, 1) + "." + digits.substr(1) + "e" + std::to_string(exponent);
  return std::strtod(text.c_str(), nullptr);
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// The (n-1)-digit numbers on either side of `d` must not read back to `magnitude`.
void check_shortest(const Decimal& d, double magnitude, std::string_view text) {
  if (d.digits.size() == 1) return;
  std::string below = d.digits.substr(0, d.digits.size() - 1);
  require(!same_bits(read_scientific(below, d.exponent), magnitude), "a shorter text rounds down",
          text);
  std::string above = below;
  std::size_t i = above.size();
  while (i > 0 && above[i - 1] == '9') above[--i] = '0';
  int exponent = d.exponent;
  if (i == 0) {
    above.insert(above.begin(), '1');  // 99 + 1 -> 100 = 1.00e(u+1)
    ++exponent;
  } else {
    ++above[i - 1];
  }
  require(!same_bits(read_scientific(above, exponent), magnitude), "a shorter text rounds up",
          text);
}

// std::to_chars's shortest digits of `magnitude` ("d[.ddd]e(+|-)XX[X]", at most 17 digits)
// laid out by format_known_digits: what format_double must write.
std::string laid_out_to_chars(double v) {
  std::array<char, 40> text;
  const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), std::fabs(v),
                                       std::chars_format::scientific);
  require(ec == std::errc(), "to_chars fails", "");
  const char* p = text.data();
  std::uint64_t m = static_cast<std::uint64_t>(*p++ - '0');
  int fraction_digits = 0;
  if (*p == '.') {
    for (++p; *p != 'e'; ++p, ++fraction_digits) m = m * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  ++p;  // 'e'
  const bool negative = *p++ == '-';
  int exponent = 0;
  for (; p != end; ++p) exponent = exponent * 10 + (*p - '0');
  std::array<char, velmar::json::kDoubleBufferBytes> buf;
  const int k = fraction_digits - (negative ? -exponent : exponent);
  return std::string(buf.data(),
                     velmar::json::format_known_digits(std::signbit(v), m, k, buf.data()));
}

// d1.d2...dn e(+|-)XX as printf's "%.*e" writes it, the digits kept as they are.
Decimal parse_printf(std::string_view text) {
  const std::size_t e = text.find('e');
  Decimal d{std::string(text.substr(0, 1)), std::atoi(std::string(text.substr(e + 1)).c_str())};
  if (e > 1) d.digits.append(text.substr(2, e - 2));
  return d;
}

std::string without_trailing_zeros(std::string digits) {
  digits.erase(digits.find_last_not_of('0') + 1);
  return digits;
}

// Whether a and b, read as n-digit decimals, are one step of their last digit apart, also
// across a power of ten (9.99e2 and 1.00e3): as integers of n + 1 digits at the lower of
// their powers of ten, one step is 10.
bool one_step_apart(const Decimal& a, const Decimal& b, std::size_t n) {
  if (a.exponent > b.exponent + 1 || b.exponent > a.exponent + 1) return false;
  const int low = std::min(a.exponent, b.exponent);
  const auto scaled = [n, low](const Decimal& d) {
    std::string digits = d.digits;
    digits.resize(n + 1, '0');
    std::uint64_t s = std::stoull(digits);
    if (d.exponent > low) s *= 10;
    return s;
  };
  const std::uint64_t sa = scaled(a);
  const std::uint64_t sb = scaled(b);
  return (sa > sb ? sa - sb : sb - sa) == 10;
}

// Of the n-digit decimals the nearest to `magnitude`, ties to even, is printf's. When it
// reads back it must be `d`; otherwise the nearest that does is its neighbour on the other
// side of the value.
void check_nearest(const Decimal& d, double magnitude, std::string_view text) {
  const std::size_t n = d.digits.size();
  std::array<char, 64> buf;
  std::snprintf(buf.data(), buf.size(), "%.*e", static_cast<int>(n) - 1, magnitude);
  const Decimal nearest = parse_printf(buf.data());
  if (same_bits(std::strtod(buf.data(), nullptr), magnitude)) {
    require(without_trailing_zeros(nearest.digits) == d.digits && nearest.exponent == d.exponent,
            "not the nearest of its length", text);
  } else {
    require(one_step_apart(d, nearest, n), "not the nearest of its length that reads back", text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(double)) return 0;
  double v;
  std::memcpy(&v, data, sizeof v);
  if (!std::isfinite(v)) return 0;

  std::array<char, velmar::json::kDoubleBufferBytes> buf;
  std::size_t n = velmar::json::format_double(v, buf.data());
  require(n > 0 && n <= velmar::json::kMaxDoubleText, "text length", std::to_string(n));
  std::string text(buf.data(), n);

  char* end = nullptr;
  double back = std::strtod(text.c_str(), &end);
  require(end == text.c_str() + text.size(), "text does not read as one number", text);
  require(same_bits(back, v), "text reads back to another double", text);

  std::string_view body = text;
  require(std::signbit(v) == body.starts_with('-'), "sign", text);
  if (std::signbit(v)) body.remove_prefix(1);
  if (v == 0) {
    require(body == "0.0", "zero", text);
    return 0;
  }
  Decimal d =
      body.find('e') != std::string_view::npos ? parse_exponent_form(body) : parse_plain_form(body);
  require(d.digits.size() <= 17, "more than 17 digits", text);
  check_shortest(d, std::fabs(v), text);
  check_nearest(d, std::fabs(v), text);
  require(text == laid_out_to_chars(v), "differs from std::to_chars's digits", text);

  std::array<char, velmar::json::kDoubleBufferBytes> negated;
  std::string_view mirrored(negated.data(), velmar::json::format_double(-v, negated.data()));
  require(mirrored.starts_with('-') != std::signbit(v) &&
              mirrored.substr(std::signbit(v) ? 0 : 1) == body,
          "negating changes more than the sign", text);
  return 0;
}
