// Strings with escapes: raw runs are copied into the scratch buffer and escapes decoded
// between them, then the text is moved into a string value in blocks.
#include "json/string_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "json/bytes.h"
#include "json/utf8.h"
#include "json/utf8_scan.h"

namespace velmar::json::detail {

// MARK: - The scratch buffer

inline char* ScratchBuffer::reserve_more(std::size_t n) {
  if (capacity_ - size_ < n) grow(n);
  return bytes_.get() + size_;
}

inline void ScratchBuffer::append_padded(const char* p, std::size_t n) {
  char* out = reserve_more(n + kPadding);
  for (std::size_t i = 0; i < n; i += kBlockBytes) std::memcpy(out + i, p + i, kBlockBytes);
  size_ += n;
}

inline PaddedView ScratchBuffer::padded_view() {
  reserve_more(kPadding);
  return PaddedView::assume_padded({bytes_.get(), size_});
}

void ScratchBuffer::grow(std::size_t n) {
  std::size_t capacity = std::max({capacity_ * 2, size_ + n, std::size_t{64}});
  auto bytes = std::make_unique<char[]>(capacity);
  if (size_ > 0) std::memcpy(bytes.get(), bytes_.get(), size_);
  bytes_ = std::move(bytes);
  capacity_ = capacity;
}

// MARK: - Strings with escapes

// The raw runs and the escapes between them, up to the closing quote. Escapes only
// produce complete, well-formed sequences, each starting a character, so the text is
// well-formed exactly when each raw run is: runs are checked alone, and the verdict waits
// for the closing quote, as for a string without escapes.
bool StringReader::read_escaped_string(JsonValue& out, const char* run, std::uint64_t seen) {
  scratch_.clear();
  bool well_formed = true;
  for (;;) {
    const char* stop = cur_ - 1;  // the byte that ended the run
    auto run_size = static_cast<std::size_t>(stop - run);
    if (seen != 0 && well_formed) well_formed = is_valid_utf8(input_part(run, stop));
    scratch_.append_padded(run, run_size);
    if (*stop == '"') break;
    if (!read_escapes()) return false;
    run = cur_;
    seen = 0;
    cur_ = find_raw_run_end(cur_, end_, seen);
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingString);
    char c = *cur_++;
    if (c != '"' && c != '\\') return error(ErrorCode::kControlCharacterInString);
  }
  if (!well_formed) return error(ErrorCode::kInvalidUnicodeCodePoint);
  out = string_from_scratch();
  return true;
}

// The scratch buffer's text as a string value, moved in blocks as its padding allows: inline,
// or copied into the arena with the last block ending at the last byte (a text of 20
// bytes: the block at 0, then the block at 4).
inline JsonValue StringReader::string_from_scratch() {
  const PaddedView text = scratch_.padded_view();
  std::size_t n = text.size();
  Block first = load_block(text.data());
  if (n <= JsonValue::kInlineCapacity) return StringBytes::pack_inline(first, n, false);
  // At least a block, as the first block is stored whole even when n is 15.
  auto* copy = static_cast<char*>(arena_.allocate(std::max<std::size_t>(n, kBlockBytes)));
  store_block(copy, first);
  for (std::size_t i = kBlockBytes; i + kBlockBytes < n; i += kBlockBytes) {
    std::memcpy(copy + i, text.data() + i, kBlockBytes);
  }
  if (n > kBlockBytes)
    std::memcpy(copy + n - kBlockBytes, text.data() + n - kBlockBytes, kBlockBytes);
  return JsonValue::borrowed_string({copy, n}, false);
}

// The escapes from the one whose backslash is consumed, while they follow each other
// back to back (text escaped character by character has no run between), appended to the
// scratch buffer. Most are decoded here in batches, with the index and the output in
// locals: a byte stored through `char*` may alias a member, which would then be reloaded
// after every byte. An escape near the input's end, a surrogate pair or a fault is left
// to read_escape, which reads it from its letter.
inline bool StringReader::read_escapes() {
  constexpr int kBatch = 16;
  for (;;) {
    char* const start = scratch_.reserve_more(kBatch * 4);  // four bytes an escape at most
    char* out = start;
    const char* p = cur_;  // at an escape's letter
    bool ended = false;
    for (int k = 0; k < kBatch && end_ - p >= 6; ++k) {
      const unsigned char decoded = kEscapedBytes[static_cast<unsigned char>(*p)];
      if (decoded == kUnicodeEscape) {
        const int v = hex4_at(p + 1);
        if (v < 0 || is_surrogate(static_cast<std::uint32_t>(v))) break;
        out += encode_utf8(static_cast<char32_t>(v), out);
        p += 5;
      } else {
        if (decoded == 0) break;
        *out++ = static_cast<char>(decoded);
        ++p;
      }
      if (*p != '\\') {
        ended = true;
        break;
      }
      ++p;
    }
    cur_ = p;
    scratch_.commit(static_cast<std::size_t>(out - start));
    if (ended) return true;
    if (!read_escape()) return false;
    if (cur_ == end_ || *cur_ != '\\') return true;
    ++cur_;
  }
}

// One escape after its backslash, appended to the scratch buffer.
bool StringReader::read_escape() {
  if (cur_ == end_) return error(ErrorCode::kEofWhileParsingString);
  unsigned char decoded = kEscapedBytes[static_cast<unsigned char>(*cur_++)];
  if (decoded == 0) return error(ErrorCode::kInvalidEscape);
  char* out = scratch_.reserve_more(4);  // the longest escape gives four bytes
  if (decoded == kUnicodeEscape) return read_unicode_escape(out);
  *out = static_cast<char>(decoded);
  scratch_.commit(1);
  return true;
}

// The four hex digits after \u, and the second escape of a surrogate pair. Writes the
// UTF-8 bytes at `out`, which has room for four.
bool StringReader::read_unicode_escape(char* out) {
  std::uint32_t v = 0;
  if (!read_hex4(v)) return false;
  if (is_low_surrogate(v)) return error(ErrorCode::kLoneLeadingSurrogate);
  if (!is_high_surrogate(v)) {
    scratch_.commit(encode_utf8(v, out));
    return true;
  }
  for (char expected : {'\\', 'u'}) {
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingString);
    if (*cur_++ != expected) return error(ErrorCode::kUnexpectedEndOfHexEscape);
  }
  std::uint32_t w = 0;
  if (!read_hex4(w)) return false;
  if (!is_low_surrogate(w)) return error(ErrorCode::kLoneLeadingSurrogate);
  scratch_.commit(encode_utf8(surrogate_pair_value(v, w), out));
  return true;
}

inline bool StringReader::read_hex4(std::uint32_t& v) {
  if (end_ - cur_ < 4) {
    cur_ = end_;
    return error(ErrorCode::kEofWhileParsingString);
  }
  const int value = hex4_at(cur_);
  cur_ += 4;
  if (value < 0) return error(ErrorCode::kInvalidEscape);
  v = static_cast<std::uint32_t>(value);
  return true;
}

bool StringReader::read_literal_by_letter(std::string_view rest) {
  for (char letter : rest) {
    if (cur_ == end_) return error(ErrorCode::kEofWhileParsingValue);
    if (*cur_++ != letter) return error(ErrorCode::kExpectedIdent);
  }
  return true;
}

}  // namespace velmar::json::detail
