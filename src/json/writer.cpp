// The compact writer: a depth-first walk that writes straight into the spare capacity of
// the caller's string through one raw pointer, with one room check per token.
#include "json/writer.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

#include "json/bytes.h"
#include "json/pages.h"
#include "json/writer_text.h"

namespace velmar::json {
namespace {

constexpr std::size_t kInitialReserve = 128;
constexpr std::size_t kMaxEscape = 6;  // \u00XX
// The string exposes its spare capacity a chunk at a time: resize() zero-fills what it
// exposes, and a chunk that is written right after it is still in the cache, while zeroing
// a large reserve up front would touch every page of it, used or not. The chunk is the
// text's size so far, from kFirstExposeChunk up to kExposeChunk, so that a short text
// zeroes little past its end: e.g. exposures end at 2, 4, 8, ... 64 KB, then every 64 KB.
constexpr std::size_t kFirstExposeChunk = std::size_t{2} << 10;
constexpr std::size_t kExposeChunk = std::size_t{64} << 10;

using detail::TextBuffer;

// `bytes` may be null when `n` is 0 (an empty view), which memcpy does not allow.
char* put(char* p, const char* bytes, std::size_t n) {
  if (n != 0) std::memcpy(p, bytes, n);
  return p + n;
}

// The index of the first byte at or after `i` that has an escape letter, or the size.
std::size_t find_escape(std::string_view text, std::size_t i) {
  const char* end = text.data() + text.size();
  return static_cast<std::size_t>(detail::find_raw_run_end(text.data() + i, end) - text.data());
}

// Runs of unescaped bytes are copied in one block each. Room for the whole string
// unescaped is ensured up front; each escape then ensures room for itself plus the rest.
char* write_string(TextBuffer& buffer, char* p, std::string_view text) {
  const std::size_t n = text.size();
  p = buffer.ensure(p, n + 2);
  *p++ = '"';
  std::size_t run = 0;
  for (std::size_t i = find_escape(text, 0); i != n; i = find_escape(text, run)) {
    p = put(p, text.data() + run, i - run);
    p = buffer.ensure(p, kMaxEscape + (n - i));
    const auto byte = static_cast<unsigned char>(text[i]);
    p = detail::put_escape(p, detail::kEscapeLetters[byte], byte);
    run = i + 1;
  }
  p = put(p, text.data() + run, n - run);
  *p++ = '"';
  return p;
}

char* write_escape_free_string(TextBuffer& buffer, char* p, std::string_view text) {
  p = buffer.ensure(p, text.size() + 2);
  *p++ = '"';
  p = put(p, text.data(), text.size());
  *p++ = '"';
  return p;
}

// Short strings live inside their handle, so their bytes can move as one fixed-size block
// whatever their length; the room is ensured for the whole block.
char* write_escape_free_short_string(TextBuffer& buffer, char* p, std::string_view text) {
  p = buffer.ensure(p, JsonValue::kInlineCapacity + 2);
  *p = '"';
  std::memcpy(p + 1, text.data(), JsonValue::kInlineCapacity);
  p += 1 + text.size();
  *p++ = '"';
  return p;
}

char* write_string_value(TextBuffer& buffer, char* p, const JsonValue& value) {
  const std::string_view text = value.as_string();
  if (!value.string_escape_free()) return write_string(buffer, p, text);
  if (text.size() <= JsonValue::kInlineCapacity) {
    return write_escape_free_short_string(buffer, p, text);
  }
  return write_escape_free_string(buffer, p, text);
}

// Out of line, as write_object and write_number: write_value then only dispatches, with
// nothing of its own to keep across a call.
[[gnu::noinline]] char* write_string_cell(TextBuffer& buffer, char* p, const JsonValue& value) {
  return write_string_value(buffer, p, value);
}

char* write_literal(TextBuffer& buffer, char* p, std::string_view literal) {
  p = buffer.ensure(p, literal.size());
  return put(p, literal.data(), literal.size());
}

// A negative integer's text: its magnitude taken in unsigned arithmetic, so that -2^63 has
// one. Room is the caller's.
char* put_negative(char* p, std::int64_t v) {
  *p++ = '-';
  return p + format_unsigned(0 - static_cast<std::uint64_t>(v), p);
}

[[gnu::noinline]] char* write_number(TextBuffer& buffer, char* p, JsonNumber number) {
  p = buffer.ensure(p, kDoubleBufferBytes);
  return p + detail::format_number(number, p);
}

// A string without escapes whose text lies in padded input, copied with the quotes that the
// input holds around it; a short one moves as one block from its opening quote, which the
// padding past the text allows.
char* write_raw_string(TextBuffer& buffer, char* p, PaddedView text) {
  constexpr auto kBlock = static_cast<std::size_t>(detail::kBlockBytes);
  static_assert(kPadding >= kBlock - 1);
  const char* quoted = text.data() - 1;
  const std::size_t n = text.size() + 2;
  if (n <= kBlock) {
    p = buffer.ensure(p, kBlock);
    std::memcpy(p, quoted, kBlock);
    return p + n;
  }
  p = buffer.ensure(p, n);
  std::memcpy(p, quoted, n);
  return p + n;
}

// The escapes redone are never longer, and spaces are left out, so the text's size and a
// block is room enough.
[[gnu::noinline]] char* write_rewritten_text(TextBuffer& buffer, char* p, PaddedView text,
                                             TextRewrites rewrites) {
  p = buffer.ensure(p, text.size() + static_cast<std::size_t>(detail::kBlockBytes));
  return rewrites.spaces ? detail::write_spaced_text(text, rewrites.foreign_escapes, p)
                         : detail::write_foreign_escaped_text(text, p);
}

using detail::write_value;

char* write_array(TextBuffer& buffer, char* p, std::span<const JsonValue> items) {
  p = buffer.ensure(p, 2);
  *p++ = '[';
  bool first = true;
  for (const JsonValue& item : items) {
    if (!first) {
      p = buffer.ensure(p, 1);
      *p++ = ',';
    }
    first = false;
    p = write_value(buffer, p, item);
  }
  p = buffer.ensure(p, 1);
  *p++ = ']';
  return p;
}

[[gnu::noinline]] char* write_object(TextBuffer& buffer, char* p, const JsonObject& object) {
  p = buffer.ensure(p, 2);
  *p++ = '{';
  bool first = true;
  for (const JsonMember& member : object.members()) {
    if (!first) {
      p = buffer.ensure(p, 1);
      *p++ = ',';
    }
    first = false;
    p = write_string_value(buffer, p, member.key);
    p = buffer.ensure(p, 1);
    *p++ = ':';
    p = write_value(buffer, p, member.value);
  }
  p = buffer.ensure(p, 1);
  *p++ = '}';
  return p;
}

}  // namespace

namespace detail {

char* put_escape(char* p, char letter, unsigned char byte) {
  p[0] = '\\';
  if (letter != 'u') {
    p[1] = letter;
    return p + 2;
  }
  std::memcpy(p + 1, "u00", 3);
  p[4] = kHexDigits[byte >> 4];
  p[5] = kHexDigits[byte & 0xF];
  return p + 6;
}

std::size_t format_number(const JsonNumber& number, char* buf) {
  switch (number.rep()) {
    case JsonNumber::Rep::kUnsigned:
      return format_unsigned(number.as_unsigned(), buf);
    case JsonNumber::Rep::kSigned:
      return static_cast<std::size_t>(put_negative(buf, number.as_signed()) - buf);
    case JsonNumber::Rep::kDouble: {
      // Finite, as JsonNumber::from_double guarantees for every double; from its shortest
      // digits when it came with them.
      const double d = number.as_double();
      assert(std::isfinite(d));
      if (const std::uint64_t digits = number.known_digits(); digits != 0) {
        return format_known_digits(std::signbit(d), digits, number.fraction_digits(), buf);
      }
      return format_double(d, buf);
    }
  }
  return 0;
}

char* write_value(TextBuffer& buffer, char* p, const JsonValue& value) {
  switch (value.kind()) {
    case JsonKind::kNull:
      return write_literal(buffer, p, "null");
    case JsonKind::kBool:
      return value.as_bool() ? write_literal(buffer, p, "true") : write_literal(buffer, p, "false");
    case JsonKind::kNumber:
      return write_number(buffer, p, value.as_number());
    case JsonKind::kString:
      return write_string_cell(buffer, p, value);
    case JsonKind::kArray:
      return write_array(buffer, p, value.as_array());
    case JsonKind::kObject:
      return write_object(buffer, p, value.as_object());
  }
  return p;
}

// Tested in turn rather than switched on: a row's cells repeat the previous row's forms,
// which conditional branches learn better than one indirect jump.
char* write_packed_value(TextBuffer& buffer, char* p, PackedValue value, PaddedView input) {
  using Form = PackedValue::Form;
  const Form form = value.form();
  if (form == Form::kRawString) return write_raw_string(buffer, p, value.raw_text(input));
  if (form == Form::kHandle) return write_value(buffer, p, value.handle());
  if (form == Form::kArray) return write_array(buffer, p, value.array().as_array());
  if (form == Form::kWriterText) {
    const PaddedView text = value.writer_text(input);
    if (!value.is_written_as_is()) [[unlikely]] {
      return write_rewritten_text(buffer, p, text, value.rewrites());
    }
    p = buffer.ensure(p, text.size());
    return put(p, text.data(), text.size());
  }
  if (form == Form::kLiteral) return write_literal(buffer, p, value.literal_text());
  p = buffer.ensure(p, kDoubleBufferBytes);
  if (form == Form::kDigits) {
    bool negative = false;
    std::uint64_t digits = 0;
    int k = 0;
    value.known_digits(negative, digits, k);
    if (digits == 0) return p + format_double(negative ? -0.0 : 0.0, p);
    return p + format_known_digits(negative, digits, k, p);
  }
  if (form == Form::kUnsigned) return p + format_unsigned(value.unsigned_value(), p);
  return put_negative(p, value.negative_value());
}

TextBuffer::TextBuffer(std::string& out) : out_(out), start_offset_(out.size()) {
  expose(start_offset_, kMaxEscape);
}

[[gnu::noinline]] char* TextBuffer::grow(char* p, std::size_t n) {
  const auto used = static_cast<std::size_t>(p - out_.data());
  expose(used, n);
  return out_.data() + used;
}

// Makes at least `n` bytes writable after the first `used`, which are kept.
void TextBuffer::expose(std::size_t used, std::size_t n) {
  const std::size_t capacity = out_.capacity();
  if (capacity - used < n) {
    out_.resize(used);  // reallocation copies only what was written
    out_.reserve(std::max(used + n, 2 * capacity));
    settled_ = used;  // the copy has touched those pages
  }
  const std::size_t chunk = std::clamp(used, kFirstExposeChunk, kExposeChunk);
  const std::size_t size = std::min(out_.capacity(), used + std::max(n, chunk));
  settled_ = pages::settle_huge_pages(out_.data(), out_.capacity(), settled_, size, expected_size_);
  out_.resize(size);
  end_ = out_.data() + out_.size();
}

}  // namespace detail

std::string& reserve_text(std::string& out, std::size_t size_hint) {
  const std::size_t wanted = out.size() + std::max(kInitialReserve, size_hint);
  if (out.capacity() < wanted) out.reserve(wanted);
  return out;
}

JsonTextWriter::JsonTextWriter(std::string& out, std::size_t size_hint)
    : buffer_(reserve_text(out, size_hint)), p_(buffer_.start()) {}

std::string to_json_bytes(const JsonValue& value, std::size_t size_hint) {
  std::string out;
  JsonTextWriter writer(out, size_hint + kDoubleBufferBytes);
  writer.value(value);
  writer.finish();
  return out;
}

void serialize(const JsonValue& value, std::string& out) {
  TextBuffer buffer(out);
  buffer.finish(write_value(buffer, buffer.start(), value));
}

std::string display_text(const JsonValue& value) {
  std::string text;
  serialize(value, text);
  return text;
}

void serialize_str(std::string_view text, std::string& out) {
  TextBuffer buffer(out);
  buffer.finish(write_string(buffer, buffer.start(), text));
}

void write_char_escape(char letter, unsigned char byte, std::string& out) {
  TextBuffer buffer(out);
  char* p = buffer.ensure(buffer.start(), kMaxEscape);
  buffer.finish(detail::put_escape(p, letter, byte));
}

}  // namespace velmar::json
