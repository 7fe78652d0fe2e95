// PyRef: the one owner of an interpreter object reference. Move-only; it holds exactly one
// strong reference or none. This is the only file that touches reference counts.
#pragma once

#include <Python.h>

#include <cassert>
#include <utility>

namespace velmar::module {

class PyRef {
 public:
  PyRef() noexcept = default;

  // Takes over a new reference (may be null).
  static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  // Adds a reference to a borrowed one (may be null).
  static PyRef borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { reset(); }

  PyObject* get() const noexcept { return object_; }
  // Hands the reference to the caller (for calls that steal one).
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Releases the reference. Precondition: the interpreter lock is held.
  void reset() noexcept {
    if (object_ != nullptr) {
      assert(PyGILState_Check());
      Py_DECREF(std::exchange(object_, nullptr));
    }
  }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}

  PyObject* object_ = nullptr;
};

}  // namespace velmar::module
