// The byte classes of JSON text, each stated once: whitespace, the bytes that end a raw
// run of string text (one, eight or sixteen at a time), the escapes and the hex digits.
// The reader and the writer derive their tables from these.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "json/simd.h"
#include "json/word.h"

namespace velmar::json::detail {

inline bool is_whitespace(char c) {
  constexpr std::uint64_t kSet = (std::uint64_t{1} << ' ') | (std::uint64_t{1} << '\t') |
                                 (std::uint64_t{1} << '\n') | (std::uint64_t{1} << '\r');
  auto u = static_cast<unsigned char>(c);
  return u <= ' ' && ((kSet >> u) & 1) != 0;
}

// The first byte at or after `p` that is not whitespace, or `end`. Runs that are not
// indentation, or end in other whitespace, are classified sixteen bytes at a time.
inline const char* skip_whitespace_run(const char* p, const char* end) {
  // Most runs are indentation: a newline, then only spaces up to the next token. They are
  // passed by comparisons whose outcomes the branch predictor guesses: eight spaces at a
  // time, then four, two and one. The next token's address is then known before the bytes
  // are compared, where a block scan put its comparison, mask and count on the path to
  // every token.
  if (p != end && *p == '\n') {
    ++p;
    while (end - p >= 8) {
      if (load_word(p) != kOnes * ' ') {
        // Fewer than eight spaces, then another byte: all of them inside this word.
        if (std::memcmp(p, "    ", 4) == 0) p += 4;
        if (std::memcmp(p, "  ", 2) == 0) p += 2;
        if (*p == ' ') ++p;
        if (static_cast<unsigned char>(*p) > ' ') return p;
        break;
      }
      p += 8;
    }
    if (end - p < 8) {
      while (p != end && *p == ' ') ++p;
      if (p == end || static_cast<unsigned char>(*p) > ' ') return p;
    }
  }
  while (end - p >= kBlockBytes) {
    Block v = load_block(p);
    Block blank = either(either(lanes_equal(v, ' '), lanes_equal(v, '\n')),
                         either(lanes_equal(v, '\t'), lanes_equal(v, '\r')));
    unsigned others = lane_bits(blank) ^ 0xFFFFu;
    if (others != 0) return p + std::countr_zero(others);
    p += kBlockBytes;
  }
  while (p != end && is_whitespace(*p)) ++p;
  return p;
}

// Whether whitespace may start at `p`: every whitespace byte is at most a space (and so is
// the padding's zero), so one comparison settles compact text, which has none.
inline bool may_be_whitespace(const char* p, const char* end) {
  return p != end && static_cast<unsigned char>(*p) <= ' ';
}

// skip_whitespace_run where may_be_whitespace(p): a lone space, as around the colon of
// indented text, needs no run scan. The input is padded past `end`.
inline const char* past_whitespace(const char* p, const char* end) {
  if (*p == ' ' && static_cast<unsigned char>(p[1]) > ' ') return p + 1;
  return skip_whitespace_run(p, end);
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

// The first byte at or after `p` that ends a raw run, or `end`. When any byte passed over
// is >= 0x80, `seen` becomes nonzero; it is left as it was otherwise.
inline const char* find_raw_run_end(const char* p, const char* end, std::uint64_t& seen) {
  // A block at a time while it lies inside the text; the word scan takes the rest.
  while (end - p >= kBlockBytes) {
    Block v = load_block(p);
    Block ends = either(either(lanes_equal(v, '"'), lanes_equal(v, '\\')), lanes_below(v, 0x20));
    unsigned marks = lane_bits(ends);
    unsigned high = lane_bits(v);
    if (marks != 0) {
      // The bytes up to the first mark, which is itself never >= 0x80.
      seen |= high & (marks ^ (marks - 1));
      return p + std::countr_zero(marks);
    }
    seen |= high;
    p += kBlockBytes;
  }
  while (end - p >= 8) {
    std::uint64_t w = load_word(p);
    if (std::uint64_t marks = raw_run_ends(w); marks != 0) {
      std::size_t k = first_marked_byte(marks);
      seen |= w & kHighBits & ((std::uint64_t{1} << (8 * k)) - 1);
      return p + k;
    }
    seen |= w & kHighBits;
    p += 8;
  }
  for (; p != end; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (ends_raw_run(c)) return p;
    seen |= c & 0x80;
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

// The value of the four hex digits at `p`, or a negative number when one of them is not a
// hex digit: "00e9" -> 0xE9, "00g9" -> -1.
inline int hex4_at(const char* p) {
  auto hex = [p](int k) { return int{kHexValues[static_cast<unsigned char>(p[k])]}; };
  const int a = hex(0);
  const int b = hex(1);
  const int c = hex(2);
  const int d = hex(3);
  return (a | b | c | d) < 0 ? -1 : (a << 12) | (b << 8) | (c << 4) | d;
}

}  // namespace velmar::json::detail
