// The interpreter's ways into native code: last-resort containment around every entry
// point, and the unlocked window. Requires the interpreter lock unless it says otherwise.
#pragma once

#include <Python.h>

#include <exception>
#include <string_view>

namespace velmar::module {

// The PanicException text of a failure that carries no text of its own.
inline constexpr std::string_view kUnknownPanic = "unknown panic";

// Releases the interpreter lock for its lifetime (detach in the constructor, reattach in
// the destructor). Inside, no interpreter object may be created, read or released.
class Detached {
 public:
  Detached() noexcept : state_(PyEval_SaveThread()) {}
  ~Detached() { PyEval_RestoreThread(state_); }
  Detached(const Detached&) = delete;
  Detached& operator=(const Detached&) = delete;
  Detached(Detached&&) = delete;
  Detached& operator=(Detached&&) = delete;

 private:
  PyThreadState* state_;
};

// Last-resort containment: sets PanicException with the text of the current failure.
// Anything that fails even here ends the process (abort_with_report, kGuardText); so
// does a std::bad_alloc, since running out of memory is never contained.
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
