// Python errors as values (see errors.h).
#include "module/errors.h"

#include <cstdio>
#include <utility>

#include "module/boundary.h"
#include "module/fatal.h"
#include "module/object_text.h"
#include "module/process_objects.h"

namespace velmar::module {
namespace {

constexpr std::string_view kNothingPending = "attempted to fetch exception but none was set";
constexpr std::string_view kUnwrappedPanic = "Unwrapped panic from Python code";
constexpr std::string_view kNoTypeName = "<failed to extract type name>";

void set_lazy(PyObject* type, std::string_view message) {
  PyRef value = new_text(message);
  if (type == panic_exception_type_if_made()) value = one_tuple(std::move(value));
  PyErr_SetObject(type, value.get());
  restore_pending(fetch_pending());  // normalised at once
}

void set_error_or_throw(Error error) {
  if (auto* lazy = std::get_if<LazyError>(&error)) {
    set_lazy(lazy->type, lazy->message);
  } else if (auto* cast = std::get_if<CastError>(&error)) {
    set_lazy(PyExc_TypeError, cast_error_message(*cast));
  } else {
    restore_pending(std::get<FetchedError>(std::move(error)));
  }
}

// str() of a resumed PanicException, or the fixed text when str() fails.
std::string panic_text(PyObject* value) {
  PyRef text = PyRef::steal(PyObject_Str(value));
  if (!text) {
    PyErr_Clear();
    return std::string(kUnwrappedPanic);
  }
  return unicode_text(text.get());
}

[[noreturn]] void resume_panic(FetchedError panic) {
  std::string message = panic_text(panic.value.get());
  std::fputs(
      "A PanicException raised by Python code reached native code; resuming it as a native "
      "failure.\nPython stack trace below:\n",
      stderr);
  restore_pending(std::move(panic));
  PyErr_PrintEx(0);
  throw InternalFailure(message);
}

}  // namespace

void set_error(Error error) noexcept {
  try {
    set_error_or_throw(std::move(error));
  } catch (...) {
    abort_with_report(failure_text(std::current_exception(), kUnknownPanic), kGuardText);
  }
}

Error fetch_error() {
  // Taken before the panic type is made: making a type with an exception pending fails.
  FetchedError fetched = fetch_pending();
  if (!fetched.type) return LazyError{PyExc_SystemError, std::string(kNothingPending)};
  if (fetched.type.get() == panic_exception_type()) resume_panic(std::move(fetched));
  return fetched;
}

Error cast_error(PyObject* object, PyTypeObject* expected) {
  return CastError{PyRef::borrow(object), PyRef::borrow(reinterpret_cast<PyObject*>(expected))};
}

std::string cast_error_message(const CastError& error) {
  auto* expected_type = reinterpret_cast<PyTypeObject*>(error.expected.get());
  const std::string expected =
      expected_type == Py_TYPE(Py_None)
          ? std::string("None")
          : type_qualname(expected_type).value_or(std::string(kNoTypeName));
  if (error.object.get() == Py_None) return "'None' is not an instance of '" + expected + "'";
  const std::string actual =
      type_qualname(Py_TYPE(error.object.get())).value_or(std::string(kNoTypeName));
  return "'" + actual + "' object is not an instance of '" + expected + "'";
}

FetchedError normalize_error(Error error) {
  if (auto* fetched = std::get_if<FetchedError>(&error)) return std::move(*fetched);
  set_error(std::move(error));
  return fetch_pending();
}

}  // namespace velmar::module
