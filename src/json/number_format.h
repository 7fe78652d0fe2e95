// Number formatting internals of the writer: the digit pairs, and the shortest round-trip
// digits of a double, kept apart so that they can be tested on their own.
#pragma once

#include <array>
#include <cstddef>

namespace velmar::json::detail {

// "00" to "99": the digit pairs integers are written with, two digits per division.
inline constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// A decimal significand d1.d2...dn times 10^exponent.
struct DecimalDigits {
  std::array<char, 17> digits;  // ASCII d1..dn; d1 and dn are never '0'
  int count;                    // n, 1 to 17
  int exponent;                 // the power of ten of d1
};

// The shortest digits that read back to `v` (round to nearest, ties to even); among
// strings of that length the one nearest to `v`, and on a tie the one ending in an even
// digit. Precondition: `v` is finite and greater than zero.
DecimalDigits shortest_digits(double v);

}  // namespace velmar::json::detail
