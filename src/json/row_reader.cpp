// The reader's row front end: the members of each object element of the top-level array go
// to the sink (reader.h's ObjectElementSink) with their values packed in words, and text
// that repeats the previous row's at the same place is passed without being read again.
#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>

#include "json/grammar.h"
#include "json/writer_text.h"

namespace velmar::json::detail {

// An object element, at its brace: its members go to the sink with their values packed,
// never into the arena. It takes a level of the depth budget as any object does (the
// second, which always fits).
bool Reader::read_object_element() {
  --remaining_depth_;
  const char* brace = cur_++;
  if (!read_row_members()) return false;
  objects_->object_element(packed_members_, {brace, static_cast<std::size_t>(cur_ - brace)});
  std::swap(packed_members_, previous_row_);
  std::swap(leads_, previous_leads_);
  packed_members_.clear();
  leads_.clear();
  ++remaining_depth_;
  return true;
}

// A row's members after its brace, onto packed_members_, as read_members reads them; each
// member's lead is kept, and a member whose lead repeats a lead of the previous row near
// its place has that member's key and goes straight to its value.
bool Reader::read_row_members() {
  previous_count_ = previous_row_.size();
  place_ = 0;
  // count is packed_members_.size(); the next member likely repeats the one after this one's.
  bool missed = false;  // the member before had a key not found in the previous row
  for (std::size_t count = 0;; ++count, ++place_) {
    const char* lead = cur_;
    PackedMember member;
    if (const std::size_t j = repeated_lead(count == 0); j != kNoPlace) {
      cur_ += previous_leads_[j].size;
      member.key = previous_row_[j].key;
      member.repeats = static_cast<std::uint32_t>(j);
      missed = false;
    } else {
      bool ended = false;
      if (!read_row_separator(count == 0, ended)) return false;
      if (ended) return true;
      if (!read_member_head<PackedMember>(member.key)) return false;
      missed = !follow_key(member, missed);
    }
    leads_.push_back({lead, static_cast<std::size_t>(cur_ - lead)});
    if (!read_value(member.value)) return false;
    packed_members_.push_back(member);
  }
}

// The place in the previous row of the member whose lead the text at the index repeats:
// the member at this member's place, else the one after or before it (a member that one
// of the two rows lacks), which then moves the place of the members after it. Only a first
// member's lead, the one without a comma, stands for a first member.
inline std::size_t Reader::repeated_lead(bool first) {
  if (repeats_lead_at(place_, first)) return place_;
  return shifted_repeated_lead(first);
}

inline bool Reader::repeats_lead_at(std::size_t j, bool first) const {
  return j < previous_count_ && (j == 0) == first && repeats_lead(cur_, end_, previous_leads_[j]);
}

std::size_t Reader::shifted_repeated_lead(bool first) {
  // Past the previous row's members, this row mostly ends: its closing brace is no lead.
  if (place_ >= previous_count_) return kNoPlace;
  for (const std::ptrdiff_t step : {std::ptrdiff_t{1}, std::ptrdiff_t{-1}}) {
    const std::size_t j = place_ + static_cast<std::size_t>(step);
    if (repeats_lead_at(j, first)) {
      place_ = j;
      return j;
    }
  }
  return kNoPlace;
}

// After a key read in full, whether the previous row's member at this one's place has the
// same key, or, right after another key that was not at its place, a member near it: this
// member then takes that member's place, and the members after it repeat their leads again.
// Members that one of the two rows lacks move the places by one for each, and a key new to
// the row costs no search unless one more such key follows; none goes past kKeyReach
// either side.
inline bool Reader::follow_key(PackedMember& member, bool after_miss) {
  if (place_ < previous_count_ && JsonValue::same_string(previous_row_[place_].key, member.key)) {
    member.repeats = static_cast<std::uint32_t>(place_);
    return true;
  }
  return after_miss && follow_moved_key(member);
}

bool Reader::follow_moved_key(PackedMember& member) {
  const std::size_t from = place_ > kKeyReach ? place_ - kKeyReach : 0;
  const std::size_t to = std::min(previous_count_, place_ + kKeyReach + 1);
  for (std::size_t j = from; j < to; ++j) {
    if (JsonValue::same_string(previous_row_[j].key, member.key)) {
      place_ = j;
      member.repeats = static_cast<std::uint32_t>(j);
      return true;
    }
  }
  return false;
}

// What read_items reads before an item or the brace that ends the row: whitespace, and a
// comma unless `first`. `ended` when it was the brace.
inline bool Reader::read_row_separator(bool first, bool& ended) {
  skip_whitespace();
  if (cur_ == end_) return error(ErrorCode::kEofWhileParsingObject);
  if (*cur_ == '}') {
    ++cur_;
    ended = true;
    return true;
  }
  if (first) return true;
  if (*cur_ != ',') return peek_error(ErrorCode::kExpectedObjectCommaOrEnd);
  ++cur_;
  skip_whitespace();
  if (cur_ == end_) return error(ErrorCode::kEofWhileParsingValue);
  if (*cur_ == '}') return peek_error(ErrorCode::kTrailingComma);
  return true;
}

// The end of the value at the index when it repeats the writer text of the previous row's
// member at this place, `out` taking its place; else null, and `was_tree` when that member
// was an array or object read as a tree: its text was not the writer's, and a row's member
// mostly has the same form as the one before, so the scan would most likely fail again,
// possibly late.
inline const char* Reader::repeated_writer_text(bool& was_tree, PackedValue& out) const {
  if (place_ >= previous_count_) return nullptr;
  const PackedValue before = previous_row_[place_].value;
  if (before.form() == PackedValue::Form::kWriterText) {
    const std::string_view text = before.writer_text(input_part(begin_, end_)).text();
    if (!repeats_container(cur_, end_, text) ||
        !PackedValue::pack_writer_text({begin_, size()}, cur_, text.size(), before.rewrites(),
                                       out)) {
      return nullptr;
    }
    return cur_ + text.size();
  }
  was_tree = before.form() == PackedValue::Form::kArray ||
             (before.form() == PackedValue::Form::kHandle &&
              (before.handle().is_array() || before.handle().is_object()));
  return nullptr;
}

// The writer text from `start` to `stop` as `out`, when a scan found one (`stop` is not
// null) and its place fits the word.
inline bool Reader::pack_writer_text(const char* start, const char* stop, TextRewrites rewrites,
                                     PackedValue& out) const {
  return stop != nullptr &&
         PackedValue::pack_writer_text({begin_, size()}, start,
                                       static_cast<std::size_t>(stop - start), rewrites, out);
}

// A member's array or object as its text, when that is its writer text (writer_text.h):
// no tree is built for it. False, having consumed nothing, when it is not.
inline bool Reader::read_writer_text(PackedValue& out) {
  bool was_tree = false;
  const char* stop = repeated_writer_text(was_tree, out);
  if (stop == nullptr) {
    if (was_tree) return false;
    TextRewrites rewrites;
    stop = writer_text_end(cur_, end_, remaining_depth_, rewrites);
    if (!pack_writer_text(cur_, stop, rewrites, out)) return false;
  }
  cur_ = stop;
  return true;
}

// A member's string with escapes, from past its first backslash, as its writer text: it is
// copied out, its foreign escapes redone, instead of being decoded and escaped again.
// False, having consumed nothing, when the reader must read it (an error, or a text too
// long for a word).
bool Reader::read_escaped_writer_text(PackedValue& out, const char* run, std::uint64_t seen) {
  if (seen != 0 && !is_valid_utf8(input_part(run, cur_ - 1))) return false;
  TextRewrites rewrites;
  const char* stop = writer_string_end(cur_, end_, rewrites);
  if (!pack_writer_text(run - 1, stop, rewrites, out)) return false;  // from the quote
  cur_ = stop;
  return true;
}

}  // namespace velmar::json::detail
