// The compact writer: a depth-first walk that writes straight into the spare capacity of
// the caller's string through one raw pointer, with one room check per token.
#include "json/writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace velmar::json {
namespace {

// The escape letter of each byte, 0 for a byte that is copied unchanged. 34 entries are
// set: the 32 control bytes, the quotation mark and the backslash.
constexpr std::array<char, 256> kEscape = [] {
  std::array<char, 256> table{};
  for (std::size_t b = 0; b < 0x20; ++b) table[b] = 'u';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}();

constexpr std::array<char, 16> kHexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

constexpr std::size_t kInitialReserve = 128;
constexpr std::size_t kMaxEscape = 6;  // \u00XX

// Writing happens between the string's size and its capacity: the constructor exposes
// the spare capacity as initialised bytes, writers move a pointer through it, and
// finish() cuts the string back to what was written. Growth doubles.
class Sink {
 public:
  explicit Sink(std::string& out) : out_(out), start_offset_(out.size()) {
    out_.resize(std::max(out_.capacity(), start_offset_ + kMaxEscape));
    end_ = out_.data() + out_.size();
  }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;
  ~Sink() = default;

  char* start() { return out_.data() + start_offset_; }

  // `p` with at least `n` writable bytes after it, moved if the buffer had to grow.
  char* ensure(char* p, std::size_t n) {
    return static_cast<std::size_t>(end_ - p) >= n ? p : grow(p, n);
  }

  // Ends writing at `p`.
  void finish(const char* p) { out_.resize(static_cast<std::size_t>(p - out_.data())); }

 private:
  char* grow(char* p, std::size_t n) {
    const auto used = static_cast<std::size_t>(p - out_.data());
    out_.resize(std::max(used + n, 2 * out_.size()));
    end_ = out_.data() + out_.size();
    return out_.data() + used;
  }

  std::string& out_;
  std::size_t start_offset_;
  char* end_ = nullptr;
};

// `bytes` may be null when `n` is 0 (an empty view), which memcpy does not allow.
char* put(char* p, const char* bytes, std::size_t n) {
  if (n != 0) std::memcpy(p, bytes, n);
  return p + n;
}

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

// A mask with the high bit set in the first byte of `w` (in memory order, on a
// little-endian machine) that is below 0x20, a quotation mark or a backslash, and
// possibly in later bytes; zero when there is none. Each test borrows only upward from a
// byte that matches, so the lowest flagged byte is exact.
std::uint64_t escape_mask(std::uint64_t w) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHighs = 0x8080808080808080;
  const std::uint64_t quote = w ^ (kOnes * '"');
  const std::uint64_t backslash = w ^ (kOnes * '\\');
  const std::uint64_t control = w - kOnes * 0x20;
  const std::uint64_t has_quote = quote - kOnes;
  const std::uint64_t has_backslash = backslash - kOnes;
  return ((control & ~w) | (has_quote & ~quote) | (has_backslash & ~backslash)) & kHighs;
}

// The index of the first byte at or after `i` that has an escape letter, or `n`. Eight
// bytes are tested at a time; the bytes of the tail one by one against the table.
std::size_t find_escape(const unsigned char* s, std::size_t i, std::size_t n) {
  if constexpr (std::endian::native == std::endian::little) {
    for (; n - i >= 8; i += 8) {
      std::uint64_t w;
      std::memcpy(&w, s + i, 8);
      if (const std::uint64_t mask = escape_mask(w); mask != 0) {
        return i + static_cast<std::size_t>(std::countr_zero(mask)) / 8;
      }
    }
  }
  while (i < n && kEscape[s[i]] == 0) ++i;
  return i;
}

// Runs of unescaped bytes are copied in one block each. Room for the whole string
// unescaped is ensured up front; each escape then ensures room for itself plus the rest.
char* write_string(Sink& sink, char* p, std::string_view text) {
  const std::size_t n = text.size();
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  p = sink.ensure(p, n + 2);
  *p++ = '"';
  std::size_t run = 0;
  for (std::size_t i = find_escape(s, 0, n); i != n; i = find_escape(s, run, n)) {
    p = put(p, text.data() + run, i - run);
    p = sink.ensure(p, kMaxEscape + (n - i));
    p = put_escape(p, kEscape[s[i]], s[i]);
    run = i + 1;
  }
  p = put(p, text.data() + run, n - run);
  *p++ = '"';
  return p;
}

