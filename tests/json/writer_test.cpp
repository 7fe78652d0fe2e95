// The compact writer: the escape table byte by byte, string runs around escapes at every
// offset, integers and doubles by representation, arrays and objects in member order,
// the same bytes from to_json_bytes, serialize and display_text, and no huge page that a
// large text would mostly leave empty.
#include "json/writer.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/pages.h"
#include "json/reader.h"
#include "json/simd.h"
#include "json/value.h"
#include "json/writer_text.h"

namespace velmar::json {
namespace {

// Builds values in one arena for the length of a test.
class WriterTest : public ::testing::Test {
 protected:
  JsonValue str(std::string_view text, bool escape_free = false) {
    return JsonValue::string(arena_, text, escape_free);
  }
  static JsonValue u(std::uint64_t v) { return JsonValue::number(JsonNumber::from_unsigned(v)); }
  static JsonValue i(std::int64_t v) { return JsonValue::number(JsonNumber::from_signed(v)); }
  static JsonValue d(double v) { return JsonValue::number(JsonNumber::from_double(v)); }
  JsonValue arr(std::initializer_list<JsonValue> items) {
    return JsonValue::array(arena_, std::span<const JsonValue>(items.begin(), items.size()));
  }
  JsonValue obj(std::initializer_list<std::pair<std::string_view, JsonValue>> members) {
    JsonObject object = JsonObject::create(arena_);
    for (const auto& [key, value] : members) (void)object.insert_full(arena_, key, value);
    return JsonValue::object(object);
  }

  // Every way of writing `value` gives `expected`; serialize appends after what is there.
  static void expect_text(const JsonValue& value, std::string_view expected) {
    EXPECT_EQ(to_json_bytes(value), expected);
    EXPECT_EQ(display_text(value), expected);
    std::string out = "prefix";
    serialize(value, out);
    EXPECT_EQ(out, "prefix" + std::string(expected));
  }

  static std::string quoted_str(std::string_view text) {
    std::string out;
    serialize_str(text, out);
    return out;
  }

  Arena arena_;
};

struct EscapeRow {
  unsigned char byte;
  const char* text;
};

// The 34 bytes that are escaped, with their exact text.
constexpr EscapeRow kEscapes[] = {
    {0x00, "\\u0000"}, {0x01, "\\u0001"}, {0x02, "\\u0002"}, {0x03, "\\u0003"}, {0x04, "\\u0004"},
    {0x05, "\\u0005"}, {0x06, "\\u0006"}, {0x07, "\\u0007"}, {0x08, "\\b"},     {0x09, "\\t"},
    {0x0A, "\\n"},     {0x0B, "\\u000b"}, {0x0C, "\\f"},     {0x0D, "\\r"},     {0x0E, "\\u000e"},
    {0x0F, "\\u000f"}, {0x10, "\\u0010"}, {0x11, "\\u0011"}, {0x12, "\\u0012"}, {0x13, "\\u0013"},
    {0x14, "\\u0014"}, {0x15, "\\u0015"}, {0x16, "\\u0016"}, {0x17, "\\u0017"}, {0x18, "\\u0018"},
    {0x19, "\\u0019"}, {0x1A, "\\u001a"}, {0x1B, "\\u001b"}, {0x1C, "\\u001c"}, {0x1D, "\\u001d"},
    {0x1E, "\\u001e"}, {0x1F, "\\u001f"}, {0x22, "\\\""},    {0x5C, "\\\\"},
};
static_assert(std::size(kEscapes) == 34);

// `text` between double quotes, as the writer frames every string.
std::string in_quotes(std::string_view text) {
  std::string out = "\"";
  out.append(text).append("\"");
  return out;
}

// The escape text of `byte`, or the byte itself when it is written raw.
std::string expected_byte(unsigned char byte) {
  for (const EscapeRow& row : kEscapes) {
    if (row.byte == byte) return row.text;
  }
  return std::string(1, static_cast<char>(byte));
}

TEST_F(WriterTest, EscapesExactlyTheTableBytes) {
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    SCOPED_TRACE(b);
    const std::string text(1, static_cast<char>(byte));
    EXPECT_EQ(quoted_str(text), in_quotes(expected_byte(byte)));
    expect_text(str(text), in_quotes(expected_byte(byte)));
  }
}

TEST_F(WriterTest, WritesNamedCharactersRaw) {
  const std::pair<const char*, std::string_view> cases[] = {
      {"empty", ""},
      {"solidus", "/"},
      {"delete", "\x7f"},
      {"e acute", "\xC3\xA9"},
      {"U+2028", "\xE2\x80\xA8"},
      {"U+2029", "\xE2\x80\xA9"},
      {"four-byte character", "\xF0\x9F\x98\x80"},
  };
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    expect_text(str(text), in_quotes(text));
  }
}

