// The interpreter's ways into the module: the columnarize fast-call entry and the exec
// slot. Both run under last-resort containment and set at most one exception.
#pragma once

#include <Python.h>

#include "module/boundary.h"

namespace velmar::module {

// The seams of one columnarize call. The shipped module uses kShippedHooks; tests inject
// a transform that throws or a result factory that fails.
struct CallHooks {
  TransformFn transform;
  // Makes the result object from the result bytes: PyBytes_FromStringAndSize.
  PyObject* (*make_bytes)(const char* data, Py_ssize_t size);
};

extern const CallHooks kShippedHooks;

// columnarize(payload, min_rows=20) with the fast-call-with-keywords convention: a new
// bytes object, or null with one exception set (see the messages in boundary.cpp).
PyObject* columnarize_fastcall(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames);

// The same call with the given seams.
PyObject* columnarize_entry(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                            const CallHooks& hooks);

// The Py_mod_exec slot: adds `columnarize` to `module` and to its __all__. 0, or -1 with
// an exception set.
int velmar_codec_exec(PyObject* module);

}  // namespace velmar::module
