// columnarize_json: read the payload and derive the document in one pass (every element
// must be an object), then write it. All of it lives in one arena that dies with the call.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "columnar/columnar.h"
#include "json/arena.h"
#include "json/writer.h"

namespace velmar::columnar {
namespace {

// malloc serves a block again from its free memory, its pages already touched, once a
// block of that size has been freed, up to 32 MB (glibc's adaptive mmap threshold; it also
// keeps twice that much free at the top of its heap). Larger blocks are fresh mappings on
// every call, and cost a page fault per 4 KB page first touched.
constexpr std::size_t kReusableBlock = (std::size_t{32} << 20) - (std::size_t{64} << 10);

// The first arena block: room for the whole tree of nearly every payload (it takes up to
// about three times the text), so that a call takes one block that the next call
// of a like size gets back warm. Room that is not used is never touched; the reservation
// stays within the payload's size past kReusableBlock, so that a capped address space is
// not spent on it. A block worth huge pages takes its head room on top, which must not
// lift it past what malloc serves again.
std::size_t first_block_for(std::size_t payload_size) {
  if (payload_size >= kReusableBlock) return payload_size;
  return std::min(4 * payload_size, kReusableBlock - json::kHugePage);
}

// From this payload size on, the rest of the tree's last huge page is given back before
// the result is written. Up to 2 MB stays resident otherwise, which counts in the peak of
// a large call; but the pages given back are faulted in again by whatever takes that
// memory next, and a caller such as PyPy takes it between calls: on
// real_citm_performances (1.6 MB) a call met 264 faults in PyPy's loop on fresh bytes,
// against 1 without giving them back.
constexpr std::size_t kReleaseSparePagesFrom = std::size_t{4} << 20;

// The result's buffer, taken before the arena's first block when the whole tree fits that
// block, so that it lies below the block. Which order leaves the next calls fewer fresh
// pages depends on what else the process allocates, so it was measured: with a host's
// allocations between calls, this order met about half the faults (PyPy calling four
// payloads in turn, each object passed before: 953 faults a round against 531; the C++
// loop with --interleave: real_twitter_statuses 42 a call against 22 to 26), at the price
// of a few in PyPy's loop on fresh bytes (real_random_users 2 to 6 against 0.2). A tree that
// outgrows the first block met more this way (real_geonames_cities, 17 MB: 3,900 a call
// against 2,100), so a payload that large gets its buffer from the writer, after the tree.
std::string result_buffer(std::size_t payload_size) {
  std::string text;
  if (payload_size < kReusableBlock / 4) json::reserve_text(text, payload_size);
  return text;
}

}  // namespace

TransformResult columnarize_json(std::string_view payload) {
  std::string text = result_buffer(payload.size());
  json::Arena arena(first_block_for(payload.size()));
  DeriveResult document = read_and_derive(arena, payload, memory_available);
  if (!document.ok()) return std::move(document).error();
  // The tree is whole; the rest of its last huge page need not stay resident while the
  // result is written, when the call is at its peak.
  if (payload.size() >= kReleaseSparePagesFrom) arena.release_spare_pages();
  document.value().write_text(text, payload.size());
  return text;
}

std::unique_ptr<char[]> copy_payload(std::string_view payload) {
  if (payload.empty()) return nullptr;
  auto copy = std::make_unique_for_overwrite<char[]>(payload.size());
  json::advise_huge_pages(copy.get(), payload.size());
  std::memcpy(copy.get(), payload.data(), payload.size());
  return copy;
}

}  // namespace velmar::columnar
