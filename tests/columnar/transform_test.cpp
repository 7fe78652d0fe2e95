// columnarize_json from payload bytes to result bytes or the exact failure message.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "columnar/columnar.h"

namespace velmar::columnar {
namespace {

// The result bytes, or "error: " followed by the failure message.
std::string transform(std::string_view payload) {
  TransformResult r = columnarize_json(payload);
  return r.ok() ? r.value() : "error: " + r.error().message;
}

struct Case {
  const char* name;
  std::string payload;
  std::string expected;
};

TEST(ColumnarizeJson, ResultsAndMessages) {
  const std::string kRead = "error: invalid row-oriented JSON: ";
  const std::string kShape = "error: expected a JSON object row, got: ";
  const Case cases[] = {
      {"worked example", R"([{"a":1,"b":2,"c":null},{"a":1.0,"b":3}])",
       R"({"columns":["b"],"rows":[[2],[3]],"constants":{"a":1}})"},
      {"empty array", "[]", R"({"columns":[],"rows":[],"constants":{}})"},
      {"one empty row", "[{}]", R"({"columns":[],"rows":[[]],"constants":{}})"},
      {"two equal rows", R"([{"a":1},{"a":1}])",
       R"({"columns":[],"rows":[[],[]],"constants":{"a":1}})"},
      {"whitespace around and inside", " \t\r\n[ { \"a\" : 1 } ,\n{\"a\":2} ]\n\n ",
       R"({"columns":["a"],"rows":[[1],[2]],"constants":{}})"},
      {"top-level object", "{}",
       kRead + "invalid type: map, expected a sequence at line 1 column 0"},
      {"top-level string", "\"ab\"",
       kRead + "invalid type: string \"ab\", expected a sequence at line 1 column 4"},
      {"top-level number", "5",
       kRead + "invalid type: integer `5`, expected a sequence at line 1 column 1"},
      {"top-level true", "true",
       kRead + "invalid type: boolean `true`, expected a sequence at line 1 column 4"},
      {"top-level false", "false",
       kRead + "invalid type: boolean `false`, expected a sequence at line 1 column 5"},
      {"top-level null", "null",
       kRead + "invalid type: null, expected a sequence at line 1 column 4"},
      {"top-level double", "-1.5e3",
       kRead + "invalid type: floating point `-1500.0`, expected a sequence at line 1 column 6"},
      {"empty payload", "", kRead + "EOF while parsing a value at line 1 column 0"},
      {"whitespace payload", "   \n  ", kRead + "EOF while parsing a value at line 2 column 2"},
      {"byte order mark", "\xEF\xBB\xBF[]", kRead + "expected value at line 1 column 1"},
      {"trailing characters", R"([{"a":1}] x)", kRead + "trailing characters at line 1 column 11"},
      {"second array", "[{}][{}]", kRead + "trailing characters at line 1 column 5"},
      {"syntax error after a non-object", R"([7,{"a":1},{"a":])",
       kRead + "expected value at line 1 column 17"},
      {"truncated after a non-object", "[7,",
       kRead + "EOF while parsing a value at line 1 column 3"},
      {"number row", R"([{"a":1},7])", kShape + "7"},
      {"array row", R"([{},[1,2],3])", kShape + "[1,2]"},
      {"null row", "[null]", kShape + "null"},
      {"string row with escapes", R"([{},"a\"b\u0001\u00e9"])",
       kShape + "\"a\\\"b\\u0001\xc3\xa9\""},
      {"double row", "[2.5]", kShape + "2.5"},
      {"nested array row", R"([[{"a":1},null]])", kShape + R"([{"a":1},null])"},
      {"first non-object wins", R"([{},true,7])", kShape + "true"},
      {"deep cell within the budget",
       "[{\"a\":" + std::string(125, '[') + std::string(125, ']') + "}]",
       "{\"columns\":[\"a\"],\"rows\":[[" + std::string(125, '[') + std::string(125, ']') +
           "]],\"constants\":{}}"},
      {"keys that extend, shorten, escape or repeat the previous row's",
       R"([{"ab":1,"abcdefghijklmn":0,"abcdefghijklmno":0},{"abc":2,"abcdefghijklmn":0,)"
       R"("abcdefghijklmno":0},{"ab":3,"abcdefghijklmn":0,"abcdefghijklmno":0},{"a\u0062":4,)"
       R"("abcdefghijklmn":0,"abcdefghijklmno":0},{"ab":5,"abcdefghijklmn":0,"abcdefghijklmno":0},)"
       R"({"":6,"abcdefghijklmn":0,"abcdefghijklmno":0},{"":7,"abcdefghijklmn":0,)"
       R"("abcdefghijklmno":0}])" +
           std::string(16, ' '),
       R"({"columns":["ab","abc",""],"rows":[[1,null,null],[null,2,null],[3,null,null],)"
       R"([4,null,null],[5,null,null],[null,null,6],[null,null,7]],"constants":)"
       R"({"abcdefghijklmn":0,"abcdefghijklmno":0}})"},
      {"a key that ends where the previous row's escaped quote stood",
       R"([{"k\"ey":1},{"k"ey":2}])" + std::string(16, ' '),
       kRead + "expected `:` at line 1 column 18"},
      // A row's text that repeats the previous row's is passed without being read again,
      // only where it reads the same way.
      {"leads that repeat but for the whitespace before the value",
       R"([{"a": 1,"b": 2},{"a": 3,"b":  4},{"a" :5,"b": 6}])",
       R"({"columns":["a","b"],"rows":[[1,2],[3,4],[5,6]],"constants":{}})"},
      {"a member the previous row lacks, and one it had",
       R"([{"a":1,"b":2,"c":3},{"a":1,"c":3},{"a":1,"x":0,"b":2,"c":3}])",
       R"({"columns":["b","x"],"rows":[[2,null],[null,null],[2,0]],"constants":{"a":1,"c":3}})"},
      {"members that the previous row lacks or had, two and more at once",
       R"([{"a":1,"b":2,"c":3,"d":4,"e":5},{"a":1,"x":6,"y":7,"b":2,"c":8,"d":4,"e":5},)"
       R"({"a":1,"d":4,"e":9},{"a":1,"b":2,"c":3,"d":4,"e":5},)"
       R"({"p":0,"q":0,"r":0,"s":0,"t":0,"u":0,"a":1,"b":2,"c":3,"d":4,"e":5},)"
       R"({"a":1,"c":3,"b":2,"e":5,"d":4,"b":10}])",
       R"({"columns":["b","c","e","x","y","p","q","r","s","t","u"],"rows":[[2,3,5,null,null,)"
       R"(null,null,null,null,null,null],[2,8,5,6,7,null,null,null,null,null,null],[null,null,)"
       R"(9,null,null,null,null,null,null,null,null],[2,3,5,null,null,null,null,null,null,null,)"
       R"(null],[2,3,5,null,null,0,0,0,0,0,0],[10,3,5,null,null,null,null,null,null,null,null]],)"
       R"("constants":{"a":1,"d":4}})"},
      // Leads longer than the two blocks compared: every key is read.
      {"members moved by two, with keys too long for their leads to repeat",
       R"([{"a_member_name_of_thirty_two_chars0":1,"a_member_name_of_thirty_two_chars1":2,)"
       R"("a_member_name_of_thirty_two_chars2":3,"a_member_name_of_thirty_two_chars3":4},)"
       R"({"a_member_name_of_thirty_two_chars0":1,"n1":0,"n2":0,)"
       R"("a_member_name_of_thirty_two_chars1":5,"a_member_name_of_thirty_two_chars2":3,)"
       R"("a_member_name_of_thirty_two_chars3":4},{"a_member_name_of_thirty_two_chars0":1,)"
       R"("a_member_name_of_thirty_two_chars3":4}])",
       R"({"columns":["a_member_name_of_thirty_two_chars1","a_member_name_of_thirty_two_chars2",)"
       R"("n1","n2"],"rows":[[2,3,null,null],[5,3,0,0],[null,null,null,null]],"constants":)"
       R"({"a_member_name_of_thirty_two_chars0":1,"a_member_name_of_thirty_two_chars3":4}})"},
      {"a first member's lead at a later place", R"([{"a":1,"b":2},{"b":2"a":1}])",
       kRead + "expected `,` or `}` at line 1 column 22"},
      {"a later member's lead at the first place", R"([{"a":1,"b":2},{,"b":2}])",
       kRead + "key must be a string at line 1 column 17"},
      {"a repeated lead before a byte that starts no value", R"([{"a":1,"b":2},{"a":1,"b":}])",
       kRead + "expected value at line 1 column 27"},
      {"input that ends inside a repeated lead", R"([{"a":1,"bc":2},{"a":1,"bc)",
       kRead + "EOF while parsing a string at line 1 column 26"},
      {"nested texts that repeat the previous row's or begin as it did",
       R"([{"a":1,"b":[1]},{"a":2,"b":[1]},{"a":3,"b":[1,2]},{"a":4,"b":{"c":[1]}},)"
       R"({"a":5,"b":{"c":[1]}}])",
       R"({"columns":["a","b"],"rows":[[1,[1]],[2,[1]],[3,[1,2]],[4,{"c":[1]}],[5,{"c":[1]}]],)"
       R"("constants":{}})"},
      {"a repeated nested text, then a bracket too many", R"([{"b":[1]},{"b":[1]]}])",
       kRead + "expected `,` or `}` at line 1 column 20"},
      {"cell at the depth limit, kept as its text",
       "[{\"a\":" + std::string(125, '[') + std::string(125, ']') + "}]",
       R"({"columns":["a"],"rows":[[)" + std::string(125, '[') + std::string(125, ']') +
           R"(]],"constants":{}})"},
      {"cell one level too deep", "[{\"a\":" + std::string(126, '[') + std::string(126, ']') + "}]",
       kRead + "recursion limit exceeded at line 1 column 132"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(transform(c.payload), c.expected);
  }
}

