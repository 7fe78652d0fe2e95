// The reader's grammar, internal to src/json: the Reader class, which reads the payload in
// one pass that keeps a byte index, a depth budget and reusable stacks, and its inline
// steps (a value, a container's items, a member, a number, a string). reader.cpp holds the
// containers and the top level, row_reader.cpp the row front end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "json/arena.h"
#include "json/number_reader.h"
#include "json/packed_value.h"
#include "json/padded.h"
#include "json/read_error.h"
#include "json/reader.h"
#include "json/result.h"
#include "json/row_repeats.h"
#include "json/string_reader.h"
#include "json/utf8_scan.h"
#include "json/value.h"

namespace velmar::json::detail {

// Every grammar function reads from the index on and returns false on the first error,
// which it has recorded with `error` or `peek_error`.
class Reader : StringReader {
 public:
  Reader(Arena& arena, PaddedView input, ObjectElementSink* objects = nullptr)
      : StringReader(arena, input), objects_(objects) {
    // Room for a small payload's items and members at once, so that its stacks are
    // allocated once rather than grown from empty. With a sink, the rows' members go to
    // their own stack, and the others wait for the first nested container, which flat rows
    // never have. The rows' stacks start at 1 KB at most, the largest block that malloc
    // hands back from its per-thread cache without a search of its bins.
    if (objects != nullptr) {
      packed_members_.reserve(kInitialRowRoom);
      previous_row_.reserve(kInitialRowRoom);
      leads_.reserve(kInitialStackRoom);
      previous_leads_.reserve(kInitialStackRoom);
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
  static constexpr std::size_t kInitialRowRoom = 1024 / sizeof(PackedMember);
  static constexpr std::size_t kNoPlace = static_cast<std::size_t>(-1);
  static constexpr std::size_t kKeyReach = 4;

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
  // A double by its digits, for a word without the double itself.
  void set_digits(JsonValue& out, const DecimalDigits& d) { out = JsonValue::number(to_number(d)); }
  void set_digits(PackedValue& out, const DecimalDigits& d) {
    out = PackedValue::digits(d.negative, d.digits, d.k);
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
  [[gnu::always_inline]] bool read_member();
  template <typename Member>
  [[gnu::always_inline]] bool read_member_head(JsonValue& key);
  template <typename Member>
  [[gnu::always_inline]] bool read_key(JsonValue& key);
  bool read_element();
  bool read_elements();
  bool read_top_level_elements();
  bool read_object_element();
  // Flattened: every step it takes is inlined into it, as steps called once are inlined
  // only when no other file could call them.
  [[gnu::flatten]] bool read_row_members();
  bool read_row_separator(bool first, bool& ended);
  std::size_t repeated_lead(bool first);
  bool repeats_lead_at(std::size_t j, bool first) const;
  [[gnu::noinline]] std::size_t shifted_repeated_lead(bool first);
  bool follow_key(PackedMember& member, bool after_miss);
  [[gnu::noinline]] bool follow_moved_key(PackedMember& member);
  bool read_members();
  [[gnu::noinline]] bool read_container(JsonValue& out);
  bool pack_writer_text(const char* start, const char* stop, TextRewrites rewrites,
                        PackedValue& out) const;
  bool read_writer_text(PackedValue& out);
  const char* repeated_writer_text(bool& was_tree, PackedValue& out) const;
  [[gnu::noinline]] bool read_escaped_writer_text(PackedValue& out, const char* run,
                                                  std::uint64_t seen);
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
  std::vector<MemberLead> leads_;             // of packed_members_
  std::vector<MemberLead> previous_leads_;    // of previous_row_
  // The place in the previous row of the member that the row member being read likely
  // repeats, and that row's member count: kept as members, as the vectors' sizes are
  // reloaded after every store of a byte.
  std::size_t place_ = 0;
  std::size_t previous_count_ = 0;
  std::string description_;  // of the value a kInvalidType error describes
};

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

// One member of an object that is not a row: its key, the colon, its value, pushed onto
// members_.
inline bool Reader::read_member() {
  JsonMember member;
  if (!read_member_head<JsonMember>(member.key)) return false;
  if (!read_value(member.value)) return false;
  members_.push_back(member);
  return true;
}

// A member's key and the colon after it, up to its value.
template <typename Member>
inline bool Reader::read_member_head(JsonValue& key) {
  if (*cur_ != '"') return peek_error(ErrorCode::kKeyMustBeAString);
  ++cur_;
  return read_key<Member>(key) && skip_colon();
}

// A key after its opening quote. A row's keys mostly repeat the previous row's, in order,
// so the key at the same place there is tried first: its length is known before this
// key's bytes are compared, so the next member's address waits on no scan for the quote.
template <typename Member>
inline bool Reader::read_key(JsonValue& key) {
  if constexpr (std::is_same_v<Member, PackedMember>) {
    if (place_ < previous_count_ && read_expected_key(previous_row_[place_].key, key)) {
      return true;
    }
  }
  return read_string(key);
}

// The number grammar and its conversion are number_reader.h's; this maps its outcome.
template <typename Out>
inline bool Reader::read_number(Out& out) {
  JsonNumber n = JsonNumber::from_unsigned(0);
  DecimalDigits digits;
  constexpr bool kPacked = std::is_same_v<Out, PackedValue>;
  switch (detail::read_number(cur_, end_, n, kPacked ? &digits : nullptr)) {
    case NumberStatus::kOk:
      set_number(out, n);
      return true;
    case NumberStatus::kDigits:
      set_digits(out, digits);
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
// input; with one, a row's member keeps it as its writer text when it can, and otherwise
// read_escaped_string assembles it (string_reader.h).
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
    if constexpr (std::is_same_v<Out, PackedValue>) {
      if (read_escaped_writer_text(out, run, seen)) return true;
    }
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

}  // namespace velmar::json::detail
