// velmar_probe: a benchmark-only extension module (never installed). Its
// result_of_size(payload, n) takes the payload as velmar_codec.columnarize does (the
// bytes object's buffer) and returns a new bytes object of n bytes that the interpreter
// allocates and the module fills, with no memory of the module's own. module_bench.py runs
// it in a loop of velmar_codec's, with each call's result size, to show what the
// interpreter's own handling of the argument and of such a result costs in fresh pages.
#include <Python.h>

#include <cstring>

namespace {

PyObject* result_of_size(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 2 || !PyBytes_Check(args[0])) {
    PyErr_SetString(PyExc_TypeError, "result_of_size(payload: bytes, n: int)");
    return nullptr;
  }
  if (PyBytes_AsString(args[0]) == nullptr) return nullptr;
  const Py_ssize_t n = PyLong_AsSsize_t(args[1]);
  if (n < 0) {
    if (PyErr_Occurred() == nullptr) PyErr_SetString(PyExc_ValueError, "negative size");
    return nullptr;
  }
  PyObject* bytes = PyBytes_FromStringAndSize(nullptr, n);
  if (bytes != nullptr) std::memset(PyBytes_AsString(bytes), 'x', static_cast<std::size_t>(n));
  return bytes;
}

PyMethodDef kMethods[] = {
    {"result_of_size", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(result_of_size)),
     METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// No state and no slots.
PyModuleDef kDefinition = {.m_base = PyModuleDef_HEAD_INIT,
                           .m_name = "velmar_probe",
                           .m_doc = "A bytes object of a given size, for the benchmarks.",
                           .m_size = 0,
                           .m_methods = kMethods,
                           .m_slots = nullptr,
                           .m_traverse = nullptr,
                           .m_clear = nullptr,
                           .m_free = nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_velmar_probe(void) { return PyModuleDef_Init(&kDefinition); }
