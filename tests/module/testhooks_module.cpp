// velmar_testhooks: a test-only extension module (never installed) that drives the
// shipped boundary code with injected faults the shipped module cannot be made to hit
// from Python: transforms that throw, a result factory that fails, a fetch with nothing
// pending, and direct calls of the runtime's text and error helpers and the exec slot.
// Transforms that wait for a Python thread or for each other prove, without timing,
// that the interpreter lock is released around the transform.
#include <Python.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "module/columnarize.h"
#include "module/detached.h"
#include "module/entry_guard.h"
#include "module/errors.h"
#include "module/module.h"
#include "module/object_text.h"
#include "module/process_objects.h"

namespace velmar::module {
namespace {

constexpr std::string_view kOverflow = "capacity overflow";

columnar::TransformResult throw_exception(json::PaddedView) {
  throw std::runtime_error(std::string(kOverflow));
}
columnar::TransformResult throw_string(json::PaddedView) { throw std::string(kOverflow); }
columnar::TransformResult throw_c_string(json::PaddedView) { throw "capacity overflow"; }
columnar::TransformResult throw_without_text(json::PaddedView) { throw 42; }
columnar::TransformResult throw_bad_alloc(json::PaddedView) { throw std::bad_alloc(); }
columnar::TransformResult index_out_of_range(json::PaddedView payload) {
  const std::vector<char> empty;
  return std::string(1, empty.at(payload.size()));
}
columnar::TransformResult echo(json::PaddedView payload) { return std::string(payload.text()); }
columnar::TransformResult fail_with_boom(json::PaddedView) {
  return columnar::TransformError{"boom"};
}

// MARK: handshakes

// A handshake that has not happened after this long never will: the waiting transform
// gives up with a TransformError rather than hang a test whose lock was never released.
constexpr std::chrono::seconds kHandshakeLimit{30};

// One transform waiting for a signal that only a Python thread can give (it calls
// signal_transform, which needs the interpreter lock).
struct SignalGate {
  std::mutex mutex;
  std::condition_variable changed;
  bool transform_waiting = false;
  bool signalled = false;
};
SignalGate g_gate;

// Two transforms that each wait for the other: both are in the unlocked window at once.
struct Rendezvous {
  std::mutex mutex;
  std::condition_variable changed;
  int waiting = 0;
  std::uint64_t meetings = 0;
};
Rendezvous g_rendezvous;

bool wait_for_signal() {
  std::unique_lock lock(g_gate.mutex);
  g_gate.transform_waiting = true;
  g_gate.signalled = false;  // a signal left by an earlier failed handshake does not count
  g_gate.changed.notify_all();
  const bool signalled =
      g_gate.changed.wait_for(lock, kHandshakeLimit, [] { return g_gate.signalled; });
  g_gate.transform_waiting = false;
  g_gate.signalled = false;
  return signalled;
}

bool meet_other_call() {
  std::unique_lock lock(g_rendezvous.mutex);
  const std::uint64_t meeting = g_rendezvous.meetings;
  if (++g_rendezvous.waiting == 2) {
    g_rendezvous.waiting = 0;
    ++g_rendezvous.meetings;
    g_rendezvous.changed.notify_all();
    return true;
  }
  if (g_rendezvous.changed.wait_for(lock, kHandshakeLimit,
                                    [&] { return g_rendezvous.meetings != meeting; })) {
    return true;
  }
  --g_rendezvous.waiting;
  return false;
}

std::string limit_text() { return std::to_string(kHandshakeLimit.count()) + " s"; }

// Waits for a Python thread's signal, then runs the shipped transform.
columnar::TransformResult transform_after_signal(json::PaddedView payload) {
  if (!wait_for_signal()) {
    return columnar::TransformError{"lock not released: no Python thread ran within " +
                                    limit_text()};
  }
  return columnar::columnarize_json(payload);
}

// Waits for a second call of the same transform, then runs the shipped transform.
columnar::TransformResult transform_after_rendezvous(json::PaddedView payload) {
  if (!meet_other_call()) {
    return columnar::TransformError{"lock not released: no other call arrived within " +
                                    limit_text()};
  }
  return columnar::columnarize_json(payload);
}

PyObject* bytes_fail_with_error(const char*, Py_ssize_t) {
  PyErr_SetString(PyExc_MemoryError, "injected bytes failure");
  return nullptr;
}
PyObject* bytes_fail_silently(const char*, Py_ssize_t) { return nullptr; }

struct Mode {
  std::string_view name;
  CallHooks hooks;
};

const Mode kModes[] = {
    {"shipped", kShippedHooks},
    {"throw_exception", {throw_exception, PyBytes_FromStringAndSize}},
    {"throw_string", {throw_string, PyBytes_FromStringAndSize}},
    {"throw_c_string", {throw_c_string, PyBytes_FromStringAndSize}},
    {"throw_without_text", {throw_without_text, PyBytes_FromStringAndSize}},
    {"throw_bad_alloc", {throw_bad_alloc, PyBytes_FromStringAndSize}},
    {"index_out_of_range", {index_out_of_range, PyBytes_FromStringAndSize}},
    {"echo", {echo, PyBytes_FromStringAndSize}},
    {"after_signal", {transform_after_signal, PyBytes_FromStringAndSize}},
    {"after_rendezvous", {transform_after_rendezvous, PyBytes_FromStringAndSize}},
    {"transform_error", {fail_with_boom, PyBytes_FromStringAndSize}},
    {"null_result", {columnar::columnarize_json, bytes_fail_with_error}},
    {"null_result_silent", {columnar::columnarize_json, bytes_fail_silently}},
};

// columnarize_with(mode, payload, min_rows=20): the shipped entry with the mode's seams.
PyObject* columnarize_with(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (nargs < 1 || !PyUnicode_Check(args[0])) {
    PyErr_SetString(PyExc_TypeError, "columnarize_with(mode: str, ...)");
    return nullptr;
  }
  const std::string mode = unicode_text(args[0]);
  for (const Mode& candidate : kModes) {
    if (candidate.name == mode)
      return columnarize_entry(args + 1, nargs - 1, kwnames, candidate.hooks);
  }
  PyErr_Format(PyExc_ValueError, "unknown mode %s", mode.c_str());
  return nullptr;
}

// wait_for_transform(): True once an "after_signal" transform waits for its signal, False
// after the handshake limit. Waits without the interpreter lock, so that the transform's
// thread can take it on its way into the call; with the lock kept by the transform, it
// returns only once the transform has given up.
PyObject* wait_for_transform(PyObject*, PyObject*) {
  bool waiting = false;
  {
    Detached window;
    std::unique_lock lock(g_gate.mutex);
    waiting =
        g_gate.changed.wait_for(lock, kHandshakeLimit, [] { return g_gate.transform_waiting; });
  }
  return PyBool_FromLong(waiting);
}

// signal_transform(): lets the waiting "after_signal" transform go on. Runs with the
// interpreter lock held, as every call from Python does.
PyObject* signal_transform(PyObject*, PyObject*) {
  {
    std::lock_guard lock(g_gate.mutex);
    g_gate.signalled = true;
  }
  g_gate.changed.notify_all();
  Py_RETURN_NONE;
}

PyObject* fetch_nothing(PyObject*, PyObject*) {
  return function_entry([]() -> PyObject* {
    set_error(fetch_error());
    return nullptr;
  });
}

// raise_cast_error(obj, type): raises the cast error for `obj` and the expected `type`.
PyObject* raise_cast_error(PyObject*, PyObject* args) {
  PyObject* object = nullptr;
  PyObject* type = nullptr;
  if (!PyArg_ParseTuple(args, "OO!", &object, &PyType_Type, &type)) return nullptr;
  return function_entry([&]() -> PyObject* {
    set_error(cast_error(object, reinterpret_cast<PyTypeObject*>(type)));
    return nullptr;
  });
}

PyObject* text_of(PyObject*, PyObject* object) {
  return function_entry([&]() -> PyObject* { return new_text(object_text(object)).release(); });
}

PyObject* exec_slot(PyObject*, PyObject* object) {
  if (velmar_codec_exec(object) < 0) return nullptr;
  Py_RETURN_NONE;
}

// exec_slot_null(exception): the exec slot given no module, with `exception` pending.
PyObject* exec_slot_null(PyObject*, PyObject* exception) {
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception)), exception);
  if (velmar_codec_exec(nullptr) < 0) return nullptr;
  Py_RETURN_NONE;
}

