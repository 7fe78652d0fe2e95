// The quoted form of a string, as the reader's "invalid type" message shows it: the text
// between double quotes, with escapes for the characters that would not read clearly.
#pragma once

#include <string>
#include <string_view>

namespace velmar::json::detail {

// True when `cp` is written as \u{...} in the quoted form: a control character (Cc), a
// whitespace character other than the space, a format character (Cf), a default-ignorable
// code point, a private-use character (Co), an unassigned code point (Cn) or a
// grapheme-extending character, by the Unicode tables in unicode_tables.inc. Values above
// U+10FFFF are not code points and count as escaped.
bool needs_unicode_escape(char32_t cp);

// Appends `utf8` to `out` in quoted form: a double quote, the characters, a double quote.
// The double quote and the backslash get a backslash in front; tab, LF, CR and U+0000
// become \t \n \r \0; every other character for which needs_unicode_escape holds becomes
// \u{hex}, the code point in lowercase hexadecimal without leading zeros (U+001B ->
// \u{1b}); all others, the apostrophe included, stand for themselves.
// Precondition: `utf8` is well-formed UTF-8. Ill-formed input is never read out of bounds,
// but its output is unspecified.
void append_quoted(std::string& out, std::string_view utf8);

}  // namespace velmar::json::detail
