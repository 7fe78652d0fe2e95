// The payload reader, the chief header of the reading side: the whole input must be one
// JSON array; its elements come back in order, or a JsonError with the exact message and
// its line and byte column. src/json is this module's JSON library: a general reader,
// value model and writer, with a front end for the columnar transform's rows (the
// ObjectElementSink below, the packed values of a row's members, and the guess that a
// row repeats the previous row's keys and layout). grammar.h and reader.cpp hold the
// grammar, row_reader.cpp and row_repeats.h that front end; string_reader the strings;
// read_error.{h,cpp} the codes, messages and JsonError; number_reader, bytes.h and utf8.h
// the numbers, byte classes and UTF-8 rules; position the line and column; describe and
// quoted the invalid-type text.
#pragma once

#include <span>
#include <string_view>

#include "json/packed_value.h"
#include "json/padded.h"
#include "json/read_error.h"
#include "json/result.h"
#include "json/value.h"

namespace velmar::json {

// Reads `input` as one top-level JSON array and returns its elements, which live in
// `arena` (as does every node below them). Strings without escapes longer than an inline
// string refer to their text in `input`, so `input` must outlive the elements. Errors: every
// code of ErrorCode; see the message table for the texts. Nesting is limited to 127 levels,
// the top-level array being the first.
Result<std::span<JsonValue>, JsonError> read_sequence(Arena& arena, PaddedView input);

// The same for text that is not padded: it reads a padded copy made in `arena`, which
// the strings then refer to.
Result<std::span<JsonValue>, JsonError> read_sequence(Arena& arena, std::string_view input);

// Takes the members of each object element as they are read, in place of the object: a
// caller that needs only the members keeps no object handle and no member list of its own,
// and gets each value in a word.
class ObjectElementSink {
 public:
  // The members of one object element, in input order, a repeated key included each time
  // it occurs, and the element's text from its brace to its closing brace. The members are
  // valid for the call only; their values unpack with the input (unpack_value), and what
  // they refer to lives in the arena or the input.
  virtual void object_element(std::span<const PackedMember> members, std::string_view text) = 0;

 protected:
  ~ObjectElementSink() = default;
};

// read_sequence, with each object element given to `objects` as it is read and left out
// of the elements returned, which are the others, in order. On an error the sink may have
// been given some of the objects before it.
Result<std::span<JsonValue>, JsonError> read_sequence(Arena& arena, PaddedView input,
                                                      ObjectElementSink& objects);

// The value of a member's word from a sink's read of `input`: an array or object kept as
// its writer text is read again, into `arena`.
JsonValue unpack_value(Arena& arena, PackedValue value, PaddedView input);

}  // namespace velmar::json