TEST(ColumnarizeJson, DeepNestingFailsWithoutExhaustingTheStack) {
  std::string payload(100000, '[');
  EXPECT_EQ(transform(payload),
            "error: invalid row-oriented JSON: recursion limit exceeded at line 1 column 128");
  std::string objects = "[";
  for (int i = 0; i < 100000; ++i) objects += "{\"k\":";
  EXPECT_EQ(transform(objects),
            "error: invalid row-oriented JSON: recursion limit exceeded at line 1 column 632");
}

TEST(ColumnarizeJson, LargePayloadsGiveWhatTheirPartsPredict) {
  // The same row repeated: one row array per copy, nothing constant but the columns that
  // are equal everywhere, which here is all of them.
  const std::string long_text(100000, 'x');
  const std::string row = "{\"id\":7,\"text\":\"" + long_text + "\",\"esc\":\"a\\tb\\u00e9\"}";
  const int kRows = 200;
  std::string payload = "[";
  for (int i = 0; i < kRows; ++i) payload += (i ? "," : "") + row;
  payload += "]";
  ASSERT_GT(payload.size(), 20'000'000u);
  std::string expected = "{\"columns\":[],\"rows\":[";
  for (int i = 0; i < kRows; ++i) expected += i ? ",[]" : "[]";
  expected +=
      "],\"constants\":{\"id\":7,\"text\":\"" + long_text + "\",\"esc\":\"a\\tb\xc3\xa9\"}}";
  EXPECT_EQ(transform(payload), expected);

  // Rows that differ in one member: that member becomes the only column.
  payload = "[";
  expected = "{\"columns\":[\"n\"],\"rows\":[";
  for (int i = 0; i < 50000; ++i) {
    payload += (i ? ",{\"n\":" : "{\"n\":") + std::to_string(i) + ",\"s\":\"" +
               long_text.substr(0, 50) + "\"}";
    expected += (i ? ",[" : "[") + std::to_string(i) + "]";
  }
  payload += "]";
  expected += "],\"constants\":{\"s\":\"" + long_text.substr(0, 50) + "\"}}";
  EXPECT_EQ(transform(payload), expected);
}

