// The unlocked window: the interpreter lock released for a scope.
#pragma once

#include <Python.h>

namespace velmar::module {

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

}  // namespace velmar::module
