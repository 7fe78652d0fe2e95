// Positions by counting LF bytes with memchr, from the start of the input to the error.
#include "json/position.h"

#include <cassert>
#include <cstring>

namespace velmar::json::detail {

Position position_of_index(std::string_view input, std::size_t i) {
  assert(i <= input.size());
  Position pos{1, i};
  const char* p = input.data();
  const char* end = p + i;
  while (p != end) {
    const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    if (lf == nullptr) break;
    p = static_cast<const char*>(lf) + 1;
    ++pos.line;
    pos.column = static_cast<std::size_t>(end - p);
  }
  return pos;
}

}  // namespace velmar::json::detail
