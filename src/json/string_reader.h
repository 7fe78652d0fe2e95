// The reader's cursor and strings, internal to src/json: the cursor that the grammar
// derives from, with its errors, its moves over whitespace and a key's colon and its
// literal compares, the value of a string without escapes, a key compared with the one
// expected and the assembly of strings with escapes. The grammar (grammar.h) finds where a
// string's first raw run ends; strings without escapes never leave the inline functions
// here and there.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "json/arena.h"
#include "json/bytes.h"
#include "json/padded.h"
#include "json/read_error.h"
#include "json/simd.h"
#include "json/string_bytes.h"
#include "json/value.h"

namespace velmar::json::detail {

// String text moves in blocks instead of by its length: a block may be loaded from any
// byte of the input, which is padded, and of the scratch buffer, which pads its text.
static_assert(kPadding >= static_cast<std::size_t>(kBlockBytes));

// Where a string with escapes is assembled; it keeps its memory from one string to the
// next, and its storage is zeroed, so that the padding read past the text is initialised.
class ScratchBuffer {
 public:
  void clear() { size_ = 0; }
  // Room for `n` more bytes at the returned address; commit() makes them part of the text.
  char* reserve_more(std::size_t n);
  void commit(std::size_t n) { size_ += n; }
  // Appends the `n` bytes at `p`, which are followed by kPadding readable bytes: whole
  // blocks are copied, the excess landing in reserved room past the text.
  void append_padded(const char* p, std::size_t n);
  // The text, followed by its padding.
  PaddedView padded_view();

 private:
  [[gnu::noinline]] void grow(std::size_t n);

  std::unique_ptr<char[]> bytes_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

// A literal's letters after its first, and the word they make in the input's byte order
// under the mask of their bytes.
struct LiteralRest {
  std::string_view letters;
  std::uint32_t word = 0;
  std::uint32_t mask = 0;
};

template <std::size_t N>
consteval LiteralRest literal_rest(const char (&letters)[N]) {
  constexpr std::size_t n = N - 1;  // without the terminating zero
  static_assert(n <= sizeof(std::uint32_t) && sizeof(std::uint32_t) <= kPadding);
  LiteralRest rest{{letters, n}};
  for (std::size_t i = 0; i < n; ++i) {
    rest.word |= std::uint32_t{static_cast<unsigned char>(letters[i])} << (8 * i);
    rest.mask |= std::uint32_t{0xff} << (8 * i);
  }
  return rest;
}

constexpr LiteralRest kNullRest = literal_rest("ull");
constexpr LiteralRest kTrueRest = literal_rest("rue");
constexpr LiteralRest kFalseRest = literal_rest("alse");

// The reader's cursor and the strings read at it: the input, the index into it, the
// error that ended the read, the moves over whitespace, and the assembly of strings with
// escapes. The grammar (Reader in grammar.h) derives from it, so that strings read at the
// cursor as the grammar's own members do.
class StringReader {
 protected:
  StringReader(Arena& arena, PaddedView input)
      : arena_(arena), begin_(input.data()), cur_(begin_), end_(input.end()) {}

  std::size_t index() const { return static_cast<std::size_t>(cur_ - begin_); }
  // The input's bytes from `first` to `last`: a part of the input, so padded too.
  static PaddedView input_part(const char* first, const char* last) {
    return PaddedView::assume_padded({first, static_cast<std::size_t>(last - first)});
  }
  std::size_t size() const { return static_cast<std::size_t>(end_ - begin_); }

  // The two ways to raise an error; both return false for `return error(...)`. `error`
  // places it after the bytes consumed so far, `peek_error` at the unconsumed byte under
  // the index; an error at the end of the input is at byte count n either way.
  bool error(ErrorCode code) { return fail_at(code, index()); }
  bool peek_error(ErrorCode code) { return fail_at(code, std::min(index() + 1, size())); }
  bool fail_at(ErrorCode code, std::size_t i) {
    code_ = code;
    error_index_ = i;
    return false;
  }

  void skip_whitespace() {
    if (may_be_whitespace(cur_, end_)) cur_ = past_whitespace(cur_, end_);
  }