TEST(ColumnarizeJson, AResultLargerThanMemoryIsRefusedBeforeItIsBuilt) {
  // 1.3 MB of rows with a key of their own each define 10^10 cells: 160 GB of matrix.
  std::string payload = "[";
  for (int i = 0; i < 100000; ++i) payload += (i ? ",{\"k" : "{\"k") + std::to_string(i) + "\":1}";
  payload += "]";
  TransformResult r = columnarize_json(payload);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, TransformErrorKind::kResultTooLarge);
  EXPECT_TRUE(r.error().message.starts_with(
      "result too large: 100000 rows x 100000 columns need at least "))
      << r.error().message;
  // The figure named is what the process has left at the call, within its fixed limits.
  const std::string& message = r.error().message;
  const std::size_t named = message.rfind("more than the ");
  ASSERT_NE(named, std::string::npos) << message;
  const std::size_t available = std::stoull(message.substr(named + 14));
  EXPECT_EQ(message.substr(named),
            "more than the " + std::to_string(available) + " bytes available");
  EXPECT_LE(available, memory_available(0));
}

// What a call gave, as one comparable text: "ok: " and the result bytes, "invalid: " and
// the message, or "refused: " and the message with the bytes-available figure, which is
// read at the call, as "N": "... more than the N bytes available".
std::string outcome(std::string_view payload) {
  TransformResult r = columnarize_json(payload);
  if (r.ok()) return "ok: " + r.value();
  if (r.error().kind == TransformErrorKind::kInvalidPayload) return "invalid: " + r.error().message;
  std::string message = r.error().message;
  const std::string kFigure = "more than the ";
  const std::size_t from = message.rfind(kFigure);
  if (from == std::string::npos) return "refused: " + message;
  const std::size_t digits = from + kFigure.size();
  const std::size_t end = message.find_first_not_of("0123456789", digits);
  if (end == digits || message.compare(end, std::string::npos, " bytes available") != 0) {
    return "refused: " + message;
  }
  return "refused: " + message.replace(digits, end - digits, "N");
}

