// Failure texts and the process-ending reports of the boundary. Pure C++, no interpreter:
// usable with the interpreter lock released.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace velmar::module {

// Reported after the failure's own text when a failure escapes last-resort containment.
inline constexpr std::string_view kGuardText = "uncaught panic at ffi boundary";

// The text a thrown failure carries: what() of a std::exception, a thrown std::string or
// std::string_view, or a thrown C string; `fallback` for anything else.
// A std::bad_alloc is never turned into text: it ends the process (report_out_of_memory).
std::string failure_text(const std::exception_ptr& failure, std::string_view fallback);

// Writes "<failure>" and "<guard>" as two lines on standard error and aborts.
[[noreturn]] void abort_with_report(std::string_view failure, std::string_view guard) noexcept;

// Ends the process for a std::bad_alloc whose size is unknown: "memory allocation failed".
[[noreturn]] void report_out_of_memory() noexcept;

}  // namespace velmar::module
