// The text of interpreter objects for messages (see object_text.h).
#include "module/object_text.h"

#include <dlfcn.h>

#include <cstring>
#include <string_view>
#include <utility>

#include "module/py_calls.h"
#include "module/text.h"

namespace velmar::module {
namespace {

// MARK: interpreter calls this interpreter may lack

using TypeNameFn = PyObject* (*)(PyTypeObject*);

#if !defined(PYPY_VERSION) && PY_VERSION_HEX >= 0x030B0000
// CPython 3.11 and later have both calls.
TypeNameFn qualname_fn() { return PyType_GetQualName; }
TypeNameFn name_fn() { return PyType_GetName; }
#else
// Elsewhere each is looked up once at run time under the name this interpreter exports
// (PyPy prefixes "PyPy"), and is null where the interpreter has none.
#  ifdef PYPY_VERSION
#    define VELMAR_C_API_SYMBOL(name) "PyPy" name
#  else
#    define VELMAR_C_API_SYMBOL(name) "Py" name
#  endif

TypeNameFn resolve_type_name_fn(const char* symbol) {
  void* address = dlsym(RTLD_DEFAULT, symbol);
  TypeNameFn fn = nullptr;
  static_assert(sizeof(fn) == sizeof(address));
  std::memcpy(&fn, &address, sizeof(fn));
  return fn;
}

TypeNameFn qualname_fn() {
  static const TypeNameFn fn = resolve_type_name_fn(VELMAR_C_API_SYMBOL("Type_GetQualName"));
  return fn;
}
TypeNameFn name_fn() {
  static const TypeNameFn fn = resolve_type_name_fn(VELMAR_C_API_SYMBOL("Type_GetName"));
  return fn;
}
#endif

// The name `fn` gives for `type`, or the attribute `fallback` where fn is null; nothing,
// with the exception discarded, when it fails or is not a str.
std::optional<std::string> type_name_text(TypeNameFn fn, const char* fallback, PyTypeObject* type) {
  PyRef name = PyRef::steal(
      fn != nullptr ? fn(type)
                    : PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), fallback));
  if (!name || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    return std::nullopt;
  }
  return unicode_text(name.get());
}

// PyErr_WriteUnraisable(object) for the pending exception. PyPy 7.3 aborts the process
// when it cannot take repr() of `object`, so such an object is not named in the report.
void report_unraisable(PyObject* object) {
  FetchedError pending = fetch_pending();
  PyRef repr = PyRef::steal(PyObject_Repr(object));
  if (!repr) PyErr_Clear();
  restore_pending(std::move(pending));
  PyErr_WriteUnraisable(repr ? object : nullptr);
}

}  // namespace

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
  return type_name_text(qualname_fn(), "__qualname__", type);
}

std::optional<std::string> type_short_name(PyTypeObject* type) {
  return type_name_text(name_fn(), "__name__", type);
}

}  // namespace velmar::module
