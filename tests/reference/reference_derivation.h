// The columnar result derived plainly, the C++ reference that the transform is checked
// against: the benchmarks check every result with it before they time anything, and the
// transform's fuzz target checks every input with it. It shares no code with the
// derivation it checks (src/columnar): it takes the rows from json::read_sequence and
// writes single cells and names with json::serialize and serialize_str; the columns, the
// equality of cells and the framing are written here the obvious way. Its Python twin is
// reference_derivation.py beside it.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"

namespace velmar::reference {
namespace detail {

using json::JsonKind;
using json::JsonMember;
using json::JsonNumber;
using json::JsonValue;

inline bool same_representation(JsonNumber a, JsonNumber b) {
  if (a.rep() != b.rep()) return false;
  switch (a.rep()) {
    case JsonNumber::Rep::kUnsigned:
      return a.as_unsigned() == b.as_unsigned();
    case JsonNumber::Rep::kSigned:
      return a.as_signed() == b.as_signed();
    case JsonNumber::Rep::kDouble:
      return a.as_double() == b.as_double();
  }
  return false;
}

// Whole doubles in the integer's range are compared as integers, so nothing rounds:
// 9007199254740993 != 9007199254740992.0. 0x1p64 and 0x1p63 are exact doubles.
inline bool integer_equals_double(JsonNumber integer, double d) {
  if (d != std::trunc(d)) return false;
  if (integer.rep() == JsonNumber::Rep::kUnsigned) {
    return d >= 0 && d < 0x1p64 && static_cast<std::uint64_t>(d) == integer.as_unsigned();
  }
  return d >= -0x1p63 && d < 0x1p63 && static_cast<std::int64_t>(d) == integer.as_signed();
}

// Equal mathematical values across representations: 1 == 1.0 and 0 == -0.0.
inline bool same_quantity(JsonNumber a, JsonNumber b) {
  using Rep = JsonNumber::Rep;
  if (a.rep() == Rep::kDouble && b.rep() == Rep::kDouble) return a.as_double() == b.as_double();
  if (a.rep() == Rep::kDouble) return integer_equals_double(b, a.as_double());
  if (b.rep() == Rep::kDouble) return integer_equals_double(a, b.as_double());
  if (a.rep() == b.rep()) return same_representation(a, b);
  const JsonNumber u = a.rep() == Rep::kUnsigned ? a : b;
  const JsonNumber s = a.rep() == Rep::kUnsigned ? b : a;
  return s.as_signed() >= 0 && static_cast<std::uint64_t>(s.as_signed()) == u.as_unsigned();
}

// Kind and content: [1] and [1.0] differ, object members match in any order.
inline bool same_nested(const JsonValue& a, const JsonValue& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case JsonKind::kNull:
      return true;
    case JsonKind::kBool:
      return a.as_bool() == b.as_bool();
    case JsonKind::kNumber:
      return same_representation(a.as_number(), b.as_number());
    case JsonKind::kString:
      return a.as_string() == b.as_string();
    case JsonKind::kArray: {
      const std::span<const JsonValue> x = a.as_array();
      const std::span<const JsonValue> y = b.as_array();
      if (x.size() != y.size()) return false;
      for (std::size_t k = 0; k < x.size(); ++k) {
        if (!same_nested(x[k], y[k])) return false;
      }
      return true;
    }
    case JsonKind::kObject: {
      const std::span<const JsonMember> x = a.as_object().members();
      const std::span<const JsonMember> y = b.as_object().members();
      if (x.size() != y.size()) return false;
      for (const JsonMember& m : x) {
        const JsonMember* match = nullptr;
        for (const JsonMember& n : y) {
          if (n.key.as_string() == m.key.as_string()) match = &n;
        }
        if (match == nullptr || !same_nested(m.value, match->value)) return false;
      }
      return true;
    }
  }
  return false;
}

// A cell's own numbers by value, everything inside it by kind and content.
inline bool same_cell(const JsonValue& a, const JsonValue& b) {
  if (a.is_number() && b.is_number()) return same_quantity(a.as_number(), b.as_number());
  return same_nested(a, b);
}

// The rows as a matrix: every key once, in order of first appearance, and per row a
// pointer to its value of each column, null where the row has none or holds null.
struct Matrix {
  std::vector<std::string_view> names;
  std::vector<const JsonValue*> cells;  // cells[r * names.size() + c]

