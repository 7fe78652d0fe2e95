// Helpers shared by the reader tests: the outcome of one read as a single string, either
// the error's display text or a dump of the elements that shows number representations.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/reader.h"
#include "json/value.h"

namespace velmar::json::testing {

// Joins the pieces; used instead of "literal" + std::string, which trips a false
// -Wrestrict in GCC 12 at -O3.
template <typename... Pieces>
std::string cat(const Pieces&... pieces) {
  std::string out;
  (out.append(std::string_view(pieces)), ...);
  return out;
}

// null, true, false; numbers as u7, i-7, d1.5 (doubles to 17 digits, so d-0 is -0.0);
// strings in double quotes with \xNN for '"', '\\' and bytes outside 0x20..0x7E; arrays
// and objects in JSON syntax.
inline void dump_to(const JsonValue& v, std::string& out) {
  char buf[40];
  switch (v.kind()) {
    case JsonKind::kNull:
      out += "null";
      return;
    case JsonKind::kBool:
      out += v.as_bool() ? "true" : "false";
      return;
    case JsonKind::kNumber: {
      JsonNumber n = v.as_number();
      switch (n.rep()) {
        case JsonNumber::Rep::kUnsigned:
          std::snprintf(buf, sizeof buf, "u%llu", static_cast<unsigned long long>(n.as_unsigned()));
          break;
        case JsonNumber::Rep::kSigned:
          std::snprintf(buf, sizeof buf, "i%lld", static_cast<long long>(n.as_signed()));
          break;
        case JsonNumber::Rep::kDouble:
          std::snprintf(buf, sizeof buf, "d%.17g", n.as_double());
          break;
      }
      out += buf;
      return;
    }
    case JsonKind::kString:
      out += '"';
      for (char c : v.as_string()) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b > 0x7E || c == '"' || c == '\\') {
          std::snprintf(buf, sizeof buf, "\\x%02X", b);
          out += buf;
        } else {
          out += c;
        }
      }
      out += '"';
      return;
    case JsonKind::kArray: {
      out += '[';
      const char* sep = "";
      for (const JsonValue& item : v.as_array()) {
        out += sep;
        dump_to(item, out);
        sep = ",";
      }
      out += ']';
      return;
    }
    case JsonKind::kObject: {
      out += '{';
      const char* sep = "";
      for (const JsonMember& m : v.as_object().members()) {
        out += sep;
        dump_to(m.key, out);
        out += ':';
        dump_to(m.value, out);
        sep = ",";
      }
      out += '}';
      return;
    }
  }
}

inline std::string dump_elements(std::span<const JsonValue> items) {
  std::string out = "[";
  const char* sep = "";
  for (const JsonValue& item : items) {
    out += sep;
    dump_to(item, out);
    sep = ",";
  }
  out += ']';
  return out;
}

// Makes each object element it is given into the object a plain read makes of it, its
// values unpacked with the input.
struct ObjectCollector final : ObjectElementSink {
  ObjectCollector(Arena& a, PaddedView in) : arena(a), input(in) {}
  void object_element(std::span<const PackedMember> members, std::string_view text) override {
    std::vector<JsonMember> unpacked;
    for (const PackedMember& m : members) unpacked.push_back({m.key, unpack_value(arena, m.value, input)});
    objects.push_back(JsonValue::object(JsonObject::from_members(arena, unpacked)));
    texts.emplace_back(text);
  }
  Arena& arena;
  PaddedView input;
  std::vector<JsonValue> objects;
  std::vector<std::string> texts;
};

// The read with a sink for the object elements fails as `plain` did, or gives the sink the
// same objects, each with its own text, and returns the other elements.
inline void expect_same_with_sink(std::string_view input,
                                  const Result<std::span<JsonValue>, JsonError>& plain) {
  Arena arena;
  const PaddedView padded = pad_in(arena, input);
  ObjectCollector sink(arena, padded);
  auto result = read_sequence(arena, padded, sink);
  ASSERT_EQ(result.ok(), plain.ok()) << input;
  if (!plain) {
    EXPECT_EQ(result.error().display(), plain.error().display()) << input;
    return;
  }
  std::vector<JsonValue> objects;
  std::vector<JsonValue> others;
  for (const JsonValue& element : *plain)
    (element.is_object() ? objects : others).push_back(element);
  EXPECT_EQ(dump_elements(sink.objects), dump_elements(objects)) << input;
  EXPECT_EQ(dump_elements(*result), dump_elements(others)) << input;
  for (std::size_t i = 0; i < sink.texts.size(); ++i) {
    Arena alone;
    const std::string alone_text = cat("[", sink.texts[i], "]");  // long strings refer to it
    auto reread = read_sequence(alone, alone_text);
    ASSERT_TRUE(reread.ok()) << sink.texts[i];
    EXPECT_EQ(dump_elements(*reread), dump_elements({&objects[i], 1})) << sink.texts[i];
  }
}

// The display text of the error, or the dump of the elements ("[...]"): no error
// message starts with "[", so one string tells both outcomes apart. Every read is also
// made with a sink for the object elements, which must agree.
inline std::string outcome(std::string_view input) {
  Arena arena;
  auto result = read_sequence(arena, input);
  expect_same_with_sink(input, result);
  if (!result) return result.error().display();
  return dump_elements(*result);
}

// The column that `caret`, a line of spaces and one '^', marks under `input`, a payload
// on one line: the '^' stands under the byte the error is reported at, the column
// counting from 1. A caret that stands past the input or is not a lone '^' fails.
inline std::size_t caret_column(std::string_view input, std::string_view caret) {
  const std::size_t at = caret.find('^');
  EXPECT_TRUE(at < input.size() && caret.find_first_not_of(' ') == at && at + 1 == caret.size())
      << "caret line \"" << caret << "\"";
  EXPECT_EQ(input.find('\n'), std::string_view::npos) << "a caret row has one line";
  return at + 1;
}

// A table row: a payload and the outcome expected for it. An error row may mark its byte
// with a caret line written right under the input, in the same kind of literal, so that
// the two line up in the source: `expected` is then the message alone, and the position
// is computed from the caret, so that a caret under the wrong byte fails the row.
struct OutcomeRow {
  const char* name;
  std::string_view input;
  std::string expected;
  std::string_view caret = {};
};

inline void check_rows(std::span<const OutcomeRow> rows) {
  for (const OutcomeRow& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string expected = row.caret.empty()
                                     ? row.expected
                                     : cat(row.expected, " at line 1 column ",
                                           std::to_string(caret_column(row.input, row.caret)));
    EXPECT_EQ(outcome(row.input), expected);
  }
}

}  // namespace velmar::json::testing
