// The call boundary's interface to the transform. The transform runs on the boundary's
// private copy of the payload, with the interpreter lock released, and every failure it
// throws is contained here, so its outcome is always one of three values. Pure C++:
// nothing in this header touches the interpreter.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "columnar/columnar.h"

namespace velmar::module {

// The transform; columnar::columnarize_json in the shipped module. Tests inject others.
using TransformFn = columnar::TransformResult (*)(std::string_view payload);

inline constexpr std::string_view kInternalPanicPrefix = "internal panic during columnarization: ";
inline constexpr std::string_view kUnknownTransformPanic = "unknown panic in columnarize_json";

// A failure thrown inside the transform, reduced to its text (see failure_text in fatal.h;
// kUnknownTransformPanic for a failure without text).
struct ContainedPanic {
  std::string text;
};

// What one run of the transform gives: the result bytes, the transform's own error, or a
// contained failure.
using Outcome = std::variant<std::string, columnar::TransformError, ContainedPanic>;

// Runs `transform` on `payload` inside a catch-all. Never lets a failure out; a
// std::bad_alloc is not contained but ends the process with its report. Touches no
// interpreter object and no shared mutable state, so it may run without the lock.
Outcome run_transform(TransformFn transform, std::string_view payload) noexcept;

// The RuntimeError text of a contained failure:
// "internal panic during columnarization: <text>".
std::string panic_message(const ContainedPanic& panic);

}  // namespace velmar::module
