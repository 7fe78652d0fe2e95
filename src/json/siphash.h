// SipHash over byte strings, the hash of the object map's keys, and the per-thread seed
// from which every new map takes a hash key of its own.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "json/word.h"

namespace velmar::json::detail {

// A 128-bit SipHash key.
struct HashKey {
  std::uint64_t k0;
  std::uint64_t k1;
};

// The four state words and one SipRound on them.
struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }
};

// SipHash-c-d after Aumasson and Bernstein, "SipHash: a fast short-input PRF" (2012):
// c compression rounds per 8-byte word, d finalisation rounds. Inline, as the map hashes
// a key on every lookup past its linear limit.
template <int C, int D>
std::uint64_t siphash(HashKey key, std::string_view data) {
  SipState s{key.k0 ^ 0x736f6d6570736575ULL, key.k1 ^ 0x646f72616e646f6dULL,
             key.k0 ^ 0x6c7967656e657261ULL, key.k1 ^ 0x7465646279746573ULL};
  const char* p = data.data();
  std::size_t n = data.size();
  const char* end = p + (n & ~std::size_t{7});
  for (; p != end; p += 8) {
    std::uint64_t m = load_word(p);
    s.v3 ^= m;
    for (int i = 0; i < C; ++i) s.round();
    s.v0 ^= m;
  }
  std::uint64_t last = static_cast<std::uint64_t>(n & 0xff) << 56;
  for (std::size_t i = 0; i < (n & 7); ++i) {
    last |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  }
  s.v3 ^= last;
  for (int i = 0; i < C; ++i) s.round();
  s.v0 ^= last;
  s.v2 ^= 0xff;
  for (int i = 0; i < D; ++i) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

// The map's hash: SipHash-1-3 of `data` under `key`.
inline std::uint64_t siphash13(HashKey key, std::string_view data) {
  return siphash<1, 3>(key, data);
}

// A seed from the operating system's random source, or, without one, from the clock and
// the thread's stack address.
HashKey fresh_seed();

// The calling thread's current seed, filled by fresh_seed() on first use; each call
// returns it and then adds one to its k0 (wrapping). Inline, since every map, the empty
// ones included, takes a key when it is created.
inline HashKey take_thread_hash_key() {
  thread_local HashKey seed = fresh_seed();
  HashKey key = seed;
  ++seed.k0;
  return key;
}

}  // namespace velmar::json::detail
