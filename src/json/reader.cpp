// The payload reader's grammar and its row front end (object elements to a sink, values
// packed in words): one pass that keeps a byte index, a depth budget and reusable stacks;
// line and column are computed only for the error that ends a read.
#include "json/reader.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "json/bytes.h"
#include "json/describe.h"
#include "json/number_reader.h"
#include "json/position.h"
#include "json/simd.h"
#include "json/string_reader.h"
#include "json/utf8_scan.h"
#include "json/writer_text.h"

namespace velmar::json {
namespace detail {
namespace {

// Every grammar function reads from the index on and returns false on the first error,
// which it has recorded with `error` or `peek_error`.
class Reader : StringReader {
 public:
  Reader(Arena& arena, PaddedView input, ObjectElementSink* objects = nullptr)
      : StringReader(arena, input), objects_(objects) {
    // Room for a small payload's items and members at once, so that its stacks are
    // allocated once rather than grown from empty. With a sink, the rows' members go to
    // their own stack, and the others wait for the first nested container, which flat rows
    // never have.
    if (objects != nullptr) {
      packed_members_.reserve(kInitialStackRoom);
      previous_row_.reserve(kInitialStackRoom);
    } else {
      reserve_stacks();
    }
  }

  Result<std::span<JsonValue>, JsonError> read_sequence();
  // The value at the start of the input, which the reader has read before (a writer text).
  JsonValue read_known_value();

 private:
  // The remaining depth before the top-level array: 127 levels can be opened.
  static constexpr std::uint8_t kStartDepth = 128;
  static constexpr std::size_t kInitialStackRoom = 64;

  void reserve_stacks() {
    items_.reserve(kInitialStackRoom);
    members_.reserve(kInitialStackRoom);
  }

  JsonError make_error();

  // Where a value is read to: a handle, or a word for the members a sink takes.
  void set_bool(JsonValue& out, bool b) { out = JsonValue::boolean(b); }
  void set_bool(PackedValue& out, bool b) { out = PackedValue::boolean(b); }
  void set_number(JsonValue& out, JsonNumber n) { out = JsonValue::number(n); }
  void set_number(PackedValue& out, JsonNumber n) {
    if (!PackedValue::pack_number(n, out)) out = PackedValue::copied(arena_, JsonValue::number(n));
  }
  using StringReader::set_raw_string;
  void set_raw_string(PackedValue& out, std::string_view text) {
    if (PackedValue::pack_raw_string({begin_, size()}, text.data(), text.size(), out)) return;
    JsonValue handle;
    set_raw_string(handle, text);
    out = PackedValue::copied(arena_, handle);
  }
  // A value that only a handle holds (a container, a string with escapes), read by `read`
  // into `out`, or into a handle that the word then refers to.
  template <typename Out, typename Read>
  bool read_as_handle(Out& out, Read read) {
    if constexpr (std::is_same_v<Out, JsonValue>) {
      return read(out);
    } else {
      JsonValue handle;
      if (!read(handle)) return false;
      out = PackedValue::copied(arena_, handle);
      return true;
    }
  }

  bool read_top_level();
  bool reject_non_array();
  template <typename Out>
  [[gnu::always_inline]] bool read_value(Out& out);
  template <char kClose, typename ReadItem>
  bool read_items(ErrorCode eof_code, ErrorCode expected_code, ReadItem read_item);
  template <typename Member>
  bool read_member(std::vector<Member>& members);
  template <typename Member>
  [[gnu::always_inline]] bool read_key(const std::vector<Member>& members, JsonValue& key);
  bool read_element();
  bool read_elements();
  bool read_top_level_elements();
  bool read_object_element();
  bool read_members();
  [[gnu::noinline]] bool read_container(JsonValue& out);
  bool read_writer_text(PackedValue& out);
  bool previous_was_read_as_tree() const;
  template <typename Out>
  [[gnu::always_inline]] bool read_number(Out& out);
  template <typename Out>
  [[gnu::always_inline]] bool read_string(Out& out);

