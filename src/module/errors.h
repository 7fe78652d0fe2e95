// Python errors as values: the module's own (lazy) errors, type mismatches and fetched
// exceptions, and setting and fetching them. Every function here requires the interpreter
// lock.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>
#include <variant>

#include "json/result.h"
#include "module/py_calls.h"

namespace velmar::module {

// The PanicException text of a failure that carries no text of its own.
inline constexpr std::string_view kUnknownPanic = "unknown panic";

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

using Error = std::variant<LazyError, CastError, FetchedError>;

// A value or the Python error to set. json::Result is the project's one value-or-error
// type (C++20 has no std::expected); it sits in the JSON library only because that is the
// lowest layer, and the module already receives it from the transform (TransformResult).
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

// The error as a fetched exception; a lazy one is set and fetched back (normalised).
FetchedError normalize_error(Error error);

// The composed message of a cast error, as set_error uses it (exposed for tests).
std::string cast_error_message(const CastError& error);

}  // namespace velmar::module
