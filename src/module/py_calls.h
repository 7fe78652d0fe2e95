// The calls every interpreter-side file builds on: the null-result rule, the str and the
// 1-tuple that messages need, and the pending exception taken over by owners and put back.
// Depends on nothing of the module but PyRef, so that errors, object text and the objects
// made once can all use it. Every function here requires the interpreter lock.
#pragma once

#include <Python.h>

#include <stdexcept>
#include <string_view>

#include "module/py_ref.h"

namespace velmar::module {

// An internal failure of the boundary itself (not of the transform), thrown natively.
// Last-resort containment turns it into PanicException with its text.
class InternalFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The null-result rule's failure text.
inline constexpr std::string_view kNullResult = "PyObject pointer is null";

// Null-result rule: returns `result` as an owner; for null, reports any pending
// exception with PyErr_WriteUnraisable(NULL) and throws InternalFailure(kNullResult).
PyRef require(PyObject* result);
// The same rule for a call that returns a borrowed reference: adds one.
PyRef require_borrowed(PyObject* result);

// A new str holding `text` (UTF-8); null-result rule.
PyRef new_text(std::string_view text);
// A new 1-tuple holding `item`; null-result rule.
PyRef one_tuple(PyRef item);

// A pending exception as fetched and normalised: type, value, traceback (may be null).
struct FetchedError {
  PyRef type;
  PyRef value;
  PyRef traceback;
};

// The pending exception, taken over and normalised (all null when none is pending), and
// the way back: makes a fetched exception pending again, as it was.
FetchedError fetch_pending();
void restore_pending(FetchedError error);

}  // namespace velmar::module
