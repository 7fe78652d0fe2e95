// Column derivation: rows given as JSON text, the document checked as compact text.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "../address_space.h"
#include "columnar/columnar.h"
#include "json/reader.h"

namespace velmar::columnar {
namespace {

struct Case {
  const char* name;
  const char* rows;      // a JSON array of row objects
  const char* document;  // the expected compact document
};

std::string text_of(const DeriveResult& document) {
  return document.ok() ? document.value().text() : "derive error: " + document.error().message;
}

// The document of rows already read; the same rows derived as they are read must give the
// same one, a repeated key's members included (the reader folds them in an object).
std::string derive_text(std::string_view rows_text, std::size_t memory_limit = SIZE_MAX) {
  const MemoryLimit limit = [memory_limit](std::size_t) { return memory_limit; };
  json::Arena arena;
  auto rows = json::read_sequence(arena, rows_text);
  if (!rows.ok()) return "read error: " + rows.error().display();
  std::string text = text_of(derive_columns(arena, rows.value(), limit));
  json::Arena one_pass_arena;
  const json::PaddedView padded = json::pad_in(one_pass_arena, rows_text);
  EXPECT_EQ(text_of(read_and_derive(one_pass_arena, padded, limit)), text) << rows_text;
  return text;
}

const Case kCases[] = {
    {"no rows", "[]", R"({"columns":[],"rows":[],"constants":{}})"},
    {"one empty row", "[{}]", R"({"columns":[],"rows":[[]],"constants":{}})"},
    {"empty rows", "[{},{},{}]", R"({"columns":[],"rows":[[],[],[]],"constants":{}})"},
    {"one row has no constants but drops nulls", R"([{"a":1,"b":null}])",
     R"({"columns":["a"],"rows":[[1]],"constants":{}})"},
    {"one row with only nulls", R"([{"a":null}])", R"({"columns":[],"rows":[[]],"constants":{}})"},
    {"two equal rows", R"([{"a":1},{"a":1}])",
     R"({"columns":[],"rows":[[],[]],"constants":{"a":1}})"},
    {"disjoint keys", R"([{"x":1},{"y":2}])",
     R"({"columns":["x","y"],"rows":[[1,null],[null,2]],"constants":{}})"},
    {"member missing from one row", R"([{"a":1},{"a":1},{}])",
     R"({"columns":["a"],"rows":[[1],[1],[null]],"constants":{}})"},
    {"member missing from row 0", R"([{},{"a":1},{"a":1}])",
     R"({"columns":["a"],"rows":[[null],[1],[1]],"constants":{}})"},
    {"null then value", R"([{"a":null},{"a":5}])",
     R"({"columns":["a"],"rows":[[null],[5]],"constants":{}})"},
    {"value then null", R"([{"a":5},{"a":null}])",
     R"({"columns":["a"],"rows":[[5],[null]],"constants":{}})"},
    {"all-null dropped, later column not constant", R"([{"a":null},{"b":1,"a":null},{"b":2}])",
     R"({"columns":["b"],"rows":[[null],[1],[2]],"constants":{}})"},
    {"first appearance order", R"([{"b":1,"a":1},{"c":1,"a":2}])",
     R"({"columns":["b","a","c"],"rows":[[1,1,null],[null,2,1]],"constants":{}})"},
    {"worked example", R"([{"a":1,"b":2,"c":null},{"a":1.0,"b":3}])",
     R"({"columns":["b"],"rows":[[2],[3]],"constants":{"a":1}})"},
    {"falsy values are not null",
     R"([{"f":false,"z":0,"s":"","a":[],"o":{}},{"f":false,"z":0,"s":"","a":[],"o":{}}])",
     R"({"columns":[],"rows":[[],[]],"constants":{"f":false,"z":0,"s":"","a":[],"o":{}}})"},
    {"falsy values in one row", R"([{"f":false,"z":0}])",
     R"({"columns":["f","z"],"rows":[[false,0]],"constants":{}})"},
    {"top-level numbers by value, row 0's form", R"([{"n":1},{"n":1.0}])",
     R"({"columns":[],"rows":[[],[]],"constants":{"n":1}})"},
    {"top-level numbers swapped", R"([{"n":1.0},{"n":1}])",
     R"({"columns":[],"rows":[[],[]],"constants":{"n":1.0}})"},
    {"exponent form equals integer", R"([{"n":100},{"n":1e2},{"n":100.0}])",
     R"({"columns":[],"rows":[[],[],[]],"constants":{"n":100}})"},
    {"zero and minus zero", R"([{"n":0},{"n":-0}])",
     R"({"columns":[],"rows":[[],[]],"constants":{"n":0}})"},
    {"nested numbers by representation", R"([{"v":[1]},{"v":[1.0]}])",
     R"({"columns":["v"],"rows":[[[1]],[[1.0]]],"constants":{}})"},
    {"nested objects by representation", R"([{"v":{"x":1}},{"v":{"x":1.0}}])",
     R"({"columns":["v"],"rows":[[{"x":1}],[{"x":1.0}]],"constants":{}})"},
    {"object cells in another member order", R"([{"o":{"p":1,"q":2}},{"o":{"q":2,"p":1}}])",
     R"({"columns":[],"rows":[[],[]],"constants":{"o":{"p":1,"q":2}}})"},
    {"object cells in another member order, one value differs",
     R"([{"o":{"p":1,"q":2}},{"o":{"q":3,"p":1}}])",
     R"({"columns":["o"],"rows":[[{"p":1,"q":2}],[{"q":3,"p":1}]],"constants":{}})"},
    {"object cells with other keys", R"([{"o":{"p":1}},{"o":{"r":1}}])",
     R"({"columns":["o"],"rows":[[{"p":1}],[{"r":1}]],"constants":{}})"},
    {"member missing mid-row, then back",
     R"([{"a":1,"b":2,"c":3,"d":4},{"a":1,"c":5,"d":4},{"a":1,"b":2,"c":6,"d":4}])",
     R"({"columns":["b","c"],"rows":[[2,3],[null,5],[2,6]],"constants":{"a":1,"d":4}})"},
    {"repeated key in one row", R"([{"a":1,"b":2,"a":3},{"a":4,"b":2}])",
     R"({"columns":["a"],"rows":[[3],[4]],"constants":{"b":2}})"},
    {"repeated key, only its last value counts",
     R"([{"a":null,"b":2,"a":1,"c":5,"c":null},{"b":2,"a":1,"c":6}])",
     R"({"columns":["c"],"rows":[[null],[6]],"constants":{"a":1,"b":2}})"},
    {"repeated key three times, later rows in another order",
     R"([{"a":1,"a":2,"b":3,"a":4},{"b":3,"a":4,"b":3},{"a":5,"b":3}])",
     R"({"columns":["a"],"rows":[[4],[4],[5]],"constants":{"b":3}})"},
    {"2^53 and 2^53+1 differ", R"([{"n":9007199254740992},{"n":9007199254740993}])",
     R"({"columns":["n"],"rows":[[9007199254740992],[9007199254740993]],"constants":{}})"},
    {"2^53 and 2^53 as double are equal", R"([{"n":9007199254740992},{"n":9007199254740992.0}])",
     R"({"columns":[],"rows":[[],[]],"constants":{"n":9007199254740992}})"},
    {"u64 max and 2^64 as double differ",
     R"([{"n":18446744073709551615},{"n":1.8446744073709552e19}])",
     R"({"columns":["n"],"rows":[[18446744073709551615],[1.8446744073709552e+19]],"constants":{}})"},
    {"i64 min and its double are equal",
     R"([{"n":-9223372036854775808},{"n":-9223372036854775808.0}])",
     R"({"columns":[],"rows":[[],[]],"constants":{"n":-9223372036854775808}})"},
    {"64-bit ids keep every row's value",
     R"([{"id":1234567890123456789},{"id":1234567890123456790}])",
     R"({"columns":["id"],"rows":[[1234567890123456789],[1234567890123456790]],"constants":{}})"},
    {"strings compare by bytes", R"([{"s":"\u00e9"},{"s":"e\u0301"}])",
     "{\"columns\":[\"s\"],\"rows\":[[\"\xc3\xa9\"],[\"e\xcc\x81\"]],\"constants\":{}}"},
    {"a string equals its escaped form", R"([{"s":"x","t":"\u0079"},{"s":"\u0078","t":"y"}])",
     R"({"columns":[],"rows":[[],[]],"constants":{"s":"x","t":"y"}})"},
    {"strings of one length differing in the last byte",
     R"([{"a":"1234567X","b":"12345678X","c":"123456789012345X","d":"1234567890123456X"},)"
     R"({"a":"1234567X","b":"12345678X","c":"123456789012345X","d":"1234567890123456X"},)"
     R"({"a":"1234567Y","b":"12345678Y","c":"123456789012345Y","d":"1234567890123456Y"},)"
     R"({"a":"1234567Y","b":"12345678Y","c":"123456789012345Y","d":"1234567890123456Y"}])",
     R"({"columns":["a","b","c","d"],"rows":[["1234567X","12345678X","123456789012345X",)"
     R"("1234567890123456X"],["1234567X","12345678X","123456789012345X","1234567890123456X"],)"
     R"(["1234567Y","12345678Y","123456789012345Y","1234567890123456Y"],["1234567Y","12345678Y",)"
     R"("123456789012345Y","1234567890123456Y"]],"constants":{}})"},
    {"numbers on either side of what a cell holds in a word (-1e-23 reads a place low)",
     R"([{"u":2305843009213693951,"v":2305843009213693952,"n":-1152921504606846976,)"
     R"("m":-1152921504606846977,"d":1e-22,"e":-1e-23,"f":1e22,"g":1e23,"h":10e22,"z":-0.0},)"
     R"({"u":2305843009213693951,"v":2305843009213693952,"n":-1152921504606846976,)"
     R"("m":-1152921504606846977,"d":1e-22,"e":-1e-23,"f":1e22,"g":1e23,"h":10e22,"z":-0.0},{}])",
     R"({"columns":["u","v","n","m","d","e","f","g","h","z"],"rows":[[2305843009213693951,)"
     R"(2305843009213693952,-1152921504606846976,-1152921504606846977,1e-22,)"
     R"(-1.0000000000000001e-23,1e+22,1e+23,1e+23,-0.0],[2305843009213693951,)"
     R"(2305843009213693952,-1152921504606846976,-1152921504606846977,1e-22,)"
     R"(-1.0000000000000001e-23,1e+22,1e+23,1e+23,-0.0],)"
     R"([null,null,null,null,null,null,null,null,null,null]],"constants":{}})"},
    {"zeros of either sign equal, arrays by their items",
     R"([{"n":0.0,"a":[0.0,[]],"e":[]},{"n":-0.0,"a":[0.0,[]],"e":[]},)"
     R"({"n":0e5,"a":[0.0,[]],"e":[]}])",
     R"({"columns":[],"rows":[[],[],[]],"constants":{"n":0.0,"a":[0.0,[]],"e":[]}})"},
    {"bool is not a number", R"([{"b":true},{"b":1}])",
     R"({"columns":["b"],"rows":[[true],[1]],"constants":{}})"},
    {"keys differing in case are two columns", R"([{"a":1,"A":1},{"a":1,"A":2}])",
     R"({"columns":["A"],"rows":[[1],[2]],"constants":{"a":1}})"},
    {"key order varies between rows",
     R"([{"a":1,"b":2,"c":3},{"c":3,"b":5,"a":1},{"b":6,"a":1,"c":3}])",
     R"({"columns":["b"],"rows":[[2],[5],[6]],"constants":{"a":1,"c":3}})"},
    {"rows out of column order, with gaps",
     R"([{"a":1,"b":2,"c":3},{"c":4,"a":5},{"b":6,"a":7},{"a":8}])",
     R"({"columns":["a","b","c"],"rows":[[1,2,3],[5,null,4],[7,6,null],[8,null,null]],"constants":{}})"},
    {"nested cells as their text or read again, compared by value",
     R"([{"o":{"a":[1,"x"],"b":{}},"e":["\n","\/","\u00e9","\u001F"],"r":{"k":1,"k":2}},)"
     R"({"o": {"a": [1, "x"], "b": {}},"e":["\n","/","é","\u001f"],"r":{"k":2}},)"
     R"({"o":{"b":{},"a":[1,"x"]},"e":["\u000a","/","\u00E9","\u001f"],"r":{"k":2}}])",
     R"({"columns":[],"rows":[[],[],[]],"constants":{"o":{"a":[1,"x"],"b":{}},)"
     R"("e":["\n","/","é","\u001f"],"r":{"k":2}}})"},
    {"nested doubles as their text only in the writer's form",
     R"([{"d":[1.5,1e5,-0.0]},{"d":[1.50,100000.0,-0.0]},{"d":[1.5,1E5,0.0]},{"d":[1.5,1e5,1]}])",
     R"({"columns":["d"],"rows":[[[1.5,100000.0,-0.0]],[[1.5,100000.0,-0.0]],)"
     R"([[1.5,100000.0,0.0]],[[1.5,100000.0,1]]],"constants":{}})"},
    {"nested zeros of either sign equal, other arrays by their text",
     R"([{"z":[-0.0,"a"],"w":[1,"a"]},{"z":[0.0,"a"],"w":[1,"b"]}])",
     R"({"columns":["w"],"rows":[[[1,"a"]],[[1,"b"]]],"constants":{"z":[-0.0,"a"]}})"},
    {"nested objects told apart by where their texts first differ",
     R"([{"v":{"p":{"x":1},"q":[2]},"m":{"p":1},"e":{},"s":{"a\"b":"c\"d","t":1},)"
     R"("r":{"s":"x\"","a\"1":1,"b\"2":[{"x":1,"y":2},{}]},"a":[{"p":1},2]},)"
     R"({"v":{"p":{"x":2},"q":[2]},"m":{"p":1,"q":2},"e":{"p":1},"s":{"a\"b":"c\"d","t":2},)"
     R"("r":{"s":"x\"","b\"2":[{"y":2,"x":1},{}],"a\"1":1},"a":[{"p":1},3]}])",
     R"({"columns":["v","m","e","s","a"],"rows":[[{"p":{"x":1},"q":[2]},{"p":1},{},)"
     R"({"a\"b":"c\"d","t":1},[{"p":1},2]],[{"p":{"x":2},"q":[2]},{"p":1,"q":2},{"p":1},)"
     R"({"a\"b":"c\"d","t":2},[{"p":1},3]]],"constants":{"r":{"s":"x\"","a\"1":1,"b\"2":[{"x":1,"y":2},{}]}}})"},
    {"texts and strings with other escapes, written with the writer's",
     R"([{"v":["\/","\ud83d\ude00"],"w":{"k":"\u00e9\u001F"},"c":["\/"],"s":"a\/\t","e":"\u00e9\""},)"
     R"({"v":["\/","\ud83d\ude01"],"w":{"k":"\u00e9\u001F"},"c":["/"],"s":"a/\t","e":"\u00E9\""},)"
     R"({"v":["/","\ud83d\ude00"],"w":{"k":"\u00E9\u001f"},"c":["\u002f"],"s":"a\u002f\u0009","e":"é\\"}])",
     "{\"columns\":[\"v\",\"e\"],\"rows\":[[[\"/\",\"\xF0\x9F\x98\x80\"],\"\xC3\xA9\\\"\"],"
     "[[\"/\",\"\xF0\x9F\x98\x81\"],\"\xC3\xA9\\\"\"],[[\"/"
     "\",\"\xF0\x9F\x98\x80\"],\"\xC3\xA9\\\\\"]],"
     "\"constants\":{\"w\":{\"k\":\"\xC3\xA9\\u001f\"},\"c\":[\"/\"],\"s\":\"a/\\t\"}}"},
    {"texts with spaces, written compact",
     R"([{"c": {"a": [1, 2]}, "v": [ "x y" ,1 ], "m": { "p" : 1 , "q":2}},)"
     "\n {\"c\":{\"a\":[1,2]},\"v\":[ \"x y\" ,2 ],\"m\":{\"q\":2,\"p\":1}},"
     "\n {\"c\":{ \"a\" :\t[ 1 ,\r\n2 ] },\"v\":[\"x  y\\/\"],\"m\": {\"q\": 2, \"p\": 1}}]",
     R"({"columns":["v"],"rows":[[["x y",1]],[["x y",2]],[["x  y/"]]],)"
     R"("constants":{"c":{"a":[1,2]},"m":{"p":1,"q":2}}})"},
    // Row 1 against row 0, by the first difference of their tokens where it tells.
    {"rewritten texts, equal or not but for whitespace and escapes",
     R"([{"s": [ "a b" ], "e": ["\/x", 1], "u": {"k": "\u00e9"}, "n": ["\n"], "r": [ "é" ],)"
     R"( "z": [0.0, 1], "o": { "a": 1, "b": [2] }, "l": [ "ab" ]},)"
     "\n"
     R"({"s":["a  b"],"e":[ "\/y",1],"u":{"k":"\u00E9"},"n":[ "\u000a" ],"r":["\u00e9"],)"
     R"("z":[ -0.0,1],"o":{"b":[2],"a":1},"l":["ab", "c"]}])",
     R"({"columns":["s","e","l"],"rows":[[["a b"],["/x",1],["ab"]],[["a  b"],["/y",1],)"
     R"(["ab","c"]]],"constants":{"u":{"k":"é"},"n":["\n"],"r":["é"],"z":[0.0,1],)"
     R"("o":{"a":1,"b":[2]}}})"},
    {"escaped keys", R"([{"k\"ey":1,"t\tab":2},{"k\"ey":2,"t\tab":2}])",
     R"({"columns":["k\"ey"],"rows":[[1],[2]],"constants":{"t\tab":2}})"},
};

