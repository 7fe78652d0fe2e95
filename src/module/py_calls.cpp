// The calls every interpreter-side file builds on (see py_calls.h).
#include "module/py_calls.h"

#include <string>

namespace velmar::module {

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

FetchedError fetch_pending() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  return FetchedError{PyRef::steal(type), PyRef::steal(value), PyRef::steal(traceback)};
}

void restore_pending(FetchedError error) {
  PyErr_Restore(error.type.release(), error.value.release(), error.traceback.release());
}

}  // namespace velmar::module
