// The quoted form of a string: table lookup for the escaped code points and the escaping
// writer itself.
#include "json/quoted.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <charconv>
#include <cstddef>
#include <cstdint>

#include "json/unicode_tables.inc"

namespace velmar::json::detail {
namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

static_assert(std::size(kEscapePlaneStart) == (kMaxCodePoint >> 16) + 2);
static_assert(kEscapePlaneStart[std::size(kEscapePlaneStart) - 1] == std::size(kEscapeRanges));

struct Utf8Char {
  char32_t cp;
  std::size_t size;
};

[[maybe_unused]] constexpr bool is_continuation(unsigned char byte) {
  return (byte & 0xC0U) == 0x80U;
}

// Decodes the character starting at text[at]. Precondition: a complete, well-formed UTF-8
// sequence starts there; a sequence cut short by the end of `text` is clamped to it.
Utf8Char decode_at(std::string_view text, std::size_t at) {
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

// The letter of the two-character escape for `cp`, or 0 when it has none.
constexpr char short_escape_letter(char32_t cp) {
  switch (cp) {
    case U'"':
      return '"';
    case U'\\':
      return '\\';
    case U'\t':
      return 't';
    case U'\n':
      return 'n';
    case U'\r':
      return 'r';
    case U'\0':
      return '0';
    default:
      return 0;
  }
}

// U+0301 -> \u{301}
void append_unicode_escape(std::string& out, char32_t cp) {
  std::array<char, 16> buf{'\\', 'u', '{'};
  const auto [end, ec] =
      std::to_chars(buf.data() + 3, buf.data() + buf.size() - 1, std::uint32_t{cp}, 16);
  assert(ec == std::errc{});
  *end = '}';
  out.append(buf.data(), end + 1);
}

}  // namespace

bool needs_unicode_escape(char32_t cp) {
  if (cp > kMaxCodePoint) {
    return true;
  }
  const std::size_t plane = cp >> 16;
  const auto low = static_cast<std::uint16_t>(cp & 0xFFFFU);
  const EscapeRange* begin = kEscapeRanges + kEscapePlaneStart[plane];
  const EscapeRange* end = kEscapeRanges + kEscapePlaneStart[plane + 1];
  // The last range that starts at or before `low` is the only one that can hold it.
  const EscapeRange* after = std::upper_bound(
      begin, end, low, [](std::uint16_t v, const EscapeRange& r) { return v < r.first; });
  return after != begin && low <= (after - 1)->last;
}

void append_quoted(std::string& out, std::string_view utf8) {
  out.reserve(out.size() + utf8.size() + 2);
  out.push_back('"');
  // Characters that stand for themselves are copied in runs, not one by one.
  std::size_t run_start = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const Utf8Char ch = decode_at(utf8, i);
    const char letter = short_escape_letter(ch.cp);
    if (letter != 0 || needs_unicode_escape(ch.cp)) {
      out.append(utf8, run_start, i - run_start);
      if (letter != 0) {
        out.push_back('\\');
        out.push_back(letter);
      } else {
        append_unicode_escape(out, ch.cp);
      }
      run_start = i + ch.size;
    }
    i += ch.size;
  }
  out.append(utf8, run_start);
  out.push_back('"');
}

}  // namespace velmar::json::detail
