// UTF-8 decoding with replacement of maximal subparts.
#include "module/text.h"

#include <cstddef>
#include <cstdint>

#include "json/utf8.h"

namespace velmar::module {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t run_start = 0;
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (static_cast<std::uint8_t>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    const json::Utf8Sequence sequence = json::leading_utf8_sequence(bytes.substr(i));
    if (!sequence.well_formed) {
      out.append(bytes.substr(run_start, i - run_start));
      out.append(kReplacement);
      run_start = i + sequence.size;
    }
    i += sequence.size;
  }
  out.append(bytes.substr(run_start));
  return out;
}

}  // namespace velmar::module
