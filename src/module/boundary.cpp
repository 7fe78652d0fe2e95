// Containment of the transform: one catch-all between the transform and the boundary.
#include "module/boundary.h"

#include <utility>

#include "module/fatal.h"

namespace velmar::module {

Outcome run_transform(TransformFn transform, json::PaddedView payload) noexcept {
  try {
    columnar::TransformResult result = transform(payload);
    if (result.ok()) return Outcome(std::in_place_index<0>, std::move(result).value());
    return Outcome(std::in_place_index<1>, std::move(result).error());
  } catch (...) {
    abort_if_out_of_memory(std::current_exception());
    return Outcome(std::in_place_index<2>,
                   ContainedPanic{failure_text(std::current_exception(), kUnknownTransformPanic)});
  }
}

std::string panic_message(const ContainedPanic& panic) {
  std::string message(kInternalPanicPrefix);
  message += panic.text;
  return message;
}

std::string failure_text(const std::exception_ptr& failure, std::string_view fallback) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (const std::string& text) {
    return text;
  } catch (std::string_view text) {
    return std::string(text);
  } catch (const char* text) {
    return text != nullptr ? std::string(text) : std::string(fallback);
  } catch (...) {
    return std::string(fallback);
  }
}

}  // namespace velmar::module
