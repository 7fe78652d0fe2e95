// The process-ending reports. Nothing else in the module calls abort.
#include "module/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace velmar::module {

void abort_with_report(std::string_view failure, std::string_view guard) noexcept {
  std::fprintf(stderr, "%.*s\n%.*s\n", static_cast<int>(failure.size()), failure.data(),
               static_cast<int>(guard.size()), guard.data());
  abort_after_report();
}

void abort_out_of_memory(std::size_t bytes) noexcept {
  std::fprintf(stderr, "memory allocation of %zu bytes failed\n", bytes);
  abort_after_report();
}

void abort_if_out_of_memory(const std::exception_ptr& failure) noexcept {
  try {
    std::rethrow_exception(failure);
  } catch (const std::bad_alloc&) {
    std::fputs("memory allocation failed\n", stderr);
    abort_after_report();
  } catch (...) {
  }
}

void abort_after_report() noexcept {
  std::fflush(stderr);
  std::abort();
}

}  // namespace velmar::module
