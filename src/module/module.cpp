// The velmar_codec extension module: the function's doc text, its method table entry, the
// exec slot, the slots, the module definition and PyInit_velmar_codec, the library's one
// exported symbol. The module keeps no state; each module object made from the definition
// gets its own function object.
#include "module/module.h"

#include <optional>
#include <string>

#include "module/columnarize.h"
#include "module/entry_guard.h"
#include "module/errors.h"
#include "module/object_text.h"
#include "module/process_objects.h"

namespace velmar::module {
namespace {

PyDoc_STRVAR(columnarize_doc,
             "columnarize(payload, min_rows=20)\n--\n\n"
             "Columnarize a row-oriented JSON payload (bytes or str), GIL released\n"
             "for the duration of the transform.\n"
             "\n"
             "Args:\n"
             "    payload: UTF-8 JSON bytes/str encoding a `list[dict]` of rows.\n"
             "    min_rows: Accepted for parity with the Python codec's signature;\n"
             "        not re-checked here (the Python caller already applied the\n"
             "        guard before calling this function).\n"
             "\n"
             "Returns:\n"
             "    UTF-8 JSON bytes encoding `{\"columns\", \"rows\", \"constants\"}`.\n"
             "\n"
             "Panic safety: `columnarize_json` runs inside failure containment, so that an\n"
             "unexpected internal failure (for instance an unforeseen indexing error)\n"
             "surfaces as an ordinary `RuntimeError` instead of `PanicException`.\n"
             "`PanicException` derives from `BaseException`, not `Exception`, so it would\n"
             "silently bypass the `except Exception:` guard of the calling `columnar`\n"
             "module and break the \"a broken codec must never break a tool call\"\n"
             "contract (a code-review fix). This does NOT protect against a stack\n"
             "overflow, which aborts the process unconditionally and cannot be caught by\n"
             "any mechanism: a residual, documented limitation.");

static_assert((METH_FASTCALL | METH_KEYWORDS | METH_STATIC) == 0xa2);

PyMethodDef columnarize_method = {
    .ml_name = "columnarize",
    .ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(columnarize_fastcall)),
    .ml_flags = METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
    .ml_doc = columnarize_doc,
};

std::string repr_text(PyObject* object) {
  PyRef repr = PyRef::steal(PyObject_Repr(object));
  if (!repr) {
    PyErr_Clear();
    return "<unrepresentable object>";
  }
  return unicode_text(repr.get());
}

// "PyErr { type: <repr>, value: <repr>, traceback: <repr or None> }"
std::string describe(const FetchedError& error) {
  return "PyErr { type: " + repr_text(error.type.get()) +
         ", value: " + repr_text(error.value.get()) +
         ", traceback: " + (error.traceback ? repr_text(error.traceback.get()) : "None") + " }";
}

bool is_module(PyObject* object) {
  return Py_TYPE(object) == &PyModule_Type || PyType_IsSubtype(Py_TYPE(object), &PyModule_Type);
}

// The module's __name__, looked up in its dict with a fresh key.
PyResult<PyRef> module_name(PyObject* module) {
  PyRef dict = require_borrowed(PyModule_GetDict(module));
  PyRef key = new_text("__name__");
  PyRef name = PyRef::steal(PyObject_GetItem(dict.get(), key.get()));
  if (!name) {
    PyErr_Clear();
    return Error(LazyError{PyExc_AttributeError, "__name__"});
  }
  if (!PyUnicode_Check(name.get())) return cast_error(name.get(), &PyUnicode_Type);
  return name;
}

// The module's __all__, made an empty list when the module has none.
PyResult<PyRef> export_list(PyObject* module) {
  PyRef all = PyRef::steal(PyObject_GetAttr(module, intern(Name::kDunderAll)));
  if (!all) {
    Error error = fetch_error();
    const auto* fetched = std::get_if<FetchedError>(&error);
    if (fetched == nullptr ||
        !PyErr_GivenExceptionMatches(fetched->type.get(), PyExc_AttributeError)) {
      return error;
    }
    all = require(PyList_New(0));
    if (PyObject_SetAttr(module, intern(Name::kDunderAll), all.get()) < 0) return fetch_error();
  }
  if (!PyList_Check(all.get())) return cast_error(all.get(), &PyList_Type);
  return all;
}

std::optional<Error> add_columnarize(PyObject* module) {
  if (module == nullptr) return fetch_error();
  if (!is_module(module)) return cast_error(module, &PyModule_Type);
  PyResult<PyRef> name = module_name(module);
  if (!name) return std::move(name).error();
  PyRef function = PyRef::steal(PyCMethod_New(&columnarize_method, module, name->get(), nullptr));
  name->reset();
  if (!function) return fetch_error();
  PyRef function_name = PyRef::steal(PyObject_GetAttr(function.get(), intern(Name::kDunderName)));
  if (!function_name) return fetch_error();
  if (!PyUnicode_Check(function_name.get())) {
    return cast_error(function_name.get(), &PyUnicode_Type);
  }
  PyResult<PyRef> all = export_list(module);
  if (!all) return std::move(all).error();
  if (PyList_Append(all->get(), function_name.get()) < 0) {
    throw InternalFailure("could not append __name__ to __all__: " +
                          describe(normalize_error(fetch_error())));
  }
  all->reset();
  if (PyObject_SetAttr(module, function_name.get(), function.get()) < 0) return fetch_error();
  return std::nullopt;
}

}  // namespace

int velmar_codec_exec(PyObject* module) {
  return slot_entry([&] {
    std::optional<Error> error = add_columnarize(module);
    if (!error) return 0;
    set_error(std::move(*error));
    return -1;
  });
}

namespace {

PyModuleDef_Slot velmar_codec_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(velmar_codec_exec)},
    {0, nullptr},
};

PyModuleDef velmar_codec_module = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "velmar_codec",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = velmar_codec_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace
}  // namespace velmar::module

PyMODINIT_FUNC PyInit_velmar_codec(void) {
  return PyModuleDef_Init(&velmar::module::velmar_codec_module);
}
