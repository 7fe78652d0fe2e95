// The RapidJSON columnarizer: parse to a DOM, one pass over the rows to find the columns and
// track nulls and equality with row 0, a second pass that writes each row's cells.
#include "rapidjson_columnar.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace velmar::bench {
namespace {

using rapidjson::Value;

std::string_view name_of(const Value& s) { return {s.GetString(), s.GetStringLength()}; }

// Top-level numbers: equal mathematical values. An integer equals a double only when the
// double is whole and in the integer's range, compared as integers so that nothing rounds.
bool same_quantity(const Value& a, const Value& b) {
  if (a.IsDouble() && b.IsDouble()) return a.GetDouble() == b.GetDouble();
  if (!a.IsDouble() && !b.IsDouble()) {
    if (a.IsUint64() && b.IsUint64()) return a.GetUint64() == b.GetUint64();
    return a.IsInt64() && b.IsInt64() && a.GetInt64() == b.GetInt64();
  }
  const Value& integer = a.IsDouble() ? b : a;
  const double d = a.IsDouble() ? a.GetDouble() : b.GetDouble();
  if (std::trunc(d) != d) return false;
  if (integer.IsUint64()) {
    return d >= 0 && d < 18446744073709551616.0 &&
           static_cast<std::uint64_t>(d) == integer.GetUint64();
  }
  return d >= -9223372036854775808.0 && d < 9223372036854775808.0 &&
         static_cast<std::int64_t>(d) == integer.GetInt64();
}

// Nested values: same kind and representation ([1] is not [1.0]), members in any order.
bool same_nested(const Value& a, const Value& b) {
  if (a.GetType() != b.GetType()) return false;
  switch (a.GetType()) {
    case rapidjson::kNullType:
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      return true;
    case rapidjson::kNumberType:
      if (a.IsDouble() || b.IsDouble()) {
        return a.IsDouble() && b.IsDouble() && a.GetDouble() == b.GetDouble();
      }
      if (a.IsUint64() && b.IsUint64()) return a.GetUint64() == b.GetUint64();
      return a.IsInt64() && b.IsInt64() && a.GetInt64() == b.GetInt64();
    case rapidjson::kStringType:
      return name_of(a) == name_of(b);
    case rapidjson::kArrayType: {
      if (a.Size() != b.Size()) return false;
      for (rapidjson::SizeType k = 0; k < a.Size(); ++k) {
        if (!same_nested(a[k], b[k])) return false;
      }
      return true;
    }
    case rapidjson::kObjectType: {
      if (a.MemberCount() != b.MemberCount()) return false;
      for (const auto& m : a.GetObject()) {
        auto found = b.FindMember(m.name);
        if (found == b.MemberEnd() || !same_nested(m.value, found->value)) return false;
      }
      return true;
    }
  }
  return false;
}

bool same_cell(const Value& a, const Value& b) {
  if (a.IsNumber() && b.IsNumber()) return same_quantity(a, b);
  return same_nested(a, b);
}

struct Column {
  std::string_view name;
  const Value* reference = nullptr;  // row 0's value, when it is there and not null
  std::size_t equal_rows = 0;        // rows so far whose value equals the reference
  bool non_null_seen = false;
};

constexpr std::uint32_t kNotVarying = UINT32_MAX;

// Ordered comparison for rapidjson_same_document: the two writers differ only in texts.
bool same_written(const Value& a, const Value& b) {
  if (a.GetType() != b.GetType()) return false;
  switch (a.GetType()) {
    case rapidjson::kObjectType: {
      if (a.MemberCount() != b.MemberCount()) return false;
      for (auto x = a.MemberBegin(), y = b.MemberBegin(); x != a.MemberEnd(); ++x, ++y) {
        if (name_of(x->name) != name_of(y->name) || !same_written(x->value, y->value)) {
          return false;
        }
      }
      return true;
    }
    case rapidjson::kArrayType: {
      if (a.Size() != b.Size()) return false;
      for (rapidjson::SizeType k = 0; k < a.Size(); ++k) {
        if (!same_written(a[k], b[k])) return false;
      }
      return true;
    }
    default:
      return same_nested(a, b);
  }
}

}  // namespace

