// What every fuzz target does when an invariant breaks: say which, show the detail, and
// abort so that libFuzzer (or the replay main) keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace velmar::fuzz {

[[noreturn]] inline void fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "invariant broken: %s: %.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

inline void require(bool holds, const char* what, std::string_view detail) {
  if (!holds) fail(what, detail);
}

}  // namespace velmar::fuzz
