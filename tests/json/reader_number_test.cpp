// Numbers: which representation each text gets, the grammar's errors and positions (a
// caret line marks the byte, as in reader_test.cpp), the long-integer and truncated-fraction
// paths, exponent overflow both ways, the exact double of worked examples, the power
// tables, where the scaling is correctly rounded, and the digits kept for the writer there.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "json/number_reader.h"
#include "json/reader.h"
#include "json/writer.h"
#include "reader_test_support.h"

namespace velmar::json {
namespace {

using testing::cat;
using testing::check_rows;
using testing::outcome;
using testing::OutcomeRow;

TEST(JsonReaderNumbers, EachTextGetsOneRepresentation) {
  const OutcomeRow rows[] = {
      {"zero", "[0]", "[u0]"},
      {"positive", "[42]", "[u42]"},
      {"negative", "[-42]", "[i-42]"},
      {"minus one", "[-1]", "[i-1]"},
      {"minus zero", "[-0]", "[d-0]"},
      {"minus zero with fraction", "[-0.0]", "[d-0]"},
      {"zero with fraction", "[0.0]", "[d0]"},
      {"integral fraction", "[1.0]", "[d1]"},
      {"exponent", "[1e2]", "[d100]"},
      {"capital exponent", "[1E2]", "[d100]"},
      {"signed exponent", "[1e+2]", "[d100]"},
      {"negative exponent", "[25e-2]", "[d0.25]"},
      {"zero exponent", "[7e0]", "[d7]"},
      {"largest unsigned", "[18446744073709551615]", "[u18446744073709551615]"},
      {"one past unsigned", "[18446744073709551616]", "[d1.8446744073709552e+19]"},
      {"smallest signed", "[-9223372036854775808]", "[i-9223372036854775808]"},
      {"one past signed", "[-9223372036854775809]", "[d-9.2233720368547758e+18]"},
      {"negative beyond signed, within unsigned", "[-18446744073709551615]",
       "[d-1.8446744073709552e+19]"},
      {"several in a row", "[1,-2,3.5,-4e1]", "[u1,i-2,d3.5,d-40]"},
      // Digits are taken eight at a time where eight bytes remain.
      {"eight digits", "[12345678]", "[u12345678]"},
      {"seventeen digits", "[12345678901234567]", "[u12345678901234567]"},
      {"nine fraction digits, then an exponent", "[-0.123456789e1]", "[d-1.2345678899999999]"},
  };
  check_rows(rows);
}

TEST(JsonReaderNumbers, GrammarErrors) {
  // clang-format off
  const OutcomeRow rows[] = {
      {"leading zero", "[01]", "invalid number",
                       "  ^"},
      {"two zeros", "[00]", "invalid number at line 1 column 3"},
      {"negative leading zero", "[-01]", "invalid number",
                                "   ^"},
      {"minus alone", "[-]", "invalid number",
                      "  ^"},
      {"minus letter", "[-a]", "invalid number at line 1 column 3"},
      {"minus infinity", "[-Infinity]", "invalid number at line 1 column 3"},
      {"minus point", "[-.5]", "invalid number at line 1 column 3"},
      {"end after minus", "[-", "EOF while parsing a value at line 1 column 2"},
      {"point without digits", "[1.]", "invalid number",
                               "   ^"},
      {"point letter", "[1.a]", "invalid number at line 1 column 4"},
      {"point exponent", "[1.e5]", "invalid number at line 1 column 4"},
      {"end after point", "[1.", "EOF while parsing a value at line 1 column 3"},
      {"exponent without digits", "[1e]", "invalid number",
                                  "   ^"},
      {"exponent sign without digits", "[1e+]", "invalid number",
                                       "    ^"},
      {"exponent letter after sign", "[1e-x]", "invalid number at line 1 column 5"},
      {"end after exponent letter", "[1E", "EOF while parsing a value at line 1 column 3"},
      {"end after exponent sign", "[1e-", "EOF while parsing a value at line 1 column 4"},
      {"plus sign", "[+1]", "expected value",
                    " ^"},
      {"leading point", "[.5]", "expected value at line 1 column 2"},
      {"not a number", "[NaN]", "expected value at line 1 column 2"},
      // The number ends at the first byte that cannot continue it.
      {"second point", "[1.5.3]", "expected `,` or `]`",
                       "    ^"},
      {"second exponent", "[1e5e5]", "expected `,` or `]` at line 1 column 5"},
      {"hexadecimal", "[0x10]", "expected `,` or `]`",
                      "  ^"},
      {"digit group", "[1 000]", "expected `,` or `]` at line 1 column 4"},
      {"zero then digits after fraction is fine", "[0.01]", "[d0.01]"},
  };
  // clang-format on
  check_rows(rows);
}

TEST(JsonReaderNumbers, OutOfRange) {
  // clang-format off
  const OutcomeRow rows[] = {
      // A product that overflows fails at the number's last byte.
      {"just above the largest double", "[1e309]", "number out of range",
                                        "     ^"},
      {"large significand", "[2e308]", "number out of range at line 1 column 6"},
      {"two-digit significand", "[10e308]", "number out of range at line 1 column 7"},
      {"beyond the table", "[1e400]", "number out of range at line 1 column 6"},
      {"largest 32-bit exponent", "[1e2147483647]", "number out of range",
                                  "            ^"},  // the last byte
      {"long integer times a large power", "[100000000000000000000000e2147483647]",
       "number out of range at line 1 column 36"},
      // An exponent beyond 32 bits fails at the digit that does not fit.
      {"tenth exponent digit", "[1.5e99999999999]", "number out of range",
                               "              ^"},
      {"negative number, positive exponent", "[-1e99999999999]",
       "number out of range at line 1 column 14"},
      {"eleventh exponent digit", "[1e21474836479]", "number out of range",
                                  "             ^"},  // 2147483647 still fits
      {"explicit plus", "[1e+2147483648]", "number out of range at line 1 column 14"},
  };
  // clang-format on
  check_rows(rows);
}

// The reader's double for each text, bit for bit, spelled as the shortest decimal that
// reads back to it. `nearest` says whether it is also the correctly rounded value, the one
// strtod gives: the reader rounds the significand to a double and scales it once by a
// tabulated power of ten, so a text outside the exact range below can land one step off.
struct DoubleRow {
  const char* text;
  double expected;
  bool nearest;
};

const DoubleRow kDoubleRows[] = {
    // 3e23 is 3 times the double nearest to 1e23, which lies below 10^23.
    {"3e23", 2.9999999999999997e23, false},
    {"1e23", 1e23, true},
    // Below the smallest subnormal: zero without an error, keeping the sign.
    {"1e-400", 0.0, true},
    {"-1e-400", -0.0, true},
    {"0e99999999999", 0.0, true},
    {"-0e99999999999", -0.0, true},
    {"0.0e99999999999", 0.0, true},
    {"1e-99999999999", 0.0, true},
    {"1e-2147483648", 0.0, true},
    {"1e-2147483649", 0.0, true},
    {"0.00001e-2147483647", 0.0, true},
    {"0e400", 0.0, true},
    // Subnormals, reached by dividing by 1e308 more than once.
    {"5e-324", 5e-324, true},
    {"4.9406564584124654e-324", 5e-324, true},
    {"1e-320", 1e-320, true},
    {"2.2250738585072014e-308", 2.2250738585072014e-308, true},
    {"1.7976931348623157e308", 1.7976931348623157e308, true},
    // Long integers: the digits past 64 bits only raise the exponent.
    {"123456789012345678901234", 1.2345678901234567e23, false},
    {"18446744073709551616", 1.8446744073709552e19, true},
    {"-99999999999999999999", -1e20, true},
    {"123456789012345678901234e-4", 1.2345678901234567e19, true},
    // Truncated fractions: the digits past 64 bits are dropped, not rounded.
    {"0.12345678901234567890123", 0.12345678901234568, true},
    {"1.00000000000000000000000000001", 1.0, true},
    {"1.99999999999999999999999", 2.0, true},
    // A significand above 2^53 is rounded before it is scaled: 2305843009213693823 and
    // 90071992547409930 (rounded to 90071992547409936, then divided by ten).
    {"0.23058430092136938239", 0.23058430092136936, false},
    {"23058430092136938239", 2.3058430092136935e19, false},
    {"9007199254740993.0", 9007199254740994.0, false},
    // After a long integer, a fraction digit that fits the kept significand is appended
    // to it (1844674407370955161 then 5, the 6 having raised the exponent).
    {"18446744073709551616.5", 1.8446744073709552e19, true},
    // Up to seven digits after the first sixteen go on in one step when any that many
    // would fit, else one by one while they fit: 16 + 1, 16 + 4, 16 + 3 then 1, 16 + 4 one
    // by one to the largest that fits, and one digit past it dropped.
    {"0.12345678901234567", 0.12345678901234568, false},
    {"-0.00011222992424996459", -0.0001122299242499646, false},
    {"1234567890123456789.5", 1.2345678901234568e18, true},
    {"0.18446744073709551615", 0.1844674407370955, true},
    {"0.18446744073709551616", 0.18446744073709553, false},
    {"1.5e-7", 1.5e-7, true},
    // Exponents of up to four digits are taken in one step, longer ones digit by digit.
    {"1.5e0007", 1.5e7, true},
    {"-1.5E-00007", -1.5e-7, true},
    {"-2.5E+3", -2500.0, true},
    {"0.000001", 1e-6, true},
};

// Each text is read at the end of the input, where digits go one by one, and followed by
// spaces, where they go a word at a time: the same double either way.
TEST(JsonReaderNumbers, ReadsWorkedExamplesToTheirExactDouble) {
  for (const DoubleRow& row : kDoubleRows) {
    for (const char* after : {"]", "                ]"}) {
      SCOPED_TRACE(cat(row.text, after));
      Arena arena;
      auto result = read_sequence(arena, cat("[", row.text, after));
      ASSERT_TRUE(result.ok()) << result.error().display();
      JsonNumber n = (*result)[0].as_number();
      ASSERT_EQ(n.rep(), JsonNumber::Rep::kDouble);
      const auto bits = std::bit_cast<std::uint64_t>(n.as_double());
      EXPECT_EQ(bits, std::bit_cast<std::uint64_t>(row.expected))
          << n.as_double() << " != " << row.expected;
      EXPECT_EQ(bits == std::bit_cast<std::uint64_t>(std::strtod(row.text, nullptr)), row.nearest);
    }
  }
}

TEST(JsonReaderNumbers, PowerTablesHoldTheNearestDoubles) {
  for (int k = 0; k <= detail::kMaxPow10; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(detail::kPow10[k], std::strtod(cat("1e", std::to_string(k)).c_str(), nullptr));
  }
}

// The writer's 128-bit significands of 10^e: the top bit set; rounded to a double and scaled,
// the double nearest to 10^e (where there is one); and 5^e shifted, exactly, for e <= 55.
TEST(JsonReaderNumbers, WidePowerTableHoldsTheSignificandsOfPowersOfTen) {
  __extension__ using Wide = unsigned __int128;
  Wide five = 1;
  for (int e = detail::kMinPow10Wide; e <= detail::kMaxPow10Wide; ++e) {
    SCOPED_TRACE(e);
    const detail::Wide128 g = detail::kPow10Wide.g[e - detail::kMinPow10Wide];
    const Wide wide = (Wide{g.hi} << 64) | g.lo;
    ASSERT_EQ(g.hi >> 63, 1u);
    if (e <= detail::kMaxPow10) {
      const double nearest = std::strtod(cat("1e", std::to_string(e)).c_str(), nullptr);
      EXPECT_EQ(std::ldexp(static_cast<double>(wide), std::ilogb(nearest) - 127), nearest);
    }
    if (e >= 0 && e <= 55) {
      const int zeros = g.lo != 0 ? std::countr_zero(g.lo) : 64 + std::countr_zero(g.hi);
      EXPECT_TRUE(wide >> zeros == five);
      five *= 5;
    }
  }
}

// With a significand of at most 2^53 and |e| <= 22 both operands are exact, so the one
// operation rounds once and the result is the correctly rounded double, as strtod gives.
// Such a double keeps the digits it was read from when they are few enough to be its
// shortest ones, and the writer writes from them: the text must be the one format_double
// finds by searching, trailing zeros, negative k and all.
TEST(JsonReaderNumbers, IsCorrectlyRoundedWhereBothOperandsAreExact) {
  std::mt19937_64 rng(20240607);
  int kept_digits = 0;
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t s = i % 2 == 0 ? rng() % ((std::uint64_t{1} << 53) + 1)
                                 : (rng() >> (11 + rng() % 53)) * detail::kPow10Int[rng() % 4];
    s = std::min(s, std::uint64_t{1} << 53);
    // Every fourth text is scaled beyond 10^22, where rounding may happen twice and the
    // digits read are not always the double's shortest ones.
    const bool one_rounding = i % 4 != 3;
    int e = one_rounding ? static_cast<int>(rng() % 45) - 22 : static_cast<int>(rng() % 200) - 100;
    std::string digits = std::to_string(s);
    // Move the point into the digits and compensate in the written exponent.
    std::size_t fraction_digits = rng() % digits.size();
    std::size_t point = digits.size() - fraction_digits;
    std::string text =
        cat(rng() % 2 == 0 ? "-" : "", digits.substr(0, point), fraction_digits > 0 ? "." : "",
            digits.substr(point), "e", std::to_string(e + static_cast<int>(fraction_digits)));
    SCOPED_TRACE(text);
    Arena arena;
    auto result = read_sequence(arena, cat("[", text, "]"));
    ASSERT_TRUE(result.ok()) << result.error().display();
    const JsonNumber n = (*result)[0].as_number();
    if (one_rounding) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(n.as_double()),
                std::bit_cast<std::uint64_t>(std::strtod(text.c_str(), nullptr)));
    }
    if (n.known_digits() != 0) ++kept_digits;
    char searched[kDoubleBufferBytes];
    ASSERT_EQ(to_json_bytes((*result)[0]),
              std::string(searched, format_double(n.as_double(), searched)));
  }
  EXPECT_GT(kept_digits, 3000);
}

TEST(JsonReaderNumbers, IntegersThatFitStayExact) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 5000; ++i) {
    std::uint64_t u = rng() >> (rng() % 64);
    std::int64_t neg = -static_cast<std::int64_t>(rng() >> (1 + rng() % 63)) - 1;
    std::string text = cat("[", std::to_string(u), ",", std::to_string(neg), "]");
    SCOPED_TRACE(text);
    Arena arena;
    auto result = read_sequence(arena, text);
    ASSERT_TRUE(result.ok());
    ASSERT_EQ((*result)[0].as_number().rep(), JsonNumber::Rep::kUnsigned);
    EXPECT_EQ((*result)[0].as_number().as_unsigned(), u);
    ASSERT_EQ((*result)[1].as_number().rep(), JsonNumber::Rep::kSigned);
    EXPECT_EQ((*result)[1].as_number().as_signed(), neg);
  }
}

}  // namespace
}  // namespace velmar::json
