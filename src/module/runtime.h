// The interpreter boundary runtime: entry points under last-resort containment, the
// unlocked window, Python errors as values (lazy or fetched), type-mismatch texts, the
// null-result rule, process-wide objects created once, and object text for messages.
// Every function here requires the interpreter lock unless it says otherwise.
#pragma once

#include <Python.h>

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "json/result.h"
#include "module/fatal.h"
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

// MARK: errors as values

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

// MARK: process-wide objects

// The last-resort exception type "tessiv_runtime.PanicException", a direct subclass of
// BaseException, created on first use. If it cannot be created the process ends after
// reporting "Failed to initialize new exception type." and the pending exception.
PyObject* panic_exception_type();

// The fixed attribute names, interned once per process and never released.
enum class Name { kAddNote, kDunderName, kDunderAll };  // kDunderAll stays last
PyObject* intern(Name name);

// MARK: text of objects

// str() of `object` as UTF-8 text. An str() that fails is reported with
// PyErr_WriteUnraisable(object) and gives "<unprintable <type name> object>" (or
// "<unprintable object>" when the type has no name either).
std::string object_text(PyObject* object);

// The text of a str object: its UTF-8 form, or, for text that has none (lone
// surrogates), its surrogatepass encoding decoded with replacement. Clears any exception
// it meets; gives the empty text when nothing can be had.
std::string unicode_text(PyObject* text);

// The qualified name of `type` (PyType_GetQualName where the interpreter has it, else
// the type's __qualname__), or nothing with the exception discarded.
std::optional<std::string> type_qualname(PyTypeObject* type);

// MARK: entry points and the unlocked window

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
// Anything that fails even here ends the process (abort_with_report, kGuardText).
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
