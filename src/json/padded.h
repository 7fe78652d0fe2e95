// Text that may be read past its end. The reader, the packed cells and the writer load a
// whole block of sixteen bytes wherever a token or a string starts; a PaddedView promises
// that kPadding readable bytes follow its text, so none of them checks what remains.
// PaddedText owns such text, with zeroed padding; pad_in makes it inside an arena.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "json/arena.h"

namespace velmar::json {

// The readable bytes past a padded text's end: one block.
inline constexpr std::size_t kPadding = 16;

// A text followed by at least kPadding readable bytes, which are not part of it. Any part
// of it is padded too: what follows the part is the rest of the text, then the padding.
class PaddedView {
 public:
  // The empty text, followed by zeros.
  PaddedView() : text_(kZeros, 0) {}

  // `text`, which the caller vouches is followed by kPadding readable bytes.
  static PaddedView assume_padded(std::string_view text) { return PaddedView(text); }

  const char* data() const { return text_.data(); }
  std::size_t size() const { return text_.size(); }
  bool empty() const { return text_.empty(); }
  const char* end() const { return text_.data() + text_.size(); }
  std::string_view text() const { return text_; }

  // The `n` bytes at `pos`; pos + n <= size().
  PaddedView part(std::size_t pos, std::size_t n) const {
    assert(pos <= size() && n <= size() - pos);
    return PaddedView({text_.data() + pos, n});
  }

 private:
  explicit PaddedView(std::string_view text) : text_(text) {}

  alignas(16) static constexpr char kZeros[kPadding] = {};
  std::string_view text_;
};

// A padded copy of a text that it owns, its padding zeroed.
class PaddedText {
 public:
  PaddedText() = default;

  // Room for a text of `size` bytes, written through data() before view() is read, and
  // its padding, zeroed. Failing to allocate throws std::bad_alloc, as new does.
  static PaddedText with_size(std::size_t size) {
    PaddedText text;
    if (size == 0) return text;
    if (size > SIZE_MAX - kPadding) throw std::bad_alloc();
    text.bytes_ = std::make_unique_for_overwrite<char[]>(size + kPadding);
    std::memset(text.bytes_.get() + size, 0, kPadding);
    text.size_ = size;
    return text;
  }

  // A copy of `text`.
  static PaddedText copy_of(std::string_view text) {
    PaddedText copy = with_size(text.size());
    if (!text.empty()) std::memcpy(copy.data(), text.data(), text.size());
    return copy;
  }

  char* data() { return bytes_.get(); }
  std::size_t size() const { return size_; }

  PaddedView view() const {
    if (size_ == 0) return {};
    return PaddedView::assume_padded({bytes_.get(), size_});
  }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_ = 0;
};

// A padded copy of `text` in `arena`, as long-lived as the arena.
inline PaddedView pad_in(Arena& arena, std::string_view text) {
  char* copy = static_cast<char*>(arena.allocate(text.size() + kPadding));
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  std::memset(copy + text.size(), 0, kPadding);
  return PaddedView::assume_padded({copy, text.size()});
}

}  // namespace velmar::json
