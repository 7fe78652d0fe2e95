// The writer-text scan: one pass over a container's or escaped string's text that accepts only
// what the writer would write again byte for byte, and stops at the first byte that it would not.
#include "json/writer_text.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "json/bytes.h"
#include "json/number_reader.h"
#include "json/padded.h"
#include "json/simd.h"
#include "json/utf8.h"
#include "json/utf8_scan.h"
#include "json/writer.h"

namespace velmar::json::detail {
namespace {

// The keys of the objects open in the scan, innermost last; a deeper or wider text is
// left to the reader. Keys in one object are at most kMaxObjectKeys, which bounds the
// comparisons that keys chosen to defeat the filter below can cause.
constexpr std::size_t kMaxKeys = 256;
constexpr std::size_t kMaxObjectKeys = 64;

struct Key {
  const char* text;
  std::size_t size;
};

// 256 bits: an object of 40 keys, common in API payloads, leaves most digests unset.
using KeyFilter = std::array<std::uint64_t, 4>;

class WriterTextScan {
 public:
  explicit WriterTextScan(const char* end) : end_(end) {}

  // Each reads from `p` and returns the end of what it accepted, or null at the first byte
  // the writer would not have written there. The cursor moves by value, so it stays in a
  // register.
  const char* container(const char* p, unsigned depth);
  // A string value from an escape's letter, its backslash consumed.
  const char* string_from_escape(const char* p) {
    p = escape(p, false);
    return p == nullptr ? nullptr : string(p, false);
  }
  // What writing the text accepted redoes.
  TextRewrites rewrites() const { return rewrites_; }

 private:
  const char* array(const char* p, unsigned depth);
  const char* object(const char* p, unsigned depth);
  const char* value(const char* p, unsigned depth);
  const char* string(const char* p, bool key);
  const char* escape(const char* p, bool key);
  const char* surrogate_pair(const char* p);
  const char* number(const char* p);
  const char* literal(const char* p, std::string_view word);
  // Past the whitespace at p, which the writer leaves out, if any.
  const char* space(const char* p) {
    if (!may_be_whitespace(p, end_)) [[likely]]
      return p;
    rewrites_.spaces = true;  // or a control byte here, which the caller refuses
    return past_whitespace(p, end_);
  }
  bool add_key(const char* text, std::size_t size, std::size_t first, KeyFilter& filter);
  bool at(const char* p, char c) const { return p != end_ && *p == c; }

