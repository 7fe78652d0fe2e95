// UTF-8, stated once for all code of the project: what a lead byte allows (kUtf8Leads) and
// the decoding and encoding of one character (the reader's block scan is utf8_scan.h).
// Well-formed means Unicode's Table 3-7: no overlong form, no encoded surrogate, nothing
// above U+10FFFF, no cut sequence. The reader's parts live in detail; the module's one
// need, the unit of decoding with replacement, is leading_utf8_sequence.
#pragma once

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmar::json::detail {

// What a byte allows when it starts a sequence: the sequence length (0 when it cannot
// start one) and the range of the second byte, which excludes overlong forms (E0, F0),
// encoded surrogates (ED) and values above U+10FFFF (F4).
struct Utf8Lead {
  std::uint8_t length;
  std::uint8_t low;
  std::uint8_t high;
};

inline constexpr std::array<Utf8Lead, 256> kUtf8Leads = [] {
  std::array<Utf8Lead, 256> t{};
  for (int c = 0; c < 0x80; ++c) t[c] = {1, 0, 0};
  for (int c = 0xC2; c <= 0xDF; ++c) t[c] = {2, 0x80, 0xBF};
  for (int c = 0xE0; c <= 0xEF; ++c) t[c] = {3, 0x80, 0xBF};
  for (int c = 0xF0; c <= 0xF4; ++c) t[c] = {4, 0x80, 0xBF};
  t[0xE0].low = 0xA0;
  t[0xED].high = 0x9F;
  t[0xF0].low = 0x90;
  t[0xF4].high = 0x8F;
  return t;
}();

constexpr bool is_continuation(unsigned char byte) { return (byte & 0xC0U) == 0x80U; }

// One character and the bytes it takes.
struct Utf8Char {
  char32_t cp;
  std::size_t size;
};

// Decodes the character starting at text[at]. Precondition: a complete, well-formed
// sequence starts there; one cut short by the end of `text` is clamped to it, so that
// ill-formed text is never read out of bounds.
inline Utf8Char decode_utf8(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t size = 1;
  char32_t cp = lead;
  if (lead >= 0xF0U) {
    size = 4;
    cp = lead & 0x07U;
  } else if (lead >= 0xE0U) {
    size = 3;
    cp = lead & 0x0FU;
  } else if (lead >= 0xC0U) {
    size = 2;
    cp = lead & 0x1FU;
  }
  assert(at + size <= text.size());
  size = std::min(size, text.size() - at);
  for (std::size_t k = 1; k < size; ++k) {
    const auto byte = static_cast<unsigned char>(text[at + k]);
    assert(is_continuation(byte));
    cp = (cp << 6) | (byte & 0x3FU);
  }
  return {cp, size};
}

// UTF-16 surrogates, as \u escapes spell a character beyond U+FFFF: a high one, then a
// low one. D83D DE00 -> U+1F600.
constexpr bool is_high_surrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
constexpr bool is_low_surrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
constexpr bool is_surrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDFFF; }
constexpr char32_t surrogate_pair_value(std::uint32_t high, std::uint32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}
static_assert(surrogate_pair_value(0xD83D, 0xDE00) == 0x1F600);

// Writes `cp` (a Unicode scalar value) as UTF-8 at `out` and returns the byte count, 1 to
// 4; `out` needs room for four.
inline std::size_t encode_utf8(char32_t cp, char* out) {
  auto put = [out](std::size_t i, char32_t bits) { out[i] = static_cast<char>(bits); };
  if (cp < 0x80) {
    put(0, cp);
    return 1;
  }
  if (cp < 0x800) {
    put(0, 0xC0 | (cp >> 6));
    put(1, 0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    put(0, 0xE0 | (cp >> 12));
    put(1, 0x80 | ((cp >> 6) & 0x3F));
    put(2, 0x80 | (cp & 0x3F));
    return 3;
  }
  put(0, 0xF0 | (cp >> 18));
  put(1, 0x80 | ((cp >> 12) & 0x3F));
  put(2, 0x80 | ((cp >> 6) & 0x3F));
  put(3, 0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace velmar::json::detail

namespace velmar::json {

// The sequence that starts a text: a whole well-formed character, or else the maximal
// subpart of an ill-formed one, which decoding with replacement turns into one U+FFFD.
struct Utf8Sequence {
  std::size_t size;  // 1 to 4
  bool well_formed;
};

// The sequence at the start of `text`. Precondition: `text` is not empty.
// "\xC3\xA9!" -> {2, true}; "\xE2\x82y" -> {2, false}; "\xED\xA0\x80" -> {1, false} (a
// surrogate: ED allows 80..9F next); "\x80" -> {1, false}.
inline Utf8Sequence leading_utf8_sequence(std::string_view text) {
  assert(!text.empty());
  const detail::Utf8Lead lead = detail::kUtf8Leads[static_cast<unsigned char>(text[0])];
  if (lead.length == 0) return {1, false};
  std::size_t taken = 1;
  for (; taken < lead.length && taken < text.size(); ++taken) {
    const auto byte = static_cast<unsigned char>(text[taken]);
    const unsigned char low = taken == 1 ? lead.low : 0x80;
    const unsigned char high = taken == 1 ? lead.high : 0xBF;
    if (byte < low || byte > high) return {taken, false};
  }
  return {taken, taken == lead.length};
}

}  // namespace velmar::json
