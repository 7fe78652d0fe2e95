// Compares format_double with std::to_chars over many doubles, byte for byte: the shortest
// digits to_chars gives (nearest, ties to even) laid out by format_known_digits must be
// exactly what format_double writes. Not a test (it takes minutes); run it after changing
// the digit generator.
//
//   velmar_check_shortest [RANDOM_COUNT [SEED]]
//
// Checks RANDOM_COUNT random bit patterns (default 10^8), then, for every binary exponent,
// the 10,000 lowest and highest significands, and every power of ten with its neighbours.
// Prints the count checked and each mismatch (up to 20), and exits 1 on any mismatch.
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

#include "json/number_format.h"

namespace {

std::uint64_t checked = 0;
std::uint64_t mismatches = 0;

// to_chars's scientific text "d[.ddd]e(+|-)XX[X]" as m * 10^-k.
void shortest_by_text(double v, std::uint64_t& m, int& k) {
  std::array<char, 40> text;
  const auto [end, ec] =
      std::to_chars(text.data(), text.data() + text.size(), v, std::chars_format::scientific);
  (void)ec;
  const char* p = text.data();
  m = static_cast<std::uint64_t>(*p++ - '0');
  int fraction_digits = 0;
  if (*p == '.') {
    for (++p; *p != 'e'; ++p, ++fraction_digits) m = m * 10 + static_cast<std::uint64_t>(*p - '0');
  }
  ++p;
  const bool negative = *p++ == '-';
  int exponent = 0;
  for (; p != end; ++p) exponent = exponent * 10 + (*p - '0');
  k = fraction_digits - (negative ? -exponent : exponent);
}

void check(double v) {
  if (!std::isfinite(v) || v == 0) return;
  ++checked;
  std::array<char, velmar::json::kDoubleBufferBytes> ours;
  std::array<char, velmar::json::kMaxDoubleText> theirs;
  const std::size_t n = velmar::json::format_double(v, ours.data());
  std::uint64_t m = 0;
  int k = 0;
  shortest_by_text(std::fabs(v), m, k);
  const std::size_t t = velmar::json::format_known_digits(std::signbit(v), m, k, theirs.data());
  if (std::string_view(ours.data(), n) == std::string_view(theirs.data(), t)) return;
  if (++mismatches <= 20) {
    std::printf("mismatch %016llx: %.*s, to_chars %.*s\n",
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v)),
                static_cast<int>(n), ours.data(), static_cast<int>(t), theirs.data());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100'000'000;
  const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
  std::mt19937_64 rng(seed);
  for (std::uint64_t i = 0; i < count; ++i) check(std::bit_cast<double>(rng()));
  std::printf("random: %llu checked, %llu mismatches\n", static_cast<unsigned long long>(checked),
              static_cast<unsigned long long>(mismatches));
  for (std::uint64_t biased = 0; biased < 2047; ++biased) {
    for (std::uint64_t f = 0; f < 10000; ++f) {
      check(std::bit_cast<double>(biased << 52 | f));
      check(std::bit_cast<double>(biased << 52 | ((std::uint64_t{1} << 52) - 1 - f)));
    }
  }
  for (int e = -325; e <= 309; ++e) {
    const double p = std::strtod(("1e" + std::to_string(e)).c_str(), nullptr);
    for (double w = std::nextafter(p, 0.0), i = 0; i < 5; ++i, w = std::nextafter(w, INFINITY)) {
      check(w);
    }
  }
  std::printf("total: %llu checked, %llu mismatches\n", static_cast<unsigned long long>(checked),
              static_cast<unsigned long long>(mismatches));
  return mismatches == 0 ? 0 : 1;
}