  const char* end_;
  std::array<Key, kMaxKeys> keys_;  // the first key_count_ are set
  std::size_t key_count_ = 0;
  TextRewrites rewrites_;
};

// As the reader's depth budget: opening a container takes a level, and the last one
// cannot be taken.
const char* WriterTextScan::container(const char* p, unsigned depth) {
  if (--depth == 0) return nullptr;
  return *p == '[' ? array(p, depth) : object(p, depth);
}

// Whitespace is looked for before a value, and elsewhere only where the byte that compact
// text has is not there, so that compact text takes few steps for it.
const char* WriterTextScan::array(const char* p, unsigned depth) {
  p = space(p + 1);
  if (at(p, ']')) return p + 1;
  for (;;) {
    p = value(p, depth);
    if (p == nullptr) return nullptr;
    if (!at(p, ',')) {
      p = space(p);
      if (!at(p, ',')) return at(p, ']') ? p + 1 : nullptr;
    }
    p = space(p + 1);
  }
}

const char* WriterTextScan::object(const char* p, unsigned depth) {
  p = space(p + 1);
  if (at(p, '}')) return p + 1;
  const std::size_t first = key_count_;
  KeyFilter filter{};  // a bit per key digest seen in this object
  for (;;) {
    if (!at(p, '"')) return nullptr;
    const char* key = p + 1;
    p = string(key, true);
    if (p == nullptr) return nullptr;
    if (!add_key(key, static_cast<std::size_t>(p - 1 - key), first, filter)) return nullptr;
    if (!at(p, ':')) {
      p = space(p);
      if (!at(p, ':')) return nullptr;
    }
    p = value(space(p + 1), depth);
    if (p == nullptr) return nullptr;
    if (!at(p, ',')) p = space(p);
    if (at(p, ',')) {
      p = space(p + 1);
      continue;
    }
    key_count_ = first;
    return at(p, '}') ? p + 1 : nullptr;
  }
}

// Canonical escapes make equal keys equal texts, so a repeated key is a repeated text.
// A key whose digest (its size, first and last byte) is new in the object is new; the
// others are compared with the object's keys before them. The quotes around a key are in
// the input, so an empty key's first and last bytes are its closing and opening quotes.
bool WriterTextScan::add_key(const char* text, std::size_t size, std::size_t first,
                             KeyFilter& filter) {
  const auto first_byte = static_cast<unsigned char>(text[0]);
  const auto last_byte = static_cast<unsigned char>(text[static_cast<std::ptrdiff_t>(size) - 1]);
  const std::size_t digest = (size * 37 + last_byte * 11 + first_byte) & 255;
  std::uint64_t& word = filter[digest >> 6];
  const std::uint64_t bit = std::uint64_t{1} << (digest & 63);
  if ((word & bit) != 0) {
    for (std::size_t i = first; i < key_count_; ++i) {
      if (keys_[i].size == size && std::memcmp(keys_[i].text, text, size) == 0) return false;
    }
  }
  if (key_count_ - first == kMaxObjectKeys || key_count_ == kMaxKeys) return false;
  word |= bit;
  keys_[key_count_++] = {text, size};
  return true;
}

const char* WriterTextScan::value(const char* p, unsigned depth) {
  if (p == end_) return nullptr;
  switch (*p) {
    case '"':
      return string(p + 1, false);
    case '[':
    case '{':
      return container(p, depth);
    case 't':
      return literal(p, "true");
    case 'f':
      return literal(p, "false");
    case 'n':
      return literal(p, "null");
    default:
      return *p == '-' || is_digit(*p) ? number(p) : nullptr;
  }
}

// A string after its opening quote, up to past its closing one: raw runs of valid UTF-8
// between escapes the writer makes, or in a value any escape the reader reads. A key's
// escapes must be the writer's, as repeated keys are found by their texts.
[[gnu::always_inline]] inline const char* WriterTextScan::string(const char* p, bool key) {
  for (;;) {
    std::uint64_t seen = 0;
    const char* stop = find_raw_run_end(p, end_, seen);
    if (stop == end_) return nullptr;
    if (seen != 0 &&
        !is_valid_utf8(PaddedView::assume_padded({p, static_cast<std::size_t>(stop - p)}))) {
      return nullptr;
    }
    if (*stop == '"') return stop + 1;
    if (*stop != '\\') return nullptr;  // a control byte
    p = stop;
    do {  // escapes back to back, as text escaped character by character has them
      p = escape(p + 1, key);
      if (p == nullptr) return nullptr;
    } while (p != end_ && *p == '\\');
  }
}

// An escape after its backslash, when it is the one the writer makes for its byte: its
// own letter, or \u00 and two lowercase hex digits for a byte below 0x20 without one.
// "\/" and "\u00e9" read well but are written otherwise: foreign escapes, which a key may
// not hold. Anything the reader would refuse is refused here too, and left to it.
const char* WriterTextScan::escape(const char* p, bool key) {
  if (p == end_) return nullptr;
  const auto letter = static_cast<unsigned char>(*p);
  if (letter != 'u') {
    const unsigned char byte = kEscapedBytes[letter];
    if (byte != 0 && kEscapeLetters[byte] == static_cast<char>(letter)) return p + 1;
    if (byte == 0 || key) return nullptr;
    rewrites_.foreign_escapes = true;
    return p + 1;
  }
  if (end_ - p < 5) return nullptr;
  const int v = hex4_at(p + 1);  // below 0x100: its first two digits are zeros
  if (v < 0) return nullptr;
  if (v < 0x80 && kEscapeLetters[static_cast<std::size_t>(v)] == 'u' &&
      p[3] == kHexDigits[static_cast<std::size_t>(v >> 4)] &&
      p[4] == kHexDigits[static_cast<std::size_t>(v & 15)]) {
    return p + 5;
  }
  if (key) return nullptr;
  if (is_surrogate(static_cast<std::uint32_t>(v))) return surrogate_pair(p);
  rewrites_.foreign_escapes = true;
  return p + 5;
}

// \u and a surrogate, after the backslash: a high one with \u and a low one after it.
[[gnu::noinline]] const char* WriterTextScan::surrogate_pair(const char* p) {
  if (!is_high_surrogate(static_cast<std::uint32_t>(hex4_at(p + 1)))) return nullptr;
  if (end_ - p < 11 || p[5] != '\\' || p[6] != 'u') return nullptr;
  const int w = hex4_at(p + 7);
  if (w < 0 || !is_low_surrogate(static_cast<std::uint32_t>(w))) return nullptr;
  rewrites_.foreign_escapes = true;
  return p + 11;
}

// Integers that the reader keeps as integers read back in their own digits (it refuses
// leading zeros, and -0 is a double); a double's text must be the writer's for it.
const char* WriterTextScan::number(const char* p) {
  const char* start = p;
  JsonNumber n = JsonNumber::from_unsigned(0);
  if (read_number(p, end_, n) != NumberStatus::kOk) return nullptr;
  if (n.rep() != JsonNumber::Rep::kDouble) return p;
  char text[kDoubleBufferBytes];
  const std::size_t size = format_number(n, text);
  const bool same =
      size == static_cast<std::size_t>(p - start) && std::memcmp(text, start, size) == 0;
  return same ? p : nullptr;
}

const char* WriterTextScan::literal(const char* p, std::string_view word) {
  if (static_cast<std::size_t>(end_ - p) < word.size() ||
      std::memcmp(p, word.data(), word.size()) != 0) {
    return nullptr;
  }
  return p + word.size();
}

}  // namespace

const char* writer_text_end(const char* p, const char* end, unsigned depth,
                            TextRewrites& rewrites) {
  WriterTextScan scan(end);
  const char* stop = scan.container(p, depth);
  rewrites = scan.rewrites();
  return stop;
}

const char* writer_string_end(const char* p, const char* end, TextRewrites& rewrites) {
  WriterTextScan scan(end);
  const char* stop = scan.string_from_escape(p);
  rewrites = scan.rewrites();
  return stop;
}

}  // namespace velmar::json::detail
