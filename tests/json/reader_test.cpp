// The reader's grammar, its messages and their line and column, the invalid-type
// descriptions, the nesting budget, duplicate keys and a large payload. A caret line under
// an input marks the byte an error is reported at, and the test takes the column from it.
#include "json/reader.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "json/object_map.h"
#include "reader_test_support.h"

namespace velmar::json {
namespace {

using namespace std::string_view_literals;
using testing::cat;
using testing::check_rows;
using testing::outcome;
using testing::OutcomeRow;

std::string repeat(std::string_view piece, std::size_t n) {
  std::string out;
  out.reserve(piece.size() * n);
  for (std::size_t i = 0; i < n; ++i) out.append(piece);
  return out;
}

// MARK: - Messages

TEST(JsonErrorTable, RowIHoldsCodeI) {
  for (std::size_t i = 0; i < std::size(kErrorMessages); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(static_cast<std::size_t>(kErrorMessages[i].code), i);
    EXPECT_FALSE(kErrorMessages[i].text.empty());
  }
}

TEST(JsonError, DisplayAddsThePositionOnlyWhenThereIsALine) {
  EXPECT_EQ(JsonError(ErrorCode::kTrailingComma, 1, 4).display(),
            "trailing comma at line 1 column 4");
  EXPECT_EQ(JsonError(ErrorCode::kTrailingComma, 0, 0).display(), "trailing comma");
  EXPECT_EQ(JsonError::invalid_type("map", 0, 0).display(),
            "invalid type: map, expected a sequence");
  EXPECT_EQ(JsonError::invalid_type("null", 12, 3456).display(),
            "invalid type: null, expected a sequence at line 12 column 3456");
}

TEST(JsonError, CarriesCodeLineAndColumnOfTheRead) {
  Arena arena;
  auto result = read_sequence(arena, "[1,\n  2,\n  ]");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().code(), ErrorCode::kTrailingComma);
  EXPECT_EQ(result.error().line(), 3u);
  EXPECT_EQ(result.error().column(), 3u);
  EXPECT_EQ(result.error().message(), "trailing comma");
}

// Every message of the vocabulary, each at the byte its rule names: under the caret, or
// where a caret cannot be drawn at `line` and `column`.
struct VocabularyRow {
  ErrorCode code;
  std::string_view input;
  std::string_view caret;
  std::size_t line = 1;
  std::size_t column = 0;
};

// clang-format off
const VocabularyRow kVocabularyRows[] = {
    {ErrorCode::kEofWhileParsingList, "[1",
                                      " ^"},
    {ErrorCode::kEofWhileParsingObject, R"([{"a":1)",
                                        R"(      ^)"},
    {ErrorCode::kEofWhileParsingString, R"(["ab)",
                                        R"(   ^)"},
    {ErrorCode::kEofWhileParsingValue, "[1,",
                                       "  ^"},
    {ErrorCode::kExpectedColon, R"([{"a" 1}])",
                                R"(      ^)"},
    {ErrorCode::kExpectedListCommaOrEnd, "[1 2]",
                                         "   ^"},
    {ErrorCode::kExpectedObjectCommaOrEnd, R"([{"a":1 "b":2}])",
                                           R"(        ^)"},
    {ErrorCode::kExpectedIdent, "[nul]",
                                "    ^"},
    {ErrorCode::kExpectedValue, "[,1]",
                                " ^"},
    {ErrorCode::kInvalidEscape, R"(["\x"])",
                                R"(   ^)"},
    // Numbers as member values; reader_number_test.cpp has them in arrays.
    {ErrorCode::kInvalidNumber, R"([{"a":01}])",
                                R"(       ^)"},
    {ErrorCode::kNumberOutOfRange, R"([{"a":1e309}])",
                                   R"(          ^)"},
    {ErrorCode::kInvalidUnicodeCodePoint, "[\"\xFF\"]", "", 1, 4},  // the closing quote
    {ErrorCode::kControlCharacterInString, "[\"a\tb\"]", "", 1, 4},  // the tab
    {ErrorCode::kKeyMustBeAString, "[{1:2}]",
                                   "  ^"},
    {ErrorCode::kLoneLeadingSurrogate, R"(["\uDC00"])",
                                       R"(       ^)"},
    {ErrorCode::kTrailingComma, "[1,]",
                                "   ^"},
    {ErrorCode::kTrailingCharacters, "[]x",
                                     "  ^"},
    {ErrorCode::kUnexpectedEndOfHexEscape, R"(["\uD800"])",
                                           R"(        ^)"},
    {ErrorCode::kRecursionLimitExceeded, "", "", 1, 128},  // 128 brackets, built below
    {ErrorCode::kInvalidType, "{}", "", 1, 0},
};
// clang-format on

