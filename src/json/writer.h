// The compact JSON writer, the chief header of the writing side: one fixed text for every
// value (no whitespace, members in entry order, the 34-byte escape table, integers in
// plain digits, doubles as the shortest round-trip digits in one of four layouts).
// Nothing here can fail. writer.cpp walks the value; the escape table derives from
// bytes.h; the number texts are number_format.h's, included here. JsonTextWriter writes
// the same text piece by piece, for a document that is never held as one value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "json/number_format.h"
#include "json/packed_value.h"
#include "json/padded.h"
#include "json/value.h"

namespace velmar::json {

namespace detail {
// The writer's text of `number` into `buf` (at least kDoubleBufferBytes); returns its size.
std::size_t format_number(const JsonNumber& number, char* buf);

// The escape for `byte`, whose escape-table letter is `letter`, at `p` (room for six):
// a backslash and the letter, or \u00 and two lowercase hex digits when the letter is 'u'.
// Returns its end.
char* put_escape(char* p, char letter, unsigned char byte);

// Writing happens between the string's size and its capacity: the buffer exposes spare
// capacity as initialised bytes a chunk at a time, writers move a pointer through it, and
// finish() cuts the string back to what was written. Capacity growth doubles.
class TextBuffer {
 public:
  explicit TextBuffer(std::string& out);
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
  ~TextBuffer() = default;

  char* start() { return out_.data() + start_offset_; }

  // `p` with at least `n` writable bytes after it, moved if the buffer had to grow.
  char* ensure(char* p, std::size_t n) {
    return static_cast<std::size_t>(end_ - p) >= n ? p : grow(p, n);
  }

  // Ends writing at `p`.
  void finish(const char* p) { out_.resize(static_cast<std::size_t>(p - out_.data())); }

  // How many bytes the string holds up to `p`.
  std::size_t size_at(const char* p) const { return static_cast<std::size_t>(p - out_.data()); }
  // Where the text is expected to end, as a size of the string: huge pages are asked for
  // only where it is expected to reach (pages::settle in pages.h).
  void expect_size(std::size_t size) { expected_size_ = size; }

 private:
  char* grow(char* p, std::size_t n);
  void expose(std::size_t used, std::size_t n);

  std::string& out_;
  std::size_t start_offset_;
  char* end_ = nullptr;
  std::size_t settled_ = 0;  // the string's pages are settled up to here
  std::size_t expected_size_ = SIZE_MAX;
};

// Writes the compact text of `value` at `p`, ensuring room as it goes; returns its end.
char* write_value(TextBuffer& buffer, char* p, const JsonValue& value);
// The same for a packed value read from `input`: a string without escapes is copied from
// the input with its quotes.
char* write_packed_value(TextBuffer& buffer, char* p, PackedValue value, PaddedView input);
}  // namespace detail

// Makes room in `out` for max(128, size_hint) more bytes when it has less; what the writers
// below do first, for a caller that wants the buffer taken before other memory. Huge
// pages are asked for as writing reaches them.
std::string& reserve_text(std::string& out, std::size_t size_hint);

// The compact text of `value` in a new buffer that starts with max(128, size_hint +
// kDoubleBufferBytes) bytes reserved: a text of exactly size_hint bytes then never grows
// at its last number, whose room check asks for the number's whole scratch.
std::string to_json_bytes(const JsonValue& value, std::size_t size_hint = 0);

// Appends the compact text of `value` to `out`.
void serialize(const JsonValue& value, std::string& out);

// The same bytes serialize() appends, as a string of their own; used in messages.
std::string display_text(const JsonValue& value);

// Appends compact text to a string piece by piece: values, and punctuation or keys that
// are compact text already. The string holds the text once finish() has run, and must not
// be touched before.
class JsonTextWriter {
 public:
  // Appends to `out`, first reserving max(128, size_hint) bytes when it has less room.
  explicit JsonTextWriter(std::string& out, std::size_t size_hint = 0);

  // Inline, as a document's writer calls these for every cell.
  void value(const JsonValue& value) { p_ = detail::write_value(buffer_, p_, value); }
  void value(PackedValue value, PaddedView input) {
    p_ = detail::write_packed_value(buffer_, p_, value, input);
  }
  void null() { raw("null"); }
  // `text` as it is.
  void raw(std::string_view text) {
    p_ = buffer_.ensure(p_, text.size());
    if (!text.empty()) std::memcpy(p_, text.data(), text.size());
    p_ += text.size();
  }
  void raw(char c) {
    p_ = buffer_.ensure(p_, 1);
    *p_++ = c;
  }
  void finish() { buffer_.finish(p_); }

  // How many bytes the string holds so far, and where its text is expected to end: a
  // large text is given huge pages only where it is expected to reach.
  std::size_t size() const { return buffer_.size_at(p_); }
  void expect_size(std::size_t size) { buffer_.expect_size(size); }

 private:
  detail::TextBuffer buffer_;
  char* p_;
};

// Appends `text` (valid UTF-8) as a JSON string: quotes, escapes for the 34 bytes of the
// escape table, every other byte raw.
void serialize_str(std::string_view text, std::string& out);

// Appends the escape for `byte`, whose escape-table letter is `letter`: a backslash and
// the letter, or \u00 and two lowercase hex digits when the letter is 'u'.
void write_char_escape(char letter, unsigned char byte, std::string& out);

}  // namespace velmar::json
