// The compact JSON writer, the chief header of the writing side: one fixed text for every
// value (no whitespace, members in entry order, the 34-byte escape table, integers in
// plain digits, doubles as the shortest round-trip digits in one of four layouts).
// Nothing here can fail. writer.cpp walks the value; the escape table derives from
// bytes.h; the number texts are number_format.h's, included here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/number_format.h"
#include "json/value.h"

namespace velmar::json {

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

}  // namespace velmar::json