std::optional<std::string> rapidjson_columnarize(std::string_view payload) {
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseValidateEncodingFlag>(payload.data(), payload.size());
  if (doc.HasParseError() || !doc.IsArray()) return std::nullopt;
  const auto rows = doc.GetArray();

  std::unordered_map<std::string_view, std::uint32_t> index;
  std::vector<Column> columns;
  std::vector<std::uint32_t> member_columns;  // the column of every member, row by row
  for (rapidjson::SizeType r = 0; r < rows.Size(); ++r) {
    if (!rows[r].IsObject()) return std::nullopt;
    for (const auto& m : rows[r].GetObject()) {
      auto [it, added] = index.try_emplace(name_of(m.name), columns.size());
      if (added) columns.push_back(Column{name_of(m.name)});
      member_columns.push_back(it->second);
      Column& column = columns[it->second];
      if (m.value.IsNull()) continue;
      column.non_null_seen = true;
      if (r == 0) {
        column.reference = &m.value;
        column.equal_rows = 1;
      } else if (column.reference != nullptr && column.equal_rows == r &&
                 same_cell(m.value, *column.reference)) {
        ++column.equal_rows;
      }
    }
  }

  std::vector<std::uint32_t> position(columns.size(), kNotVarying);
  std::vector<std::uint32_t> constants;
  std::uint32_t varying = 0;
  for (std::uint32_t c = 0; c < columns.size(); ++c) {
    if (!columns[c].non_null_seen) continue;
    if (rows.Size() >= 2 && columns[c].equal_rows == rows.Size()) {
      constants.push_back(c);
    } else {
      position[c] = varying++;
    }
  }

  rapidjson::StringBuffer buffer;
  buffer.Reserve(payload.size());
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  auto write_name = [&writer](std::string_view name, bool key) {
    const auto size = static_cast<rapidjson::SizeType>(name.size());
    key ? writer.Key(name.data(), size) : writer.String(name.data(), size);
  };
  writer.StartObject();
  writer.Key("columns");
  writer.StartArray();
  std::vector<std::string_view> names(varying);
  for (std::uint32_t c = 0; c < columns.size(); ++c) {
    if (position[c] != kNotVarying) names[position[c]] = columns[c].name;
  }
  for (std::string_view name : names) write_name(name, false);
  writer.EndArray();
  writer.Key("rows");
  writer.StartArray();
  std::vector<const Value*> cells(varying);
  std::size_t next = 0;
  for (const Value& row : rows) {
    std::fill(cells.begin(), cells.end(), nullptr);
    for (const auto& m : row.GetObject()) {
      const std::uint32_t p = position[member_columns[next++]];
      if (p != kNotVarying) cells[p] = &m.value;
    }
    writer.StartArray();
    for (const Value* cell : cells) {
      if (cell != nullptr) {
        cell->Accept(writer);
      } else {
        writer.Null();
      }
    }
    writer.EndArray();
  }
  writer.EndArray();
  writer.Key("constants");
  writer.StartObject();
  for (std::uint32_t c : constants) {
    write_name(columns[c].name, true);
    columns[c].reference->Accept(writer);
  }
  writer.EndObject();
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

bool rapidjson_same_document(std::string_view a, std::string_view b) {
  rapidjson::Document x;
  rapidjson::Document y;
  x.Parse<rapidjson::kParseFullPrecisionFlag>(a.data(), a.size());
  y.Parse<rapidjson::kParseFullPrecisionFlag>(b.data(), b.size());
  return !x.HasParseError() && !y.HasParseError() && same_written(x, y);
}

}  // namespace velmar::bench
