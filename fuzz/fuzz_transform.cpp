// Fuzz target for columnarize_json. Beyond "no crash" it checks that a success reads
// back as one object with exactly "columns", "rows" and "constants", in that order and
// with consistent shapes, that every failure message has its fixed form, and that the
// transform succeeds where the plain reference derivation does, with the same bytes: the
// reference the real derivation's speed work is checked against. (Writing what was read
// back is not a fixed point: the reader's doubles are not always correctly rounded, so a
// shortest form may read back one unit off.)
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "../tests/reference/reference_derivation.h"
#include "columnar/columnar.h"
#include "fuzz_check.h"
#include "json/reader.h"

namespace {

using velmar::fuzz::fail;
using velmar::json::Arena;
using velmar::json::JsonValue;

bool is_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "... at line L column C" with L >= 1.
bool ends_with_position(std::string_view message) {
  std::size_t col = message.rfind(" column ");
  std::size_t line = message.rfind(" at line ", col);
  if (col == std::string_view::npos || line == std::string_view::npos) return false;
  std::string_view l = message.substr(line + 9, col - line - 9);
  return is_digits(l) && l != "0" && l[0] != '0' && is_digits(message.substr(col + 8));
}

void check_failure(const velmar::columnar::TransformError& error) {
  constexpr std::string_view kReader = "invalid row-oriented JSON: ";
  constexpr std::string_view kShape = "expected a JSON object row, got: ";
  std::string_view m = error.message;
  // No payload of a fuzzer's size defines a result anywhere near the memory limit.
  if (error.kind != velmar::columnar::TransformErrorKind::kInvalidPayload) {
    fail("a small payload's result is too large", m);
  }
  if (m.starts_with(kReader)) {
    if (!ends_with_position(m)) fail("reader error without position", m);
  } else if (!m.starts_with(kShape) || m.size() == kShape.size()) {
    fail("unexpected message", m);
  }
}

void check_success(const std::string& result) {
  const std::string text = "[" + result + "]";  // the elements refer to it
  Arena arena;
  auto back = velmar::json::read_sequence(arena, text);
  if (!back.ok()) fail("result does not read back", back.error().display());
  if (back.value().size() != 1 || !back.value()[0].is_object()) fail("not one object", result);
  auto members = back.value()[0].as_object().members();
  if (members.size() != 3 || members[0].key.as_string() != "columns" ||
      members[1].key.as_string() != "rows" || members[2].key.as_string() != "constants") {
    fail("members are not columns, rows, constants", result);
  }
  const JsonValue& columns = members[0].value;
  const JsonValue& rows = members[1].value;
  if (!columns.is_array() || !rows.is_array() || !members[2].value.is_object()) {
    fail("member kinds", result);
  }
  for (const JsonValue& name : columns.as_array()) {
    if (!name.is_string()) fail("column name is not a string", result);
  }
  for (const JsonValue& row : rows.as_array()) {
    if (!row.is_array() || row.as_array().size() != columns.as_array().size()) {
      fail("row width differs from the column count", result);
    }
  }
}

// A success is byte for byte the reference's result; a failure is one the reference
// meets too, as the reader's error or an element that is not an object.
void cross_check(std::string_view payload, const velmar::columnar::TransformResult& result) {
  std::string error;
  const std::optional<std::string> expected =
      velmar::reference::reference_columnarize(payload, error);
  if (result.ok() && !expected) fail("the transform took a payload the reference refuses", error);
  if (!result.ok() && expected)
    fail("the transform refused a payload the reference takes", *expected);
  if (result.ok() && *expected != result.value()) {
    fail("differs from the reference derivation", result.value());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view payload(reinterpret_cast<const char*>(data), size);
  // The module's own copy: padded, and allocated to its size, so that a read past the
  // padding meets the sanitizer's guard.
  const velmar::json::PaddedText copy = velmar::columnar::copy_payload(payload);
  auto result = velmar::columnar::columnarize_json(copy.view());
  if (result.ok()) {
    check_success(result.value());
  } else {
    check_failure(result.error());
  }
  cross_check(payload, result);
  return 0;
}
