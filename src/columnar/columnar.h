// The columnar transform: a row-oriented JSON payload (an array of objects) in, the
// compact text of {"columns":[...],"rows":[[...],...],"constants":{...}} out.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "json/result.h"
#include "json/value.h"

namespace velmar::columnar {

// A failure of the transform, carried as its complete message.
struct TransformError {
  std::string message;
};

using TransformResult = json::Result<std::string, TransformError>;

// Transforms `payload`. Fails with "invalid row-oriented JSON: <reader error>" or
// "expected a JSON object row, got: <element>". Touches no shared mutable state.
TransformResult columnarize_json(std::string_view payload);

// Builds the document from `rows`, every one an object: the columns in order of first
// appearance without the all-null ones, the row matrix of the varying columns, and the
// constants (only with two rows or more). The document lives in `arena`; the rows are
// consumed (their values are moved into it).
json::JsonValue derive_columns(json::Arena& arena, std::span<const json::JsonValue> rows);

}  // namespace velmar::columnar
