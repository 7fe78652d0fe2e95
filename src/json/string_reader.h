// The reader's strings, internal to src/json: the slack that lets string text move in
// blocks, the value of a string without escapes, a key compared with the one expected,
// and the assembly of a string with escapes. The grammar (reader.cpp) finds where a string's first
// raw run ends and hands over here; strings without escapes never leave the inline functions below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "json/arena.h"
#include "json/read_error.h"
#include "json/simd.h"
#include "json/string_bytes.h"
#include "json/value.h"

namespace velmar::json::detail {

// The slack: the bytes the reader may read past a string's text, counted from the text's
// start (a whole block even for a shorter text) and from its end (the rest of a block).
// The reader guarantees them, so that string text moves in fixed-size blocks instead of by
// its length: in the input by checking that this much remains, in the scratch buffer by
// padding its copy with as much.
inline constexpr std::ptrdiff_t kStringSlack = kBlockBytes;

// The string without escapes whose text is `text`, in an input that ends at `input_end`:
// inline, read as one block when the input has a block's bytes from its start; or
// referring to its text when longer than an inline string.
inline JsonValue raw_string_value(Arena& arena, std::string_view text, const char* input_end) {
  if (text.size() > JsonValue::kInlineCapacity) return JsonValue::borrowed_string(text, true);
  if (input_end - text.data() >= kStringSlack) {
    return StringBytes::pack_inline(load_block(text.data()), text.size(), true);
  }
  return JsonValue::string(arena, text, true);
}

// The key at `cur`, after its opening quote, when the input holds the text of `expected`
// there and then the closing quote; false, having consumed nothing, otherwise. Only a key
// that was raw text is expected: its bytes were checked when it was read, so the same
// bytes need no check, and the key is made exactly as raw_string_value makes it.
[[gnu::always_inline]] inline bool read_expected_key(const char*& cur, const char* end,
                                                     const JsonValue& expected, JsonValue& key) {
  if (!expected.string_escape_free()) return false;
  const std::size_t n = expected.as_string().size();
  if (n > JsonValue::kInlineCapacity || end - cur < kStringSlack) return false;
  // Both inline and escape-free: the same text exactly when all sixteen bytes are the
  // same, compared in registers rather than through a stored copy.
  const Block candidate = StringBytes::inline_words(load_block(cur), n, true);
  if (cur[n] != '"' || !same_blocks(candidate, load_block(&expected))) return false;
  store_block(&key, candidate);
  cur += n + 1;
  return true;
}

// Where a string with escapes is assembled; it keeps its memory from one string to the
// next, and its storage is zeroed, so that the slack read past the text is initialised.
class ScratchBuffer {
 public:
  void clear() { size_ = 0; }
  // Room for `n` more bytes at the returned address; commit() makes them part of the text.
  char* reserve_more(std::size_t n);
  void commit(std::size_t n) { size_ += n; }
  void append(const char* p, std::size_t n);
  // append() for bytes followed by the slack: whole blocks are copied, the excess landing
  // in reserved room past the text.
  void append_with_slack(const char* p, std::size_t n);
  // The text, followed by the slack.
  std::string_view padded_view();

 private:
  [[gnu::noinline]] void grow(std::size_t n);

  std::unique_ptr<char[]> bytes_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

// Reads the rest of strings with escapes, from the backslash that ends their first raw
// run to their closing quote.
class EscapedStringReader {
 public:
  // The string whose first raw run starts at `run` and ends at the backslash before
  // `cur`; `seen` is nonzero when the run has a byte >= 0x80 (find_raw_run_end's). On
  // success `out` is the string, its copy in `arena` unless inline, and `cur` is past the
  // closing quote. On failure error() is the code, placed after the bytes consumed up to
  // `cur`.
  [[gnu::noinline]] bool read(Arena& arena, const char*& cur, const char* end, const char* run,
                              std::uint64_t seen, JsonValue& out);
  ErrorCode error() const { return code_; }

 private:
  bool read_runs(Arena& arena, const char* run, std::uint64_t seen, JsonValue& out);
  JsonValue string_from_scratch(Arena& arena);
  bool read_escapes();
  bool read_escape();
  bool read_unicode_escape(char* out);
  [[gnu::always_inline]] bool read_hex4(std::uint32_t& v);
  bool fail(ErrorCode code) {
    code_ = code;
    return false;
  }

  ScratchBuffer scratch_;
  const char* cur_ = nullptr;
  const char* end_ = nullptr;
  ErrorCode code_ = ErrorCode::kEofWhileParsingString;
};

}  // namespace velmar::json::detail
