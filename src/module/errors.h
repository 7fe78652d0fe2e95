// Python errors as values: the module's own (lazy) errors, type mismatches and fetched
// exceptions; setting and fetching them; and the null-result rule. Every function here
// requires the interpreter lock.
#pragma once

#include <Python.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "json/result.h"
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

// An error the module makes itself: an exception type and its message, turned into an
// exception object only when set. `type` is a process-lifetime exception type (a
// built-in one or PanicException), so it is not owned.
struct LazyError {
  PyObject* type;
  std::string message;
};

// A type mismatch: the offending object and the expected type. Becomes a lazy TypeError
// whose message is composed when it is set.
struct CastError {
  PyRef object;
  PyRef expected;
};

// A pending exception as fetched and normalised: type, value, traceback (may be null).
struct FetchedError {
  PyRef type;
  PyRef value;
  PyRef traceback;
};

using Error = std::variant<LazyError, CastError, FetchedError>;

template <typename T>
using PyResult = json::Result<T, Error>;

// Makes `error` the pending exception: a lazy one with its message as a str (a 1-tuple for
// PanicException), normalised at once; a fetched one restored as it is. A failure while
// setting ends the process (abort_with_report with kGuardText).
void set_error(Error error) noexcept;

// Takes the pending exception after a failed interpreter call. Nothing pending gives the
// lazy SystemError "attempted to fetch exception but none was set". A PanicException
// (that very type) is not returned but resumed: reported on standard error with its
// traceback, then thrown natively again as an InternalFailure with its message.
Error fetch_error();

// The lazy TypeError "'<type>' object is not an instance of '<expected>'" ("'None' is not
// an instance of '<expected>'" for None). Both are borrowed here and held by the error.
Error cast_error(PyObject* object, PyTypeObject* expected);

// The pending exception, taken over and normalised (all null when none is pending), and
// the way back: makes a fetched exception pending again, as it was.
FetchedError fetch_pending();
void restore_pending(FetchedError error);

// The error as a fetched exception; a lazy one is set and fetched back (normalised).
FetchedError normalize_error(Error error);

// The composed message of a cast error, as set_error uses it (exposed for tests).
std::string cast_error_message(const CastError& error);

// Null-result rule: returns `result` as an owner; for null, reports any pending
// exception with PyErr_WriteUnraisable(NULL) and throws InternalFailure(kNullResult).
PyRef require(PyObject* result);
// The same rule for a call that returns a borrowed reference: adds one.
PyRef require_borrowed(PyObject* result);

// A new str holding `text` (UTF-8); null-result rule.
PyRef new_text(std::string_view text);
// A new 1-tuple holding `item`; null-result rule.
PyRef one_tuple(PyRef item);

}  // namespace velmar::module
