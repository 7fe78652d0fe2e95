// Containment of the transform: one catch-all between the transform and the boundary.
#include <exception>
#include <utility>

#include "module/boundary.h"
#include "module/fatal.h"

namespace velmar::module {

Outcome run_transform(TransformFn transform, std::string_view payload) noexcept {
  try {
    columnar::TransformResult result = transform(payload);
    if (result.ok()) return Outcome(std::in_place_index<0>, std::move(result).value());
    return Outcome(std::in_place_index<1>, std::move(result).error());
  } catch (...) {
    // failure_text ends the process for std::bad_alloc: running out of memory is never
    // reported as an error.
    return Outcome(std::in_place_index<2>,
                   ContainedPanic{failure_text(std::current_exception(), kUnknownTransformPanic)});
  }
}

std::string panic_message(const ContainedPanic& panic) {
  std::string message(kInternalPanicPrefix);
  message += panic.text;
  return message;
}

}  // namespace velmar::module
