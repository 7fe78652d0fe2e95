// The reader's check of raw string bytes against the rules of utf8.h, a block of ASCII at a
// time; internal to src/json, so that the public utf8.h needs no block layer.
#pragma once

#include <bit>
#include <cstddef>
#include <string_view>

#include "json/simd.h"
#include "json/utf8.h"

namespace velmar::json::detail {

// The count of ASCII bytes that start the block at `p`, kBlockBytes when all are.
inline std::ptrdiff_t leading_ascii_in_block(const char* p) {
  return std::countr_zero(lane_bits(load_block(p)) | (1u << kBlockBytes));
}

// True when `text` is well-formed UTF-8. Runs of ASCII are passed over a block at a time;
// other characters are checked back to back until the next ASCII byte, as scripts written
// without ASCII put one after another.
inline bool is_valid_utf8(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  auto byte_at = [](const char* q) { return static_cast<unsigned char>(*q); };
  while (p != end) {
    if (end - p >= kBlockBytes) {
      std::ptrdiff_t ascii = leading_ascii_in_block(p);
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

}  // namespace velmar::json::detail
