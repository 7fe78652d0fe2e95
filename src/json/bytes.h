// The byte classes of JSON text: whitespace, the bytes that end a raw run of string text
// (one at a time and eight at a time), the escape letters and the hex digits.
#pragma once

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

// A raw run of string text ends at a double quote, a backslash or a byte below 0x20.
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

// Escape letters and the byte each stands for; `u` is kUnicodeEscape, others are 0.
inline constexpr unsigned char kUnicodeEscape = 0xFF;
inline constexpr std::array<unsigned char, 256> kEscapedBytes = [] {
  std::array<unsigned char, 256> t{};
  t['"'] = '"';
  t['\\'] = '\\';
  t['/'] = '/';
  t['b'] = '\b';
  t['f'] = '\f';
  t['n'] = '\n';
  t['r'] = '\r';
  t['t'] = '\t';
  t['u'] = kUnicodeEscape;
  return t;
}();

// Hex digit values; -1 for every other byte.
inline constexpr std::array<std::int8_t, 256> kHexValues = [] {
  std::array<std::int8_t, 256> t{};
  t.fill(-1);
  for (int i = 0; i < 10; ++i) t['0' + i] = static_cast<std::int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    t['a' + i] = static_cast<std::int8_t>(10 + i);
    t['A' + i] = static_cast<std::int8_t>(10 + i);
  }
  return t;
}();

}  // namespace velmar::json::detail
