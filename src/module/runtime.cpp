// The interpreter boundary runtime (see runtime.h).
#include "module/runtime.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "module/text.h"

namespace velmar::module {
namespace {

constexpr const char* kPanicTypeName = "tessiv_runtime.PanicException";
constexpr const char* kPanicTypeDoc =
    "Raised when native code called from Python fails internally.\n\n"
    "Like SystemExit, it derives from BaseException, not Exception, so that it typically\n"
    "propagates all the way up the stack and makes the interpreter exit.";
constexpr std::string_view kNothingPending = "attempted to fetch exception but none was set";
constexpr std::string_view kUnwrappedPanic = "Unwrapped panic from Python code";
constexpr std::string_view kUnknownPanic = "unknown panic";
constexpr std::string_view kNoTypeName = "<failed to extract type name>";

PyObject* as_object(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }

// MARK: one-time creation

// Runs a creation once per process. The creating thread holds the interpreter lock; a
// thread that finds the creation under way releases the lock while it waits, since the
// creator may need the lock to finish (PyPy switches threads inside Python code), and
// waiting with it held could deadlock. Constant-initialised, so usable from static
// storage without a guard of its own.
class OnceGuard {
 public:
  template <typename Create>
  void run(Create&& create) {
    if (done_.load(std::memory_order_acquire)) return;
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
      Detached waiting;
      lock.lock();
    }
    if (done_.load(std::memory_order_relaxed)) return;
    create();
    done_.store(true, std::memory_order_release);
  }
  bool done() const { return done_.load(std::memory_order_acquire); }

 private:
  std::mutex mutex_;
  std::atomic<bool> done_{false};
};

// An interpreter object made once and kept for the life of the process (never released).
struct ProcessObject {
  OnceGuard guard;
  PyObject* object = nullptr;

  PyObject* peek() const { return guard.done() ? object : nullptr; }
};

constinit ProcessObject g_panic_type;
constinit ProcessObject g_names[static_cast<std::size_t>(Name::kDunderAll) + 1];

std::string_view name_text(Name name) {
  switch (name) {
    case Name::kAddNote:
      return "add_note";
    case Name::kDunderName:
      return "__name__";
    case Name::kDunderAll:
      return "__all__";
  }
  return {};
}

[[noreturn]] void report_panic_type_failure() {
  std::fputs("Failed to initialize new exception type.\n", stderr);
  if (PyErr_Occurred() != nullptr) PyErr_PrintEx(0);
  std::fflush(stderr);
  std::abort();
}

// MARK: interpreter calls this interpreter may lack

// Names of the C API as this interpreter exports them (PyPy prefixes "PyPy").
#ifdef PYPY_VERSION
#  define VELMAR_C_API_SYMBOL(name) "PyPy" name
#else
#  define VELMAR_C_API_SYMBOL(name) "Py" name
#endif

using TypeNameFn = PyObject* (*)(PyTypeObject*);

// The interpreter's own function `symbol`, or null where it has none (PyType_GetQualName
// and PyType_GetName arrived in 3.11).
TypeNameFn resolve_type_name_fn(const char* symbol) {
  void* address = dlsym(RTLD_DEFAULT, symbol);
  TypeNameFn fn = nullptr;
  static_assert(sizeof(fn) == sizeof(address));
  std::memcpy(&fn, &address, sizeof(fn));
  return fn;
}

// The name `fn` gives for `type`, or the attribute `fallback` where fn is null; nothing,
// with the exception discarded, when it fails or is not a str.
std::optional<std::string> type_name_text(TypeNameFn fn, const char* fallback, PyTypeObject* type) {
  PyRef name =
      PyRef::steal(fn != nullptr ? fn(type) : PyObject_GetAttrString(as_object(type), fallback));
  if (!name || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    return std::nullopt;
  }
  return unicode_text(name.get());
}

std::optional<std::string> type_short_name(PyTypeObject* type) {
  static const TypeNameFn get_name = resolve_type_name_fn(VELMAR_C_API_SYMBOL("Type_GetName"));
  return type_name_text(get_name, "__name__", type);
}

// PyErr_WriteUnraisable(object) for the pending exception. PyPy 7.3 aborts the process
// when it cannot take repr() of `object`, so such an object is not named in the report.
void report_unraisable(PyObject* object) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyRef repr = PyRef::steal(PyObject_Repr(object));
  if (!repr) PyErr_Clear();
  PyErr_Restore(type, value, traceback);
  PyErr_WriteUnraisable(repr ? object : nullptr);
}

