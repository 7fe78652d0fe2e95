// The memory policy, whole. Running out of memory ends the process: it is never turned
// into a Python exception, nor into a std::bad_alloc that a catch-all could swallow, since
// whatever ran next would run on the same exhausted memory. The module's code and its copy
// of the standard library allocate through the functions below, whose plain forms report
// "memory allocation of <n> bytes failed" and abort (abort_out_of_memory; fatal.h holds
// every report that ends the process). The JSON and columnar code take the arena's blocks
// from malloc and send every allocation they cannot get, or cannot even size, to
// json::allocation_failed, the arena's one hook, whose handler this file sets to the same
// report when the module is loaded. A std::bad_alloc thrown all the same (the
// std::bad_array_new_length of a new[] whose size overflows) is not contained: the
// catch-alls of the transform (boundary.cpp) and of the entry points (entry_guard.cpp) end
// the process with "memory allocation failed". One failure is not running out and raises
// MemoryError: a result whose row matrix needs more than memory_available(), or more than
// the system grants when asked (derive.cpp). The payload then asks too much of a sound process,
// and the transform returns kResultTooLarge, which columnarize.cpp maps to MemoryError.
//
// The module links its C++ runtime statically and exports none of these functions, so they
// serve the module's own code and its copy of the standard library, and nothing else in the
// process.
#include <cstddef>
#include <cstdlib>
#include <new>

#include "json/arena.h"
#include "module/fatal.h"

namespace {

// The arena's failures meet the same report as the module's own, from the moment the
// module is loaded.
[[maybe_unused]] const bool g_json_failures_handled =
    (velmar::json::set_allocation_failure_handler(velmar::module::abort_out_of_memory), true);

void* allocate(std::size_t bytes) noexcept { return std::malloc(bytes == 0 ? 1 : bytes); }

void* allocate_aligned(std::size_t bytes, std::align_val_t alignment) noexcept {
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (bytes + align - 1) / align * align;
  if (rounded < bytes) return nullptr;
  return std::aligned_alloc(align, rounded == 0 ? align : rounded);
}

void* or_die(void* p, std::size_t bytes) noexcept {
  if (p == nullptr) velmar::module::abort_out_of_memory(bytes);
  return p;
}

}  // namespace

// The plain forms end the process; the nothrow forms keep their contract and return null
// to a caller that asked for it (the arena does not use them: it calls malloc itself).
void* operator new(std::size_t bytes) { return or_die(allocate(bytes), bytes); }
void* operator new[](std::size_t bytes) { return or_die(allocate(bytes), bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return allocate(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return allocate(bytes); }
void* operator new(std::size_t bytes, std::align_val_t alignment) {
  return or_die(allocate_aligned(bytes, alignment), bytes);
}
void* operator new[](std::size_t bytes, std::align_val_t alignment) {
  return or_die(allocate_aligned(bytes, alignment), bytes);
}
void* operator new(std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate_aligned(bytes, alignment);
}
void* operator new[](std::size_t bytes, std::align_val_t alignment,
                     const std::nothrow_t&) noexcept {
  return allocate_aligned(bytes, alignment);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
