// The reader's check of raw string bytes against the rules of utf8.h, a block at a time
// where the text allows; internal to src/json, so that the public utf8.h needs no block
// layer.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <string_view>

#include "json/padded.h"
#include "json/simd.h"
#include "json/utf8.h"

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

// One bit per lane of a block, for its bytes >= 0x80: those that continue a character
// (80 to BF) and, of those, the lower half (80 to 9F); the leads of two- and three-byte
// characters (C2 to DF, E0 to EF) and, of those, E0 and ED, whose second byte has a
// narrower range; and the rest (C0 and C1, never allowed, and the leads of four-byte
// characters, F0 to FF).
struct HighLanes {
  unsigned continuation;
  unsigned low_continuation;
  unsigned two_byte_lead;
  unsigned three_byte_lead;
  unsigned e0;
  unsigned ed;
  unsigned other;
};

inline HighLanes classify_high_lanes(Block v) {
  auto top_bits_are = [v](unsigned char mask, char value) {
    return lane_bits(lanes_equal(both(v, repeated_lanes(mask)), value));
  };
  const unsigned high = lane_bits(v);
  const unsigned continuation = top_bits_are(0xC0, '\x80');
  const unsigned c0_to_df = top_bits_are(0xE0, '\xC0');
  const unsigned e0_to_ef = top_bits_are(0xF0, '\xE0');
  const unsigned overlong = lane_bits(either(lanes_equal(v, '\xC0'), lanes_equal(v, '\xC1')));
  return {continuation,
          top_bits_are(0xE0, '\x80'),
          c0_to_df & ~overlong,
          e0_to_ef,
          lane_bits(lanes_equal(v, '\xE0')),
          lane_bits(lanes_equal(v, '\xED')),
          (high & ~continuation & ~c0_to_df & ~e0_to_ef) | overlong};
}

// True when `text` is well-formed UTF-8. Text of characters of up to three bytes (every
// script but some of the rarest, and no emoji) is checked a block at a time: there it is
// well-formed exactly when the continuations are the lanes that the leads before them
// call for, and the byte after E0 is at least A0 (no overlong form) and the byte after ED
// below A0 (no surrogate). A character open at a block's end carries its lanes over to
// the next block. The text is padded, so its last partial block is checked as a block too,
// its lanes past the end left out. A block with a four-byte character or a byte that is
// never allowed is checked one character at a time from the character open there. Out of
// line: only text with a byte >= 0x80 is checked, and inlined into the reader's loop the
// check cost every string there.
[[gnu::noinline]] inline bool is_valid_utf8(PaddedView text) {
  const char* p = text.data();
  const char* end = p + text.size();
  unsigned open = 0;              // the next block's lanes that continue a character open here
  unsigned after_e0 = 0;          // 1 when this block's last lane is E0
  unsigned after_ed = 0;          // 1 when this block's last lane is ED
  std::ptrdiff_t open_bytes = 0;  // the bytes of that character in this block
  while (p != end) {
    const auto n = static_cast<std::size_t>(end - p);
    const Block v = load_block(p);
    // The lanes of the text: all sixteen, or the first n of the last block.
    const unsigned lanes = n < static_cast<std::size_t>(kBlockBytes) ? (1u << n) - 1 : 0xFFFFu;
    if ((lane_bits(v) & lanes) == 0 && open == 0) {
      p += std::min(n, static_cast<std::size_t>(kBlockBytes));
      continue;
    }
    const HighLanes k = classify_high_lanes(v);
    if ((k.other & lanes) != 0) break;
    const unsigned three_byte_leads = k.three_byte_lead & lanes;
    const unsigned leads = (k.two_byte_lead & lanes) | three_byte_leads;
    const unsigned called_for = (leads << 1) | (three_byte_leads << 2) | open;
    if ((k.continuation & lanes) != (called_for & lanes)) return false;
    const unsigned narrow = (((k.e0 << 1) | after_e0) & k.low_continuation) |
                            (((k.ed << 1) | after_ed) & k.continuation & ~k.low_continuation);
    if ((narrow & lanes) != 0) return false;
    if (n <= static_cast<std::size_t>(kBlockBytes)) return (called_for >> n) == 0;
    open = called_for >> kBlockBytes;
    after_e0 = k.e0 >> (kBlockBytes - 1);
    after_ed = k.ed >> (kBlockBytes - 1);
    open_bytes = (leads >> (kBlockBytes - 1)) != 0             ? 1
                 : (three_byte_leads >> (kBlockBytes - 2)) & 1 ? 2
                                                               : 0;
    p += kBlockBytes;
  }
  return is_valid_utf8_by_character(p - open_bytes, end);
}

}  // namespace velmar::json::detail