  // The colon after a key and the whitespace around it, up to the value's first byte.
  // Compact text has ":" before the value, indented text ": " or " : "; each is settled
  // by comparisons that need no loop; the padding past the input (zeros) matches none of
  // them. Precondition: after a key.
  [[gnu::always_inline]] bool skip_colon() {
    if (*cur_ == ':') {
      const auto after = static_cast<unsigned char>(cur_[1]);
      if (after > ' ') {
        ++cur_;
        return true;
      }
      if (after == ' ' && static_cast<unsigned char>(cur_[2]) > ' ') {
        cur_ += 2;
        return true;
      }
    } else if (std::memcmp(cur_, " : ", 3) == 0 && static_cast<unsigned char>(cur_[3]) > ' ') {
      cur_ += 3;
      return true;
    }
    skip_whitespace();
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingObject);
    if (*cur_ != ':') return peek_error(ErrorCode::kExpectedColon);
    ++cur_;
    skip_whitespace();
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingValue);
    return true;
  }

  // The letters of a literal after its first, at the index: four bytes are loaded at once
  // and masked to the letters, as a word copied in two or three narrow stores is read back
  // only once they complete. E.g. "ull" is the word 0x6c6c75 under the mask 0xffffff.
  [[gnu::always_inline]] bool read_literal(const LiteralRest& rest) {
    std::uint32_t have = 0;
    std::memcpy(&have, cur_, sizeof(have));  // the padding past the input matches no letter
    if ((have & rest.mask) == rest.word) {
      cur_ += rest.letters.size();
      return true;
    }
    return read_literal_by_letter(rest.letters);
  }
  // The same when they differ or the input ends: each letter is consumed before it is
  // compared, which places the error.
  [[gnu::noinline]] bool read_literal_by_letter(std::string_view rest);

  // The string without escapes whose text is `text`, in the input: inline, read as one
  // block from its start; or referring to its text when longer than an inline string.
  void set_raw_string(JsonValue& out, std::string_view text);

  // The key at the index, after its opening quote, when the input holds the text of
  // `expected` there and then the closing quote; false, having consumed nothing,
  // otherwise. Only a key that was raw text is expected: its bytes were checked when it
  // was read, so the same bytes need no check, and the key is made as set_raw_string
  // makes it.
  [[gnu::always_inline]] bool read_expected_key(const JsonValue& expected, JsonValue& key) {
    if (!expected.string_escape_free()) return false;
    const std::size_t n = expected.as_string().size();
    if (n > JsonValue::kInlineCapacity) return false;
    // Both inline and escape-free: the same text exactly when all sixteen bytes are the
    // same, compared in registers rather than through a stored copy.
    const Block candidate = StringBytes::inline_words(load_block(cur_), n, true);
    if (cur_[n] != '"' || !same_blocks(candidate, load_block(&expected))) return false;
    store_block(&key, candidate);
    cur_ += n + 1;
    return true;
  }

  // The rest of a string whose first raw run starts at `run` and ends at the backslash
  // before the index; `seen` is nonzero when the run has a byte >= 0x80
  // (find_raw_run_end's). `out` is the string, its copy in the arena unless inline.
  [[gnu::noinline]] bool read_escaped_string(JsonValue& out, const char* run, std::uint64_t seen);

  Arena& arena_;
  const char* begin_;
  const char* cur_;
  const char* end_;
  ErrorCode code_ = ErrorCode::kEofWhileParsingValue;
  std::size_t error_index_ = 0;

 private:
  JsonValue string_from_scratch();
  [[gnu::always_inline]] bool read_escapes();
  bool read_escape();
  bool read_unicode_escape(char* out);
  [[gnu::always_inline]] bool read_hex4(std::uint32_t& v);

  ScratchBuffer scratch_;
};

inline void StringReader::set_raw_string(JsonValue& out, std::string_view text) {
  if (text.size() > JsonValue::kInlineCapacity) {
    out = JsonValue::borrowed_string(text, true);
  } else {
    out = StringBytes::pack_inline(load_block(text.data()), text.size(), true);
  }
}

}  // namespace velmar::json::detail
