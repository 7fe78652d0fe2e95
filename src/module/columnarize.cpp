// The columnarize call boundary: argument binding and its messages, acceptance of the
// payload, validation of min_rows, the private copy, the unlocked window around the
// transform, and the mapping of its outcome to bytes or one Python exception.
#include "module/columnarize.h"

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "module/detached.h"
#include "module/entry_guard.h"
#include "module/errors.h"
#include "module/object_text.h"
#include "module/process_objects.h"

namespace velmar::module {
namespace {

// What argument binding and its messages know of the function.
struct FunctionDescription {
  std::string_view name;
  std::array<std::string_view, 2> positional;  // every parameter, in order
  std::size_t required;                        // leading parameters without a default
};

constexpr FunctionDescription kColumnarize{"columnarize", {"payload", "min_rows"}, 1};
constexpr std::size_t kPayloadSlot = 0;
constexpr std::size_t kMinRowsSlot = 1;

// The bound arguments, borrowed from the call's vector (the caller holds them).
using ArgumentSlots = std::array<PyObject*, kColumnarize.positional.size()>;

// MARK: argument errors

std::string display_name() { return std::string(kColumnarize.name) + "()"; }

Error type_error(std::string message) { return LazyError{PyExc_TypeError, std::move(message)}; }

Error too_many_positional_arguments(Py_ssize_t given) {
  return type_error(display_name() + " takes from " + std::to_string(kColumnarize.required) +
                    " to " + std::to_string(kColumnarize.positional.size()) +
                    " positional arguments but " + std::to_string(given) + " were given");
}

Error unexpected_keyword_argument(PyObject* keyword) {
  return type_error(display_name() + " got an unexpected keyword argument '" +
                    object_text(keyword) + "'");
}

Error multiple_values_for_argument(std::string_view name) {
  return type_error(display_name() + " got multiple values for argument '" + std::string(name) +
                    "'");
}

Error missing_required_positional_arguments() {
  return type_error(display_name() + " missing 1 required positional argument: '" +
                    std::string(kColumnarize.positional[kPayloadSlot]) + "'");
}

// Adds the note "while processing '<name>'" through the exception's own add_note, where
// it has one; a failure to add it is discarded. Keeps the exception's type and message.
Error argument_extraction_error(Error error, std::string_view name) {
  FetchedError fetched = normalize_error(std::move(error));
  if (!fetched.value) return fetched;
  PyRef add_note = PyRef::steal(PyObject_GetAttr(fetched.value.get(), intern(Name::kAddNote)));
  if (!add_note) {
    PyErr_Clear();
    return fetched;
  }
  PyRef args = one_tuple(new_text("while processing '" + std::string(name) + "'"));
  PyRef added = PyRef::steal(PyObject_Call(add_note.get(), args.get(), nullptr));
  if (!added) PyErr_Clear();
  return fetched;
}

// MARK: binding

// The slot a keyword selects: its UTF-8 text compared byte for byte with the parameter
// names. Nothing for another name or a name without a UTF-8 form.
std::optional<std::size_t> keyword_slot(PyObject* keyword) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(keyword, &size);
  if (text == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  const std::string_view name(text, static_cast<std::size_t>(size));
  for (std::size_t slot = 0; slot < kColumnarize.positional.size(); ++slot) {
    if (name == kColumnarize.positional[slot]) return slot;
  }
  return std::nullopt;
}

// Binds the vector and the keyword names to the slots; the first failure wins.
PyResult<ArgumentSlots> bind_arguments(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs > static_cast<Py_ssize_t>(kColumnarize.positional.size())) {
    return too_many_positional_arguments(nargs);
  }
  ArgumentSlots slots{};
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];
  const Py_ssize_t keywords = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t i = 0; i < keywords; ++i) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, i);
    const std::optional<std::size_t> slot = keyword_slot(keyword);
    if (!slot) return unexpected_keyword_argument(keyword);
    if (slots[*slot] != nullptr)
      return multiple_values_for_argument(kColumnarize.positional[*slot]);
    slots[*slot] = args[nargs + i];
  }
  if (slots[kPayloadSlot] == nullptr) return missing_required_positional_arguments();
  return slots;
}

// MARK: argument conversion

