// The module's exec slot, which the module definition names and tests call directly.
#pragma once

#include <Python.h>

namespace velmar::module {

// The Py_mod_exec slot: adds `columnarize` to `module` and to its __all__. 0, or -1 with
// an exception set.
int velmar_codec_exec(PyObject* module);

}  // namespace velmar::module
