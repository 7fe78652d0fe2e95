// The module's global allocation functions. Running out of memory is never turned into a
// Python exception (or a std::bad_alloc that a catch-all might swallow): a failed
// allocation reports "memory allocation of <n> bytes failed" and ends the process. The
// module links its C++ runtime statically and exports none of these, so they serve the
// module's own code and its copy of the standard library, and nothing else in the process.
#include <cstddef>
#include <cstdlib>
#include <new>

#include "json/arena.h"

namespace {

void* allocate_or_die(std::size_t bytes) noexcept {
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (p == nullptr) velmar::json::allocation_failed(bytes);
  return p;
}

void* allocate_aligned_or_die(std::size_t bytes, std::align_val_t alignment) noexcept {
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (bytes + align - 1) / align * align;
  if (rounded < bytes) velmar::json::allocation_failed(bytes);
  void* p = std::aligned_alloc(align, rounded == 0 ? align : rounded);
  if (p == nullptr) velmar::json::allocation_failed(bytes);
  return p;
}

}  // namespace

void* operator new(std::size_t bytes) { return allocate_or_die(bytes); }
void* operator new[](std::size_t bytes) { return allocate_or_die(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  return allocate_or_die(bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return allocate_or_die(bytes);
}
void* operator new(std::size_t bytes, std::align_val_t alignment) {
  return allocate_aligned_or_die(bytes, alignment);
}
void* operator new[](std::size_t bytes, std::align_val_t alignment) {
  return allocate_aligned_or_die(bytes, alignment);
}
void* operator new(std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return allocate_aligned_or_die(bytes, alignment);
}
void* operator new[](std::size_t bytes, std::align_val_t alignment,
                     const std::nothrow_t&) noexcept {
  return allocate_aligned_or_die(bytes, alignment);
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
