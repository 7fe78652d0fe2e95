// The interpreter's ways into native code: last-resort containment around every entry
// point. Requires the interpreter lock.
#pragma once

#include <Python.h>

#include <exception>

namespace velmar::module {

// Last-resort containment: sets PanicException with the text of the current failure.
// Anything that fails even here ends the process (abort_with_report, kGuardText); so
// does a std::bad_alloc (the memory policy: alloc.cpp).
void contain_failure(const std::exception_ptr& failure) noexcept;

// Runs the body of a function entry point: what it returns (a new reference, or null
// with an exception set) or, for a failure it throws, null with PanicException set.
template <typename Body>
PyObject* function_entry(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    contain_failure(std::current_exception());
    return nullptr;
  }
}

// Runs the body of a slot entry point: its 0 or -1, or -1 with PanicException set.
template <typename Body>
int slot_entry(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    contain_failure(std::current_exception());
    return -1;
  }
}

}  // namespace velmar::module
