// Last-resort containment of the entry points (see entry_guard.h).
#include "module/entry_guard.h"

#include <string>
#include <string_view>
#include <utility>

#include "module/boundary.h"
#include "module/errors.h"
#include "module/fatal.h"
#include "module/process_objects.h"

namespace velmar::module {

void contain_failure(const std::exception_ptr& failure) noexcept {
  abort_if_out_of_memory(failure);
  try {
    std::string text = failure_text(failure, kUnknownPanic);
    set_error(LazyError{panic_exception_type(), std::move(text)});
  } catch (...) {
    abort_with_report(failure_text(std::current_exception(), kUnknownPanic), kGuardText);
  }
}

}  // namespace velmar::module
