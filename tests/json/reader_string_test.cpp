// Strings: escapes and surrogate pairs, every class of ill-formed UTF-8, the order in
// which string errors are found, the eight-byte scan at every offset, and the scratch
// buffer shared by consecutive strings.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "json/reader.h"
#include "reader_test_support.h"

namespace velmar::json {
namespace {

using namespace std::string_view_literals;
using testing::cat;
using testing::check_rows;
using testing::outcome;
using testing::OutcomeRow;

constexpr std::string_view kControl =
    "control character (\\u0000-\\u001F) found while parsing a string";

std::string at(std::string_view message, std::size_t column) {
  return cat(message, " at line 1 column ", std::to_string(column));
}

TEST(JsonReaderStrings, Escapes) {
  const OutcomeRow rows[] = {
      {"every letter", R"(["\"\\\/\b\f\n\r\t"])", R"(["\x22\x5C/\x08\x0C\x0A\x0D\x09"])"},
      {"nul", R"(["\u0000"])", R"(["\x00"])"},
      {"one to three bytes", R"(["\u0041\u00e9\u20AC\uffff"])",
       R"(["A\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF"])"},
      {"around the surrogates", R"(["\uD7FF\uE000"])", R"(["\xED\x9F\xBF\xEE\x80\x80"])"},
      {"pair", R"(["\uD83D\uDE00"])", R"(["\xF0\x9F\x98\x80"])"},
      {"lowest pair", R"(["\ud800\udc00"])", R"(["\xF0\x90\x80\x80"])"},
      {"highest pair", R"(["\uDBFF\uDFFF"])", R"(["\xF4\x8F\xBF\xBF"])"},
      {"raw runs around escapes", R"(["ab\ncd\tef"])", R"(["ab\x0Acd\x09ef"])"},
      {"delete passes raw", "[\"\x7F\"]", R"(["\x7F"])"},
      {"raw multibyte", "[\"\xC3\xA9\xF0\x9F\x98\x80\"]", R"(["\xC3\xA9\xF0\x9F\x98\x80"])"},
      {"raw multibyte between escapes", "[\"\\t\xC3\xA9\\u00e9\xF0\x9F\x98\x80\\n\"]",
       R"(["\x09\xC3\xA9\xC3\xA9\xF0\x9F\x98\x80\x0A"])"},
      {"more escapes back to back than a batch, a pair among them",
       R"(["\u00e9\n\u00e9\n\u00e9\n\u00e9\n\u00e9\n\u00e9\n\u00e9\n\u00e9\n\uD83D\uDE00\t\u0041"])",
       R"(["\xC3\xA9\x0A\xC3\xA9\x0A\xC3\xA9\x0A\xC3\xA9\x0A\xC3\xA9\x0A\xC3\xA9\x0A\xC3\xA9\x0A\xC3\xA9\x0A\xF0\x9F\x98\x80\x09A"])"},
  };
  check_rows(rows);
}

TEST(JsonReaderStrings, EscapeErrors) {
  const OutcomeRow rows[] = {
      {"unknown letter", R"(["\x"])", "invalid escape at line 1 column 4"},
      //                       ^
      {"capital U", R"(["\U0041"])", "invalid escape at line 1 column 4"},
      {"bad hex digit", R"(["\u12G4"])", "invalid escape at line 1 column 8"},
      //                            ^ the fourth byte of the group
      {"bad first hex digit", R"(["\uG234"])", "invalid escape at line 1 column 8"},
      {"quote among the four bytes", R"(["\u12"])", "invalid escape at line 1 column 8"},
      {"fewer than four bytes left", R"(["\u12")", "EOF while parsing a string at line 1 column 7"},
      {"end after u", R"(["\u)", "EOF while parsing a string at line 1 column 4"},
      {"end after backslash", R"(["\)", "EOF while parsing a string at line 1 column 3"},
      {"unknown letter after an escape", R"(["\n\x"])", "invalid escape at line 1 column 6"},
      {"end after an escape and a backslash", R"(["\t\)",
       "EOF while parsing a string at line 1 column 5"},
      {"high surrogate then quote", R"(["\uD800"])",
       "unexpected end of hex escape at line 1 column 9"},
      //        ^
      {"high surrogate then other escape", R"(["\uD800\n"])",
       "unexpected end of hex escape at line 1 column 10"},
      //          ^
      {"high surrogate then letter", R"(["\uD800x"])",
       "unexpected end of hex escape at line 1 column 9"},
      {"end after high surrogate", R"(["\uD800)", "EOF while parsing a string at line 1 column 8"},
      {"end after its backslash", R"(["\uD800\)", "EOF while parsing a string at line 1 column 9"},
      {"end inside the second escape", R"(["\uD800\uDC)",
       "EOF while parsing a string at line 1 column 12"},
      {"lone low surrogate", R"(["\uDC00"])",
       "lone leading surrogate in hex escape at line 1 column 8"},
      //                               ^
      {"highest low surrogate", R"(["\uDFFF"])",
       "lone leading surrogate in hex escape at line 1 column 8"},
      {"high then not low", R"(["\uD800\u0041"])",
       "lone leading surrogate in hex escape at line 1 column 14"},
      //              ^ the fourth digit of the second escape
      {"two high surrogates", R"(["\uD800\uDBFF"])",
       "lone leading surrogate in hex escape at line 1 column 14"},
      {"bad digit in the second escape", R"(["\uD800\uDC0G"])",
       "invalid escape at line 1 column 14"},
      // The same faults with text after them, and after more escapes than a batch.
      {"unknown letter, text after", R"(["\n\x tail"])", "invalid escape at line 1 column 6"},
      {"lone low surrogate, text after", R"(["\n\uDC00 tail"])",
       "lone leading surrogate in hex escape at line 1 column 10"},
      {"bad digit after a batch", R"(["\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\u12G4 tail"])",
       "invalid escape at line 1 column 42"},
  };
  check_rows(rows);
}

