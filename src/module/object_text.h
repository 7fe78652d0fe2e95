// The text of interpreter objects for messages: str() of an object, the UTF-8 form of a
// str, and type names (through calls this interpreter may lack, looked up at run time).
// Requires the interpreter lock.
#pragma once

#include <Python.h>

#include <optional>
#include <string>

namespace velmar::module {

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

// The short name of `type` (PyType_GetName, else __name__), or nothing likewise.
std::optional<std::string> type_short_name(PyTypeObject* type);

}  // namespace velmar::module
