// The reader's check of raw string bytes against the rules of utf8.h, a block at a time
// where the text allows; internal to src/json, so that the public utf8.h needs no block
// layer.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <string_view>

#include "json/simd.h"
#include "json/utf8.h"
#include "json/word.h"

namespace velmar::json::detail {

// True when the characters from `p` to `end` are well-formed, checked one at a time:
// runs of ASCII a block at a time, other characters back to back until the next ASCII
// byte, as scripts written without ASCII put one after another. `p` starts a character.
inline bool is_valid_utf8_by_character(const char* p, const char* end) {
  auto byte_at = [](const char* q) { return static_cast<unsigned char>(*q); };
  while (p != end) {
    if (end - p >= kBlockBytes) {
      auto ascii = static_cast<std::ptrdiff_t>(
          std::countr_zero(lane_bits(load_block(p)) | (1u << kBlockBytes)));
      p += ascii;
      if (ascii == kBlockBytes) continue;
    } else if (byte_at(p) < 0x80) {
      ++p;
      continue;
    }
    // At a byte >= 0x80: one sequence, and the next ones while no ASCII byte comes.
    do {
      unsigned char c = byte_at(p);
      if (c < 0x80) break;
      Utf8Lead lead = kUtf8Leads[c];
      if (lead.length == 0 || end - p < lead.length) return false;
      unsigned char second = byte_at(p + 1);
      if (second < lead.low || second > lead.high) return false;
      for (int k = 2; k < lead.length; ++k) {
        if (!is_continuation(byte_at(p + k))) return false;
      }
      p += lead.length;
    } while (p != end);
  }
  return true;
}

// One bit per lane of a block, for its bytes >= 0x80: those that continue a character,
// those that lead a two-byte one (C2 to DF), and the rest (C0 and C1, never allowed, and
// the leads of longer characters, E0 to FF).
struct HighLanes {
  unsigned continuation;
  unsigned two_byte_lead;
  unsigned other;
};

inline HighLanes classify_high_lanes(Block v) {
  const Block top_two = block_of_words(kOnes * 0xC0, kOnes * 0xC0);
  const Block top_three = block_of_words(kOnes * 0xE0, kOnes * 0xE0);
  const unsigned high = lane_bits(v);
  const unsigned continuation = lane_bits(lanes_equal(both(v, top_two), '\x80'));
  const unsigned c0_to_df = lane_bits(lanes_equal(both(v, top_three), '\xC0'));
  const unsigned overlong = lane_bits(either(lanes_equal(v, '\xC0'), lanes_equal(v, '\xC1')));
  return {continuation, c0_to_df & ~overlong, (high & ~continuation & ~c0_to_df) | overlong};
}

// True when `text` is well-formed UTF-8. Text of ASCII and two-byte characters (Latin,
// Greek, Cyrillic, Hebrew, Arabic scripts) is checked a block at a time: there it is
// well-formed exactly when the continuations are the lanes just after the leads, a lead
// in a block's last lane carrying over to the next block's first. A block with a longer
// character, and the text's last partial block, are checked one character at a time from
// the character that is open there. With `readable_past` a block may be loaded past the
// text's end (the reader's slack), so the last partial block is checked as a block too,
// its lanes past the end left out.
inline bool is_valid_utf8(std::string_view text, bool readable_past = false) {
  const char* p = text.data();
  const char* end = p + text.size();
  unsigned open = 0;  // 1 when the previous block's last lane leads a two-byte character
  while (p != end) {
    const auto n = static_cast<std::size_t>(end - p);
    if (n < static_cast<std::size_t>(kBlockBytes) && !readable_past) break;
    const Block v = load_block(p);
    // The lanes of the text: all sixteen, or the first n of the last block.
    const unsigned lanes = n < static_cast<std::size_t>(kBlockBytes) ? (1u << n) - 1 : 0xFFFFu;
    if ((lane_bits(v) & lanes) == 0 && open == 0) {
      p += std::min(n, static_cast<std::size_t>(kBlockBytes));
      continue;
    }
    const HighLanes k = classify_high_lanes(v);
    if ((k.other & lanes) != 0) break;
    const unsigned lead = k.two_byte_lead & lanes;
    if ((k.continuation & lanes) != (((lead << 1) | open) & lanes)) return false;
    if (n <= static_cast<std::size_t>(kBlockBytes)) return (lead >> (n - 1)) == 0;
    open = lead >> (kBlockBytes - 1);
    p += kBlockBytes;
  }
  return is_valid_utf8_by_character(p - open, end);
}

}  // namespace velmar::json::detail
