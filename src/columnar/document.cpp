// Writing the columnar document: the row matrix is never built; each row's cells are
// written straight from its cell list, in the order of their places among the varying
// columns.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "columnar/columnar.h"
#include "json/pages.h"
#include "json/writer.h"

namespace velmar::columnar {
namespace {

using json::JsonTextWriter;
using json::PackedValue;

// Rows mostly hold their members in column order, so their places rise: the cells are
// then written in member order, with nulls for the places skipped.
template <typename Place>
bool places_rise(std::span<const Place> places) {
  std::uint32_t next = 0;
  for (Place place : places) {
    if (place == ColumnarDocument::kNoCell<Place>) continue;
    if (place < next) return false;
    next = std::uint32_t{place} + 1;
  }
  return true;
}

void write_nulls(JsonTextWriter& out, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t i = from; i < to; ++i) {
    if (i != 0) out.raw(',');
    out.null();
  }
}

template <typename Place>
void write_rising_row(JsonTextWriter& out, std::span<const PackedValue> cells,
                      std::span<const Place> places, std::uint32_t varying,
                      json::PaddedView input) {
  std::uint32_t next = 0;
  for (std::size_t m = 0; m < cells.size(); ++m) {
    const Place place = places[m];
    if (place == ColumnarDocument::kNoCell<Place>) continue;
    write_nulls(out, next, place);
    if (place != 0) out.raw(',');
    out.value(cells[m], input);
    next = std::uint32_t{place} + 1;
  }
  write_nulls(out, next, varying);
}

// Any other order: the cells are gathered by place first. `slots` has `varying` entries,
// all null on entry and on return.
template <typename Place>
void write_gathered_row(JsonTextWriter& out, std::span<const PackedValue> cells,
                        std::span<const Place> places, std::vector<const PackedValue*>& slots,
                        json::PaddedView input) {
  for (std::size_t m = 0; m < cells.size(); ++m) {
    if (places[m] != ColumnarDocument::kNoCell<Place>) slots[places[m]] = &cells[m];
  }
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (i != 0) out.raw(',');
    if (slots[i] != nullptr) {
      out.value(*slots[i], input);
    } else {
      out.null();
    }
  }
  for (Place place : places) {
    if (place != ColumnarDocument::kNoCell<Place>) slots[place] = nullptr;
  }
}

template <typename Place>
void write_rows(JsonTextWriter& out, const ColumnarDocument& document,
                std::span<const Place> member_places) {
  std::span<const std::span<const PackedValue>> rows = document.rows;
  const std::uint32_t varying = document.varying;
  std::vector<const PackedValue*> slots;
  std::size_t first_member = 0;
  // The writer is told where the text is expected to end, for its huge pages.
  const std::size_t rows_start = out.size();
  std::size_t r = 0;
  while (r < rows.size()) {
    for (const std::size_t batch_end = std::min(rows.size(), r + json::pages::kRowsPerTextEstimate);
         r < batch_end; ++r) {
      std::span<const PackedValue> cells = rows[r];
      std::span<const Place> places(member_places.data() + first_member, cells.size());
      first_member += cells.size();
      if (r != 0) out.raw(',');
      out.raw('[');
      if (places_rise(places)) {
        write_rising_row(out, cells, places, varying, document.input);
      } else {
        if (slots.empty()) slots.assign(varying, nullptr);
        write_gathered_row(out, cells, places, slots, document.input);
      }
      out.raw(']');
    }
    out.expect_size(json::pages::expected_rows_end(rows_start, out.size(), r, rows.size()));
  }
}

}  // namespace

void ColumnarDocument::write_text(std::string& text, std::size_t size_hint) const {
  JsonTextWriter out(text, size_hint);
  out.raw("{\"columns\":");
  out.value(columns);
  out.raw(",\"rows\":[");
  std::visit(
      [&](const auto& places) { write_rows(out, *this, std::span(places.data(), places.size())); },
      member_places);
  out.raw("],\"constants\":");
  out.value(constants);
  out.raw('}');
  out.finish();
}

}  // namespace velmar::columnar
