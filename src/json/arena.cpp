// Arena blocks: taken from malloc, chained, and freed together; and the allocation
// failure hook.
#include "json/arena.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "json/pages.h"

namespace velmar::json {
namespace {

// Blocks double up to this size; larger requests get a block of their own size.
constexpr std::size_t kMaxBlock = std::size_t{64} << 20;

alignas(8) char empty_area[8];

constinit std::atomic<AllocationFailureHandler> g_failure_handler{nullptr};

}  // namespace

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
  pages::give_back(pages::spare_pages(reinterpret_cast<std::uintptr_t>(cur_),
                                      reinterpret_cast<std::uintptr_t>(end_), block_size_));
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

// A block worth huge pages starts on a huge page boundary (pages::block_start), the room
// skipped taken on top and never touched.
char* Arena::try_new_block(std::size_t usable) noexcept {
  std::size_t total = usable + sizeof(Block) + pages::block_head_room(usable);
  if (total < usable) return nullptr;
  void* raw = std::malloc(total);
  if (raw == nullptr) return nullptr;
  char* start = place_block(raw, total);
  return reinterpret_cast<char*>(
      pages::block_start(reinterpret_cast<std::uintptr_t>(start), usable));
}

char* Arena::place_block(void* raw, std::size_t total) noexcept {
  Block* block = static_cast<Block*>(raw);
  block->previous = head_;
  block->size = total;
  head_ = block;
  reserved_ += total;
  pages::advise_huge_pages(raw, total);
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
