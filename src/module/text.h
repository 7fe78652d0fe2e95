// Text helpers of the boundary that need no interpreter.
#pragma once

#include <string>
#include <string_view>

namespace velmar::module {

// `bytes` decoded as UTF-8 with replacement, as UTF-8 again: each maximal subpart of an
// ill-formed sequence becomes one U+FFFD (the Unicode standard's recommended practice),
// so an encoded lone surrogate ED A0 80 gives three U+FFFD. Well-formed input comes back
// unchanged.
std::string utf8_lossy(std::string_view bytes);

}  // namespace velmar::module