TEST(JsonReaderStrings, RawBytes) {
  const OutcomeRow rows[] = {
      {"unterminated", R"(["abc)", "EOF while parsing a string at line 1 column 5"},
      {"control byte",
       "[\"a\x01"
       "b\"]",
       at(kControl, 4)},
      {"raw nul", "[\"\0\"]"sv, at(kControl, 3)},
      {"unit separator", "[\"\x1F\"]", at(kControl, 3)},
      {"raw tab", "[\"a\tb\"]", at(kControl, 4)},
      {"invalid byte", "[\"\xFF\"]", "invalid unicode code point at line 1 column 4"},
      //                        ^ the closing quote
  };
  check_rows(rows);
}

TEST(JsonReaderStrings, ErrorsFollowTextOrder) {
  // Ill-formed UTF-8 is found only at the closing quote, so anything before it wins.
  const OutcomeRow rows[] = {
      {"bad byte then tab", "[\"\xFF\t\"]", at(kControl, 4)},
      {"bad byte then bad escape", "[\"\xFF\\x\"]", "invalid escape at line 1 column 5"},
      {"bad byte then end", "[\"\xFF", "EOF while parsing a string at line 1 column 3"},
      {"bad byte then good escape", "[\"\xFF\\n\"]",
       "invalid unicode code point at line 1 column 6"},
      {"good escape then bad byte", "[\"\\n\xFF\"]",
       "invalid unicode code point at line 1 column 6"},
      {"bad key", "[{\"\xFF\":1}]", "invalid unicode code point at line 1 column 5"},
      {"bad run between escapes, long tail", "[\"\\n\xFF\\n0123456789abcdef0123456789\"]",
       "invalid unicode code point at line 1 column 34"},
      {"lead byte cut by an escape", "[\"\xC3\\u00A9\"]",
       "invalid unicode code point at line 1 column 10"},
      {"continuation after an escape", "[\"\\u00e9\xA9\"]",
       "invalid unicode code point at line 1 column 10"},
  };
  check_rows(rows);
}

