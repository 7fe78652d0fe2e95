// The byte-level work on string handles, kept out of value.h for the few files that do
// it in their hot paths: the one packing of inline strings and the strings' digest.
// Internal to src/json.
#pragma once

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "json/simd.h"
#include "json/value.h"
#include "json/word.h"

namespace velmar::json::detail {

struct StringBytes {
  // The inline string of the n <= kInlineCapacity bytes that start `text`, whatever the
  // lanes from n on hold: they are cleared, as the padding rule (JsonValue::Inline) asks,
  // and the text moved up two lanes, below kind and bits.
  static JsonValue pack_inline(Block text, std::size_t n, bool escape_free) {
    // A value of its own, as a copy of `v` made at return would go through the stack.
    JsonValue inline_form;
    store_block(&inline_form, inline_words(text, n, escape_free));
    return inline_form;
  }
  // The sixteen bytes of that inline string.
  static Block inline_words(Block text, std::size_t n, bool escape_free) {
    assert(n <= JsonValue::kInlineCapacity);
    std::uint8_t flags = escape_free ? JsonValue::kEscapeFreeBit : 0;
    auto bits = static_cast<std::uint64_t>(flags | JsonValue::kInlineBit | (n << 4));
    std::uint64_t head = static_cast<std::uint64_t>(JsonKind::kString) | (bits << 8);
    return either(lanes_up_two(first_lanes(text, n)), block_of_words(head, 0));
  }

  // A digest of a string value's bytes, for filters: strings that same_string finds equal
  // have equal digests. Reads the handle and at most two words of a long string.
  static std::uint64_t digest(const JsonValue& v) {
    assert(v.is_string());
    if ((v.s_.bits & JsonValue::kInlineBit) != 0) {
      // All sixteen bytes, which the padding rule makes the text's own, but the flag.
      std::uint64_t x[2];
      std::memcpy(x, static_cast<const void*>(&v), sizeof x);
      return (x[0] & ~JsonValue::kEscapeFreeInWord) ^ std::rotl(x[1], 29);
    }
    // Longer than kInlineCapacity, so both words lie inside the text.
    std::size_t n = v.length();
    return n ^ load_word(v.h_.str) ^ std::rotl(load_word(v.h_.str + n - 8), 17);
  }
};

}  // namespace velmar::json::detail