// `rows` rows of ints, 17-digit doubles, escaped and non-ASCII strings, a member missing in
// every third row, a constant, and every fifth row an object cell of 70 members: past the
// plain member list, a map keyed from the calling thread's seed.
std::string mixed_rows(int rows) {
  std::string wide = "{";
  for (int k = 0; k < 70; ++k)
    wide += (k ? ",\"w" : "\"w") + std::to_string(k) + "\":" + std::to_string(k);
  wide += "}";
  std::string payload = "[";
  for (int i = 0; i < rows; ++i) {
    payload += i ? ",{" : "{";
    payload += "\"id\":" + std::to_string(i * 7919 - 40000) + ",\"x\":1.3175761720874414e-0" +
               std::to_string(i % 10) + ",\"s\":\"caf\\u00e9 \xE6\x97\xA5\\n" + std::to_string(i) +
               "\",\"k\":\"same\"";
    if (i % 3) payload += ",\"m\":[" + std::to_string(i) + ",{\"e\":[]}]";
    if (i % 5 == 0) payload += ",\"o\":" + wide;
    payload += "}";
  }
  return payload + "]";
}

// Rows with a key of their own each: 10^10 cells, refused on any machine (160 GB).
std::string own_key_rows(int rows) {
  std::string payload = "[";
  for (int i = 0; i < rows; ++i) payload += (i ? ",{\"k" : "{\"k") + std::to_string(i) + "\":1}";
  return payload + "]";
}

// Calls from several threads at once give what one thread gives: the same bytes, the same
// message, the same refusal up to the figure read at the call. The calls share the memory
// limits read once per process and hash wide objects with a seed per thread; a build with
// -DVELMAR_SANITIZE=thread reports any race between them.
TEST(ColumnarizeJson, ConcurrentCallsGiveWhatOneThreadGives) {
  struct ThreadCase {
    const char* name;
    std::string payload;
    const char* kind;  // the outcome's first word
    int calls;         // per thread: the payloads of megabytes once
  };
  const std::string mixed = mixed_rows(400);
  const ThreadCase cases[] = {
      {"mixed rows", mixed, "ok:", 8},
      {"rows past 4 MB, whose tree's spare pages are given back", mixed_rows(20000), "ok:", 1},
      {"a syntax error after many rows", mixed.substr(0, mixed.size() - 40), "invalid:", 8},
      {"a non-object row after many rows", mixed.substr(0, mixed.size() - 1) + ",[1,\"a\"]]",
       "invalid:", 8},
      {"nesting past the limit", "[{\"a\":" + std::string(200, '[') + "}]", "invalid:", 8},
      {"invalid UTF-8 in a key", "[{\"a\":1},{\"\xC3(\":2}]", "invalid:", 8},
      {"a result larger than memory", own_key_rows(100000), "refused:", 1},
  };
  std::vector<std::string> expected;
  for (const ThreadCase& c : cases) {
    expected.push_back(outcome(c.payload));
    EXPECT_TRUE(expected.back().starts_with(c.kind)) << c.name << ": " << expected.back();
  }

  constexpr int kThreads = 4;
  constexpr int kRounds = 8;
  const std::size_t n = std::size(cases);
  std::vector<std::string> first_mismatch(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < kRounds; ++round) {
        // Each thread starts at another case, so that different cases overlap.
        for (std::size_t k = 0; k < n; ++k) {
          const std::size_t i = (k + static_cast<std::size_t>(t)) % n;
          if (round >= cases[i].calls) continue;
          if (outcome(cases[i].payload) != expected[i] && first_mismatch[t].empty()) {
            first_mismatch[t] = cases[i].name;
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(first_mismatch[t], "") << "thread " << t << " differed from one thread on it";
  }
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every value the conformance suite calls valid, set as the cell of a row, goes through
// the transform, except the ones that this dialect reads differently on purpose.
TEST(ColumnarizeJson, AcceptsEveryValidSuiteValueAsACell) {
  const std::filesystem::path dir =
      std::filesystem::path(VELMAR_TEST_DATA_DIR) / "JSONTestSuite" / "test_parsing";
  ASSERT_TRUE(std::filesystem::is_directory(dir));
  int accepted = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (!name.starts_with("y_")) continue;
    SCOPED_TRACE(name);
    std::string payload = "[{\"k\":" + read_file(entry.path()) + "}]";
    TransformResult r = columnarize_json(payload);
    EXPECT_TRUE(r.ok()) << r.error().message;
    accepted += r.ok();
  }
  std::printf("suite values accepted as cells: %d\n", accepted);
  EXPECT_GT(accepted, 90);
}

}  // namespace
}  // namespace velmar::columnar