TEST(JsonReader, ReportsEveryMessageAtItsPosition) {
  std::set<ErrorCode> seen;
  for (const VocabularyRow& row : kVocabularyRows) {
    SCOPED_TRACE(error_message(row.code));
    std::string input(row.input);
    if (row.code == ErrorCode::kRecursionLimitExceeded) input = repeat("[", 128);
    Arena arena;
    auto result = read_sequence(arena, input);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), row.code);
    EXPECT_EQ(result.error().line(), row.line);
    EXPECT_EQ(result.error().column(),
              row.caret.empty() ? row.column : testing::caret_column(row.input, row.caret));
    seen.insert(row.code);
  }
  EXPECT_EQ(seen.size(), std::size(kErrorMessages));
}

// MARK: - The top level

TEST(JsonReader, TopLevel) {
  // clang-format off
  const OutcomeRow rows[] = {
      {"empty", "", "EOF while parsing a value at line 1 column 0"},
      {"only whitespace", "   \n  ", "EOF while parsing a value at line 2 column 2"},
      {"byte order mark", "\xEF\xBB\xBF[]", "expected value at line 1 column 1"},
      {"stray letter", "x", "expected value at line 1 column 1"},
      {"closing bracket", "]", "expected value at line 1 column 1"},
      {"empty list", "[]", "[]"},
      {"space inside", "[ ]", "[]"},
      {"trailing whitespace", "[] \n", "[]"},
      {"whitespace all around", " \t\r\n[1]\r\n", "[u1]"},
      {"trailing letter", "[]x", "trailing characters",
                          "  ^"},
      {"second array", "[1] [2]", "trailing characters",
                       "    ^"},
      {"trailing after lines", "[]\n\n x", "trailing characters at line 3 column 2"},
  };
  // clang-format on
  check_rows(rows);
}

TEST(JsonReader, DescribesATopLevelValueThatIsNotAnArray) {
  // clang-format off
  const OutcomeRow rows[] = {
      {"object", "{}", "invalid type: map, expected a sequence at line 1 column 0"},
      {"indented object", "  {}", "invalid type: map, expected a sequence at line 1 column 2"},
      {"truncated object", "{\"", "invalid type: map, expected a sequence at line 1 column 0"},
      {"object on line 2", "\n\t{\"a\":1}",
       "invalid type: map, expected a sequence at line 2 column 1"},
      {"string", "\"abc\"", "invalid type: string \"abc\", expected a sequence at line 1 column 5"},
      {"string with tab escape", "\"a\\tb\"",
       "invalid type: string \"a\\tb\", expected a sequence at line 1 column 6"},
      {"string with escape character", "\"\\u001b\"",
       "invalid type: string \"\\u{1b}\", expected a sequence at line 1 column 8"},
      {"apostrophe", "\"it's\"",
       "invalid type: string \"it's\", expected a sequence at line 1 column 6"},
      {"integer", "5", "invalid type: integer `5`, expected a sequence at line 1 column 1"},
      {"negative integer", "-5",
       "invalid type: integer `-5`, expected a sequence at line 1 column 2"},
      {"largest unsigned", "18446744073709551615",
       "invalid type: integer `18446744073709551615`, expected a sequence at line 1 column 20"},
      {"smallest signed", "-9223372036854775808",
       "invalid type: integer `-9223372036854775808`, expected a sequence at line 1 column 20"},
      {"fraction", "1.5",
       "invalid type: floating point `1.5`, expected a sequence at line 1 column 3"},
      {"integral double", "1.0",
       "invalid type: floating point `1.0`, expected a sequence at line 1 column 3"},
      {"exponent", "1e2",
       "invalid type: floating point `100.0`, expected a sequence at line 1 column 3"},
      {"minus zero", "-0",
       "invalid type: floating point `-0.0`, expected a sequence at line 1 column 2"},
      {"null", "null", "invalid type: null, expected a sequence at line 1 column 4"},
      {"true", "true", "invalid type: boolean `true`, expected a sequence at line 1 column 4"},
      {"false", "false", "invalid type: boolean `false`, expected a sequence at line 1 column 5"},
      {"nothing after the scalar is read", "5 6",
       "invalid type: integer `5`, expected a sequence at line 1 column 1"},
      {"indented, then garbage", "  true  x",
       "invalid type: boolean `true`, expected a sequence at line 1 column 6"},
      // An error while reading the scalar takes the place of the message.
      {"truncated null", "nul", "EOF while parsing a value at line 1 column 3"},
      {"misspelt null", "nulx", "expected ident",
                        "   ^"},
      {"number too large", "1e999", "number out of range at line 1 column 5"},
      {"leading zero", "01", "invalid number at line 1 column 2"},
      {"lone minus", "-", "EOF while parsing a value at line 1 column 1"},
      {"unterminated string", "\"abc", "EOF while parsing a string at line 1 column 4"},
      {"bad escape", R"("a\x")", "invalid escape",
                     R"(   ^)"},
  };
  // clang-format on
  check_rows(rows);
}

