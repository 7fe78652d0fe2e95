// Capping the address space of a forked test child, so that an allocation fails for real:
// for the tests of allocation failures (tests/json/arena_test.cpp,
// tests/columnar/derive_test.cpp).
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <fstream>

namespace velmar::testing_support {

// The address sanitizer reserves terabytes of shadow memory up front, so no cap leaves it
// room to run.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#  if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#  else
inline constexpr bool kAddressSanitizer = false;
#  endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

// Caps the address space of this (child) process at what it uses now plus `headroom`;
// exits with status 2 when it cannot.
inline void limit_address_space(std::size_t headroom) {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  statm >> pages;
  const rlim_t limit = pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) + headroom;
  const rlimit cap{limit, limit};
  if (setrlimit(RLIMIT_AS, &cap) != 0) std::exit(2);
}

}  // namespace velmar::testing_support
