// Column derivation: each row is taken once, as the reader reads it or from rows already
// read. Its members' columns are found, a repeated key's later value takes its first
// place, and only the row's cells are kept, in the arena; per column, whether it holds a
// non-null value and whether it still equals row 0 is tracked. Once every row is in, each
// member's column is turned into the place of its cell among the varying columns. No row
// matrix and no object per row is built: the writer takes the cells from the rows' lists.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "columnar/cell_equality.h"
#include "columnar/columnar.h"
#include "columnar/memory_budget.h"
#include "json/reader.h"
#include "json/writer.h"

namespace velmar::columnar {
namespace {

using detail::values_equal;
using detail::words_tell_equal;
using json::Arena;
using json::JsonMember;
using json::JsonObject;
using json::JsonValue;
using json::PackedMember;
using json::PackedValue;

constexpr std::uint32_t kNotVarying = ColumnarDocument::kNoCell<std::uint32_t>;

struct Column {
  static constexpr std::size_t kNoRow = static_cast<std::size_t>(-1);

  JsonValue name;
  // Row 0's value, when row 0 holds a non-null one; its tree once needed, in the arena.
  PackedValue reference;
  const JsonValue* reference_tree = nullptr;
  // The last writer text found equal to the reference by its tree.
  PackedValue also_equal{};
  std::size_t equal_rows = 0;            // rows whose cell equals the reference so far
  std::size_t last_row = kNoRow;         // the last row with a member in this column
  std::uint32_t position = kNotVarying;  // in the end, its place among the varying ones
  bool non_null_seen = false;
  bool still_equal = false;  // every row so far has a cell equal to the reference
};
// A power of two, so that the loops over every member find a column by a shift.
static_assert(sizeof(Column) == 64);

class Derivation final : public json::ObjectElementSink {
 public:
  // Rows read from `payload`, whose cells unpack with it; none for rows already read.
  explicit Derivation(Arena& arena, json::PaddedView payload = {})
      : arena_(arena), seen_(JsonObject::create(arena)), payload_(payload) {}

  // A row as the reader reads it. Row 0's text and the payload's size estimate how many
  // rows follow, so that the row lists are sized once: a list grown step by step leaves
  // each smaller copy in malloc's heap, resident until the call ends.
  void object_element(std::span<const PackedMember> members, std::string_view text) override {
    if (rows_.empty()) reserve_for(members.size(), estimated_rows(text.size()));
    add_row(members);
  }

  // Rows mostly have row 0's members, so its width sizes the column lists.
  void reserve_for(std::size_t width, std::size_t rows) {
    columns_.reserve(width);
    std::visit([&](auto& ids) { ids.reserve(width * rows); }, member_columns_);
    rows_.reserve(rows);
  }

  DeriveResult run(const MemoryLimit& memory_limit) {
    std::uint32_t varying = place_columns();
    if (auto too_large =
            detail::check_result_size(rows_.size(), varying, member_count(), memory_limit)) {
      return *too_large;
    }
    ColumnarDocument document;
    document.columns = column_names(varying);
    document.constants = constants();
    document.member_places = into_member_places();
    document.varying = varying;
    document.rows = std::move(rows_);
    document.input = payload_;
    return document;
  }

  // One row's members, in order, a repeated key included each time. Its cells are copied
  // into the arena, the later value of a repeated key at its first place, as the value
  // model keeps such an object; then each cell is observed, so that only a key's last value
  // counts.
  void add_row(std::span<const PackedMember> members) {
    widen_for(columns_.size() + members.size());
    std::visit([&](auto& ids) { add_row_to(ids, members); }, member_columns_);
  }

 private:
  // As many rows as row 0's text and a comma fit in the payload, a tenth more for rows
  // a little shorter; at most a row per 16 bytes of payload, so that a short row 0 cannot
  // reserve many times the payload's size (a larger count grows the lists as it comes).
  std::size_t estimated_rows(std::size_t row_text) const {
    const std::size_t rows = payload_.size() / (row_text + 1);
    return std::min(rows + rows / 10 + 1, payload_.size() / 16 + 1);
  }