TEST(DeriveColumns, BuildsTheDocument) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(derive_text(c.rows), c.document);
  }
}

TEST(DeriveColumns, LongArraysInCellsKeepEveryItem) {
  // On either side of the longest array a cell holds without a handle: 2^17 - 1 items.
  for (const int n : {131071, 131072}) {
    std::string items = "0";
    for (int i = 1; i < n; ++i) items += ",0";
    EXPECT_EQ(derive_text("[{\"a\":[" + items + "]},{\"a\":[1]}]"),
              "{\"columns\":[\"a\"],\"rows\":[[[" + items + "]],[[1]]],\"constants\":{}}")
        << n;
  }
}

TEST(DeriveColumns, ManyColumnsAndRowsKeepTheirPlaces) {
  // Past the point where maps switch to an index (100 columns), and past the places that
  // 8 and 16 bits hold. Row r > 0 lacks column r % columns, and every tenth column holds
  // one value wherever it is present, so it is constant only when no row lacks it. The
  // last row lists its members backwards, and "end" is null wherever it is present.
  struct Shape {
    int rows;
    int columns;
  };
  for (const Shape shape : {Shape{150, 100}, Shape{4, 300}, Shape{3, 80000}}) {
    SCOPED_TRACE(shape.columns);
    const auto cell = [](int r, int c) { return std::to_string(c % 10 == 0 ? c : r * 1000 + c); };
    const auto missing = [&](int r, int c) { return r > 0 && c == r % shape.columns; };
    std::string text = "[";
    for (int r = 0; r < shape.rows; ++r) {
      const bool backwards = r == shape.rows - 1;
      text += r > 0 ? ",{" : "{";
      if (!backwards) text += "\"fix\":\"same\",";
      for (int i = 0; i < shape.columns; ++i) {
        const int c = backwards ? shape.columns - 1 - i : i;
        if (missing(r, c)) continue;
        text += "\"col" + std::to_string(c) + "\":" + cell(r, c) + ",";
      }
      text += backwards ? "\"fix\":\"same\"}" : "\"end\":null}";
    }
    text += ']';
    // A column of one value is constant unless a row lacks it: row c, or row 100 for 0.
    const auto varies = [&](int c) {
      return c % 10 != 0 || (c > 0 ? c : shape.columns) < shape.rows;
    };
    std::string columns;
    std::string constants = "\"fix\":\"same\"";
    for (int c = 0; c < shape.columns; ++c) {
      if (varies(c)) {
        columns += (columns.empty() ? "\"col" : ",\"col") + std::to_string(c) + "\"";
      } else {
        constants += ",\"col" + std::to_string(c) + "\":" + cell(0, c);
      }
    }
    std::string rows;
    for (int r = 0; r < shape.rows; ++r) {
      rows += r ? ",[" : "[";
      bool first = true;
      for (int c = 0; c < shape.columns; ++c) {
        if (!varies(c)) continue;
        rows += first ? "" : ",";
        rows += missing(r, c) ? "null" : cell(r, c);
        first = false;
      }
      rows += ']';
    }
    const std::string expected =
        "{\"columns\":[" + columns + "],\"rows\":[" + rows + "],\"constants\":{" + constants + "}}";
    EXPECT_EQ(derive_text(text), expected);
  }
}

