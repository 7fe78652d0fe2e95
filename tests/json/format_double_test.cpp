// format_double and format_unsigned: golden texts for every layout and its boundaries,
// and a property test over a sample of doubles that checks the round trip, the layout
// and, independently of the digit generator, that the digits are the shortest and
// nearest ones. fuzz/fuzz_format_double.cpp runs the same checks over any number of
// doubles.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "json/number_format.h"

namespace velmar::json {
namespace {

std::string format(double v) {
  std::array<char, kDoubleBufferBytes> buf{};
  const std::size_t n = format_double(v, buf.data());
  EXPECT_LE(n, kMaxDoubleText);
  return std::string(buf.data(), n);
}

std::string format(std::uint64_t v) {
  std::array<char, kMaxUnsignedText> buf{};
  const std::size_t n = format_unsigned(v, buf.data());
  EXPECT_LE(n, kMaxUnsignedText);
  return std::string(buf.data(), n);
}

double parse_exactly(const char* text) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  EXPECT_EQ(*end, '\0') << text;
  return v;
}

struct DoubleCase {
  const char* name;
  double value;
  const char* text;
};

TEST(FormatDouble, WritesGoldenTexts) {
  const DoubleCase cases[] = {
      // Whole number: 0 <= u <= 15 and u >= n-1.
      {"one", 1.0, "1.0"},
      {"three", 3.0, "3.0"},
      {"minus 42", -42.0, "-42.0"},
      {"twelve", 12.0, "12.0"},
      {"hundred", 100.0, "100.0"},
      {"1e15", 1e15, "1000000000000000.0"},
      {"2^53", std::ldexp(1.0, 53), "9007199254740992.0"},
      {"9999999999999998", 9999999999999998.0, "9999999999999998.0"},
      {"2^53 - 1, the largest whole number below 2^53", 9007199254740991.0, "9007199254740991.0"},
      {"2^53 + 1, which rounds to 2^53", 9007199254740993.0, "9007199254740992.0"},
      {"above 2^53, two digits and fourteen zeros", 9.2e15, "9200000000000000.0"},
      {"2^10", std::ldexp(1.0, 10), "1024.0"},
      // Zero keeps its sign.
      {"zero", 0.0, "0.0"},
      {"negative zero", -0.0, "-0.0"},
      // Point inside: 0 <= u < n-1.
      {"1.5", 1.5, "1.5"},
      {"1234.5", 1234.5, "1234.5"},
      {"123456789.125", 123456789.125, "123456789.125"},
      {"1234567890123456.8", 1234567890123456.8, "1234567890123456.8"},
      {"1 + 2^-17, tie to even", 1.0 + std::ldexp(1.0, -17), "1.0000076293945312"},
      {"-1 - 2^-17", -1.0 - std::ldexp(1.0, -17), "-1.0000076293945312"},
      {"2^52 - 0.5, the largest with one fraction bit", 4503599627370495.5, "4503599627370495.5"},
      {"0.1 + 0.7, just below 0.8", 0.1 + 0.7, "0.7999999999999999"},
      {"just below 1e15", std::nextafter(1e15, 0.0), "999999999999999.9"},
      // Small fraction: -5 <= u <= -1.
      {"0.5", 0.5, "0.5"},
      {"0.1", 0.1, "0.1"},
      {"0.1 + 0.2", 0.1 + 0.2, "0.30000000000000004"},
      {"1/3", 1.0 / 3.0, "0.3333333333333333"},
      {"0.001", 0.001, "0.001"},
      {"0.000123", 0.000123, "0.000123"},
      {"0.00001", 0.00001, "0.00001"},
      {"just above 1e-5", std::nextafter(1e-5, 1.0), "0.000010000000000000003"},
      {"2^-10", std::ldexp(1.0, -10), "0.0009765625"},
      {"0.000025", 0.000025, "0.000025"},
      {"u = -5 with 17 digits", -0.000012345678901234568, "-0.000012345678901234568"},
      // Exponent form: u < -5 or u > 15.
      {"1e16", 1e16, "1e+16"},
      {"just above 1e16", std::nextafter(1e16, 1e17), "1.0000000000000002e+16"},
      {"1e21", 1e21, "1e+21"},
      {"1e22, a multiple of its unit in the last place", 1e22, "1e+22"},
      {"1e23, nearer to 10^23 than to any 1-digit decimal below", 1e23, "1e+23"},
      {"2^53 + 2", 9007199254740994.0, "9007199254740994.0"},
      {"a tie at half a unit in the last place, even significand", 32708860623434512.0,
       "3.270886062343451e+16"},
      // The value's place between bounds or digits that a product of 128 bits cannot tell.
      {"the lower bound on a multiple of ten, closed for an even significand",
       8.4816206987030405e+18, "8.48162069870304e+18"},
      {"the upper bound on a multiple of ten, closed for an even significand",
       1.4411518807573299e+17, "1.44115188075733e+17"},
      {"just below 2^127", 1.7014118346046921e38, "1.7014118346046921e+38"},
      {"2^63", std::ldexp(1.0, 63), "9.223372036854776e+18"},
      // Powers of two: the lower neighbour is half as far, so the interval that reads back
      // is narrower below. 1.844674407370955e+19 lies within half the gap above, not below.
      {"2^64, the lower neighbour nearer", std::ldexp(1.0, 64), "1.8446744073709552e+19"},
      {"2^100, the lower neighbour nearer", std::ldexp(1.0, 100), "1.2676506002282294e+30"},
      {"2^-1000, the lower neighbour nearer", std::ldexp(1.0, -1000), "9.332636185032189e-302"},
      {"2^-1014, the lower neighbour nearer", std::ldexp(1.0, -1014), "5.696189077778436e-306"},
      {"2^-1021, the smallest power of two with the lower neighbour nearer", std::ldexp(1.0, -1021),
       "4.450147717014403e-308"},
      {"2^1000", std::ldexp(1.0, 1000), "1.0715086071862673e+301"},
      {"2^1023, the largest power of two", std::ldexp(1.0, 1023), "8.98846567431158e+307"},
      {"2^-100", std::ldexp(1.0, -100), "7.888609052210118e-31"},
      {"12345678901234567890", 12345678901234567890.0, "1.2345678901234567e+19"},
      {"6.02214076e23", 6.02214076e23, "6.02214076e+23"},
      {"eight digits after the first, none after them", 1.23456789e-12, "1.23456789e-12"},
      {"nine digits after the first", 1.234567891e-12, "1.234567891e-12"},
      {"1e100", 1e100, "1e+100"},
      {"1e300", 1e300, "1e+300"},
      {"1e308, the largest power of ten", 1e308, "1e+308"},
      {"largest finite", DBL_MAX, "1.7976931348623157e+308"},
      {"lowest finite", -DBL_MAX, "-1.7976931348623157e+308"},
      {"0.0000095", 0.0000095, "9.5e-6"},
      {"just below 1e-5", std::nextafter(1e-5, 0.0), "9.999999999999999e-6"},
      {"a computed result of 17 digits", 1.3175761720874414e-06, "1.3175761720874414e-6"},
      {"0.000001", 0.000001, "1e-6"},
      {"1.5e-7", 1.5e-7, "1.5e-7"},
      {"2^-20", std::ldexp(1.0, -20), "9.5367431640625e-7"},
      {"-0.000000025", -0.000000025, "-2.5e-8"},
      {"1.5 * 2^-46", std::ldexp(1.5, -46), "2.1316282072803006e-14"},
      {"1.5 * 2^-47", std::ldexp(1.5, -47), "1.0658141036401503e-14"},
      {"1e-100", 1e-100, "1e-100"},
      {"1e-22", 1e-22, "1e-22"},
      {"1e-300", 1e-300, "1e-300"},
      {"smallest normal", DBL_MIN, "2.2250738585072014e-308"},
      {"negative smallest normal", -DBL_MIN, "-2.2250738585072014e-308"},
      // Subnormals: k * 2^-1074, one interval width apart, so few digits suffice.
      {"2^-1023, a subnormal power of two", std::ldexp(1.0, -1023), "1.1125369292536007e-308"},
      {"123456789 * 2^-1074", 123456789 * std::numeric_limits<double>::denorm_min(),
       "6.0995758e-316"},
      {"1000 * 2^-1074", 1000 * std::numeric_limits<double>::denorm_min(), "4.94e-321"},
      {"10 * 2^-1074", 10 * std::numeric_limits<double>::denorm_min(), "5e-323"},
      {"3 * 2^-1074", 3 * std::numeric_limits<double>::denorm_min(), "1.5e-323"},
      {"2 * 2^-1074, nearest to 1e-323", 2 * std::numeric_limits<double>::denorm_min(), "1e-323"},
      {"largest subnormal", DBL_MIN - std::numeric_limits<double>::denorm_min(),
       "2.225073858507201e-308"},
      {"smallest subnormal", std::numeric_limits<double>::denorm_min(), "5e-324"},
      {"negative smallest subnormal", -std::numeric_limits<double>::denorm_min(), "-5e-324"},
  };
  for (const DoubleCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(format(c.value), c.text);
  }
}

TEST(FormatDouble, LongestTextFillsTheBufferExactly) {
  EXPECT_EQ(format(-DBL_MIN).size(), kMaxDoubleText);
  EXPECT_EQ(format(-0.000012345678901234568).size(), kMaxDoubleText);
}

TEST(FormatUnsigned, WritesPlainDigits) {
  struct Case {
    std::uint64_t value;
    const char* text;
  };
  const Case cases[] = {
      {0, "0"},
      {9, "9"},
      {10, "10"},
      {99, "99"},
      {100, "100"},
      {101, "101"},
      {9223372036854775808u, "9223372036854775808"},
      {std::numeric_limits<std::uint64_t>::max(), "18446744073709551615"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(format(c.value), c.text);
  }
}

TEST(FormatUnsigned, PowersOfTenAndNeighboursMatchToString) {
  std::uint64_t power = 1;
  for (int k = 0; k <= 19; ++k, power *= 10) {
    for (const std::uint64_t v : {power - 1, power, power + 1, power * 5 - 1, power * 2}) {
      SCOPED_TRACE(v);
      EXPECT_EQ(format(v), std::to_string(v));
    }
  }
}

// MARK: property test

// A decimal read off a text: significant digits without leading or trailing zeros and
// the power of ten of the first one.
struct Decimal {
  std::string digits;
  int exponent = 0;
  bool operator==(const Decimal&) const = default;
};

// Reads "[-]ddd[.ddd][e(+|-)ddd]" as written by format_double or printf("%e").
Decimal parse_decimal(std::string_view text) {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  int exponent = 0;
  if (const std::size_t e = text.find('e'); e != std::string_view::npos) {
    std::string_view rest = text.substr(e + 1);
    if (!rest.empty() && rest.front() == '+') rest.remove_prefix(1);
    std::from_chars(rest.data(), rest.data() + rest.size(), exponent);
    text = text.substr(0, e);
  }
  std::string all;
  int point = static_cast<int>(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '.') {
      point = static_cast<int>(i);
    } else {
      all.push_back(text[i]);
    }
  }
  const std::size_t first = all.find_first_not_of('0');
  if (first == std::string::npos) return {};
  const std::size_t last = all.find_last_not_of('0');
  return {all.substr(first, last - first + 1), exponent + point - 1 - static_cast<int>(first)};
}

void PrintTo(const Decimal& d, std::ostream* os) { *os << d.digits << "e" << d.exponent; }

// "d1.d2...dne<u>", a text any reader accepts.
std::string scientific(const Decimal& d) {
  std::string text = d.digits.substr(0, 1);
  if (d.digits.size() > 1) text.append(".").append(d.digits, 1);
  return text + "e" + std::to_string(d.exponent);
}

bool reads_back(const std::string& text, double v) { return parse_exactly(text.c_str()) == v; }

// The n-digit significand of `d` as an integer scaled by 10^(u-n+1), for n <= 18.
std::uint64_t significand(const Decimal& d) { return std::stoull(d.digits); }

// Adjacent n-digit decimals of `d` padded to n digits.
bool are_neighbours(const Decimal& a, const Decimal& b, std::size_t n) {
  const auto scaled = [n](const Decimal& d) {
    std::string digits = d.digits;
    digits.resize(n + 1, '0');  // one extra digit: the step below a power of ten
    return std::pair{std::stoull(digits), d.exponent};
  };
  auto [sa, ea] = scaled(a);
  auto [sb, eb] = scaled(b);
  if (ea > eb + 1 || eb > ea + 1) return false;
  // Bring both to the scale of the smaller exponent.
  while (ea > eb) {
    sa *= 10;
    --ea;
  }
  while (eb > ea) {
    sb *= 10;
    --eb;
  }
  const std::uint64_t diff = sa > sb ? sa - sb : sb - sa;
  // One step of the n-th digit at the finer scale, also across a power of ten
  // (9.999e2 and 1.000e3).
  return diff == 10;
}

void check_layout(double v, const std::string& text, const Decimal& digits) {
  const std::string_view body = std::signbit(v) ? std::string_view(text).substr(1) : text;
  ASSERT_EQ(std::signbit(v), text.front() == '-') << text;
  const int u = digits.exponent;
  const bool exponent_form = uses_exponent_form(u);
  ASSERT_EQ(body.find('e') != std::string_view::npos, exponent_form) << text;
  if (exponent_form) {
    // 1e+16 has no point; a single digit never gets ".0".
    ASSERT_EQ(body.find('.') != std::string_view::npos, digits.digits.size() > 1) << text;
    ASSERT_EQ(body[body.find('e') + 1], u > 0 ? '+' : '-') << text;
    ASSERT_NE(body[body.find('e') + 2], '0') << text;
  } else {
    ASSERT_NE(body.find('.'), std::string_view::npos) << text;
    const bool whole = u >= static_cast<int>(digits.digits.size()) - 1;
    ASSERT_EQ(body.ends_with(".0"), whole) << text;
    ASSERT_EQ(body.starts_with("0."), u < 0) << text;
  }
}

// Checks, with glibc's exactly rounding printf and strtod as the reference, that `ours`,
// the digits written for `v` (finite, > 0), are the shortest that read back and the
// nearest of that length, ties to even.
void check_shortest_and_nearest(double v, const Decimal& ours) {
  const std::size_t n = ours.digits.size();
  ASSERT_TRUE(reads_back(scientific(ours), v)) << scientific(ours);

  // No decimal of n-1 digits reads back: it is enough to try the two that bracket ours,
  // since every decimal between ours and v would read back as well.
  if (n > 1) {
    const std::uint64_t down = significand(ours) / 10;
    for (const std::uint64_t s : {down, down + 1}) {
      const std::string text =
          std::to_string(s) + "e" + std::to_string(ours.exponent - static_cast<int>(n) + 2);
      ASSERT_FALSE(reads_back(text, v)) << "shorter " << text << " for " << scientific(ours);
    }
  }

  // Among n-digit decimals the nearest to v (ties to even) is printf's; when it does not
  // read back, the nearest that does is its neighbour on the other side of v.
  std::array<char, 64> buf{};
  const int len = std::snprintf(buf.data(), buf.size(), "%.*e", static_cast<int>(n) - 1, v);
  const Decimal nearest =
      parse_decimal(std::string_view(buf.data(), static_cast<std::size_t>(len)));
  if (reads_back(buf.data(), v)) {
    ASSERT_EQ(ours, nearest) << buf.data();
  } else {
    ASSERT_TRUE(are_neighbours(ours, nearest, n)) << buf.data() << " vs " << scientific(ours);
  }
}

// The sample: random bit patterns, every power of two and of ten with its neighbours,
// subnormals, the extremes, and sums 1..9 + j * 2^-17 whose exact values have 18 digits
// ending in 5 (ties between two 17-digit candidates).
std::vector<double> sample_doubles(std::size_t random_count) {
  std::mt19937_64 rng(0x5eed'1234'abcd'0001);
  std::vector<double> out;
  out.reserve(random_count + 20000);
  const auto add_with_neighbours = [&out](double v) {
    for (const double w : {v, std::nextafter(v, 0.0), std::nextafter(v, 2 * v)}) {
      if (std::isfinite(w) && w != 0) out.push_back(w);
    }
  };
  while (out.size() < random_count) {
    const double v = std::bit_cast<double>(rng());
    if (std::isfinite(v)) out.push_back(v);
  }
  for (int k = -1074; k <= 1023; ++k) add_with_neighbours(std::ldexp(1.0, k));
  for (int k = -323; k <= 308; ++k) {
    add_with_neighbours(parse_exactly(("1e" + std::to_string(k)).c_str()));
  }
  for (std::uint64_t bits = 1; bits <= 2000; ++bits) out.push_back(std::bit_cast<double>(bits));
  for (int i = 0; i < 2000; ++i) {
    out.push_back(std::bit_cast<double>(rng() & ((std::uint64_t{1} << 52) - 1)));
  }
  add_with_neighbours(DBL_MAX);
  add_with_neighbours(DBL_MIN);
  for (int i = 0; i < 5000; ++i) {
    const auto whole = static_cast<double>(1 + rng() % 9);
    const auto odd = static_cast<double>((rng() % (1u << 16)) * 2 + 1);
    out.push_back(whole + std::ldexp(odd, -17));
  }
  return out;
}

// The text of `v` reads back to the same bits with nothing left over, is laid out by the
// power of ten of its first digit, and has the shortest and nearest digits.
void check_double(double v) {
  const std::string text = format(v);
  double back = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
  ASSERT_EQ(ec, std::errc()) << text;
  ASSERT_EQ(end, text.data() + text.size()) << text;
  ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(v)) << text;
  const Decimal digits = parse_decimal(text);
  check_layout(v, text, digits);
  check_shortest_and_nearest(std::fabs(v), digits);
}

TEST(FormatDouble, EveryTextReadsBackShortestAndNearestInItsLayout) {
  for (const double v : sample_doubles(20'000)) {
    check_double(v);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace velmar::json
