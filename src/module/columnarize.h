// The columnarize entry: argument binding and its messages, acceptance of the payload,
// validation of min_rows, the private copy, the unlocked window around the transform and
// the mapping of its outcome to bytes or one Python exception.
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
// bytes object, or null with one exception set (see the messages in columnarize.cpp).
PyObject* columnarize_fastcall(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames);

// The same call with the given seams.
PyObject* columnarize_entry(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                            const CallHooks& hooks);

}  // namespace velmar::module
