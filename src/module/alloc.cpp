// The module's global allocation functions, the one hook through which the module's code
// and the libraries it links meet a failed allocation. Running out of memory is never
// turned into a Python exception (or a std::bad_alloc that a catch-all might swallow): a
// failed allocation reports "memory allocation of <n> bytes failed" and ends the process. The
// module links its C++ runtime statically and exports none of these, so they serve the
// module's own code and its copy of the standard library, and nothing else in the process.
#include <cstddef>
#include <cstdlib>
#include <new>

#include "json/arena.h"
#include "module/fatal.h"

namespace {

// The JSON and columnar code's allocation failures meet the same policy as the module's
// own, from the moment the module is loaded.
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

// The plain forms end the process; the nothrow forms keep their contract and return null,
// which their callers (the arena's buffers sized by a payload's shape) handle.
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
