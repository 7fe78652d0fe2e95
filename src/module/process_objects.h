// Interpreter objects made once per process on first use and never released: the
// PanicException type and the interned attribute names. Requires the interpreter lock.
#pragma once

#include <Python.h>

namespace velmar::module {

// The last-resort exception type "tessiv_runtime.PanicException", a direct subclass of
// BaseException, created on first use. If it cannot be created the process ends after
// reporting "Failed to initialize new exception type." and the pending exception.
PyObject* panic_exception_type();

// The type if it was already made, else null; never creates it.
PyObject* panic_exception_type_if_made();

// The fixed attribute names, interned once per process and never released.
enum class Name { kAddNote, kDunderName, kDunderAll };  // kDunderAll stays last
PyObject* intern(Name name);

}  // namespace velmar::module