// MARK: - Arrays, objects and literals

TEST(JsonReader, Arrays) {
  // clang-format off
  const OutcomeRow rows[] = {
      {"nested", "[[1],[2,[3]],{}]", "[[u1],[u2,[u3]],{}]"},
      {"trailing comma", "[1,]", "trailing comma",
                         "   ^"},
      {"trailing comma after spaces", "[1 ,  ]", "trailing comma",
                                      "      ^"},
      {"trailing comma on line 3", "[\n1,\n]", "trailing comma at line 3 column 1"},
      {"missing comma", "[1 2]", "expected `,` or `]`",
                        "   ^"},
      {"leading comma", "[,1]", "expected value",
                        " ^"},
      {"double comma", "[1,,2]", "expected value",
                       "   ^"},
      {"open bracket", "[", "EOF while parsing a list at line 1 column 1"},
      {"after element", "[1", "EOF while parsing a list at line 1 column 2"},
      {"after comma", "[1,", "EOF while parsing a value at line 1 column 3"},
      {"after comma and space", "[1, ", "EOF while parsing a value at line 1 column 4"},
      {"inner array open", "[[]", "EOF while parsing a list at line 1 column 3"},
      {"closed by brace", "[1}", "expected `,` or `]`",
                          "  ^"},
      {"two rows without comma", R"([{"a":1}{"b":2}])", "expected `,` or `]`",
                                 R"(        ^)"},
  };
  // clang-format on
  check_rows(rows);
}

// Runs of every length up to 40 with each whitespace byte in each lane, so the sixteen-byte
// scan, its tail and the token after a run are all exercised.
TEST(JsonReader, SkipsWhitespaceRunsOfEveryLength) {
  for (std::size_t len = 1; len <= 40; ++len) {
    SCOPED_TRACE(len);
    std::string run;
    std::string flat;  // no line feed, so that the column counts every byte
    for (std::size_t i = 0; i < len; ++i) {
      run += " \t\r\n"[(i + len) % 4];
      flat += " \t\r"[(i + len) % 3];
    }
    EXPECT_EQ(outcome(cat("[", run, "1", run, ",", run, "{", run, "\"a\"", run, ":", run, "2", run,
                          "}", run, "]", run)),
              "[u1,{\"a\":u2}]");
    EXPECT_EQ(outcome(cat("[", flat, "x]")),
              cat("expected value at line 1 column ", std::to_string(len + 2)));
    EXPECT_EQ(outcome(cat("[1", flat, "x]")),
              cat("expected `,` or `]` at line 1 column ", std::to_string(len + 3)));
    // Indentation, a newline and spaces, ended by other whitespace or by a control byte;
    // the padding puts a whole block after the newline.
    std::string indent(len, ' ');
    indent[0] = '\n';
    const std::string padding(16, ' ');
    EXPECT_EQ(outcome(cat("[", indent, "\t", indent, "\r1", indent, "]", padding)), "[u1]");
    EXPECT_EQ(outcome(cat("[", indent, "\x01", padding, "1]")),
              cat("expected value at line 2 column ", std::to_string(len)));
    // Near the end, with fewer bytes left than a word or a block.
    EXPECT_EQ(outcome(cat("[1", indent, "]", indent)), "[u1]");
  }
}

