// The line and byte column of a byte count in the reader's input. The reader keeps only a
// byte index; a position is computed here for the one error that ends a read.
#pragma once

#include <cstddef>
#include <string_view>

namespace velmar::json::detail {

struct Position {
  std::size_t line;    // 1-based
  std::size_t column;  // bytes since the last LF, that LF excluded
};

// The position of byte count `i` (0 to input.size()): 1 + the LF bytes among the first i
// bytes, and i minus the bytes up to and including the last of them. Only LF ends a line.
Position position_of_index(std::string_view input, std::size_t i);

}  // namespace velmar::json::detail
