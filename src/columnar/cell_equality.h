// Whether two cells of a column hold equal values: by their words and their texts in the
// payload where those settle it, which spares building trees for most cells. Internal to
// src/columnar.
#pragma once

#include <optional>

#include "json/packed_value.h"
#include "json/padded.h"
#include "json/value.h"

namespace velmar::columnar::detail {

// Numbers at the top of a cell compare by their exact mathematical value; anything else,
// numbers nested inside included, by the equality of the value model.
bool values_equal(const json::JsonValue& a, const json::JsonValue& b);

// values_equal of cells read from `input`, when their words settle it: a constant column's
// cells mostly have the same word, or are strings without escapes or writer texts,
// compared in the input. Unequal writer texts may still be equal values (members in
// another order), which only their trees tell.
std::optional<bool> words_tell_equal(json::PackedValue a, json::PackedValue b,
                                     json::PaddedView input);

}  // namespace velmar::columnar::detail
