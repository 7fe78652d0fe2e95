// The call boundary's interface to the transform. The transform runs on the boundary's
// private copy of the payload, with the interpreter lock released, and every failure it
// throws is contained here, so its outcome is always one of three values. Pure C++:
// nothing in this header touches the interpreter.
//
// The rest of the module, by file: module.{h,cpp} (definition, exec slot,
// PyInit_velmar_codec), columnarize.{h,cpp} (the columnarize entry),
// entry_guard.{h,cpp} (containment of entry points), errors.{h,cpp} (Python errors as
// values), object_text.{h,cpp} (text of objects for messages), process_objects.{h,cpp}
// (objects made once), py_calls.{h,cpp} (the null-result rule, the pending exception),
// detached.h (the unlocked window), py_ref.h (the one reference owner), text.{h,cpp}
// (UTF-8 with replacement), fatal.{h,cpp} (what ends the process), alloc.cpp (the memory
// policy and the module's allocation functions).
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <variant>

#include "columnar/columnar.h"

namespace velmar::module {

// The transform; columnar::columnarize_json in the shipped module. Tests inject others.
using TransformFn = columnar::TransformResult (*)(json::PaddedView payload);

inline constexpr std::string_view kInternalPanicPrefix = "internal panic during columnarization: ";
inline constexpr std::string_view kUnknownTransformPanic = "unknown panic in columnarize_json";

// A failure thrown inside the transform, reduced to its text (see failure_text;
// kUnknownTransformPanic for a failure without text).
struct ContainedPanic {
  std::string text;
};

// What one run of the transform gives: the result bytes, the transform's own error, or a
// contained failure.
using Outcome = std::variant<std::string, columnar::TransformError, ContainedPanic>;

// Runs `transform` on `payload` inside a catch-all. Never lets a failure out; a
// std::bad_alloc is not contained but ends the process (the memory policy: alloc.cpp).
// Touches no interpreter object and no shared mutable state, so it may run without the
// lock.
Outcome run_transform(TransformFn transform, json::PaddedView payload) noexcept;

// The RuntimeError text of a contained failure:
// "internal panic during columnarization: <text>".
std::string panic_message(const ContainedPanic& panic);

// The text a thrown failure carries: what() of a std::exception, a thrown std::string or
// std::string_view, or a thrown C string; `fallback` for anything else.
std::string failure_text(const std::exception_ptr& failure, std::string_view fallback);

}  // namespace velmar::module