  template <typename Id>
  void add_row_to(std::vector<Id>& ids, std::span<const PackedMember> members) {
    const bool first_row = rows_.empty();
    PackedValue* cells = arena_.allocate_array<PackedValue>(members.size());
    const std::size_t start = ids.size();
    std::ptrdiff_t shift = 0;
    std::size_t kept = 0;
    for (const PackedMember& member : members) {
      const std::uint32_t c = column_of(ids, member, kept, shift);
      if (columns_[c].last_row == rows_.size()) {
        cells[earlier_member(ids, start, c)] = member.value;
        continue;
      }
      columns_[c].last_row = rows_.size();
      ids.push_back(static_cast<Id>(c));
      cells[kept++] = member.value;
    }
    for (std::size_t m = 0; m < kept; ++m) observe(columns_[ids[start + m]], cells[m], first_row);
    rows_.emplace_back(cells, kept);
    previous_start_ = start;
    previous_size_ = kept;
    previous_members_ = members.size();
  }

  // Makes the member columns' type hold `columns` columns and kNoCell besides: a payload
  // of few columns keeps a byte a member, which becomes the member's place.
  void widen_for(std::size_t columns) {
    if (std::holds_alternative<std::vector<std::uint8_t>>(member_columns_)) {
      if (columns < UINT8_MAX) return;
      widen<std::uint16_t>(std::get<std::vector<std::uint8_t>>(member_columns_));
    }
    if (std::holds_alternative<std::vector<std::uint16_t>>(member_columns_)) {
      if (columns < UINT16_MAX) return;
      widen<std::uint32_t>(std::get<std::vector<std::uint16_t>>(member_columns_));
    }
  }

  template <typename To, typename From>
  void widen(std::vector<From>& narrow) {
    std::vector<To> wide;
    wide.reserve(narrow.capacity());
    wide.assign(narrow.begin(), narrow.end());
    member_columns_ = std::move(wide);
  }

  // The place in this row of the member already in column `c`: rare, so searched.
  template <typename Id>
  static std::size_t earlier_member(const std::vector<Id>& ids, std::size_t start,
                                    std::uint32_t c) {
    std::size_t m = start;
    while (ids[m] != c) ++m;
    return m - start;
  }

  // The column of the member's key, appending a new one on first appearance. Rows of one payload
  // mostly repeat the previous row's keys in the same order, so the column of the
  // previous row's member at the same position, moved by `shift`, is tried before the
  // seen set; then its neighbours, for a member that one of the two rows lacks, and a hit
  // there moves `shift` for the members after it.
  template <typename Id>
  std::uint32_t column_of(const std::vector<Id>& ids, const PackedMember& packed,
                          std::size_t member, std::ptrdiff_t& shift) {
    // A member the reader found to repeat the previous row's at a place has its column,
    // unless a key repeated there moved the previous row's later members.
    if (packed.repeats < previous_size_ && previous_members_ == previous_size_) {
      shift = static_cast<std::ptrdiff_t>(packed.repeats) - static_cast<std::ptrdiff_t>(member);
      return ids[previous_start_ + packed.repeats];
    }
    const JsonValue& key = packed.key;
    const auto here = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(member) + shift);
    if (here < previous_size_) {
      std::uint32_t guess = ids[previous_start_ + here];
      if (JsonValue::same_string(columns_[guess].name, key)) return guess;
    }
    for (const std::ptrdiff_t step : {std::ptrdiff_t{1}, std::ptrdiff_t{-1}}) {
      const auto at = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(member) + shift + step);
      if (at >= previous_size_) continue;  // also a negative place, wrapped around
      std::uint32_t guess = ids[previous_start_ + at];
      if (JsonValue::same_string(columns_[guess].name, key)) {
        shift += step;
        return guess;
      }
    }
    auto inserted = seen_.insert_full(arena_, key, JsonValue());
    if (!inserted.replaced) columns_.push_back(Column{key, PackedValue()});
    return static_cast<std::uint32_t>(inserted.position);
  }

  void observe(Column& column, PackedValue value, bool first_row) {
    if (value.is_null()) {
      column.still_equal = false;
      return;
    }
    column.non_null_seen = true;
    if (first_row) {
      column.reference = value;
      column.still_equal = true;
      column.equal_rows = 1;
    } else if (column.still_equal) {
      column.still_equal = equals_reference(column, value);
      ++column.equal_rows;
    }
  }

