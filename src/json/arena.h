// Arena: the bump allocator that owns every node, string and array of one call's value
// trees. Memory comes in a few large blocks and is released all at once with the arena.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace velmar::json {

// Running out of memory is never an error value in the JSON and columnar code, and they
// never end the process themselves: every allocation they cannot get (or cannot even
// size) goes to allocation_failed, the one hook, which calls the handler the program set
// and otherwise throws std::bad_alloc, as the standard allocation functions do. So whatever
// can reach it (allocate, allocate_array, copy and the block they may take) is not
// noexcept: a program without a handler catches the std::bad_alloc. reserve is noexcept.
// The module's handler and the whole memory policy: src/module/alloc.cpp.
using AllocationFailureHandler = void (*)(std::size_t bytes);  // must not return

void set_allocation_failure_handler(AllocationFailureHandler handler) noexcept;

[[noreturn]] void allocation_failed(std::size_t bytes);

class Arena {
 public:
  // `first_block` is the size of the first block; later blocks double, up to a cap.
  explicit Arena(std::size_t first_block = 16 * 1024) noexcept;
  ~Arena();
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // Uninitialised storage for `bytes` bytes aligned to 8. Never returns null.
  void* allocate(std::size_t bytes) {
    std::size_t rounded = (bytes + 7) & ~std::size_t{7};
    if (rounded < bytes) allocation_failed(bytes);
    if (static_cast<std::size_t>(end_ - cur_) < rounded) return allocate_slow(rounded);
    char* p = cur_;
    cur_ += rounded;
    return p;
  }

  // Uninitialised storage for `n` objects of a trivially copyable type.
  template <typename T>
  T* allocate_array(std::size_t n) {
    static_assert(alignof(T) <= 8);
    if (n > SIZE_MAX / sizeof(T)) allocation_failed(SIZE_MAX);
    return static_cast<T*>(allocate(n * sizeof(T)));
  }

  // A copy of `bytes`; the empty view gives a valid pointer.
  const char* copy(std::string_view bytes) {
    char* p = static_cast<char*>(allocate(bytes.size()));
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    return p;
  }

  // Makes the next block at least `bytes` large: lets a caller that knows the size of its
  // input (a payload) avoid many small blocks.
  void reserve(std::size_t bytes) noexcept;

  // Gives back to the system the current block's spare pages (pages::spare_pages): once
  // the arena is done growing, they are resident only because a huge page was faulted in
  // whole. Later allocations still work; they fault those pages in again.
  void release_spare_pages() noexcept;

  // Bytes taken from the system so far, for tests and benchmarks.
  std::size_t bytes_reserved() const { return reserved_; }

 private:
  struct Block {
    Block* previous;
    std::size_t size;
  };

  void* allocate_slow(std::size_t rounded);
  char* new_block(std::size_t usable);
  char* try_new_block(std::size_t usable) noexcept;
  char* place_block(void* raw, std::size_t total) noexcept;

  // Before the first block both point at a static empty area, so that a request for 0
  // bytes also gets a valid, aligned pointer.
  char* cur_;
  char* end_;
  Block* head_ = nullptr;
  std::size_t block_size_ = 0;  // of the block cur_ is in
  std::size_t next_block_;
  std::size_t reserved_ = 0;
};

}  // namespace velmar::json