PyObject* panic(PyObject*, PyObject* message) {
  return function_entry([&]() -> PyObject* { throw InternalFailure(unicode_text(message)); });
}

PyObject* panic_type(PyObject*, PyObject*) {
  return function_entry(
      []() -> PyObject* { return PyRef::borrow(panic_exception_type()).release(); });
}

// null_result(exception or None): the null-result rule with `exception` pending.
PyObject* null_result(PyObject*, PyObject* exception) {
  if (exception != Py_None) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception)), exception);
  }
  return function_entry([]() -> PyObject* { return require(nullptr).release(); });
}

// Keeps an allocation observable, so that it cannot be elided.
char* volatile g_sink = nullptr;

// allocate(n): asks the module's allocator for n bytes; the process ends if it cannot.
PyObject* allocate(PyObject*, PyObject* size) {
  const Py_ssize_t bytes = PyLong_AsSsize_t(size);
  if (bytes < 0) return nullptr;
  return function_entry([&]() -> PyObject* {
    auto block = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(bytes));
    g_sink = block.get();
    return PyLong_FromSsize_t(bytes);
  });
}

PyMethodDef kMethods[] = {
    {"columnarize_with",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(columnarize_with)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"wait_for_transform", wait_for_transform, METH_NOARGS, nullptr},
    {"signal_transform", signal_transform, METH_NOARGS, nullptr},
    {"fetch_nothing", fetch_nothing, METH_NOARGS, nullptr},
    {"raise_cast_error", raise_cast_error, METH_VARARGS, nullptr},
    {"object_text", text_of, METH_O, nullptr},
    {"exec_slot", exec_slot, METH_O, nullptr},
    {"exec_slot_null", exec_slot_null, METH_O, nullptr},
    {"panic", panic, METH_O, nullptr},
    {"panic_type", panic_type, METH_NOARGS, nullptr},
    {"null_result", null_result, METH_O, nullptr},
    {"allocate", allocate, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kDefinition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "velmar_testhooks",
    .m_doc = "Fault injection into the velmar_codec boundary, for tests only.",
    .m_size = 0,
    .m_methods = kMethods,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace
}  // namespace velmar::module

PyMODINIT_FUNC PyInit_velmar_testhooks(void) {
  return PyModuleDef_Init(&velmar::module::kDefinition);
}