// Raw bytes between the quotes, valid or not.
struct Utf8Row {
  const char* name;
  std::string_view bytes;
  bool valid;
};

const Utf8Row kUtf8Rows[] = {
    {"two-byte lowest", "\xC2\x80", true},
    {"two-byte highest", "\xDF\xBF", true},
    {"three-byte lowest", "\xE0\xA0\x80", true},
    {"below the surrogates", "\xED\x9F\xBF", true},
    {"above the surrogates", "\xEE\x80\x80", true},
    {"three-byte highest", "\xEF\xBF\xBF", true},
    {"four-byte lowest", "\xF0\x90\x80\x80", true},
    {"highest code point", "\xF4\x8F\xBF\xBF", true},
    {"overlong two-byte C0", "\xC0\x80", false},
    {"overlong two-byte C1", "\xC1\xBF", false},
    {"overlong three-byte", "\xE0\x80\x80", false},
    {"overlong three-byte high", "\xE0\x9F\xBF", false},
    {"overlong four-byte", "\xF0\x80\x80\x80", false},
    {"overlong four-byte high", "\xF0\x8F\xBF\xBF", false},
    {"encoded high surrogate", "\xED\xA0\x80", false},
    {"encoded low surrogate", "\xED\xBF\xBF", false},
    {"above U+10FFFF", "\xF4\x90\x80\x80", false},
    {"lead F5", "\xF5\x80\x80\x80", false},
    {"lead FF", "\xFF", false},
    {"truncated two-byte", "\xC3", false},
    {"truncated three-byte", "\xE2\x82", false},
    {"truncated four-byte", "\xF0\x9F\x98", false},
    {"truncated then ASCII",
     "\xE2\x82"
     "a",
     false},
    {"stray continuation", "\x80", false},
    {"stray continuation after ASCII", "a\xBF", false},
    {"continuation after a complete character", "\xC3\xA9\xA9", false},
    {"bad third byte", "\xE2\x82\x41", false},
    {"bad fourth byte", "\xF0\x9F\x98\xC0", false},
    {"characters back to back, then ASCII",
     "\xE6\x97\xA5\xE6\x9C\xAC\xC3\xA9"
     "a\xF0\x9F\x98\x80",
     true},
    {"characters back to back, then a bad one", "\xE6\x97\xA5\xE6\x9C\xAC\xC3\xA9\xED\xA0\x80",
     false},
};

// Each row at several places in the blocks the check takes: alone; after ASCII that moves
// it to one of the last three lanes; after two-, three- or four-byte characters, one of
// them open across a block's end (from its last lane, or from one of the two before);
// followed by nothing, by ASCII or by more such characters; and with and without a block
// of input after the string, which lets the last partial block be checked whole.
TEST(JsonReaderStrings, ChecksUtf8AtTheClosingQuote) {
  const std::string_view prefixes[] = {
      "",
      "0123456789abc",
      "0123456789abcd",
      "0123456789abcde",
      "xx\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80",
      "x\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
      "\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96",
      "x\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96",
      "xx\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5",
      "\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5"};
  const std::string_view suffixes[] = {
      "", "yyyyyyyyyyyyyyyyyyyy",
      "\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96\xD0\x96",
      "\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5",
      "\xF0\x9F\x98\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xF0\x9F\x98\x80\xF0\x9F\x98\x80"};
  // The end of the array at once, or a block of input more: ASCII, or characters that
  // must not be taken for part of the string.
  const std::string_view kAfter[] = {
      "]", ",\"0123456789abcdef\"]",
      ",\"\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5\"]"};
  for (const Utf8Row& row : kUtf8Rows) {
    for (std::string_view prefix : prefixes) {
      for (std::string_view suffix : suffixes) {
        for (std::string_view after : kAfter) {
          std::string body = cat(prefix, row.bytes, suffix);
          SCOPED_TRACE(cat(row.name, ": ", std::to_string(prefix.size()), " bytes before, ",
                           std::to_string(suffix.size()), " after, then ", after));
          std::string input = cat("[\"", body, "\"", after);
          Arena arena;
          auto result = read_sequence(arena, input);
          if (row.valid) {
            ASSERT_TRUE(result.ok()) << result.error().display();
            EXPECT_EQ((*result)[0].as_string(), body);
          } else {
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.error().display(), at("invalid unicode code point", body.size() + 3));
          }
        }
      }
    }
  }
}

