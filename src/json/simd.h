// Sixteen bytes of text at a time: the one layer over the vector instructions. A Block
// holds sixteen bytes in lanes, lane i being byte i; comparisons mark lanes, and
// lane_bits gathers one bit per lane (the lane's top bit, so a mark or a byte >= 0x80)
// into bits 0 to 15. SSE2 does each in one instruction; elsewhere a Block is two words
// and the same operations run on them, so no scan above this layer has a variant of its
// own. Lane order follows memory order, little-endian as word.h states.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "json/word.h"

#ifdef __SSE2__
#  include <emmintrin.h>
#endif
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#  include <tmmintrin.h>
#  define VELMAR_LANE_SHUFFLE 1
#endif

namespace velmar::json::detail {

inline constexpr std::ptrdiff_t kBlockBytes = 16;

#ifdef __SSE2__

using Block = __m128i;

inline Block load_block(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store_block(void* p, Block b) { _mm_storeu_si128(static_cast<__m128i*>(p), b); }

// Lanes 0 to 7 from `low`, 8 to 15 from `high`.
inline Block block_of_words(std::uint64_t low, std::uint64_t high) {
  return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
}

inline Block either(Block a, Block b) { return _mm_or_si128(a, b); }
inline bool same_blocks(Block a, Block b) {
  return _mm_movemask_epi8(_mm_cmpeq_epi8(a, b)) == 0xFFFF;
}
inline Block both(Block a, Block b) { return _mm_and_si128(a, b); }

// Marks the lanes that hold `byte`.
inline Block lanes_equal(Block b, char byte) { return _mm_cmpeq_epi8(b, _mm_set1_epi8(byte)); }

// Marks the lanes below `limit`, compared unsigned; 1 <= limit <= 0x80.
inline Block lanes_below(Block b, std::uint8_t limit) {
  // max(b, limit - 1) == limit - 1 exactly for the bytes below limit.
  const Block top = _mm_set1_epi8(static_cast<char>(limit - 1));
  return _mm_cmpeq_epi8(_mm_max_epu8(b, top), top);
}

inline unsigned lane_bits(Block b) { return static_cast<unsigned>(_mm_movemask_epi8(b)); }

// The lanes moved up by two, lanes 0 and 1 zero.
inline Block lanes_up_two(Block b) { return _mm_slli_si128(b, 2); }

// The 8 decimal digits of a < 10^8 in lanes 0 to 7 and those of b < 10^8 in lanes 8 to 15,
// as byte values 0 to 9, leading zeros too: eight_digit_values (word.h) on both at once,
// its steps in 64-, 32- and 16-bit lanes (x * 5243 >> 19 is x / 100 for x < 10^4,
// x * 6554 >> 16 is x / 10 for x < 100).
inline Block decimal_digit_lanes(std::uint64_t a, std::uint64_t b) {
  const __m128i v = _mm_set_epi64x(static_cast<long long>(b), static_cast<long long>(a));
  const __m128i q4 = _mm_srli_epi64(_mm_mul_epu32(v, _mm_set1_epi64x(109951163)), 40);
  const __m128i r4 = _mm_sub_epi64(v, _mm_mul_epu32(q4, _mm_set1_epi64x(10000)));
  const __m128i x4 = _mm_or_si128(q4, _mm_slli_epi64(r4, 32));
  const __m128i q2 = _mm_srli_epi16(_mm_mulhi_epu16(x4, _mm_set1_epi32(5243)), 3);
  const __m128i r2 = _mm_sub_epi16(x4, _mm_mullo_epi16(q2, _mm_set1_epi16(100)));
  const __m128i x2 = _mm_or_si128(q2, _mm_slli_epi32(r2, 16));
  const __m128i q1 = _mm_mulhi_epu16(x2, _mm_set1_epi16(6554));
  const __m128i r1 = _mm_sub_epi16(x2, _mm_mullo_epi16(q1, _mm_set1_epi16(10)));
  return _mm_or_si128(q1, _mm_slli_epi16(r1, 8));
}

#  ifdef VELMAR_LANE_SHUFFLE

// Whether the processor shuffles lanes (SSSE3, as every x86-64 processor since 2008 does):
// the code that does is built for it alone and called only when this holds.
inline bool can_shuffle_lanes() { return __builtin_cpu_supports("ssse3") != 0; }

namespace shuffle {
// For each 8-bit mask, the lanes it marks, in order, then lanes of 0x80, which the shuffle
// makes zero; and how many it marks.
inline constexpr auto kKeptLanes = [] {
  std::array<std::uint64_t, 256> table{};
  for (unsigned mask = 0; mask < 256; ++mask) {
    std::uint64_t lanes = kHighBits;
    unsigned n = 0;
    for (unsigned lane = 0; lane < 8; ++lane) {
      if ((mask >> lane) & 1) {
        lanes &= ~(std::uint64_t{0xFF} << (8 * n));
        lanes |= std::uint64_t{lane} << (8 * n++);
      }
    }
    table[mask] = lanes;
  }
  return table;
}();
inline constexpr auto kKeptCount = [] {
  std::array<std::uint8_t, 256> table{};
  for (unsigned mask = 0; mask < 256; ++mask)
    table[mask] = static_cast<std::uint8_t>(std::popcount(mask));
  return table;
}();
}  // namespace shuffle

// Stores the lanes of `b` that `keep` marks (16 bits), in order, from `out` on, and returns
// past them. Writes sixteen bytes. Each half is packed by one shuffle and stored whole.
[[gnu::target("ssse3")]] inline char* store_kept_lanes(Block b, unsigned keep, char* out) {
  const std::uint64_t low = shuffle::kKeptLanes[keep & 0xFF];
  // The high half's lanes are 8 to 15; a zeroing lane stays above 0x80.
  const std::uint64_t high = shuffle::kKeptLanes[keep >> 8] + kOnes * 8;
  const __m128i packed = _mm_shuffle_epi8(
      b, _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
  out += shuffle::kKeptCount[keep & 0xFF];
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(packed, packed));
  return out + shuffle::kKeptCount[keep >> 8];
}

#  endif

#else

struct Block {
  std::uint64_t low;
  std::uint64_t high;
};

inline Block load_block(const void* p) {
  Block b;
  std::memcpy(&b, p, sizeof b);
  return b;
}
inline void store_block(void* p, Block b) { std::memcpy(p, &b, sizeof b); }

inline Block block_of_words(std::uint64_t low, std::uint64_t high) { return {low, high}; }

inline Block either(Block a, Block b) { return {a.low | b.low, a.high | b.high}; }
inline bool same_blocks(Block a, Block b) { return a.low == b.low && a.high == b.high; }
inline Block both(Block a, Block b) { return {a.low & b.low, a.high & b.high}; }

// The marks are the top bits alone, and exact in every lane (unlike word.h's scans, whose
// borrows make only the lowest mark exact): adding 0x7F to a byte's low seven bits carries
// into its top bit alone.
inline std::uint64_t zero_lanes(std::uint64_t w) {
  return ~(((w & ~kHighBits) + ~kHighBits) | w) & kHighBits;
}

inline Block lanes_equal(Block b, char byte) {
  const std::uint64_t repeated = kOnes * static_cast<unsigned char>(byte);
  return {zero_lanes(b.low ^ repeated), zero_lanes(b.high ^ repeated)};
}

inline Block lanes_below(Block b, std::uint8_t limit) {
  // A byte's low seven bits plus (0x80 - limit) reach the top bit exactly when they are
  // at least `limit`; a byte >= 0x80 has it already.
  auto below = [limit](std::uint64_t w) {
    return ~(((w & ~kHighBits) + kOnes * (0x80 - limit)) | w) & kHighBits;
  };
  return {below(b.low), below(b.high)};
}

inline unsigned lane_bits(Block b) {
  // Each top bit shifted to the bottom of its byte, then multiplied so that byte i's bit
  // lands on bit 56 + i, no two partial products meeting.
  auto gather = [](std::uint64_t w) {
    return static_cast<unsigned>((((w & kHighBits) >> 7) * 0x0102040810204080) >> 56);
  };
  return gather(b.low) | (gather(b.high) << 8);
}

inline Block lanes_up_two(Block b) { return {b.low << 16, (b.high << 16) | (b.low >> 48)}; }

inline Block decimal_digit_lanes(std::uint64_t a, std::uint64_t b) {
  return {eight_digit_values(a), eight_digit_values(b)};
}

#endif

// Every lane `byte`.
inline Block repeated_lanes(unsigned char byte) {
  return block_of_words(kOnes * byte, kOnes * byte);
}

// `b` with the lanes from n on zero; n <= kBlockBytes.
inline Block first_lanes(Block b, std::size_t n) {
  // Sixteen lanes of 0xFF then sixteen of 0: the window that starts 16 - n in.
  alignas(16) static constexpr unsigned char kWindow[2 * kBlockBytes] = {
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  return both(b, load_block(kWindow + kBlockBytes - n));
}

// Copies `n` objects whose size is a whole number of blocks, a block at a time. The
// reader copies each container's items off the top of its stacks right after storing
// them there, a block at a time: loads of the width of those stores are forwarded from
// them, while memcpy's wider loads would wait until the stores have landed.
template <typename T>
inline void copy_by_blocks(T* to, const T* from, std::size_t n) {
  static_assert(sizeof(T) % kBlockBytes == 0 && std::is_trivially_copyable_v<T>);
  auto* t = reinterpret_cast<char*>(to);
  const auto* f = reinterpret_cast<const char*>(from);
  for (std::size_t i = 0; i < n * sizeof(T); i += kBlockBytes)
    store_block(t + i, load_block(f + i));
}

}  // namespace velmar::json::detail
