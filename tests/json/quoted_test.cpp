// Tests for the quoted form of a string and the Unicode tables behind it.
#include "json/quoted.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/unicode_tables.inc"

namespace velmar::json::detail {
namespace {

struct QuotedCase {
  const char* name;
  std::string_view input;  // UTF-8, spelled in bytes to keep the source ASCII-only
  std::string_view expected;
};

using namespace std::string_view_literals;

// clang-format off
const QuotedCase kQuotedCases[] = {
    {"empty", "", R"("")"},
    {"ascii letters and apostrophe", "It's ok", R"("It's ok")"},
    {"quote and backslash", R"(a"b\c)", R"("a\"b\\c")"},
    {"short escapes", "\t\n\r"sv, R"("\t\n\r")"},
    {"nul", "a\0b"sv, R"("a\0b")"},
    {"escape U+001B", "\x1b", R"("\u{1b}")"},
    {"other C0 controls", "\x01\x08\x0b\x0c\x1f", R"("\u{1}\u{8}\u{b}\u{c}\u{1f}")"},
    {"space and tilde raw", " ~", R"(" ~")"},
    {"delete U+007F", "\x7f", R"("\u{7f}")"},
    {"C1 control U+0085 (also whitespace)", "\xc2\x85", R"("\u{85}")"},
    {"last C1 control U+009F", "\xc2\x9f", R"("\u{9f}")"},
    {"no-break space U+00A0", "\xc2\xa0", R"("\u{a0}")"},
    {"inverted exclamation U+00A1 raw", "\xc2\xa1", "\"\xc2\xa1\""},
    {"soft hyphen U+00AD (Cf)", "\xc2\xad", R"("\u{ad}")"},
    {"combining acute U+0301 after e", "e\xcc\x81", R"("e\u{301}")"},
    {"unassigned U+0378", "\xcd\xb8", R"("\u{378}")"},
    {"spacing mark U+0903 raw", "\xe0\xa4\x83", "\"\xe0\xa4\x83\""},
    {"grapheme-extending spacing mark U+09BE", "\xe0\xa6\xbe", R"("\u{9be}")"},
    {"default-ignorable letter U+115F", "\xe1\x85\x9f", R"("\u{115f}")"},
    {"ogham space mark U+1680", "\xe1\x9a\x80", R"("\u{1680}")"},
    {"zero width space U+200B", "\xe2\x80\x8b", R"("\u{200b}")"},
    {"zero width joiner U+200D", "\xe2\x80\x8d", R"("\u{200d}")"},
    {"line separator U+2028", "\xe2\x80\xa8", R"("\u{2028}")"},
    {"ideographic space U+3000", "\xe3\x80\x80", R"("\u{3000}")"},
    {"CJK raw", "\xe4\xb8\xad\xe6\x96\x87", "\"\xe4\xb8\xad\xe6\x96\x87\""},
    {"private use U+E000", "\xee\x80\x80", R"("\u{e000}")"},
    {"last private use U+F8FF", "\xef\xa3\xbf", R"("\u{f8ff}")"},
    {"CJK compatibility U+F900 raw", "\xef\xa4\x80", "\"\xef\xa4\x80\""},
    {"variation selector U+FE0F", "\xef\xb8\x8f", R"("\u{fe0f}")"},
    {"byte order mark U+FEFF", "\xef\xbb\xbf", R"("\u{feff}")"},
    {"halfwidth katakana U+FF9D raw", "\xef\xbe\x9d", "\"\xef\xbe\x9d\""},
    {"grapheme-extending modifier U+FF9E", "\xef\xbe\x9e", R"("\u{ff9e}")"},
    {"replacement character U+FFFD raw", "\xef\xbf\xbd", "\"\xef\xbf\xbd\""},
    {"noncharacter U+FFFE", "\xef\xbf\xbe", R"("\u{fffe}")"},
    {"first supplementary U+10000 raw", "\xf0\x90\x80\x80", "\"\xf0\x90\x80\x80\""},
    {"emoji U+1F600 raw", "\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
    {"noncharacter U+1FFFF", "\xf0\x9f\xbf\xbf", R"("\u{1ffff}")"},
    {"CJK extension B U+20000 raw", "\xf0\xa0\x80\x80", "\"\xf0\xa0\x80\x80\""},
    {"language tag U+E0001", "\xf3\xa0\x80\x81", R"("\u{e0001}")"},
    {"supplementary private use U+F0000", "\xf3\xb0\x80\x80", R"("\u{f0000}")"},
    {"last code point U+10FFFF", "\xf4\x8f\xbf\xbf", R"("\u{10ffff}")"},
    {"raw runs around escapes", "ab\tc\xe2\x80\x8b" "d\"", R"("ab\tc\u{200b}d\"")"},
    {"escape first and last", "\x7f" "x\xc2\xa0", R"("\u{7f}x\u{a0}")"},
};
// clang-format on

TEST(AppendQuoted, WritesEachCaseExactly) {
  for (const QuotedCase& c : kQuotedCases) {
    SCOPED_TRACE(c.name);
    std::string out;
    append_quoted(out, c.input);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(AppendQuoted, AppendsAfterExistingText) {
  std::string out = "string ";
  append_quoted(out, "a\x1b");
  EXPECT_EQ(out, R"(string "a\u{1b}")");
}

struct PredicateCase {
  char32_t cp;
  bool escaped;
};

TEST(NeedsUnicodeEscape, MatchesCategoryBoundaries) {
  const PredicateCase cases[] = {
      {0x0000, true},   {0x001F, true},  {0x0020, false}, {0x0041, false},  {0x007E, false},
      {0x007F, true},   {0x009F, true},  {0x00A0, true},  {0x00A1, false},  {0x02FF, false},
      {0x0300, true},   {0x036F, true},  {0x0370, false}, {0x2027, false},  {0x2029, true},
      {0x202F, true},   {0xD7FB, false}, {0xFFFF, true},  {0x10000, false}, {0x1F600, false},
      {0x323AF, false}, {0x323B0, true}, {0xE0100, true}, {0xFFFFD, true},  {0x10FFFF, true},
      {0x110000, true},
  };
  for (const PredicateCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << static_cast<std::uint32_t>(c.cp));
    EXPECT_EQ(needs_unicode_escape(c.cp), c.escaped);
  }
}

// The lookup depends on the ranges of each plane being sorted, non-empty, merged (not
// touching) and indexed by kEscapePlaneStart.
TEST(UnicodeTables, RangesAreSortedMergedAndIndexedByPlane) {
  ASSERT_EQ(std::size(kEscapePlaneStart), 18U);
  EXPECT_EQ(kEscapePlaneStart[0], 0U);
  EXPECT_EQ(kEscapePlaneStart[17], std::size(kEscapeRanges));
  for (std::size_t plane = 0; plane < 17; ++plane) {
    SCOPED_TRACE(testing::Message() << "plane " << plane);
    ASSERT_LE(kEscapePlaneStart[plane], kEscapePlaneStart[plane + 1]);
    for (std::size_t i = kEscapePlaneStart[plane]; i < kEscapePlaneStart[plane + 1]; ++i) {
      EXPECT_LE(kEscapeRanges[i].first, kEscapeRanges[i].last) << "range " << i;
      if (i > kEscapePlaneStart[plane]) {
        EXPECT_GT(kEscapeRanges[i].first, kEscapeRanges[i - 1].last + 1) << "range " << i;
      }
    }
  }
}

// Every range edge, and the code point just outside it, answers as the table says: this
// exercises the search at each of its possible outcomes.
TEST(UnicodeTables, LookupAgreesWithEveryRangeEdge) {
  for (std::uint32_t plane = 0; plane < 17; ++plane) {
    for (std::size_t i = kEscapePlaneStart[plane]; i < kEscapePlaneStart[plane + 1]; ++i) {
      const char32_t first = (plane << 16) | kEscapeRanges[i].first;
      const char32_t last = (plane << 16) | kEscapeRanges[i].last;
      SCOPED_TRACE(testing::Message()
                   << "range " << i << " from U+" << std::hex << static_cast<std::uint32_t>(first));
      EXPECT_TRUE(needs_unicode_escape(first));
      EXPECT_TRUE(needs_unicode_escape(last));
      if (kEscapeRanges[i].first > 0) {
        EXPECT_FALSE(needs_unicode_escape(first - 1));
      }
      if (kEscapeRanges[i].last < 0xFFFF) {
        EXPECT_FALSE(needs_unicode_escape(last + 1));
      }
    }
  }
}

}  // namespace
}  // namespace velmar::json::detail