TEST(JsonReader, Objects) {
  // clang-format off
  const OutcomeRow rows[] = {
      {"empty", "[{}]", "[{}]"},
      {"members", "[{\"a\":1,\"b\":[true,false,null]}]", "[{\"a\":u1,\"b\":[true,false,null]}]"},
      {"spaces around colon", "[{\"a\"  :  1  }]", "[{\"a\":u1}]"},
      {"empty key", "[{\"\":0}]", "[{\"\":u0}]"},
      {"keys keep text order", "[{\"z\":1,\"a\":2,\"m\":3}]", "[{\"z\":u1,\"a\":u2,\"m\":u3}]"},
      {"rows lacking or adding a key", R"([{"a":1,"b":2,"c":3},{"a":4,"c":5},{"x":6,"a":7,"c":8},{"c":9,"a":0}])",
                                       R"([{"a":u1,"b":u2,"c":u3},{"a":u4,"c":u5},{"x":u6,"a":u7,"c":u8},{"c":u9,"a":u0}])"},
      {"open brace", "[{", "EOF while parsing an object at line 1 column 2"},
      {"number key", "[{1:2}]", "key must be a string",
                     "  ^"},
      {"comma first", "[{,}]", "key must be a string at line 1 column 3"},
      {"number key after comma", R"([{"a":1,2}])", "key must be a string",
                                 R"(        ^)"},
      {"missing colon", R"([{"a" 1}])", "expected `:`",
                        R"(      ^)"},
      {"missing comma", R"([{"a":1 "b":2}])", "expected `,` or `}`",
                        R"(        ^)"},
      {"trailing comma", R"([{"a":1,}])", "trailing comma",
                         R"(        ^)"},
      {"closed by bracket", R"([{"a":1])", "expected `,` or `}`",
                            R"(       ^)"},
      {"end after key", "[{\"a\"", "EOF while parsing an object at line 1 column 5"},
      {"end after key and space", "[{\"a\" ", "EOF while parsing an object at line 1 column 6"},
      {"end after colon", "[{\"a\":", "EOF while parsing a value at line 1 column 6"},
      {"no value", R"([{"a":}])", "expected value",
                   R"(      ^)"},
      {"end after value", "[{\"a\":1", "EOF while parsing an object at line 1 column 7"},
      {"end after comma", "[{\"a\":1,", "EOF while parsing a value at line 1 column 8"},
      {"end inside key", "[{\"a", "EOF while parsing a string at line 1 column 4"},
  };
  // clang-format on
  check_rows(rows);
}

TEST(JsonReader, DuplicateKeysKeepTheFirstPositionAndTheLastValue) {
  const OutcomeRow rows[] = {
      {"a b a", "[{\"a\":1,\"b\":2,\"a\":3}]", "[{\"a\":u3,\"b\":u2}]"},
      {"a b a a", "[{\"a\":1,\"b\":2,\"a\":3,\"a\":4}]", "[{\"a\":u4,\"b\":u2}]"},
      {"replaced by another kind", "[{\"a\":{\"x\":1},\"a\":[2]}]", "[{\"a\":[u2]}]"},
      {"escaped spelling of the same key", "[{\"ab\":1,\"a\\u0062\":2}]", "[{\"ab\":u2}]"},
      {"long keys", "[{\"a key of 18 bytes\":1,\"b\":2,\"a key of 18 bytes\":3}]",
       "[{\"a key of 18 bytes\":u3,\"b\":u2}]"},
      {"long key, escaped spelling", "[{\"a key of 18 bytes\":1,\"a key of 18 byte\\u0073\":2}]",
       "[{\"a key of 18 bytes\":u2}]"},
  };
  check_rows(rows);
  Arena arena;
  auto result = read_sequence(arena, "[{\"a\":1,\"b\":2,\"a\":3}]");
  ASSERT_TRUE(result.ok());
  JsonObject row = (*result)[0].as_object();
  ASSERT_EQ(row.size(), 2u);
  ASSERT_NE(row.get("a"), nullptr);
  EXPECT_EQ(row.get("a")->as_number().as_unsigned(), 3u);
  EXPECT_EQ(row.members()[0].key.as_string(), "a");
}

