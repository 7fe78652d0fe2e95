// Text of a row that repeats the previous row's at the same place, which the reader's row
// front end passes without reading it again: the same bytes, read in the same state, read
// the same way. Rows of one payload mostly share their layout, keys and many values.
// Internal to the reader.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "json/simd.h"

namespace velmar::json::detail {

// A member's lead: its text from the end of the value before it, or from its row's brace,
// to its own value's first byte (whitespace, a comma, the key, the colon).
struct MemberLead {
  const char* start = nullptr;
  std::size_t size = 0;
};

// Leads are compared up to two blocks; a longer one is read again.
inline constexpr std::size_t kMaxRepeatedLead = 2 * kBlockBytes;

// Whether the text at `p` (p <= end, the input padded past `end`) is `lead`'s, an earlier
// lead of the same input, followed by a byte that is not whitespace: the lead then ends at
// the same value's first byte as before. The blocks loaded end within the padding: past
// one block, `end` is at least `lead.size` away.
inline bool repeats_lead(const char* p, const char* end, MemberLead lead) {
  const std::size_t n = lead.size;
  if (n > kMaxRepeatedLead || static_cast<std::size_t>(end - p) < n) return false;
  if (static_cast<unsigned char>(p[n]) <= ' ') return false;
  if (n <= static_cast<std::size_t>(kBlockBytes)) {
    return same_blocks(first_lanes(load_block(p), n), first_lanes(load_block(lead.start), n));
  }
  return same_blocks(load_block(p), load_block(lead.start)) &&
         same_blocks(first_lanes(load_block(p + kBlockBytes), n - kBlockBytes),
                     first_lanes(load_block(lead.start + kBlockBytes), n - kBlockBytes));
}

// Whether the text at `p` (p <= end) begins with `text`, a complete array or object: the
// value at `p` is then that same text, as a container ends at the bracket that closes it.
// Their first block settles most unequal texts without a call.
inline bool repeats_container(const char* p, const char* end, std::string_view text) {
  const std::size_t n = text.size();
  if (static_cast<std::size_t>(end - p) < n) return false;
  const std::size_t head = std::min(n, static_cast<std::size_t>(kBlockBytes));
  if (!same_blocks(first_lanes(load_block(p), head), first_lanes(load_block(text.data()), head))) {
    return false;
  }
  return n <= head || std::memcmp(p + head, text.data() + head, n - head) == 0;
}

}  // namespace velmar::json::detail
