// UTF-8 decoding with replacement of maximal subparts.
#include "module/text.h"

#include <cstddef>
#include <cstdint>

#include "json/utf8.h"

namespace velmar::module {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The number of bytes at the start of `rest` (rest[0] >= 0x80) that form either a whole
// well-formed sequence (returned with `complete` set) or the maximal ill-formed subpart
// to be replaced (at least 1).
std::size_t scan_sequence(std::string_view rest, bool& complete) {
  const json::detail::Utf8Lead rule = json::detail::kUtf8Leads[static_cast<std::uint8_t>(rest[0])];
  complete = false;
  if (rule.length == 0) return 1;
  std::size_t taken = 1;
  for (; taken < rule.length && taken < rest.size(); ++taken) {
    const auto byte = static_cast<std::uint8_t>(rest[taken]);
    const std::uint8_t low = taken == 1 ? rule.low : 0x80;
    const std::uint8_t high = taken == 1 ? rule.high : 0xBF;
    if (byte < low || byte > high) return taken;
  }
  complete = taken == rule.length;
  return taken;
}

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
    bool complete = false;
    const std::size_t taken = scan_sequence(bytes.substr(i), complete);
    if (!complete) {
      out.append(bytes.substr(run_start, i - run_start));
      out.append(kReplacement);
      run_start = i + taken;
    }
    i += taken;
  }
  out.append(bytes.substr(run_start));
  return out;
}

}  // namespace velmar::module
