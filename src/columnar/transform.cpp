// columnarize_json: read the payload, check that every element is an object, derive the
// document and write it. All of it lives in one arena that dies with the call.
#include <string>
#include <utility>

#include "columnar/columnar.h"
#include "json/reader.h"
#include "json/writer.h"

namespace velmar::columnar {

TransformResult columnarize_json(std::string_view payload) {
  json::Arena arena;
  // The tree takes about as many bytes as the text it came from.
  arena.reserve(payload.size());
  auto elements = json::read_sequence(arena, payload);
  if (!elements.ok()) {
    return TransformError{"invalid row-oriented JSON: " + elements.error().display()};
  }
  // The element list is the row list once every element is known to be an object.
  std::span<json::JsonValue> rows = elements.value();
  for (const json::JsonValue& element : rows) {
    if (!element.is_object()) {
      return TransformError{"expected a JSON object row, got: " + json::display_text(element)};
    }
  }
  DeriveResult document = derive_columns(arena, rows, memory_available);
  if (!document.ok()) return std::move(document).error();
  return json::to_json_bytes(document.value(), payload.size());
}

}  // namespace velmar::columnar
