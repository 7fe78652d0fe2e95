// The boundary's interpreter-free half: containment of the transform, the texts of
// contained failures, the process-ending reports, and UTF-8 decoding with replacement.
#include "module/boundary.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "json/arena.h"
#include "module/fatal.h"
#include "module/text.h"

namespace velmar::module {
namespace {

using columnar::TransformResult;

struct NotAnException {
  int code;
};

TransformResult returns_bytes(json::PaddedView payload) {
  return std::string("<").append(payload.text()).append(">");
}
TransformResult returns_error(json::PaddedView) { return columnar::TransformError{"boom"}; }
TransformResult throws_runtime_error(json::PaddedView) {
  throw std::runtime_error("capacity overflow");
}
TransformResult throws_string(json::PaddedView) { throw std::string("capacity overflow"); }
TransformResult throws_string_view(json::PaddedView) {
  throw std::string_view("capacity overflow");
}
TransformResult throws_c_string(json::PaddedView) { throw "capacity overflow"; }
TransformResult throws_null_c_string(json::PaddedView) { throw static_cast<const char*>(nullptr); }
TransformResult throws_int(json::PaddedView) { throw 7; }
TransformResult throws_struct(json::PaddedView) { throw NotAnException{3}; }
TransformResult indexes_out_of_range(json::PaddedView payload) {
  const std::vector<int> empty;
  return std::to_string(empty.at(payload.size()));
}
TransformResult throws_bad_alloc(json::PaddedView) { throw std::bad_alloc(); }

struct ContainmentCase {
  const char* name;
  TransformFn transform;
  std::size_t outcome_index;  // 0 bytes, 1 TransformError, 2 ContainedPanic
  std::string text;           // the bytes, the error message or the contained text
};

std::string outcome_text(const Outcome& outcome) {
  switch (outcome.index()) {
    case 0:
      return std::get<0>(outcome);
    case 1:
      return std::get<1>(outcome).message;
    default:
      return std::get<2>(outcome).text;
  }
}

TEST(RunTransform, MapsEveryWayOutToOneOutcome) {
  const ContainmentCase cases[] = {
      {"result bytes", returns_bytes, 0, "<[]>"},
      {"transform error", returns_error, 1, "boom"},
      {"std::exception", throws_runtime_error, 2, "capacity overflow"},
      {"std::string", throws_string, 2, "capacity overflow"},
      {"std::string_view", throws_string_view, 2, "capacity overflow"},
      {"C string", throws_c_string, 2, "capacity overflow"},
      {"null C string", throws_null_c_string, 2, "unknown panic in columnarize_json"},
      {"int", throws_int, 2, "unknown panic in columnarize_json"},
      {"struct", throws_struct, 2, "unknown panic in columnarize_json"},
  };
  for (const ContainmentCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = run_transform(c.transform, json::PaddedText::copy_of("[]").view());
    EXPECT_EQ(outcome.index(), c.outcome_index);
    EXPECT_EQ(outcome_text(outcome), c.text);
  }
}

TEST(RunTransform, KeepsTheTextOfALibraryFailure) {
  const Outcome outcome =
      run_transform(indexes_out_of_range, json::PaddedText::copy_of("abc").view());
  ASSERT_EQ(outcome.index(), 2u);
  EXPECT_NE(std::get<2>(outcome).text.find("vector"), std::string::npos)
      << std::get<2>(outcome).text;
}

TEST(RunTransform, RunsTheShippedTransform) {
  const Outcome ok = run_transform(
      columnar::columnarize_json,
      json::PaddedText::copy_of(R"([{"a":1,"b":2,"c":null},{"a":1.0,"b":3}])").view());
  ASSERT_EQ(ok.index(), 0u);
  EXPECT_EQ(std::get<0>(ok), R"({"columns":["b"],"rows":[[2],[3]],"constants":{"a":1}})");

  const Outcome empty =
      run_transform(columnar::columnarize_json, json::PaddedText::copy_of("").view());
  ASSERT_EQ(empty.index(), 1u);
  EXPECT_EQ(std::get<1>(empty).message,
            "invalid row-oriented JSON: EOF while parsing a value at line 1 column 0");
}

TEST(PanicMessage, PrefixesTheContainedText) {
  EXPECT_EQ(panic_message(ContainedPanic{"capacity overflow"}),
            "internal panic during columnarization: capacity overflow");
  EXPECT_EQ(panic_message(ContainedPanic{std::string(kUnknownTransformPanic)}),
            "internal panic during columnarization: unknown panic in columnarize_json");
}

TEST(RunTransformDeathTest, DoesNotContainBadAlloc) {
  EXPECT_DEATH((void)run_transform(throws_bad_alloc, json::PaddedText::copy_of("[]").view()),
               "memory allocation failed");
}

TEST(FatalDeathTest, ReportsTheFailureThenTheGuardText) {
  EXPECT_DEATH(abort_with_report("capacity overflow", kGuardText),
               "capacity overflow\nuncaught panic at ffi boundary\n");
}

#if !defined(__SANITIZE_ADDRESS__)
// Keeps an allocation observable, so that it cannot be elided.
void* volatile g_sink = nullptr;

TEST(AllocatorDeathTest, EndsTheProcessWithTheSize) {
  // 64 TiB: more than this machine can map.
  constexpr std::size_t kHuge = std::size_t{1} << 46;
  EXPECT_DEATH(g_sink = std::make_unique_for_overwrite<char[]>(kHuge).release(),
               "memory allocation of 70368744177664 bytes failed");
  // The arena's failures go to the same report.
  EXPECT_DEATH(
      {
        json::Arena arena;
        g_sink = arena.allocate(kHuge);
      },
      "memory allocation of 70368744177680 bytes failed");
}
#endif

struct LossyCase {
  const char* name;
  std::string_view input;
  std::string_view expected;
};

TEST(Utf8Lossy, ReplacesEachMaximalSubpart) {
  const LossyCase cases[] = {
      {"empty", "", ""},
      {"ascii", "min_rows", "min_rows"},
      {"two-byte", "\xC3\xA9", "\xC3\xA9"},
      {"four-byte", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"largest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"encoded lone surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"stray continuation", "a\x80z", "a\xEF\xBF\xBDz"},
      {"overlong two-byte", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"overlong three-byte", "\xE0\x80\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"invalid lead", "\xF5x", "\xEF\xBF\xBDx"},
      {"truncated at end", "x\xF0\x9F\x98", "x\xEF\xBF\xBD"},
      {"truncated before ascii", "\xE2\x82y", "\xEF\xBF\xBDy"},
      // The Unicode standard's own example (Table 3-8).
      {"standard example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"
       "c\xEF\xBF\xBD\xEF\xBF\xBD"
       "d"},
  };
  for (const LossyCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(utf8_lossy(c.input), c.expected);
  }
}

}  // namespace
}  // namespace velmar::module