TEST(JsonReader, EveryMapTakesTheNextHashKey) {
  // Objects too large for a member list hash their keys, each map with a hash key of its
  // own from the thread's seed; smaller objects hash nothing and take none.
  std::string many = "{";
  const std::size_t size = detail::kLinearLimit + 1;
  for (std::size_t k = 0; k < size; ++k) {
    many += cat(k > 0 ? "," : "", "\"k", std::to_string(k), "\":0");
  }
  many += "}";
  const std::string input = cat("[", many, ",{},", many, "]");
  Arena arena;
  auto result = read_sequence(arena, input);
  ASSERT_TRUE(result.ok());
  auto hash_key = [&](std::size_t i) {
    return detail::ObjectData::of((*result)[i].as_object()).key;
  };
  EXPECT_NE(hash_key(0).k0, hash_key(2).k0);
  EXPECT_EQ((*result)[2].as_object().size(), size);
}

TEST(JsonReader, Literals) {
  // clang-format off
  const OutcomeRow rows[] = {
      {"all three", "[null,true,false]", "[null,true,false]"},
      {"misspelt", "[nul]", "expected ident",
                   "    ^"},
      {"early mismatch", "[nx]", "expected ident",
                         "  ^"},
      {"short false", "[fals]", "expected ident",
                      "     ^"},
      {"truncated", "[tru", "EOF while parsing a value at line 1 column 4"},
      {"first letter only", "[t", "EOF while parsing a value at line 1 column 2"},
      {"capitalised", "[True]", "expected value",
                      " ^"},
      {"one letter too many", "[nulll]", "expected `,` or `]`",
                              "     ^"},
      {"two literals run together", "[truefalse]", "expected `,` or `]`",
                                    "     ^"},
  };
  // clang-format on
  check_rows(rows);
}

// MARK: - Positions