// MARK: setting and fetching

void normalize_pending() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyErr_Restore(type, value, traceback);
}

FetchedError fetch_pending() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  return FetchedError{PyRef::steal(type), PyRef::steal(value), PyRef::steal(traceback)};
}

void set_lazy(PyObject* type, std::string_view message) {
  PyRef value = new_text(message);
  if (type == g_panic_type.peek()) value = one_tuple(std::move(value));
  PyErr_SetObject(type, value.get());
  normalize_pending();
}

void set_error_or_throw(Error error) {
  if (auto* lazy = std::get_if<LazyError>(&error)) {
    set_lazy(lazy->type, lazy->message);
  } else if (auto* cast = std::get_if<CastError>(&error)) {
    set_lazy(PyExc_TypeError, cast_error_message(*cast));
  } else {
    auto& fetched = std::get<FetchedError>(error);
    PyErr_Restore(fetched.type.release(), fetched.value.release(), fetched.traceback.release());
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
  PyErr_Restore(panic.type.release(), panic.value.release(), panic.traceback.release());
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
  PyObject* panic_type = panic_exception_type();
  FetchedError fetched = fetch_pending();
  if (!fetched.type) return LazyError{PyExc_SystemError, std::string(kNothingPending)};
  if (fetched.type.get() == panic_type) resume_panic(std::move(fetched));
  return fetched;
}

Error cast_error(PyObject* object, PyTypeObject* expected) {
  return CastError{PyRef::borrow(object), PyRef::borrow(as_object(expected))};
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

PyRef require(PyObject* result) {
  if (result != nullptr) return PyRef::steal(result);
  if (PyErr_Occurred() != nullptr) PyErr_WriteUnraisable(nullptr);
  throw InternalFailure(std::string(kNullResult));
}

PyRef require_borrowed(PyObject* result) {
  if (result != nullptr) return PyRef::borrow(result);
  return require(nullptr);
}

PyRef new_text(std::string_view text) {
  return require(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

PyRef one_tuple(PyRef item) {
  PyRef tuple = require(PyTuple_New(1));
  PyTuple_SetItem(tuple.get(), 0, item.release());  // steals the item
  return tuple;
}

PyObject* panic_exception_type() {
  g_panic_type.guard.run([] {
    PyObject* type =
        PyErr_NewExceptionWithDoc(kPanicTypeName, kPanicTypeDoc, PyExc_BaseException, nullptr);
    if (type == nullptr) report_panic_type_failure();
    g_panic_type.object = type;
  });
  return g_panic_type.object;
}

PyObject* intern(Name name) {
  ProcessObject& slot = g_names[static_cast<std::size_t>(name)];
  slot.guard.run([&] {
    PyObject* text = new_text(name_text(name)).release();
    PyUnicode_InternInPlace(&text);
    slot.object = text;
  });
  return slot.object;
}

std::string object_text(PyObject* object) {
  PyRef text = PyRef::steal(PyObject_Str(object));
  if (text) return unicode_text(text.get());
  report_unraisable(object);
  std::optional<std::string> name = type_short_name(Py_TYPE(object));
  return name ? "<unprintable " + *name + " object>" : std::string("<unprintable object>");
}

std::string unicode_text(PyObject* text) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
  if (utf8 != nullptr) return std::string(utf8, static_cast<std::size_t>(size));
  PyErr_Clear();
  PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  if (!bytes) {
    PyErr_Clear();
    return {};
  }
  return utf8_lossy(std::string_view(PyBytes_AsString(bytes.get()),
                                     static_cast<std::size_t>(PyBytes_Size(bytes.get()))));
}

std::optional<std::string> type_qualname(PyTypeObject* type) {
  static const TypeNameFn get_qualname =
      resolve_type_name_fn(VELMAR_C_API_SYMBOL("Type_GetQualName"));
  return type_name_text(get_qualname, "__qualname__", type);
}

void contain_failure(const std::exception_ptr& failure) noexcept {
  try {
    std::string text = failure_text(failure, kUnknownPanic);
    set_error(LazyError{panic_exception_type(), std::move(text)});
  } catch (...) {
    abort_with_report(failure_text(std::current_exception(), kUnknownPanic), kGuardText);
  }
}

}  // namespace velmar::module