// An escape at every offset of strings longer than one 8-byte word, amid raw bytes
// whose values lie near the escaped ones (0x20, 0x21, 0x23, 0x5B, 0x5D, 0x7F, 0xA2,
// 0xDC, 0xFF), so that a word-at-a-time scan can neither skip an escape nor stop short.
TEST_F(WriterTest, EscapesAtEveryOffsetAmidRawBytes) {
  const std::string filler =
      "\x20\x21\x23\x5B\x5D\x7F\xA2\xDC\xFF\x9F\xE0\x80"
      "abc";
  for (const EscapeRow& row : kEscapes) {
    for (std::size_t len = 1; len <= 40; ++len) {
      for (std::size_t at = 0; at < len; ++at) {
        std::string text;
        std::string expected = "\"";
        for (std::size_t k = 0; k < len; ++k) {
          const char c = k == at ? static_cast<char>(row.byte) : filler[k % filler.size()];
          text.push_back(c);
          expected += expected_byte(static_cast<unsigned char>(c));
        }
        expected += "\"";
        ASSERT_EQ(quoted_str(text), expected) << "byte " << int{row.byte} << " at " << at;
      }
    }
  }
}

TEST_F(WriterTest, WritesRawBytesInLongRuns) {
  for (int b = 0x20; b < 256; ++b) {
    if (b == 0x22 || b == 0x5C) continue;
    SCOPED_TRACE(b);
    const std::string text(37, static_cast<char>(b));
    EXPECT_EQ(quoted_str(text), "\"" + text + "\"");
  }
}

TEST_F(WriterTest, WritesStringsThatKeepEscapingWhileTheBufferGrows) {
  for (const EscapeRow& row : {kEscapes[0], kEscapes[10], kEscapes[33]}) {
    SCOPED_TRACE(int{row.byte});
    const std::string text(5000, static_cast<char>(row.byte));
    std::string expected = "\"";
    for (std::size_t k = 0; k < text.size(); ++k) expected += row.text;
    expected += "\"";
    expect_text(str(text), expected);
  }
}

TEST_F(WriterTest, EscapeFreeStringsAreCopied) {
  expect_text(str("short", true), "\"short\"");
  expect_text(str("a longer text than fits inline, with / and \xC3\xA9", true),
              "\"a longer text than fits inline, with / and \xC3\xA9\"");
}

TEST_F(WriterTest, WritesCharEscapes) {
  for (const EscapeRow& row : kEscapes) {
    SCOPED_TRACE(int{row.byte});
    const std::string_view letter_text(row.text + 1, 1);
    std::string out = "x";
    write_char_escape(letter_text[0], row.byte, out);
    EXPECT_EQ(out, std::string("x").append(row.text));
  }
}

