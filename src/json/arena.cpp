// Arena blocks: taken from malloc, chained, and freed together; and the allocation
// failure hook.
#include "json/arena.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace velmar::json {
namespace {

// Blocks double up to this size; larger requests get a block of their own size.
constexpr std::size_t kMaxBlock = std::size_t{64} << 20;

alignas(8) char empty_area[8];

constinit std::atomic<AllocationFailureHandler> g_failure_handler{nullptr};

constexpr std::uintptr_t kPage = 4096;

// `address` rounded down or up to a multiple of `alignment`, a power of two.
std::uintptr_t round_down(std::uintptr_t address, std::uintptr_t alignment) {
  return address & ~(alignment - 1);
}
std::uintptr_t round_up(std::uintptr_t address, std::uintptr_t alignment) {
  return round_down(address + alignment - 1, alignment);
}

// Asks for huge pages for [first, last), whole huge pages; nothing when it is empty.
void ask_huge_pages(std::uintptr_t first, std::uintptr_t last) noexcept {
#ifdef MADV_HUGEPAGE
  if (first < last) (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)first;
  (void)last;
#endif
}

}  // namespace

void advise_huge_pages(void* p, std::size_t n) noexcept {
  if (n < kHugePageWorthy) return;
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  ask_huge_pages(round_up(start, kHugePage), round_down(start + n, kHugePage));
}

std::size_t settle_huge_pages(char* p, std::size_t capacity, std::size_t settled,
                              std::size_t reached, std::size_t expected) noexcept {
  if (reached <= settled) return settled;
  if (capacity < kHugePageWorthy) return capacity;
  const auto base = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t text_end = base + std::min(expected, capacity);
  const std::uintptr_t first = round_up(base + settled, kHugePage);
  std::uintptr_t last = first;
  while (last < base + reached && last + kHugePage <= base + capacity &&
         last + kHugePage / 2 <= text_end) {
    last += kHugePage;
  }
  ask_huge_pages(first, last);
  return std::max(reached, static_cast<std::size_t>(last - base));
}

void set_allocation_failure_handler(AllocationFailureHandler handler) noexcept {
  g_failure_handler.store(handler, std::memory_order_release);
}

void allocation_failed(std::size_t bytes) {
  if (AllocationFailureHandler handler = g_failure_handler.load(std::memory_order_acquire)) {
    handler(bytes);
  }
  throw std::bad_alloc();
}

Arena::Arena(std::size_t first_block) noexcept
    : cur_(empty_area), end_(empty_area), next_block_(std::max<std::size_t>(first_block, 256)) {}

Arena::~Arena() {
  while (head_ != nullptr) {
    Block* previous = head_->previous;
    std::free(head_);
    head_ = previous;
  }
}

void Arena::release_spare_pages() noexcept {
#ifdef MADV_DONTNEED
  const auto cur = reinterpret_cast<std::uintptr_t>(cur_);
  const std::uintptr_t first = round_up(cur, kPage);
  // Whole pages only, all inside the block: the page past its end may hold the
  // allocator's own data.
  const std::uintptr_t last =
      std::min(round_up(cur, kHugePage), round_down(reinterpret_cast<std::uintptr_t>(end_), kPage));
  if (block_size_ >= kHugePageWorthy && first < last) {
    (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
  }
#endif
}

void Arena::reserve(std::size_t bytes) noexcept {
  if (static_cast<std::size_t>(end_ - cur_) >= bytes) return;
  next_block_ = std::max(next_block_, bytes);
}

char* Arena::new_block(std::size_t usable) {
  char* start = try_new_block(usable);
  if (start == nullptr) allocation_failed(usable + sizeof(Block));
  return start;
}

// A block worth huge pages is used from its first huge page boundary on: the pages before
// it can only be faulted in one by one, up to 512 of them, and a fresh block (the first
// calls', before malloc serves blocks again) would pay that on every call. The room
// skipped is added to the block and never touched.
char* Arena::try_new_block(std::size_t usable) noexcept {
  const bool from_huge_page = usable >= kHugePageWorthy;
  std::size_t total = usable + sizeof(Block) + (from_huge_page ? kHugePage : 0);
  if (total < usable) return nullptr;
  void* raw = std::malloc(total);
  if (raw == nullptr) return nullptr;
  char* start = place_block(raw, total);
  if (!from_huge_page) return start;
  return reinterpret_cast<char*>(round_up(reinterpret_cast<std::uintptr_t>(start), kHugePage));
}

char* Arena::place_block(void* raw, std::size_t total) noexcept {
  Block* block = static_cast<Block*>(raw);
  block->previous = head_;
  block->size = total;
  head_ = block;
  reserved_ += total;
  advise_huge_pages(raw, total);
  return static_cast<char*>(raw) + sizeof(Block);
}

void* Arena::allocate_slow(std::size_t rounded) {
  // A large request gets a block of its own, so the current block stays in use.
  if (rounded > next_block_ / 2) return new_block(rounded);
  char* start = new_block(next_block_);
  cur_ = start + rounded;
  end_ = start + next_block_;
  block_size_ = next_block_;
  next_block_ = std::min(kMaxBlock, next_block_ * 2);
  return start;
}

}  // namespace velmar::json
