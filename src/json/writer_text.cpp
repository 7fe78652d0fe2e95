// The writer-text scan: one pass over a container's text that accepts only what the writer
// would write again byte for byte, and stops at the first byte that it would not.
#include "json/writer_text.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "json/bytes.h"
#include "json/number_reader.h"
#include "json/padded.h"
#include "json/utf8.h"
#include "json/utf8_scan.h"
#include "json/writer.h"

namespace velmar::json::detail {
namespace {

// The keys of the objects open in the scan, innermost last; a deeper or wider text is
// left to the reader.
constexpr std::size_t kMaxKeys = 64;

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
  // Whether a string value accepted has an escape the writer writes otherwise.
  bool foreign_escapes() const { return foreign_escapes_; }

 private:
  const char* array(const char* p, unsigned depth);
  const char* object(const char* p, unsigned depth);
  const char* value(const char* p, unsigned depth);
  const char* string(const char* p, bool key);
  const char* escape(const char* p, bool key);
  const char* foreign_escape(const char* p);
  const char* number(const char* p);
  const char* literal(const char* p, std::string_view word);
  bool add_key(const char* text, std::size_t size, std::size_t first, KeyFilter& filter);
  bool at(const char* p, char c) const { return p != end_ && *p == c; }

  const char* end_;
  std::array<Key, kMaxKeys> keys_;  // the first key_count_ are set
  std::size_t key_count_ = 0;
  bool foreign_escapes_ = false;
};

// As the reader's depth budget: opening a container takes a level, and the last one
// cannot be taken.
const char* WriterTextScan::container(const char* p, unsigned depth) {
  if (--depth == 0) return nullptr;
  return *p == '[' ? array(p, depth) : object(p, depth);
}

const char* WriterTextScan::array(const char* p, unsigned depth) {
  ++p;
  if (at(p, ']')) return p + 1;
  for (;;) {
    p = value(p, depth);
    if (p == nullptr) return nullptr;
    if (at(p, ',')) {
      ++p;
      continue;
    }
    return at(p, ']') ? p + 1 : nullptr;
  }
}

const char* WriterTextScan::object(const char* p, unsigned depth) {
  ++p;
  if (at(p, '}')) return p + 1;
  const std::size_t first = key_count_;
  KeyFilter filter{};  // a bit per key digest seen in this object
  for (;;) {
    if (!at(p, '"')) return nullptr;
    const char* key = p + 1;
    p = string(key, true);
    if (p == nullptr) return nullptr;
    if (!add_key(key, static_cast<std::size_t>(p - 1 - key), first, filter)) return nullptr;
    if (!at(p, ':')) return nullptr;
    p = value(p + 1, depth);
    if (p == nullptr) return nullptr;
    if (at(p, ',')) {
      ++p;
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
  if (key_count_ == kMaxKeys) return false;
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
    p = escape(stop + 1, key);
    if (p == nullptr) return nullptr;
  }
}

// An escape after its backslash, when it is the one the writer makes for its byte: its
// own letter, or \u00 and two lowercase hex digits for a byte below 0x20 without one.
// "\/" and "\u00e9" read well but are written otherwise: foreign escapes.
const char* WriterTextScan::escape(const char* p, bool key) {
  if (p == end_) return nullptr;
  const auto letter = static_cast<unsigned char>(*p);
  if (letter != 'u') {
    const unsigned char byte = kEscapedBytes[letter];
    if (byte != 0 && kEscapeLetters[byte] == static_cast<char>(letter)) return p + 1;
  } else if (end_ - p >= 5 && p[1] == '0' && p[2] == '0') {
    const int high = kHexValues[static_cast<unsigned char>(p[3])];
    const int low = kHexValues[static_cast<unsigned char>(p[4])];
    const auto byte = static_cast<unsigned char>(high * 16 + low);
    if (high >= 0 && low >= 0 && kEscapeLetters[byte] == 'u' && p[3] == kHexDigits[high] &&
        p[4] == kHexDigits[low]) {
      return p + 5;
    }
  }
  return key ? nullptr : foreign_escape(p);
}

// A foreign escape after its backslash: a letter the reader reads, or \u and four hex
// digits of a character, two such escapes for one beyond U+FFFF. Anything the reader would
// refuse is refused here too, and left to it.
[[gnu::noinline]] const char* WriterTextScan::foreign_escape(const char* p) {
  const auto letter = static_cast<unsigned char>(*p);
  if (letter != 'u') {
    if (kEscapedBytes[letter] == 0) return nullptr;
    foreign_escapes_ = true;
    return p + 1;
  }
  if (end_ - p < 5) return nullptr;
  const int v = hex4_at(p + 1);
  if (v < 0 || is_low_surrogate(static_cast<std::uint32_t>(v))) return nullptr;
  if (is_high_surrogate(static_cast<std::uint32_t>(v))) {
    if (end_ - p < 11 || p[5] != '\\' || p[6] != 'u') return nullptr;
    const int w = hex4_at(p + 7);
    if (w < 0 || !is_low_surrogate(static_cast<std::uint32_t>(w))) return nullptr;
    p += 6;
  }
  foreign_escapes_ = true;
  return p + 5;
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

const char* writer_text_end(const char* p, const char* end, unsigned depth, bool& foreign_escapes) {
  WriterTextScan scan(end);
  const char* stop = scan.container(p, depth);
  foreign_escapes = scan.foreign_escapes();
  return stop;
}

char* write_foreign_escaped_text(PaddedView text, char* out) {
  const char* p = text.data();
  const char* const end = text.end();
  while (p != end) {
    if (*p != '\\') {
      // A run up to the next escape, or to the end.
      const auto* slash =
          static_cast<const char*>(std::memchr(p, '\\', static_cast<std::size_t>(end - p)));
      if (slash == nullptr) slash = end;
      std::memcpy(out, p, static_cast<std::size_t>(slash - p));
      out += slash - p;
      p = slash;
      if (p == end) break;
    }
    ++p;  // an escape's letter, which the scan checked
    char32_t c = kEscapedBytes[static_cast<unsigned char>(*p)];
    if (c != kUnicodeEscape) {
      ++p;
    } else {
      c = static_cast<char32_t>(hex4_at(p + 1));
      p += 5;
      if (is_high_surrogate(c)) {
        c = surrogate_pair_value(c, static_cast<std::uint32_t>(hex4_at(p + 2)));
        p += 6;
      }
    }
    if (c < 0x80 && kEscapeLetters[c] != 0) {
      out = put_escape(out, kEscapeLetters[c], static_cast<unsigned char>(c));
    } else {
      out += encode_utf8(c, out);
    }
  }
  return out;
}

}  // namespace velmar::json::detail
