// The byte classes of JSON text, each stated once: whitespace, the bytes that end a raw
// run of string text (one at a time and eight at a time), the escapes and the hex digits.
// The reader and the writer derive their tables from these.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "json/word.h"

namespace velmar::json::detail {

inline bool is_whitespace(char c) {
  constexpr std::uint64_t kSet = (std::uint64_t{1} << ' ') | (std::uint64_t{1} << '\t') |
                                 (std::uint64_t{1} << '\n') | (std::uint64_t{1} << '\r');
  auto u = static_cast<unsigned char>(c);
  return u <= ' ' && ((kSet >> u) & 1) != 0;
}

// A raw run of string text ends at a double quote, a backslash or a byte below 0x20: the
// reader stops there to end the string, decode an escape or refuse a control byte, and
// the writer to escape the byte.
constexpr bool ends_raw_run(unsigned char byte) {
  return byte == '"' || byte == '\\' || byte < 0x20;
}

// ends_raw_run for the eight bytes of `w` at once: the lowest mark is the first of them
// that ends a raw run.
inline std::uint64_t raw_run_ends(std::uint64_t w) {
  return zero_bytes(w ^ (kOnes * '"')) | zero_bytes(w ^ (kOnes * '\\')) | bytes_below(w, 0x20);
}

// The first byte at or after `p` that ends a raw run, or `end`. Every byte passed over is
// ORed into `seen`, so that (seen & kHighBits) tells whether any of them was >= 0x80.
inline const char* find_raw_run_end(const char* p, const char* end, std::uint64_t& seen) {
  while (end - p >= 8) {
    std::uint64_t w = load_word(p);
    if (std::uint64_t marks = raw_run_ends(w); marks != 0) {
      std::size_t k = first_marked_byte(marks);
      seen |= w & ((std::uint64_t{1} << (8 * k)) - 1);
      return p + k;
    }
    seen |= w;
    p += 8;
  }
  for (; p != end; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (ends_raw_run(c)) return p;
    seen |= c;
  }
  return p;
}

// A scan that only needs the position of the run's end.
inline const char* find_raw_run_end(const char* p, const char* end) {
  std::uint64_t unused = 0;
  return find_raw_run_end(p, end, unused);
}

// The escapes of JSON strings with a letter of their own: the letter after the backslash
// and the byte it stands for. Every other byte is written as \u and four hex digits.
struct ShortEscape {
  char letter;
  unsigned char byte;
};
inline constexpr ShortEscape kShortEscapes[] = {
    {'"', '"'},  {'\\', '\\'}, {'/', '/'},  {'b', '\b'},
    {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'},
};

// The reader's view: the byte each escape letter stands for, kUnicodeEscape for `u`, 0
// for a letter that starts no escape.
inline constexpr unsigned char kUnicodeEscape = 0xFF;
inline constexpr std::array<unsigned char, 256> kEscapedBytes = [] {
  std::array<unsigned char, 256> t{};
  for (ShortEscape e : kShortEscapes) t[static_cast<unsigned char>(e.letter)] = e.byte;
  t['u'] = kUnicodeEscape;
  return t;
}();

// The writer's view: the escape letter of each byte, 0 for a byte written as it is. The
// writer escapes exactly the bytes that end a raw run, with their own letter where they
// have one and as \u00XX otherwise; the solidus has a letter but is written as it is.
// That makes 34 escaped bytes: the 32 below 0x20, the double quote and the backslash.
inline constexpr std::array<char, 256> kEscapeLetters = [] {
  std::array<char, 256> t{};
  for (int b = 0; b < 256; ++b) {
    if (ends_raw_run(static_cast<unsigned char>(b))) t[static_cast<std::size_t>(b)] = 'u';
  }
  for (ShortEscape e : kShortEscapes) {
    if (ends_raw_run(e.byte)) t[e.byte] = e.letter;
  }
  return t;
}();
static_assert(std::count_if(kEscapeLetters.begin(), kEscapeLetters.end(),
                            [](char letter) { return letter != 0; }) == 34);

// Escapes write lowercase hex digits; the reader takes either case.
inline constexpr std::array<char, 16> kHexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                    '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

// The value of each hex digit, -1 for every other byte.
inline constexpr std::array<std::int8_t, 256> kHexValues = [] {
  std::array<std::int8_t, 256> t{};
  t.fill(-1);
  for (std::size_t v = 0; v < kHexDigits.size(); ++v) {
    char digit = kHexDigits[v];
    t[static_cast<unsigned char>(digit)] = static_cast<std::int8_t>(v);
    if (digit >= 'a')
      t[static_cast<unsigned char>(digit - 'a' + 'A')] = static_cast<std::int8_t>(v);
  }
  return t;
}();

}  // namespace velmar::json::detail
