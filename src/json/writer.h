// The compact JSON writer, the chief header of the writing side: one fixed text for every
// value (no whitespace, members in entry order, the 34-byte escape table, integers in
// plain digits, doubles as the shortest round-trip digits in one of four layouts).
// Nothing here can fail. writer.cpp walks the value; the escape table derives from
// bytes.h; number_format.{h,cpp} hold the number texts declared at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/value.h"

namespace velmar::json {

// Longest texts format_unsigned and format_double write.
inline constexpr std::size_t kMaxUnsignedText = 20;  // 18446744073709551615
inline constexpr std::size_t kMaxDoubleText = 24;    // -2.2250738585072014e-308

// The compact text of `value` in a new buffer that starts with max(128, size_hint)
// bytes reserved.
std::string to_json_bytes(const JsonValue& value, std::size_t size_hint = 0);

// Appends the compact text of `value` to `out`.
void serialize(const JsonValue& value, std::string& out);

// The same bytes serialize() appends, as a string of their own; used in messages.
std::string display_text(const JsonValue& value);

// Appends `text` (valid UTF-8) as a JSON string: quotes, escapes for the 34 bytes of the
// escape table, every other byte raw.
void serialize_str(std::string_view text, std::string& out);

// Appends the escape for `byte`, whose escape-table letter is `letter`: a backslash and
// the letter, or \u00 and two lowercase hex digits when the letter is 'u'.
void write_char_escape(char letter, unsigned char byte, std::string& out);

// Writes the decimal digits of `v` into `buf` (at least kMaxUnsignedText bytes) and
// returns their count.
std::size_t format_unsigned(std::uint64_t v, char* buf);

// Writes finite `v` into `buf` (at least kMaxDoubleText bytes) and returns the count:
// sign, then 0.0 for zero, else the shortest round-trip significand laid out by the
// power of ten u of its first digit: exponent form when u < -5 or u > 15 (1e+16,
// 1.5e-7), small fraction for -5 <= u <= -1 (0.00001), point inside for 0 <= u < n-1
// (1234.5), whole number otherwise (100.0).
std::size_t format_double(double v, char* buf);

}  // namespace velmar::json