  const JsonValue* cell(std::size_t r, std::size_t c) const { return cells[r * names.size() + c]; }
};

inline Matrix matrix_of(std::span<const JsonValue> rows) {
  Matrix m;
  std::unordered_map<std::string_view, std::size_t> index;
  for (const JsonValue& row : rows) {
    for (const JsonMember& member : row.as_object().members()) {
      if (index.emplace(member.key.as_string(), m.names.size()).second) {
        m.names.push_back(member.key.as_string());
      }
    }
  }
  m.cells.assign(rows.size() * m.names.size(), nullptr);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (const JsonMember& member : rows[r].as_object().members()) {
      // A repeated key: the last value counts, as in the reader's object.
      m.cells[r * m.names.size() + index.at(member.key.as_string())] =
          member.value.is_null() ? nullptr : &member.value;
    }
  }
  return m;
}

// Constant: two rows or more, and every row's cell equal to row 0's.
inline bool is_constant(const Matrix& m, std::size_t rows, std::size_t c) {
  if (rows < 2 || m.cell(0, c) == nullptr) return false;
  for (std::size_t r = 1; r < rows; ++r) {
    if (m.cell(r, c) == nullptr || !same_cell(*m.cell(r, c), *m.cell(0, c))) return false;
  }
  return true;
}

inline bool is_all_null(const Matrix& m, std::size_t rows, std::size_t c) {
  for (std::size_t r = 0; r < rows; ++r) {
    if (m.cell(r, c) != nullptr) return false;
  }
  return true;
}

inline void write_cell(const JsonValue* cell, std::string& out) {
  if (cell == nullptr) {
    out += "null";
  } else {
    json::serialize(*cell, out);
  }
}

inline std::string document_text(const Matrix& m, std::size_t rows,
                                 std::span<const std::size_t> varying,
                                 std::span<const std::size_t> constant) {
  std::string out = "{\"columns\":[";
  for (std::size_t k = 0; k < varying.size(); ++k) {
    if (k > 0) out += ',';
    json::serialize_str(m.names[varying[k]], out);
  }
  out += "],\"rows\":[";
  for (std::size_t r = 0; r < rows; ++r) {
    out += r > 0 ? ",[" : "[";
    for (std::size_t k = 0; k < varying.size(); ++k) {
      if (k > 0) out += ',';
      write_cell(m.cell(r, varying[k]), out);
    }
    out += ']';
  }
  out += "],\"constants\":{";
  for (std::size_t k = 0; k < constant.size(); ++k) {
    if (k > 0) out += ',';
    json::serialize_str(m.names[constant[k]], out);
    out += ':';
    write_cell(m.cell(0, constant[k]), out);
  }
  out += "}}";
  return out;
}

}  // namespace detail

// The columnar text of `payload`: the columns in order of first appearance, without those
// null or missing in every row; with two rows or more, a column is constant when every
// row's cell equals row 0's (its own numbers by value, so 1 == 1.0 but
// 9007199254740993 != 9007199254740992.0; values inside it by kind and content, object
// members in any order) and keeps row 0's value; every other column varies. Nothing, with
// `error` set, when the payload does not read or an element is not an object.
inline std::optional<std::string> reference_columnarize(std::string_view payload,
                                                        std::string& error) {
  json::Arena arena;
  auto read = json::read_sequence(arena, payload);
  if (!read.ok()) {
    error = "reader: " + read.error().display();
    return std::nullopt;
  }
  const std::span<const json::JsonValue> rows = read.value();
  for (const json::JsonValue& row : rows) {
    if (!row.is_object()) {
      error = "an element is not an object: " + json::display_text(row);
      return std::nullopt;
    }
  }
  const detail::Matrix m = detail::matrix_of(rows);
  std::vector<std::size_t> varying;
  std::vector<std::size_t> constant;
  for (std::size_t c = 0; c < m.names.size(); ++c) {
    if (detail::is_all_null(m, rows.size(), c)) continue;
    (detail::is_constant(m, rows.size(), c) ? constant : varying).push_back(c);
  }
  return detail::document_text(m, rows.size(), varying, constant);
}

}  // namespace velmar::reference