// Rows whose matrix grows with the square of their count: row i holds only "k<i>".
std::string one_key_per_row(int rows) {
  std::string text = "[";
  for (int r = 0; r < rows; ++r) {
    text += r ? ",{\"k" : "{\"k";
    text += std::to_string(r) + "\":1}";
  }
  return text + "]";
}

TEST(DeriveColumns, RefusesAMatrixBeyondTheMemoryLimit) {
  struct LimitCase {
    const char* name;
    const char* rows;
    std::size_t limit;
    const char* document;
  };
  // 2x2 cells: 4 * 16 + 2 * 16 bytes of values, 4 * 2 + 2 * 2 bytes of text at least, and
  // 2 * 3 more for the two missing members' nulls: 114.
  const LimitCase cases[] = {
      {"exactly enough", R"([{"x":1},{"y":2}])", 114,
       R"({"columns":["x","y"],"rows":[[1,null],[null,2]],"constants":{}})"},
      {"one byte short", R"([{"x":1},{"y":2}])", 113,
       "derive error: result too large: 2 rows x 2 columns need at least 114 bytes, more than "
       "the 113 bytes available"},
      {"constants take no cells", R"([{"a":1},{"a":1}])", 36,
       R"({"columns":[],"rows":[[],[]],"constants":{"a":1}})"},
  };
  for (const LimitCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(derive_text(c.rows, c.limit), c.document);
  }
}

