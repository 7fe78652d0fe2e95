// Whether an array's, object's or escaped string's text in the input is its writer text:
// exactly what the writer writes for the value read from it. That is compact text (no whitespace),
// every number in the writer's form, every string with only the escapes the writer makes, and no
// key twice in an object. Such text is copied to the output as it is and compared as
// bytes, so no tree is built for it; a text whose strings hold other escapes, or with
// whitespace between its tokens, is copied with those redone or left out. Internal to the
// reader and the writer.
#pragma once

#include "json/packed_value.h"
#include "json/padded.h"

namespace velmar::json::detail {

// The end of the array or object opening at `p` (its bracket or brace, p < end) when its
// text is its writer text and its levels fit `depth`, the reader's remaining depth budget
// before it opens; null otherwise, having decided nothing else: the reader then reads it
// as it would have. Text accepted here is text the reader accepts, as the same value. The
// input is padded past `end`. Strings that are not keys may also hold foreign escapes,
// which the reader reads but the writer writes otherwise ("\/", "\u00e9", "\ud83d\ude00"),
// and tokens may have whitespace between them: `rewrites` tells whether there are any.
const char* writer_text_end(const char* p, const char* end, unsigned depth, TextRewrites& rewrites);

// The same for a string value with escapes, from its first escape's letter (`p`, past the
// backslash): the end past its closing quote when the reader would read the rest of it, the
// raw run before `p` being valid UTF-8; null otherwise.
const char* writer_string_end(const char* p, const char* end, TextRewrites& rewrites);

// Writes at `out` what the writer writes for a text accepted above with foreign escapes:
// the text with each escape redone as the writer's, never longer. Returns its end; `out`
// needs room for the text's size and a block (kBlockBytes) more.
char* write_foreign_escaped_text(PaddedView text, char* out);
// The same for a text accepted with spaces, and with `foreign_escapes` or not: its
// whitespace left out and its escapes redone. `foreign_escapes` may be set for any such
// text; it then takes the path that redoes every escape.
char* write_spaced_text(PaddedView text, bool foreign_escapes, char* out);

// The ways write_spaced_text has: token runs (any text), and for texts with only the
// writer's escapes, a lane shuffle per 16 bytes or a lane compress per 64; it takes the
// widest the processor has. Named so that tests can run each one it has.
enum class SpacedTextWriter { kRuns, kShuffle, kCompress };
bool has_spaced_text_writer(SpacedTextWriter writer);
char* write_spaced_text_with(SpacedTextWriter writer, PaddedView text, char* out);

}  // namespace velmar::json::detail
