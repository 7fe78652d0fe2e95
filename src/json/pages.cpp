// The page policy's arithmetic, and the two system calls that act on it.
#include "json/pages.h"

#include <sys/mman.h>

#include <algorithm>

namespace velmar::json::pages {
namespace {

// `address` rounded down or up to a multiple of `alignment`, a power of two.
std::uintptr_t round_down(std::uintptr_t address, std::uintptr_t alignment) {
  return address & ~(alignment - 1);
}
std::uintptr_t round_up(std::uintptr_t address, std::uintptr_t alignment) {
  return round_down(address + alignment - 1, alignment);
}

// So that result_reservation's test, payload < kReusableBlock / 4, is 4 * payload <
// kReusableBlock without the product's overflow.
static_assert(kReusableBlock % kTreeRoomPerPayloadByte == 0);

}  // namespace

std::size_t first_block_for(std::size_t payload_size) {
  if (payload_size >= kReusableBlock) return payload_size;
  return std::min(kTreeRoomPerPayloadByte * payload_size, kReusableBlock - kHugePage);
}

std::optional<std::size_t> result_reservation(std::size_t payload_size) {
  if (payload_size < kReusableBlock / kTreeRoomPerPayloadByte) return payload_size;
  return std::nullopt;
}

bool worth_huge_pages(std::size_t size) { return size >= kHugePageWorthy; }

std::size_t block_head_room(std::size_t usable) { return worth_huge_pages(usable) ? kHugePage : 0; }

std::uintptr_t block_start(std::uintptr_t start, std::size_t usable) {
  return worth_huge_pages(usable) ? round_up(start, kHugePage) : start;
}

Range huge_pages_of(std::uintptr_t start, std::size_t size) {
  if (!worth_huge_pages(size)) return {};
  return {round_up(start, kHugePage), round_down(start + size, kHugePage)};
}

Settlement settle(std::uintptr_t base, std::size_t capacity, std::size_t settled,
                  std::size_t reached, std::size_t expected) {
  if (reached <= settled) return {{}, settled};
  if (!worth_huge_pages(capacity)) return {{}, capacity};
  const std::uintptr_t text_end = base + std::min(expected, capacity);
  const std::uintptr_t first = round_up(base + settled, kHugePage);
  std::uintptr_t last = first;
  while (last < base + reached && last + kHugePage <= base + capacity &&
         last + kHugePage / 2 <= text_end) {
    last += kHugePage;
  }
  return {{first, last}, std::max(reached, static_cast<std::size_t>(last - base))};
}

bool releases_spare_pages(std::size_t payload_size) {
  return payload_size >= kReleaseSparePagesFrom;
}

Range spare_pages(std::uintptr_t used_end, std::uintptr_t block_end, std::size_t block_size) {
  if (!worth_huge_pages(block_size)) return {};
  return {round_up(used_end, kPage),
          std::min(round_up(used_end, kHugePage), round_down(block_end, kPage))};
}

void advise_huge_pages(Range range) noexcept {
#ifdef MADV_HUGEPAGE
  if (!range.empty()) {
    (void)madvise(reinterpret_cast<void*>(range.first), range.last - range.first, MADV_HUGEPAGE);
  }
#else
  (void)range;
#endif
}

void give_back(Range range) noexcept {
#ifdef MADV_DONTNEED
  if (!range.empty()) {
    (void)madvise(reinterpret_cast<void*>(range.first), range.last - range.first, MADV_DONTNEED);
  }
#else
  (void)range;
#endif
}

void advise_huge_pages(void* p, std::size_t n) noexcept {
  advise_huge_pages(huge_pages_of(reinterpret_cast<std::uintptr_t>(p), n));
}

std::size_t settle_huge_pages(char* p, std::size_t capacity, std::size_t settled,
                              std::size_t reached, std::size_t expected) noexcept {
  const Settlement step =
      settle(reinterpret_cast<std::uintptr_t>(p), capacity, settled, reached, expected);
  advise_huge_pages(step.advise);
  return step.settled;
}

}  // namespace velmar::json::pages
