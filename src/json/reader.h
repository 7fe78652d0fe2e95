// The payload reader, the chief header of the reading side: the whole input must be one
// JSON array; its elements come back in order, or a JsonError with the exact message and
// its line and byte column. reader.cpp holds the grammar; read_error.{h,cpp} the codes,
// messages and JsonError; number_reader, bytes.h and utf8.h the numbers, byte classes
// and UTF-8 rules; position the line and column; describe and quoted the invalid-type
// text.
#pragma once

#include <span>
#include <string_view>

#include "json/read_error.h"
#include "json/result.h"
#include "json/value.h"

namespace velmar::json {

// Reads `input` as one top-level JSON array and returns its elements, which live in
// `arena` (as does every node below them). Strings without escapes longer than an inline
// string refer to their text in `input`, so `input` must outlive the elements. Errors: every code
// of ErrorCode; see the message table for the texts. Nesting is limited to 127 levels, the
// top-level array being the first.
Result<std::span<JsonValue>, JsonError> read_sequence(Arena& arena, std::string_view input);

}  // namespace velmar::json
