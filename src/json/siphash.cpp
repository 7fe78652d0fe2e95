// The per-thread hash seed: read once per thread from the operating system's random
// source, and stepped for every map so that no two maps of a thread share a key.
#include "json/siphash.h"

#include <sys/random.h>

#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace velmar::json::detail {
namespace {

bool fill_from_os(void* buf, std::size_t n) {
  char* p = static_cast<char*>(buf);
  while (n > 0) {
    ssize_t got = getrandom(p, n, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  if (n == 0) return true;
  std::FILE* f = std::fopen("/dev/urandom", "rb");
  if (f == nullptr) return false;
  std::size_t got = std::fread(p, 1, n, f);
  std::fclose(f);
  return got == n;
}

HashKey fresh_seed() {
  HashKey key{};
  if (fill_from_os(&key, sizeof key)) return key;
  // Without a random source the key still differs per thread and per run.
  auto now =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  key.k0 = now ^ reinterpret_cast<std::uintptr_t>(&key);
  key.k1 = std::rotl(now, 29) ^ 0x9e3779b97f4a7c15ULL;
  return key;
}

struct ThreadSeed {
  HashKey key = fresh_seed();
};

}  // namespace

HashKey take_thread_hash_key() {
  thread_local ThreadSeed seed;
  HashKey key = seed.key;
  ++seed.key.k0;
  return key;
}

}  // namespace velmar::json::detail
