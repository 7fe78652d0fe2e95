// fresh_seed: the first hash key of a thread, from the operating system's random source;
// take_thread_hash_key (siphash.h) steps it for every map the thread creates.
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

}  // namespace

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

}  // namespace velmar::json::detail
