// What ends the process, in one place: a failure that escapes last-resort containment,
// running out of memory (the memory policy: alloc.cpp), and an interpreter that cannot
// make the module's exception type. Pure C++: usable without the lock.
#pragma once

#include <cstddef>
#include <exception>
#include <string_view>

namespace velmar::module {

// Reported after the failure's own text when a failure escapes last-resort containment.
inline constexpr std::string_view kGuardText = "uncaught panic at ffi boundary";

// Writes "<failure>" and "<guard>" as two lines on standard error and aborts.
[[noreturn]] void abort_with_report(std::string_view failure, std::string_view guard) noexcept;

// Writes "memory allocation of <bytes> bytes failed" on standard error and aborts.
[[noreturn]] void abort_out_of_memory(std::size_t bytes) noexcept;

// Aborts with "memory allocation failed" when `failure` is a std::bad_alloc (whose size
// is unknown); returns otherwise.
void abort_if_out_of_memory(const std::exception_ptr& failure) noexcept;

// Aborts after the caller has written its own report on standard error.
[[noreturn]] void abort_after_report() noexcept;

}  // namespace velmar::module
