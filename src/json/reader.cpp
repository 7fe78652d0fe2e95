// The payload reader's containers and top level, and the entry points of reader.h; the
// Reader class and its inline steps are grammar.h's, the row front end row_reader.cpp's.
// Line and column are computed only for the error that ends a read.
#include "json/reader.h"

#include <cassert>
#include <memory>
#include <string>
#include <utility>

#include "json/describe.h"
#include "json/grammar.h"
#include "json/position.h"
#include "json/simd.h"

namespace velmar::json {
namespace detail {

Result<std::span<JsonValue>, JsonError> Reader::read_sequence() {
  if (!read_top_level()) return make_error();
  JsonValue* items = arena_.allocate_array<JsonValue>(items_.size());
  std::uninitialized_copy(items_.begin(), items_.end(), items);
  return std::span<JsonValue>(items, items_.size());
}

JsonValue Reader::read_known_value() {
  JsonValue value;
  [[maybe_unused]] const bool read = read_value(value);
  assert(read);
  return value;
}

JsonError Reader::make_error() {
  Position pos = position_of_index({begin_, size()}, error_index_);
  if (code_ == ErrorCode::kInvalidType) {
    return JsonError::invalid_type(std::move(description_), pos.line, pos.column);
  }
  return JsonError(code_, pos.line, pos.column);
}

bool Reader::read_top_level() {
  skip_whitespace();
  if (cur_ == end_) return error(ErrorCode::kEofWhileParsingValue);
  if (*cur_ != '[') return reject_non_array();
  ++cur_;
  --remaining_depth_;  // the first level always fits
  if (!read_top_level_elements()) return false;
  ++remaining_depth_;
  skip_whitespace();
  if (cur_ != end_) return peek_error(ErrorCode::kTrailingCharacters);
  return true;
}

// The elements of an array whose "[" has been consumed, pushed onto items_.
inline bool Reader::read_elements() {
  return read_items<']'>(ErrorCode::kEofWhileParsingList, ErrorCode::kExpectedListCommaOrEnd,
                         [this] { return read_element(); });
}

// The top-level array's elements: as any array's, but a sink, when there is one, takes
// the objects.
inline bool Reader::read_top_level_elements() {
  return read_items<']'>(ErrorCode::kEofWhileParsingList, ErrorCode::kExpectedListCommaOrEnd,
                         [this] {
                           if (objects_ != nullptr && *cur_ == '{') return read_object_element();
                           return read_element();
                         });
}

// The members of an object whose "{" has been consumed, pushed onto members_.
inline bool Reader::read_members() {
  return read_items<'}'>(ErrorCode::kEofWhileParsingObject, ErrorCode::kExpectedObjectCommaOrEnd,
                         [this] { return read_member(); });
}

// An array or object, at its opening byte. It takes one level of the depth budget for
// its items, which are gathered on items_ or members_ and moved into the arena.
bool Reader::read_container(JsonValue& out) {
  if (--remaining_depth_ == 0) return peek_error(ErrorCode::kRecursionLimitExceeded);
  if (items_.capacity() == 0) reserve_stacks();
  if (*cur_++ == '[') {
    std::size_t base = items_.size();
    if (!read_elements()) return false;
    const std::size_t n = items_.size() - base;
    auto* items = arena_.allocate_array<JsonValue>(n);
    copy_by_blocks(items, items_.data() + base, n);
    out = JsonValue::array(items, n);
    items_.resize(base);
  } else {
    std::size_t base = members_.size();
    if (!read_members()) return false;
    out = JsonValue::object(
        JsonObject::from_members(arena_, std::span<const JsonMember>(members_).subspan(base)));
    members_.resize(base);
  }
  ++remaining_depth_;
  return true;
}

// MARK: - The invalid-type error

// A top-level value that is not an array fails with the "invalid type" message that
// describes it. An object is described by its brace alone and the error is at the brace;
// a scalar is read in full, as inside an array (an error inside it is the read's error),
// and the error is after it. Nothing after the value is looked at.
bool Reader::reject_non_array() {
  if (*cur_ == '{') {
    description_ = "map";
  } else {
    JsonValue scalar;
    if (!read_value(scalar)) return false;
    description_ = describe_scalar(scalar);
  }
  return error(ErrorCode::kInvalidType);
}

}  // namespace detail

Result<std::span<JsonValue>, JsonError> read_sequence(Arena& arena, PaddedView input) {
  return detail::Reader(arena, input).read_sequence();
}

Result<std::span<JsonValue>, JsonError> read_sequence(Arena& arena, std::string_view input) {
  return read_sequence(arena, pad_in(arena, input));
}

Result<std::span<JsonValue>, JsonError> read_sequence(Arena& arena, PaddedView input,
                                                      ObjectElementSink& objects) {
  return detail::Reader(arena, input, &objects).read_sequence();
}

JsonValue unpack_value(Arena& arena, PackedValue value, PaddedView input) {
  if (value.form() != PackedValue::Form::kWriterText) return value.unpack(input);
  return detail::Reader(arena, value.writer_text(input)).read_known_value();
}

}  // namespace velmar::json