  [[gnu::noinline]] bool equals_reference(Column& column, PackedValue value) {
    if (auto told = words_tell_equal(value, column.reference, payload_)) return *told;
    if (value.form() != PackedValue::Form::kWriterText &&
        column.reference.form() != PackedValue::Form::kWriterText) {
      return values_equal(value.unpack(payload_), column.reference.unpack(payload_));
    }
    // Objects whose members come in one of two orders are common: the other order's text,
    // once found equal by its tree, settles the rows that repeat it.
    if (value.form() == PackedValue::Form::kWriterText &&
        column.also_equal.form() == PackedValue::Form::kWriterText &&
        value.writer_text(payload_).text() == column.also_equal.writer_text(payload_).text()) {
      return true;
    }
    if (column.reference_tree == nullptr) {
      JsonValue* tree = arena_.allocate_array<JsonValue>(1);
      column.reference_tree =
          std::construct_at(tree, json::unpack_value(arena_, column.reference, payload_));
    }
    if (!values_equal(json::unpack_value(arena_, value, payload_), *column.reference_tree)) {
      return false;
    }
    if (value.form() == PackedValue::Form::kWriterText) column.also_equal = value;
    return true;
  }

  // A column present with a non-null value equal to row 0's in every one of two or more
  // rows is constant; one never non-null is dropped; the rest vary, in column order.
  std::uint32_t place_columns() {
    std::uint32_t varying = 0;
    for (Column& column : columns_) {
      if (!column.non_null_seen || is_constant(column)) continue;
      column.position = varying++;
    }
    return varying;
  }

  bool is_constant(const Column& column) const {
    return column.non_null_seen && rows_.size() >= 2 && column.still_equal &&
           column.equal_rows == rows_.size();
  }

  std::size_t member_count() const {
    return std::visit([](const auto& ids) { return ids.size(); }, member_columns_);
  }

  // The place of every member's cell among the varying columns, in member order: each
  // member's column is replaced in place by its place, which is never larger, and a column
  // that does not vary by kNoCell of the type (its all-ones value, as kNotVarying
  // narrowed). The member columns are given up to the document.
  ColumnarDocument::MemberPlaces into_member_places() {
    std::visit(
        [&](auto& ids) {
          using Id = typename std::decay_t<decltype(ids)>::value_type;
          for (Id& id : ids) id = static_cast<Id>(columns_[id].position);
        },
        member_columns_);
    return std::move(member_columns_);
  }

  JsonValue column_names(std::uint32_t varying) {
    JsonValue* names = arena_.allocate_array<JsonValue>(varying);
    for (const Column& column : columns_) {
      if (column.position != kNotVarying) names[column.position] = column.name;
    }
    return JsonValue::array(names, varying);
  }

  JsonValue constants() {
    const auto count = std::count_if(columns_.begin(), columns_.end(),
                                     [this](const Column& column) { return is_constant(column); });
    JsonObject out = JsonObject::create(arena_, static_cast<std::size_t>(count));
    for (const Column& column : columns_) {
      if (is_constant(column))
        (void)out.insert_full(arena_, column.name,
                              json::unpack_value(arena_, column.reference, payload_));
    }
    return JsonValue::object(out);
  }

  Arena& arena_;
  std::vector<std::span<const PackedValue>> rows_;  // each row's cells
  JsonObject seen_;
  std::vector<Column> columns_;
  // The column of every member, row by row, in the narrowest type that holds every column
  // so far: the vectors that into_member_places() turns into the document's places.
  ColumnarDocument::MemberPlaces member_columns_;
  json::PaddedView payload_;          // what the rows were read from, when they were
  std::size_t previous_start_ = 0;    // the previous row's first member in member_columns_
  std::size_t previous_size_ = 0;     // its cells: its members less the repeated keys
  std::size_t previous_members_ = 0;  // its members, as the reader gave them
};

}  // namespace

DeriveResult derive_columns(Arena& arena, std::span<const JsonValue> rows,
                            const MemoryLimit& memory_limit) {
  Derivation derivation(arena);
  if (!rows.empty()) derivation.reserve_for(rows[0].as_object().size(), rows.size());
  std::vector<PackedMember> members;
  for (const JsonValue& row : rows) {
    members.clear();
    for (const JsonMember& member : row.as_object().members()) {
      members.push_back({member.key, PackedValue::of(member.value)});
    }
    derivation.add_row(members);
  }
  return derivation.run(memory_limit);
}

DeriveResult read_and_derive(Arena& arena, json::PaddedView payload,
                             const MemoryLimit& memory_limit) {
  Derivation derivation(arena, payload);
  auto others = json::read_sequence(arena, payload, derivation);
  if (!others.ok()) {
    return TransformError{"invalid row-oriented JSON: " + others.error().display()};
  }
  // The reader gave every object element to the derivation; the first other one fails.
  if (!others.value().empty()) {
    return TransformError{"expected a JSON object row, got: " +
                          json::display_text(others.value().front())};
  }
  return derivation.run(memory_limit);
}

}  // namespace velmar::columnar