using testing_support::kAddressSanitizer;
using testing_support::limit_address_space;

TEST(DeriveColumns, ColumnsFirstSeenInLaterRowsKeepTheirPlaces) {
  // Row r holds "a" and "k<r>": past 255 columns the members' columns are widened after
  // rows held in 8 bits; past 65,535 after rows held in 16, where the matrix is refused.
  const auto rows = [](int n) {
    std::string text = "[";
    for (int r = 0; r < n; ++r) {
      const std::string number = std::to_string(r);
      text.append(r ? ",{" : "{").append("\"a\":").append(number);
      text.append(",\"k").append(number).append("\":").append(number).append("}");
    }
    return text + "]";
  };
  std::string expected = "{\"columns\":[\"a\"";
  for (int r = 0; r < 300; ++r) expected.append(",\"k").append(std::to_string(r)).append("\"");
  expected += "],\"rows\":[";
  for (int r = 0; r < 300; ++r) {
    expected.append(r ? ",[" : "[").append(std::to_string(r));
    for (int c = 0; c < 300; ++c) expected.append(",").append(c == r ? std::to_string(r) : "null");
    expected += "]";
  }
  expected += "],\"constants\":{}}";
  EXPECT_EQ(derive_text(rows(300)), expected);
  EXPECT_TRUE(derive_text(rows(70000), 1 << 20)
                  .starts_with("derive error: result too large: 70000 rows x 70001 columns"));
}

TEST(DeriveColumns, AMatrixTheSystemCannotAllocateIsTooLarge) {
  if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer's shadow memory needs the address space";
  // 3,000 rows of one key each: a 3000 x 3000 matrix of 144 MB, within the limit given
  // but not within the 64 MB of address space the child has left.
  const std::string rows = one_key_per_row(3000);
  EXPECT_EXIT(
      {
        limit_address_space(std::size_t{64} << 20);
        const std::string got = derive_text(rows);
        std::exit(got.starts_with("derive error: result too large: 3000 rows x 3000 columns "
                                  "need at least") &&
                          got.ends_with(" bytes, which could not be allocated")
                      ? 0
                      : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace velmar::columnar