  ObjectElementSink* objects_;  // takes the object elements when set
  std::uint8_t remaining_depth_ = kStartDepth;
  std::vector<JsonValue> items_;              // elements of the arrays being read, innermost last
  std::vector<JsonMember> members_;           // members of the objects being read, innermost last
  std::vector<PackedMember> packed_members_;  // of the object element a sink takes
  std::vector<PackedMember> previous_row_;    // the one before, whose keys the next repeats
  std::string description_;                   // of the value a kInvalidType error describes
};

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

// MARK: - Values

// One value, stored into `out`, a local of the element or member loop that is pushed onto
// its stack once read (a reference into a stack would not survive a nested container
// growing it). Scalars are read here, inside those loops; containers out of line.
// Precondition: cur_ < end_ and cur_ is not at whitespace.
template <typename Out>
inline bool Reader::read_value(Out& out) {
  switch (*cur_) {
    case 'n':
      ++cur_;
      out = Out();  // null
      return read_literal(kNullRest);
    case 't':
      ++cur_;
      set_bool(out, true);
      return read_literal(kTrueRest);
    case 'f':
      ++cur_;
      set_bool(out, false);
      return read_literal(kFalseRest);
    case '"':
      ++cur_;
      return read_string(out);
    case '[':
    case '{':
      if constexpr (std::is_same_v<Out, PackedValue>) {
        if (read_writer_text(out)) return true;
      }
      return read_as_handle(out, [this](JsonValue& v) { return read_container(v); });
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      return read_number(out);
    default:
      return peek_error(ErrorCode::kExpectedValue);
  }
}

// The items of a container that `kClose` ends, after its opening byte: `read_item` reads
// one at the index, and a comma separates each from the next.
template <char kClose, typename ReadItem>
inline bool Reader::read_items(ErrorCode eof_code, ErrorCode expected_code, ReadItem read_item) {
  skip_whitespace();
  if (cur_ == end_) return error(eof_code);
  if (*cur_ == kClose) {
    ++cur_;
    return true;
  }
  for (;;) {
    if (!read_item()) return false;
    skip_whitespace();
    if (cur_ == end_) return error(eof_code);
    char c = *cur_;
    if (c == kClose) {
      ++cur_;
      return true;
    }
    if (c != ',') return peek_error(expected_code);
    ++cur_;
    skip_whitespace();
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingValue);
    if (*cur_ == kClose) return peek_error(ErrorCode::kTrailingComma);
  }
}

// One element, pushed onto items_.
inline bool Reader::read_element() {
  JsonValue item;
  if (!read_value(item)) return false;
  items_.push_back(item);
  return true;
}

// The elements of an array whose "[" has been consumed, pushed onto items_.
bool Reader::read_elements() {
  return read_items<']'>(ErrorCode::kEofWhileParsingList, ErrorCode::kExpectedListCommaOrEnd,
                         [this] { return read_element(); });
}

// The top-level array's elements: as any array's, but a sink, when there is one, takes
// the objects.
bool Reader::read_top_level_elements() {
  return read_items<']'>(ErrorCode::kEofWhileParsingList, ErrorCode::kExpectedListCommaOrEnd,
                         [this] {
                           if (objects_ != nullptr && *cur_ == '{') return read_object_element();
                           return read_element();
                         });
}

// An object element, at its brace: its members go to the sink with their values packed,
// never into the arena. It takes a level of the depth budget as any object does (the
// second, which always fits).
bool Reader::read_object_element() {
  --remaining_depth_;
  const char* brace = cur_++;
  const bool read =
      read_items<'}'>(ErrorCode::kEofWhileParsingObject, ErrorCode::kExpectedObjectCommaOrEnd,
                      [this] { return read_member(packed_members_); });
  if (!read) return false;
  objects_->object_element(packed_members_, {brace, static_cast<std::size_t>(cur_ - brace)});
  std::swap(packed_members_, previous_row_);
  packed_members_.clear();
  ++remaining_depth_;
  return true;
}

// The members of an object whose "{" has been consumed, pushed onto members_.
bool Reader::read_members() {
  return read_items<'}'>(ErrorCode::kEofWhileParsingObject, ErrorCode::kExpectedObjectCommaOrEnd,
                         [this] { return read_member(members_); });
}

// One member: its key, the colon, its value, pushed onto `members`.
template <typename Member>
inline bool Reader::read_member(std::vector<Member>& members) {
  if (*cur_ != '"') return peek_error(ErrorCode::kKeyMustBeAString);
  ++cur_;
  Member member;
  if (!read_key(members, member.key)) return false;
  if (!skip_colon()) return false;
  if (!read_value(member.value)) return false;
  members.push_back(member);
  return true;
}

// A key after its opening quote. A row's keys mostly repeat the previous row's, in order,
// so the key at the same place there is tried first: its length is known before this
// key's bytes are compared, so the next member's address waits on no scan for the quote.
template <typename Member>
inline bool Reader::read_key(const std::vector<Member>& members, JsonValue& key) {
  if constexpr (std::is_same_v<Member, PackedMember>) {
    const std::size_t i = members.size();
    if (i < previous_row_.size() && read_expected_key(previous_row_[i].key, key)) {
      return true;
    }
  }
  return read_string(key);
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

// Whether the previous row's member at this place was an array or object read as a tree:
// its text was not the writer's, and a row's member mostly has the same form as the one
// before, so the scan would most likely fail again, possibly late in the text.
bool Reader::previous_was_read_as_tree() const {
  const std::size_t i = packed_members_.size();
  if (i >= previous_row_.size()) return false;
  const PackedValue before = previous_row_[i].value;
  if (before.form() == PackedValue::Form::kArray) return true;
  return before.form() == PackedValue::Form::kHandle &&
         (before.handle().is_array() || before.handle().is_object());
}

// A member's array or object as its text, when that is its writer text (writer_text.h):
// no tree is built for it. False, having consumed nothing, when it is not.
bool Reader::read_writer_text(PackedValue& out) {
  if (previous_was_read_as_tree()) return false;
  const char* stop = writer_text_end(cur_, end_, remaining_depth_);
  if (stop == nullptr || !PackedValue::pack_writer_text(
                             {begin_, size()}, cur_, static_cast<std::size_t>(stop - cur_), out)) {
    return false;
  }
  cur_ = stop;
  return true;
}

// The number grammar and its conversion are number_reader.h's; this maps its outcome.
template <typename Out>
inline bool Reader::read_number(Out& out) {
  JsonNumber n = JsonNumber::from_unsigned(0);
  switch (detail::read_number(cur_, end_, n)) {
    case NumberStatus::kOk:
      set_number(out, n);
      return true;
    case NumberStatus::kEof:
      return error(ErrorCode::kEofWhileParsingValue);
    case NumberStatus::kInvalid:
      return error(ErrorCode::kInvalidNumber);
    case NumberStatus::kOutOfRange:
      return error(ErrorCode::kNumberOutOfRange);
  }
  return error(ErrorCode::kInvalidNumber);  // not reached: the switch is exhaustive
}

// A string after its opening quote. Without an escape its text is the raw run in the
// input; with one, read_escaped_string assembles it (string_reader.h).
template <typename Out>
inline bool Reader::read_string(Out& out) {
  const char* run = cur_;
  std::uint64_t seen = 0;
  const char* stop = find_raw_run_end(cur_, end_, seen);
  cur_ = stop;
  if (stop == end_) return error(ErrorCode::kEofWhileParsingString);
  char c = *cur_++;
  if (c != '"') {
    if (c != '\\') return error(ErrorCode::kControlCharacterInString);
    return read_as_handle(
        out, [this, run, seen](JsonValue& v) { return read_escaped_string(v, run, seen); });
  }
  const PaddedView text = input_part(run, stop);
  if (seen != 0 && !is_valid_utf8(text)) {
    return error(ErrorCode::kInvalidUnicodeCodePoint);
  }
  set_raw_string(out, text.text());
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

}  // namespace
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