char* write_escape_free_string(Sink& sink, char* p, std::string_view text) {
  p = sink.ensure(p, text.size() + 2);
  *p++ = '"';
  p = put(p, text.data(), text.size());
  *p++ = '"';
  return p;
}

char* write_string_value(Sink& sink, char* p, const JsonValue& value) {
  const std::string_view text = value.as_string();
  return value.string_escape_free() ? write_escape_free_string(sink, p, text)
                                    : write_string(sink, p, text);
}

char* write_literal(Sink& sink, char* p, std::string_view literal) {
  p = sink.ensure(p, literal.size());
  return put(p, literal.data(), literal.size());
}

char* write_number(Sink& sink, char* p, JsonNumber number) {
  p = sink.ensure(p, kMaxDoubleText);
  switch (number.rep()) {
    case JsonNumber::Rep::kUnsigned:
      return p + format_unsigned(number.as_unsigned(), p);
    case JsonNumber::Rep::kSigned:
      // Magnitude in unsigned arithmetic, so that -2^63 has one.
      *p++ = '-';
      return p + format_unsigned(0 - static_cast<std::uint64_t>(number.as_signed()), p);
    case JsonNumber::Rep::kDouble: {
      const double d = number.as_double();
      if (!std::isfinite(d)) return put(p, "null", 4);
      return p + format_double(d, p);
    }
  }
  return p;
}

char* write_value(Sink& sink, char* p, const JsonValue& value);

char* write_array(Sink& sink, char* p, std::span<const JsonValue> items) {
  p = sink.ensure(p, 2);
  *p++ = '[';
  bool first = true;
  for (const JsonValue& item : items) {
    if (!first) {
      p = sink.ensure(p, 1);
      *p++ = ',';
    }
    first = false;
    p = write_value(sink, p, item);
  }
  p = sink.ensure(p, 1);
  *p++ = ']';
  return p;
}

char* write_object(Sink& sink, char* p, const JsonObject& object) {
  p = sink.ensure(p, 2);
  *p++ = '{';
  bool first = true;
  for (const JsonMember& member : object.members()) {
    if (!first) {
      p = sink.ensure(p, 1);
      *p++ = ',';
    }
    first = false;
    p = write_string_value(sink, p, member.key);
    p = sink.ensure(p, 1);
    *p++ = ':';
    p = write_value(sink, p, member.value);
  }
  p = sink.ensure(p, 1);
  *p++ = '}';
  return p;
}

char* write_value(Sink& sink, char* p, const JsonValue& value) {
  switch (value.kind()) {
    case JsonKind::kNull:
      return write_literal(sink, p, "null");
    case JsonKind::kBool:
      return value.as_bool() ? write_literal(sink, p, "true") : write_literal(sink, p, "false");
    case JsonKind::kNumber:
      return write_number(sink, p, value.as_number());
    case JsonKind::kString:
      return write_string_value(sink, p, value);
    case JsonKind::kArray:
      return write_array(sink, p, value.as_array());
    case JsonKind::kObject:
      return write_object(sink, p, value.as_object());
  }
  return p;
}

}  // namespace

std::string to_json_bytes(const JsonValue& value, std::size_t size_hint) {
  std::string out;
  out.reserve(std::max(kInitialReserve, size_hint));
  serialize(value, out);
  return out;
}

void serialize(const JsonValue& value, std::string& out) {
  Sink sink(out);
  sink.finish(write_value(sink, sink.start(), value));
}

std::string display_text(const JsonValue& value) {
  std::string text;
  serialize(value, text);
  return text;
}

void serialize_str(std::string_view text, std::string& out) {
  Sink sink(out);
  sink.finish(write_string(sink, sink.start(), text));
}

void write_char_escape(char letter, unsigned char byte, std::string& out) {
  Sink sink(out);
  char* p = sink.ensure(sink.start(), kMaxEscape);
  sink.finish(put_escape(p, letter, byte));
}

}  // namespace velmar::json
