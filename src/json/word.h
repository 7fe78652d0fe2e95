// Eight bytes of text at a time: the load and the bit tests that find one byte among them.
// The JSON code runs on little-endian machines only; this is the one place that says so.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velmar::json::detail {

// Every word scan takes the first byte in memory to be the least significant one, and no
// code has a big-endian variant.
static_assert(std::endian::native == std::endian::little, "the JSON code is little-endian only");

inline constexpr std::uint64_t kOnes = 0x0101010101010101;
inline constexpr std::uint64_t kHighBits = kOnes * 0x80;

// The 8 bytes at `p`, the first in the lowest byte of the word.
inline std::uint64_t load_word(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The n <= 8 bytes at `p` as a word, zero-extended, reading no byte past p + n. Two
// overlapping fixed-size loads keep short strings in registers, where a byte-wise copy
// followed by a word load would stall store forwarding.
inline std::uint64_t load_up_to_8(const char* p, std::size_t n) {
  if (n >= 4) {
    std::uint32_t a;
    std::uint32_t b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    return a | (std::uint64_t{b} << (8 * (n - 4)));
  }
  if (n == 0) return 0;
  auto byte = [p](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])}; };
  return byte(0) | (byte(n / 2) << (8 * (n / 2))) | (byte(n - 1) << (8 * (n - 1)));
}

// The high bit of every byte of `w` below `limit` (at most 0x80). A borrow can also mark
// a byte above a marked one, so only the lowest mark is exact, which is all a scan needs.
inline std::uint64_t bytes_below(std::uint64_t w, std::uint8_t limit) {
  return (w - kOnes * limit) & ~w & kHighBits;
}

// The lowest mark is the first zero byte of `w`.
inline std::uint64_t zero_bytes(std::uint64_t w) { return bytes_below(w, 1); }

// The offset of the byte that holds the lowest mark. Precondition: marks != 0.
inline std::size_t first_marked_byte(std::uint64_t marks) {
  return static_cast<std::size_t>(std::countr_zero(marks)) / 8;
}

// The 8 digits of v < 10^8, leading zeros too, as byte values 0 to 9 in one word whose
// lowest byte is the first digit. v splits into two 4-digit lanes of 32 bits, each lane into
// two 2-digit lanes of 16 bits (x * 10486 >> 20 is x / 100 for x < 10^4), each of those
// into two digit bytes (x * 103 >> 10 is x / 10 for x < 100): 1234567 -> lanes 123, 4567
// -> 1, 23, 45, 67 -> bytes 0 1 2 3 4 5 6 7.
inline std::uint64_t eight_digit_values(std::uint64_t v) {
  const std::uint64_t high = v * 109951163 >> 40;  // v / 10^4: 2^40 / 10^4 rounded up
  std::uint64_t x = high | (v - high * 10000) << 32;
  const std::uint64_t hundreds = (x * 10486 >> 20) & 0x0000007F0000007F;
  x = hundreds | (x - hundreds * 100) << 16;
  const std::uint64_t tens = (x * 103 >> 10) & 0x000F000F000F000F;
  return tens | (x - tens * 10) << 8;
}

}  // namespace velmar::json::detail