TEST(JsonReader, PositionsCountBytesAndOnlyLineFeedsStartALine) {
  const OutcomeRow rows[] = {
      {"two-byte character", "[\"\xC3\xA9\" x]", "expected `,` or `]` at line 1 column 7"},
      //                      [ "  C3  A9  " _ x
      {"carriage return", "[\r1 x]", "expected `,` or `]` at line 1 column 5"},
      {"carriage return and line feed", "[\r\n1 x]", "expected `,` or `]` at line 2 column 3"},
      {"after a line feed", "[1\nx]", "expected `,` or `]` at line 2 column 1"},
      {"raw line feed in a string", "[\"a\nb\"]",
       "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"end after line feeds", "[\n\n\n", "EOF while parsing a list at line 4 column 0"},
      {"end after comma and lines", "\n\n[1,\n\n", "EOF while parsing a value at line 5 column 0"},
  };
  check_rows(rows);
}

// MARK: - Nesting

std::size_t array_depth(const JsonValue& v) {
  std::size_t depth = 0;
  const JsonValue* cur = &v;
  while (cur->is_array()) {
    ++depth;
    if (cur->as_array().empty()) break;
    cur = &cur->as_array()[0];
  }
  return depth;
}

TEST(JsonReader, AcceptsOneHundredTwentySevenLevels) {
  Arena arena;
  std::string input = cat(repeat("[", 127), repeat("]", 127));
  auto result = read_sequence(arena, input);
  ASSERT_TRUE(result.ok()) << result.error().display();
  ASSERT_EQ(result->size(), 1u);
  EXPECT_EQ(array_depth((*result)[0]), 126u);  // levels 2 to 127
}

TEST(JsonReader, RejectsTheOpeningBracketOfLevel128) {
  const std::string message = "recursion limit exceeded at line 1 column 128";
  EXPECT_EQ(outcome(repeat("[", 128)), message);
  EXPECT_EQ(outcome(cat(repeat("[", 128), repeat("]", 128))), message);
  // No stack is spent past the budget, however deep the text goes.
  EXPECT_EQ(outcome(repeat("[", 100000)), message);
  EXPECT_EQ(outcome(repeat("[\n", 128)), "recursion limit exceeded at line 128 column 1");
}

TEST(JsonReader, ObjectsCountTowardsTheSameBudget) {
  // "[" then {"a": per level: the brace of level 128 is at byte 1 + 126 * 5.
  std::string ok = cat("[", repeat("{\"a\":", 126), "1", repeat("}", 126), "]");
  EXPECT_EQ(outcome(ok), cat("[", repeat("{\"a\":", 126), "u1", repeat("}", 126), "]"));
  EXPECT_EQ(outcome(cat("[", repeat("{\"a\":", 127))),
            "recursion limit exceeded at line 1 column 632");
  // Objects and arrays alternate; the brace of level 128 is at byte 1 + 63 * 6.
  EXPECT_EQ(outcome(cat("[", repeat("{\"a\":[", 100000))),
            "recursion limit exceeded at line 1 column 380");
}

TEST(JsonReader, ClosedContainersGiveTheirLevelBack) {
  // Three siblings that each reach level 127: only a budget that is restored on
  // leaving a container accepts all of them.
  std::string deep = cat(repeat("[", 126), repeat("]", 126));
  std::string deep_object = cat(repeat("{\"k\":", 126), "0", repeat("}", 126));
  std::string input = cat("[", deep, ",", deep_object, ",", deep, "]");
  Arena arena;
  auto result = read_sequence(arena, input);
  ASSERT_TRUE(result.ok()) << result.error().display();
  EXPECT_EQ(result->size(), 3u);
}

// MARK: - Large input

// One row of the generated payload, as text, and the dump the reader must give for it.
struct GeneratedRow {
  std::string json;
  std::string dump;
};

GeneratedRow generated_row(std::size_t i) {
  std::string id = std::to_string(i);
  // A long string that crosses many 8-byte blocks, with an escape and a two-byte
  // character at a position that moves with the row.
  std::string body = repeat("abcdefghij", 10 + i % 17);
  std::size_t at = i % body.size();
  std::string json_text = cat(body.substr(0, at), "\\n", body.substr(at), "\xC3\xA9");
  std::string dump_text = cat(body.substr(0, at), "\\x0A", body.substr(at), "\\xC3\\xA9");
  std::string neg = i == 0 ? std::string("d-0") : cat("i-", id);
  GeneratedRow row;
  row.json = cat("{\"id\":", id, ",\"neg\":-", id, ",\"text\":\"", json_text, "\",\"plain\":\"",
                 body, "\",\"tags\":[true,null,\"t", id, "\"],\"half\":", id, ".5}");
  row.dump = cat("{\"id\":u", id, ",\"neg\":", neg, ",\"text\":\"", dump_text, "\",\"plain\":\"",
                 body, "\",\"tags\":[true,null,\"t", id, "\"],\"half\":d", id, ".5}");
  return row;
}

TEST(JsonReader, ReadsALargePayloadOfLongRows) {
  constexpr std::size_t kRows = 12000;
  std::string input = "[\n";
  std::string expected = "[";
  for (std::size_t i = 0; i < kRows; ++i) {
    GeneratedRow row = generated_row(i);
    if (i > 0) {
      input += ",\n";
      expected += ",";
    }
    input += row.json;
    expected += row.dump;
  }
  input += "\n]\n";
  expected += "]";
  ASSERT_GT(input.size(), 4u << 20);
  Arena arena;
  auto result = read_sequence(arena, input);
  ASSERT_TRUE(result.ok()) << result.error().display();
  EXPECT_EQ(result->size(), kRows);
  EXPECT_TRUE(testing::dump_elements(*result) == expected);
}

TEST(JsonReader, ReadsOneStringOfSeveralMegabytes) {
  std::string body = repeat("0123456789abcdef\xE2\x82\xAC", 200000);  // with the euro sign
  const std::string input = cat("[\"", body, "\"]");
  Arena arena;
  auto result = read_sequence(arena, input);
  ASSERT_TRUE(result.ok()) << result.error().display();
  EXPECT_TRUE((*result)[0].as_string() == body);
  // The same string with one bad byte near its end fails at its closing quote.
  std::string bad = body;
  bad[bad.size() - 5] = '\xFF';
  EXPECT_EQ(outcome(cat("[\"", bad, "\"]")),
            cat("invalid unicode code point at line 1 column ", std::to_string(bad.size() + 3)));
}

}  // namespace
}  // namespace velmar::json