TEST_F(WriterTest, WritesLiteralsAndIntegers) {
  const std::pair<JsonValue, std::string_view> cases[] = {
      {JsonValue::null(), "null"},
      {JsonValue::boolean(true), "true"},
      {JsonValue::boolean(false), "false"},
      {u(0), "0"},
      {u(42), "42"},
      {u(9), "9"},
      {u(10), "10"},
      {u(1000000), "1000000"},
      {u(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {i(-1), "-1"},
      {i(-10), "-10"},
      {i(-99), "-99"},
      {i(-9223372036854775807), "-9223372036854775807"},
      {i(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
  };
  for (const auto& [value, text] : cases) {
    SCOPED_TRACE(text);
    expect_text(value, text);
  }
}

// Doubles keep their point even when whole: the double 3 is 3.0, the unsigned 3 is 3.
TEST_F(WriterTest, WritesDoublesInTheirOwnForm) {
  const std::pair<double, std::string_view> cases[] = {
      {1.0, "1.0"}, {100.0, "100.0"}, {-0.0, "-0.0"},        {0.0, "0.0"},
      {2.5, "2.5"}, {1e16, "1e+16"},  {0.0000095, "9.5e-6"}, {-1e-7, "-1e-7"},
  };
  for (const auto& [v, text] : cases) {
    SCOPED_TRACE(text);
    expect_text(d(v), text);
  }
}

TEST_F(WriterTest, WritesArraysAndObjectsCompactly) {
  const std::pair<JsonValue, std::string_view> cases[] = {
      {arr({}), "[]"},
      {obj({}), "{}"},
      {arr({arr({}), obj({})}), "[[],{}]"},
      {arr({u(1), JsonValue::null()}), "[1,null]"},
      {obj({{"b", u(1)}, {"a", u(2)}}), R"({"b":1,"a":2})"},
      {obj({{"a", u(1)}, {"b", u(2)}, {"a", u(3)}}), R"({"a":3,"b":2})"},
      {obj({{"a\"b\n", str("c\td")}, {"\x01", arr({})}}), R"({"a\"b\n":"c\td","\u0001":[]})"},
      {obj({{"columns", arr({str("b")})},
            {"rows", arr({arr({u(2)}), arr({u(3)})})},
            {"constants", obj({{"a", u(1)}})}}),
       R"({"columns":["b"],"rows":[[2],[3]],"constants":{"a":1}})"},
      {arr({obj({{"k", arr({d(1.5), i(-2), JsonValue::boolean(false)})}}), str("")}),
       R"([{"k":[1.5,-2,false]},""])"},
  };
  for (const auto& [value, text] : cases) {
    SCOPED_TRACE(text);
    expect_text(value, text);
  }
}

TEST_F(WriterTest, WritesDeepNestingDepthFirst) {
  JsonValue value = u(7);
  std::string expected = "7";
  for (int level = 0; level < 200; ++level) {
    value = level % 2 == 0 ? arr({value}) : obj({{"k", value}});
    expected = level % 2 == 0 ? "[" + expected + "]" : "{\"k\":" + expected + "}";
  }
  expect_text(value, expected);
}

// A large document grows the buffer many times, in the middle of every kind of token.
TEST_F(WriterTest, WritesLargeDocumentsWhileGrowing) {
  std::vector<JsonValue> items;
  std::string expected = "[";
  for (std::uint64_t k = 0; k < 3000; ++k) {
    if (k != 0) expected += ",";
    const std::string text = "item \"" + std::to_string(k) + "\"\n";
    items.push_back(obj({{"name", str(text)}, {"n", u(k * 1234567)}, {"x", d(0.5)}}));
    expected += R"({"name":"item \")" + std::to_string(k) + R"(\"\n","n":)" +
                std::to_string(k * 1234567) + R"(,"x":0.5})";
  }
  expected += "]";
  expect_text(JsonValue::array(arena_, items), expected);
}

TEST_F(WriterTest, ReservesTheRequestedRoomUpFront) {
  EXPECT_GE(to_json_bytes(JsonValue::null()).capacity(), 128u);
  EXPECT_GE(to_json_bytes(JsonValue::null(), 5000).capacity(), 5000u);
  // A hint of the text's exact size is room enough: the last number's room check does not
  // make the buffer grow (and copy the text) at the end.
  std::vector<JsonValue> items(1000, d(-2.2250738585072014e-308));
  const JsonValue array = JsonValue::array(arena_, items);
  const std::size_t size = to_json_bytes(array).size();
  EXPECT_LT(to_json_bytes(array, size).capacity(), size + 128);
}

bool huge_pages_only_on_advice() {
  std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string text;
  std::getline(mode, text);
  return text.find("[madvise]") != std::string::npos;
}

// A huge page is resident whole once touched: a large text that ends just inside a 2 MB
// region must not have been given one there, or the call's peak holds 2 MB it never used.
TEST(JsonTextWriter, TakesNoHugePageTheExpectedTextWouldLeaveMostlyEmpty) {
  if (!huge_pages_only_on_advice()) GTEST_SKIP() << "huge pages are not given on advice alone";
  std::string out;
  // Past malloc's largest mmap threshold, so the buffer is a fresh mapping: memory it had
  // handed out before may carry another allocation's huge-page advice.
  JsonTextWriter writer(out, std::size_t{40} << 20);
  const auto base = reinterpret_cast<std::uintptr_t>(out.data());
  const std::uintptr_t last_region = (base + (std::size_t{3} << 20)) & ~(pages::kHugePage - 1);
  const std::size_t size = last_region + (std::size_t{64} << 10) - base;
  constexpr std::uintptr_t kPage = 4096;
  const std::uintptr_t past_text = (base + size + kPage - 1) & ~(kPage - 1);
  // Pages past the text that writing made resident.
  const auto residency = [&] {
    std::vector<unsigned char> resident((last_region + pages::kHugePage - past_text) / kPage);
    EXPECT_EQ(mincore(reinterpret_cast<void*>(past_text), resident.size() * kPage, resident.data()),
              0);
    return resident;
  };
  const std::vector<unsigned char> before = residency();
  writer.expect_size(size);
  const std::string piece(4096, 'x');
  while (writer.size() < size) writer.raw(std::string_view(piece).substr(0, size - writer.size()));
  const std::vector<unsigned char> after = residency();
  std::size_t pages = 0;
  for (std::size_t i = 0; i < after.size(); ++i) pages += (after[i] & 1) & ~before[i];
  EXPECT_LE(pages, std::size_t{17});  // the writer exposes 64 KB ahead of what it wrote
  writer.finish();
  EXPECT_EQ(out, std::string(size, 'x'));
}

// The reader keeps a member's array or object as its text when that is what the writer
// writes for it, or would but for escapes in string values or whitespace between tokens,
// which writing it redoes. Every text accepted must write back as the value read from it;
// the ones refused write otherwise, repeat a key, go past the depth or key budget, or hold
// what the reader refuses.
TEST(WriterText, AcceptsExactlyTheWritersOwnTextOrItsRewrites) {
  enum Verdict { kRefused, kOwn, kForeign, kSpaced };
  struct Case {
    std::string text;
    Verdict verdict;
    unsigned depth = 128;
  };
  const auto keys = [](int n, const std::string& last) {  // {"k0":1,...,"k<n-1>":last}
    std::string object = "{";
    for (int k = 0; k < n; ++k) {
      object += (k == 0 ? "\"k" : ",\"k") + std::to_string(k) + "\":" + (k == n - 1 ? last : "1");
    }
    return object + "}";
  };
  const std::string wide = keys(65, "1");  // more keys than the scan keeps in one object
  const std::string nested = keys(64, keys(64, keys(64, keys(64, "1"))));  // 256 open at once
  const Case cases[] = {
      {"[]", kOwn},
      {"{}", kOwn},
      {R"([1,-2,0,"a",true,false,null,[],{}])", kOwn},
      {R"({"a":{"b":[1,{"c":"d"}]},"e":"é"})", kOwn},
      {R"(["\"\\\b\f\n\r\t\u0000\u001f"])", kOwn},
      {"[1.5,-0.0,0.0,1e+16,1.5e-7,0.00001,123456.789,18446744073709551615]", kOwn},
      {R"({"abc":1,"adc":2})", kOwn},  // one digest, two keys
      {"[[]]", kOwn, 3},
      {"[[[]]]", kRefused, 3},
      {"[ 1]", kSpaced},
      {"[1 ]", kSpaced},
      {"[1, 2]", kSpaced},
      {"[ ]", kSpaced},
      {R"({"a" :1})", kSpaced},
      {R"({"a": 1})", kSpaced},
      {"{\n  \"a b\": [ \"x y\\/\\n\", 1.5 ],\r\n\t\"c\" : { },\n  \"d\":[\n    [ ]\n  ]\n}",
       kSpaced},
      {R"({ "k": "x \" y", "b" :"\\", "c" : [ "\\\"" ] })", kSpaced},
      {R"([ "aaaaaaaaaaaa\" x" , 2, "a  b  c  d  e  f  g  h" ])", kSpaced},  // \ in lane 15
      {R"([ "aaaaaaaaaaaa\\" ,        "b" ])", kSpaced},
      // Across 64-byte blocks: a \ in lane 63 escaping lane 64, an escaped \ ending in lane
      // 63, a string with spaces running on, and indented text of several blocks.
      {"[ \"" + std::string(60, 'a') + R"(\" x" , 1 ])", kSpaced},
      {"[ \"" + std::string(59, 'a') + R"(\\" ,  2 ])", kSpaced},
      {"[ \"" + std::string(61, 'a') + "  b  c  d\" ,\n 3 ]", kSpaced},
      {"{\n  \"k\": " + keys(20, "[ 1,  \"x \\\" y\" ]") + ",\n  \"z\": \"a  b\"\n}", kSpaced},
      {"[1,\v2]", kRefused},
      {"[1\x01]", kRefused},
      {"[ -0 ]", kRefused},
      {R"({"a": 1, "a": 2})", kRefused},
      {"[ 1 ,", kRefused},
      {"[-0]", kRefused},
      {"[1.50]", kRefused},
      {"[1E5]", kRefused},
      {"[1e5]", kRefused},
      {"[100000.0e0]", kRefused},
      {"[18446744073709551616]", kRefused},
      {R"(["\/"])", kForeign},
      {R"(["\u00e9"])", kForeign},
      {R"(["\u001F"])", kForeign},
      {R"(["\u0041"])", kForeign},
      {R"(["\u005c\u0022\u000A\u0008"])", kForeign},
      {R"({"a":["x\/y\u00E9\n","\ud83d\ude00z"],"b":{"c":"\u20ac"}})", kForeign},
      {R"({"\/":1})", kRefused},
      {R"({"\u0061":1})", kRefused},
      {R"(["\udc00"])", kRefused},
      {R"(["\ud800"])", kRefused},
      {R"(["\ud800\u0041"])", kRefused},
      {R"(["\ud800\"])", kRefused},
      {R"(["\x"])", kRefused},
      {R"(["\u12"])", kRefused},
      {R"(["\u12g4"])", kRefused},
      {R"({"a":1,"a":2})", kRefused},
      {R"({"a":{"b":1},"b":2,"a":3})", kRefused},
      {wide, kRefused},
      {keys(64, "1"), kOwn},
      {nested, kOwn},
      {keys(64, keys(64, keys(64, keys(64, keys(1, "1"))))), kRefused},
      {"[1,]", kRefused},
      {"[1", kRefused},
      {"[tru]", kRefused},
      {"[\"\xff\"]", kRefused},
      {"[\"\\/\xff\"]", kRefused},
      {"[\"a\nb\"]", kRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const PaddedText padded = PaddedText::copy_of(c.text);
    const char* begin = padded.view().data();
    const char* end = begin + c.text.size();
    TextRewrites rewrites;
    const char* stop = detail::writer_text_end(begin, end, c.depth, rewrites);
    EXPECT_EQ(stop == nullptr            ? kRefused
              : rewrites.spaces          ? kSpaced
              : rewrites.foreign_escapes ? kForeign
                                         : kOwn,
              c.verdict);
    if (stop == nullptr) continue;
    EXPECT_EQ(stop, end);
    Arena arena;
    auto read = read_sequence(arena, "[" + c.text + "]");
    ASSERT_TRUE(read.ok());
    std::string written(c.text.size() + static_cast<std::size_t>(detail::kBlockBytes), '\0');
    char* written_end =
        rewrites.spaces
            ? detail::write_spaced_text(padded.view(), rewrites.foreign_escapes, written.data())
            : detail::write_foreign_escaped_text(padded.view(), written.data());
    written.resize(static_cast<std::size_t>(written_end - written.data()));
    EXPECT_EQ(written, to_json_bytes(read.value().front()));
    // Every way of leaving spaces out that this processor has writes the same: the one
    // that redoes every escape, and for the writer's own escapes the others.
    for (const auto way : {detail::SpacedTextWriter::kRuns, detail::SpacedTextWriter::kShuffle,
                           detail::SpacedTextWriter::kCompress}) {
      if (!rewrites.spaces || !detail::has_spaced_text_writer(way) ||
          (rewrites.foreign_escapes && way != detail::SpacedTextWriter::kRuns)) {
        continue;
      }
      SCOPED_TRACE(static_cast<int>(way));
      std::string redone(c.text.size() + static_cast<std::size_t>(detail::kBlockBytes), '\0');
      redone.resize(static_cast<std::size_t>(
          detail::write_spaced_text_with(way, padded.view(), redone.data()) - redone.data()));
      EXPECT_EQ(redone, written);
    }
    if (c.verdict == kOwn) {
      EXPECT_EQ(written, c.text);
    }
  }
}

}  // namespace
}  // namespace velmar::json
