// Fuzz target for columnarize_json. Beyond "no crash" it checks that a success reads
// back as one object with exactly "columns", "rows" and "constants", in that order and
// with consistent shapes, that every failure message has its fixed form, and that a
// success is byte for byte the document of a second, plain derivation written here the
// obvious quadratic way: the reference the real derivation's speed work is checked
// against. (Writing what was read back is not a fixed point: the reader's doubles are
// not always correctly rounded, so a shortest form may read back one unit off.)
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "columnar/columnar.h"
#include "fuzz_check.h"
#include "json/reader.h"
#include "json/writer.h"

namespace {

using velmar::fuzz::fail;
using velmar::json::Arena;
using velmar::json::JsonNumber;
using velmar::json::JsonObject;
using velmar::json::JsonValue;

// The plain derivation costs about columns x (members + rows) lookups; past these bounds
// it is skipped so that the fuzzer stays fast.
constexpr std::size_t kMaxCrossCheckedColumns = 256;
constexpr std::size_t kMaxCrossCheckedWork = std::size_t{1} << 18;

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

JsonValue cell(const JsonValue& row, std::string_view column) {
  const JsonValue* found = row.as_object().get(column);
  return found == nullptr ? JsonValue::null() : *found;
}

// Exact equality of two numbers' values, an integer never rounded to a double: 1 == 1.0
// and 0 == -0.0, but 9007199254740993 != 9007199254740992.0.
bool same_value(JsonNumber a, JsonNumber b) {
  using Rep = JsonNumber::Rep;
  if ((a.rep() == Rep::kDouble) == (b.rep() == Rep::kDouble)) {
    // Two doubles by IEEE equality; two integers when they are the same (an unsigned one
    // is never negative and a signed one always is).
    return a.rep() == Rep::kDouble ? a.as_double() == b.as_double() : a == b;
  }
  if (a.rep() == Rep::kDouble) std::swap(a, b);
  double d = b.as_double();
  if (d != std::trunc(d)) return false;
  if (a.rep() == Rep::kUnsigned) {
    return d >= 0 && d < 0x1p64 && static_cast<std::uint64_t>(d) == a.as_unsigned();
  }
  return d < 0 && d >= -0x1p63 && static_cast<std::int64_t>(d) == a.as_signed();
}

// Top-level numbers are equal cells when their values are; anything else by the model's
// equality (numbers nested inside by representation and value).
bool same_cell(const JsonValue& a, const JsonValue& b) {
  if (a.is_number() && b.is_number()) return same_value(a.as_number(), b.as_number());
  return a == b;
}

// Every key of every row once, in order of first appearance; stops past `limit` names.
std::vector<std::string_view> columns_in_first_appearance_order(std::span<const JsonValue> rows,
                                                                std::size_t limit) {
  std::vector<std::string_view> columns;
  for (const JsonValue& row : rows) {
    for (const auto& member : row.as_object().members()) {
      std::string_view name = member.key.as_string();
      bool seen = false;
      for (std::string_view c : columns) seen = seen || c == name;
      if (!seen) columns.push_back(name);
      if (columns.size() > limit) return columns;
    }
  }
  return columns;
}

bool all_null(std::span<const JsonValue> rows, std::string_view column) {
  for (const JsonValue& row : rows) {
    if (!cell(row, column).is_null()) return false;
  }
  return true;
}

bool constant(std::span<const JsonValue> rows, std::string_view column) {
  for (const JsonValue& row : rows) {
    if (!same_cell(cell(rows[0], column), cell(row, column))) return false;
  }
  return true;
}

// The document of `rows` (all objects, whose keys are `columns`), derived column by
// column and row by row.
std::string plain_columnarize(Arena& arena, std::span<const JsonValue> rows,
                              std::span<const std::string_view> columns) {
  std::vector<JsonValue> names;
  JsonObject constants = JsonObject::create(arena);
  std::vector<std::string_view> varying;
  for (std::string_view column : columns) {
    if (all_null(rows, column)) continue;
    if (rows.size() >= 2 && constant(rows, column)) {
      constants.insert_full(arena, column, cell(rows[0], column));
    } else {
      varying.push_back(column);
      names.push_back(JsonValue::string(arena, column));
    }
  }
  std::vector<JsonValue> matrix;
  for (const JsonValue& row : rows) {
    std::vector<JsonValue> cells;
    for (std::string_view column : varying) cells.push_back(cell(row, column));
    matrix.push_back(JsonValue::array(arena, cells));
  }
  JsonObject document = JsonObject::create(arena);
  document.insert_full(arena, "columns", JsonValue::array(arena, names));
  document.insert_full(arena, "rows", JsonValue::array(arena, matrix));
  document.insert_full(arena, "constants", JsonValue::object(constants));
  return velmar::json::to_json_bytes(JsonValue::object(document));
}

void cross_check(std::string_view payload, const std::string& result) {
  Arena arena;
  auto read = velmar::json::read_sequence(arena, payload);
  if (!read.ok()) fail("payload the transform took does not read", read.error().display());
  std::span<const JsonValue> rows = read.value();
  std::size_t members = 0;
  for (const JsonValue& row : rows) {
    if (!row.is_object()) fail("the transform took a non-object row", result);
    members += row.as_object().size();
  }
  auto columns = columns_in_first_appearance_order(rows, kMaxCrossCheckedColumns);
  if (columns.size() > kMaxCrossCheckedColumns ||
      columns.size() * (members + rows.size()) > kMaxCrossCheckedWork) {
    return;
  }
  if (plain_columnarize(arena, rows, columns) != result) {
    fail("differs from the plain derivation", result);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view payload(reinterpret_cast<const char*>(data), size);
  auto result = velmar::columnar::columnarize_json(payload);
  if (result.ok()) {
    check_success(result.value());
    cross_check(payload, result.value());
  } else {
    check_failure(result.error());
  }
  return 0;
}
