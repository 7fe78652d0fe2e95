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
#include "json/utf8.h"

namespace velmar::json::detail {
namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

static_assert(std::size(kEscapePlaneStart) == (kMaxCodePoint >> 16) + 2);
static_assert(kEscapePlaneStart[std::size(kEscapePlaneStart) - 1] == std::size(kEscapeRanges));

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
    const Utf8Char ch = decode_utf8(utf8, i);
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
