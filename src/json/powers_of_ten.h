// Powers of ten for the number reader and writer, each table defined once: 10^k exactly in
// 64 bits, the doubles nearest to 10^k, and 128-bit significands of 10^e for the writer.
#pragma once

#include <bit>
#include <cstdint>

namespace velmar::json::detail {

// 10^k for k <= 19, every power of ten that fits 64 bits. A plain array: through a
// std::array the reader's digit loop took more instructions.
// clang-format off
inline constexpr std::uint64_t kPow10Int[20] = {
    1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000,
    10000000000, 100000000000, 1000000000000, 10000000000000, 100000000000000,
    1000000000000000, 10000000000000000, 100000000000000000, 1000000000000000000,
    10000000000000000000u,
};
// clang-format on

// kPow10[k] is the double nearest to 10^k; the compiler rounds each literal. The first
// kMaxExactPow10 + 1 are exact, as 5^22 < 2^53.
inline constexpr int kMaxPow10 = 308;
inline constexpr int kMaxExactPow10 = 22;
// clang-format off
inline constexpr double kPow10[kMaxPow10 + 1] = {
    1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9,
    1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19,
    1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29,
    1e30, 1e31, 1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39,
    1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46, 1e47, 1e48, 1e49,
    1e50, 1e51, 1e52, 1e53, 1e54, 1e55, 1e56, 1e57, 1e58, 1e59,
    1e60, 1e61, 1e62, 1e63, 1e64, 1e65, 1e66, 1e67, 1e68, 1e69,
    1e70, 1e71, 1e72, 1e73, 1e74, 1e75, 1e76, 1e77, 1e78, 1e79,
    1e80, 1e81, 1e82, 1e83, 1e84, 1e85, 1e86, 1e87, 1e88, 1e89,
    1e90, 1e91, 1e92, 1e93, 1e94, 1e95, 1e96, 1e97, 1e98, 1e99,
    1e100, 1e101, 1e102, 1e103, 1e104, 1e105, 1e106, 1e107, 1e108, 1e109,
    1e110, 1e111, 1e112, 1e113, 1e114, 1e115, 1e116, 1e117, 1e118, 1e119,
    1e120, 1e121, 1e122, 1e123, 1e124, 1e125, 1e126, 1e127, 1e128, 1e129,
    1e130, 1e131, 1e132, 1e133, 1e134, 1e135, 1e136, 1e137, 1e138, 1e139,
    1e140, 1e141, 1e142, 1e143, 1e144, 1e145, 1e146, 1e147, 1e148, 1e149,
    1e150, 1e151, 1e152, 1e153, 1e154, 1e155, 1e156, 1e157, 1e158, 1e159,
    1e160, 1e161, 1e162, 1e163, 1e164, 1e165, 1e166, 1e167, 1e168, 1e169,
    1e170, 1e171, 1e172, 1e173, 1e174, 1e175, 1e176, 1e177, 1e178, 1e179,
    1e180, 1e181, 1e182, 1e183, 1e184, 1e185, 1e186, 1e187, 1e188, 1e189,
    1e190, 1e191, 1e192, 1e193, 1e194, 1e195, 1e196, 1e197, 1e198, 1e199,
    1e200, 1e201, 1e202, 1e203, 1e204, 1e205, 1e206, 1e207, 1e208, 1e209,
    1e210, 1e211, 1e212, 1e213, 1e214, 1e215, 1e216, 1e217, 1e218, 1e219,
    1e220, 1e221, 1e222, 1e223, 1e224, 1e225, 1e226, 1e227, 1e228, 1e229,
    1e230, 1e231, 1e232, 1e233, 1e234, 1e235, 1e236, 1e237, 1e238, 1e239,
    1e240, 1e241, 1e242, 1e243, 1e244, 1e245, 1e246, 1e247, 1e248, 1e249,
    1e250, 1e251, 1e252, 1e253, 1e254, 1e255, 1e256, 1e257, 1e258, 1e259,
    1e260, 1e261, 1e262, 1e263, 1e264, 1e265, 1e266, 1e267, 1e268, 1e269,
    1e270, 1e271, 1e272, 1e273, 1e274, 1e275, 1e276, 1e277, 1e278, 1e279,
    1e280, 1e281, 1e282, 1e283, 1e284, 1e285, 1e286, 1e287, 1e288, 1e289,
    1e290, 1e291, 1e292, 1e293, 1e294, 1e295, 1e296, 1e297, 1e298, 1e299,
    1e300, 1e301, 1e302, 1e303, 1e304, 1e305, 1e306, 1e307, 1e308,
};
// clang-format on

// 10^e for kMinPow10Wide <= e <= kMaxPow10Wide as a 128-bit significand g with
// 2^127 <= g < 2^128, 10^e = g * 2^(floor(log2(10^e)) - 127), rounded up when inexact
// (g is then the floor plus one): exact for 0 <= e <= 55, where 5^e < 2^128.
// 10^3 = 1000 * 2^118 * 2^-118 -> g = 1000 << 118; 10^-1 -> g = 0xcccc...cccd.
// The writer's shortest digits need e from -292 (2^971, the largest binary exponent) to
// 324 (2^-1074, the smallest).
struct Wide128 {
  std::uint64_t hi;
  std::uint64_t lo;
};
inline constexpr int kMinPow10Wide = -292;
inline constexpr int kMaxPow10Wide = 324;

namespace pow10_table {

// Unsigned integers of kLimbs 32-bit limbs, least significant first, for the compile-time
// table only: 10^324 < 2^1077 and 2^kScale both fit.
inline constexpr int kLimbs = 36;
inline constexpr int kScale = 1100;  // 2^1100 / 10^292 still has more than 128 bits
struct Big {
  std::uint32_t limb[kLimbs] = {};
};

constexpr void multiply_by_10(Big& b) {
  std::uint64_t carry = 0;
  for (std::uint32_t& l : b.limb) {
    const std::uint64_t t = std::uint64_t{l} * 10 + carry;
    l = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
}

// b = floor(b / 10): repeated, floor(floor(2^kScale / 10^j) / 10) = floor(2^kScale / 10^(j+1)).
constexpr void divide_by_10(Big& b) {
  std::uint64_t rest = 0;
  for (int i = kLimbs - 1; i >= 0; --i) {
    const std::uint64_t t = (rest << 32) | b.limb[i];
    b.limb[i] = static_cast<std::uint32_t>(t / 10);
    rest = t % 10;
  }
}

constexpr int bit_length(const Big& b) {
  for (int i = kLimbs - 1; i >= 0; --i) {
    if (b.limb[i] != 0) return 32 * i + std::bit_width(b.limb[i]);
  }
  return 0;
}

constexpr std::uint64_t limb_at(const Big& b, int i) {
  return i >= 0 && i < kLimbs ? b.limb[i] : 0;
}

// The 64 bits of b from bit `start` up; bits below bit 0 read as zeros.
constexpr std::uint64_t word_at(const Big& b, int start) {
  if (start < 0) return start > -64 ? word_at(b, 0) << -start : 0;
  const int i = start / 32;
  const int offset = start % 32;
  const std::uint64_t low = limb_at(b, i) | limb_at(b, i + 1) << 32;
  return offset == 0 ? low : low >> offset | limb_at(b, i + 2) << (64 - offset);
}

// Whether any of the bits of b below bit `end` is set.
constexpr bool any_below(const Big& b, int end) {
  for (int i = 0; 32 * i < end; ++i) {
    const int bits = end - 32 * i;
    const std::uint32_t mask = bits >= 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << bits) - 1;
    if ((b.limb[i] & mask) != 0) return true;
  }
  return false;
}

// The top 128 bits of b (shifted up when b is shorter), plus one when `round_up` or when a
// bit below them is set. Precondition: b > 0.
constexpr Wide128 top_128(const Big& b, bool round_up) {
  const int length = bit_length(b);
  Wide128 w{word_at(b, length - 64), word_at(b, length - 128)};
  if ((round_up || any_below(b, length - 128)) && ++w.lo == 0) ++w.hi;
  return w;
}

}  // namespace pow10_table

// Computed when compiled, exactly, in big integers: 10^e for e >= 0, and
// floor(2^kScale / 10^-e) for e < 0, whose top 128 bits are floor(10^e * 2^s) for the s
// that puts the first bit at 2^127 (10^e is never a binary fraction, so one is added).
inline constexpr auto kPow10Wide = [] {
  using namespace pow10_table;
  struct Table {
    Wide128 g[kMaxPow10Wide - kMinPow10Wide + 1];
  } table{};
  Big up;
  up.limb[0] = 1;
  for (int e = 0; e <= kMaxPow10Wide; ++e, multiply_by_10(up)) {
    table.g[e - kMinPow10Wide] = top_128(up, false);
  }
  Big down;
  down.limb[kScale / 32] = std::uint32_t{1} << (kScale % 32);
  for (int e = -1; e >= kMinPow10Wide; --e) {
    divide_by_10(down);
    table.g[e - kMinPow10Wide] = top_128(down, true);
  }
  return table;
}();

}  // namespace velmar::json::detail
