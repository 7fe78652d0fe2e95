// UTF-8 decoding with replacement of maximal subparts.
#include "module/text.h"

#include <cstddef>
#include <cstdint>

namespace velmar::module {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the sequence a lead byte starts and the range its second byte must lie
// in (Unicode Table 3-7, well-formed UTF-8 byte sequences); length 0 for a byte that
// starts no sequence.
struct LeadRule {
  std::size_t length;
  std::uint8_t low;
  std::uint8_t high;
};

constexpr LeadRule lead_rule(std::uint8_t lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

// The number of bytes at the start of `rest` (rest[0] >= 0x80) that form either a whole
// well-formed sequence (returned with `complete` set) or the maximal ill-formed subpart
// to be replaced (at least 1).
std::size_t scan_sequence(std::string_view rest, bool& complete) {
  const LeadRule rule = lead_rule(static_cast<std::uint8_t>(rest[0]));
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