// Every special byte at every offset of strings up to 40 bytes, so each lane of the
// sixteen- and eight-byte scans and the byte-by-byte tail find it.
TEST(JsonReaderStrings, FindsSpecialBytesAtEveryOffset) {
  for (std::size_t len = 1; len <= 40; ++len) {
    for (std::size_t pos = 0; pos < len; ++pos) {
      SCOPED_TRACE(cat("length ", std::to_string(len), ", offset ", std::to_string(pos)));
      std::string before(pos, 'a');
      std::string after(len - pos - 1, 'b');
      // [ " before X after " ]: X is at byte 2 + pos, the closing quote at 2 + len.
      EXPECT_EQ(outcome(cat("[\"", before, "\x1F", after, "\"]")), at(kControl, pos + 3));
      EXPECT_EQ(outcome(cat("[\"", before, "\xFF", after, "\"]")),
                at("invalid unicode code point", len + 3));
      EXPECT_EQ(outcome(cat("[\"", before, "\\\"", after, "\"]")),
                cat("[\"", before, "\\x22", after, "\"]"));
      EXPECT_EQ(outcome(cat("[\"", before, "\xC3\xA9", after, "\"]")),
                cat("[\"", before, "\\xC3\\xA9", after, "\"]"));
      if (!after.empty()) {
        // A quote ends the string early; the rest is judged by the array.
        EXPECT_EQ(outcome(cat("[\"", before, "\"", after, "\"]")),
                  at("expected `,` or `]`", pos + 4));
      }
    }
  }
}

TEST(JsonReaderStrings, PassesEveryOtherPrintableByte) {
  std::string printable;
  for (char c = ' '; c < 0x7F; ++c) {
    if (c != '"' && c != '\\') printable += c;
  }
  for (std::size_t shift = 0; shift < 8; ++shift) {
    SCOPED_TRACE(shift);
    std::string body = cat(std::string(shift, 'x'), printable, printable);
    const std::string input = cat("[\"", body, "\"]");
    Arena arena;
    auto result = read_sequence(arena, input);
    ASSERT_TRUE(result.ok()) << result.error().display();
    EXPECT_EQ((*result)[0].as_string(), body);
    EXPECT_TRUE((*result)[0].string_escape_free());
  }
}

TEST(JsonReaderStrings, MarksStringsWithoutEscapesAsEscapeFree) {
  Arena arena;
  auto result =
      read_sequence(arena, R"(["plain","with\nescape","a plain string longer than fourteen bytes",)"
                           R"("a long string with an escaped \/ solidus","\u0041"])");
  ASSERT_TRUE(result.ok());
  const bool expected[] = {true, false, true, false, false};
  ASSERT_EQ(result->size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ((*result)[i].string_escape_free(), expected[i]);
  }
  EXPECT_EQ((*result)[3].as_string(), "a long string with an escaped / solidus");
}

TEST(JsonReaderStrings, EachStringStartsWithAnEmptyScratchBuffer) {
  const OutcomeRow rows[] = {
      {"consecutive escaped strings", R"(["a\nb","c\td"])", R"(["a\x0Ab","c\x09d"])"},
      {"plain string between", R"(["a\nb","plain","x\ty"])", R"(["a\x0Ab","plain","x\x09y"])"},
      {"escaped key and value", R"([{"k\n":"v\t"}])", R"([{"k\x0A":"v\x09"}])"},
      {"long escaped strings", R"(["0123456789abcdef\n0123456789abcdef","\u00e9"])",
       R"(["0123456789abcdef\x0A0123456789abcdef","\xC3\xA9"])"},
  };
  check_rows(rows);
}

}  // namespace
}  // namespace velmar::json