// The payload's bytes, borrowed from the object (valid while the caller holds it).
PyResult<std::string_view> accept_payload(PyObject* payload) {
  if (!PyBytes_Check(payload)) {
    return argument_extraction_error(cast_error(payload, &PyBytes_Type), "payload");
  }
  return std::string_view(PyBytes_AsString(payload),
                          static_cast<std::size_t>(PyBytes_Size(payload)));
}

// Converts an int to an unsigned 64-bit value only to validate it. All ones is a valid
// value; it is a failure only with an exception pending.
std::optional<Error> convert_unsigned(PyObject* integer) {
  const unsigned long long value = PyLong_AsUnsignedLongLong(integer);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    return fetch_error();
  }
  return std::nullopt;
}

// Checks that min_rows is an unsigned 64-bit integer; its value is not used.
std::optional<Error> validate_min_rows(PyObject* min_rows) {
  if (PyLong_Check(min_rows)) return convert_unsigned(min_rows);
  PyRef index = PyRef::steal(PyNumber_Index(min_rows));
  if (!index) return fetch_error();
  if (!PyLong_Check(index.get())) return cast_error(index.get(), &PyLong_Type);
  return convert_unsigned(index.get());
}

// MARK: the native body

// Copies the payload, then runs the transform without the interpreter lock.
Outcome run_detached(std::string_view payload, TransformFn transform) {
  // The private copy, made while the lock is held: the last read of the payload object.
  json::PaddedText copy = columnar::copy_payload(payload);
  Detached window;
  // Invariant until `window` ends: no interpreter object is created, read or released and
  // no PyMem_* function is called. Only the transform (which sees nothing but the copy)
  // and the freeing of the copy run here.
  Outcome outcome = run_transform(transform, copy.view());
  copy = json::PaddedText();
  return outcome;
}

// A payload that is not an array of objects is a RuntimeError; a result too large for
// memory is MemoryError (the memory policy: alloc.cpp).
PyObject* exception_type(columnar::TransformErrorKind kind) {
  switch (kind) {
    case columnar::TransformErrorKind::kInvalidPayload:
      return PyExc_RuntimeError;
    case columnar::TransformErrorKind::kResultTooLarge:
      return PyExc_MemoryError;
  }
  return PyExc_RuntimeError;
}

// The call result of one transform: its bytes, or the exception to raise.
PyResult<std::string> columnarize(std::string_view payload, TransformFn transform) {
  Outcome outcome = run_detached(payload, transform);
  struct ToCallResult {
    PyResult<std::string> operator()(std::string&& bytes) const { return std::move(bytes); }
    PyResult<std::string> operator()(columnar::TransformError&& error) const {
      return Error(LazyError{exception_type(error.kind), std::move(error.message)});
    }
    PyResult<std::string> operator()(ContainedPanic&& panic) const {
      return Error(LazyError{PyExc_RuntimeError, panic_message(panic)});
    }
  };
  return std::visit(ToCallResult{}, std::move(outcome));
}

PyResult<std::string> bind_and_columnarize(PyObject* const* args, Py_ssize_t nargs,
                                           PyObject* kwnames, TransformFn transform) {
  PyResult<ArgumentSlots> slots = bind_arguments(args, nargs, kwnames);
  if (!slots) return std::move(slots).error();
  PyResult<std::string_view> payload = accept_payload((*slots)[kPayloadSlot]);
  if (!payload) return std::move(payload).error();
  if (PyObject* min_rows = (*slots)[kMinRowsSlot]; min_rows != nullptr) {
    if (std::optional<Error> error = validate_min_rows(min_rows)) {
      return argument_extraction_error(std::move(*error), "min_rows");
    }
  }
  return columnarize(*payload, transform);
}

}  // namespace

constinit const CallHooks kShippedHooks = {columnar::columnarize_json, PyBytes_FromStringAndSize};

PyObject* columnarize_entry(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                            const CallHooks& hooks) {
  return function_entry([&]() -> PyObject* {
    PyResult<std::string> result = bind_and_columnarize(args, nargs, kwnames, hooks.transform);
    if (!result) {
      set_error(std::move(result).error());
      return nullptr;
    }
    // The result buffer is copied once into the new object and freed on every path.
    const std::string bytes = std::move(result).value();
    return require(hooks.make_bytes(bytes.data(), static_cast<Py_ssize_t>(bytes.size()))).release();
  });
}

PyObject* columnarize_fastcall(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return columnarize_entry(args, nargs, kwnames, kShippedHooks);
}

}  // namespace velmar::module
