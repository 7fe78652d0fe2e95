// Whether an array's, object's or escaped string's text in the input is its writer text:
// exactly what the writer writes for the value read from it. That is compact text (no whitespace),
// every number in the writer's form, every string with only the escapes the writer makes, and no
// key twice in an object. Such text is copied to the output as it is and compared as
// bytes, so no tree is built for it; a text whose strings hold other escapes is copied
// with those escapes redone. Internal to the reader and the writer.
#pragma once

#include "json/padded.h"

namespace velmar::json::detail {

// The end of the array or object opening at `p` (its bracket or brace, p < end) when its
// text is its writer text and its levels fit `depth`, the reader's remaining depth budget
// before it opens; null otherwise, having decided nothing else: the reader then reads it
// as it would have. Text accepted here is text the reader accepts, as the same value. The
// input is padded past `end`. Strings that are not keys may also hold foreign escapes,
// which the reader reads but the writer writes otherwise ("\/", "\u00e9", "\ud83d\ude00"):
// `foreign_escapes` tells whether there are any.
const char* writer_text_end(const char* p, const char* end, unsigned depth, bool& foreign_escapes);

// The same for a string value with escapes, from its first escape's letter (`p`, past the
// backslash): the end past its closing quote when the reader would read the rest of it, the
// raw run before `p` being valid UTF-8; null otherwise.
const char* writer_string_end(const char* p, const char* end, bool& foreign_escapes);

// Writes at `out` what the writer writes for a text accepted above with foreign escapes:
// the text with each escape redone as the writer's, never longer. Returns its end; `out`
// needs room for the text's size and a block (kBlockBytes) more.
char* write_foreign_escaped_text(PaddedView text, char* out);

}  // namespace velmar::json::detail
