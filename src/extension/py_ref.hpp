// PyRef: owns one strong reference to a Python object.
#pragma once

#include <Python.h>

#include <utility>

namespace quorl::python {

// Whether this thread may give references back. A daemon thread that the
// interpreter ends at shutdown unwinds its stack through this module's frames
// without holding the GIL; dropping a reference then would race with the
// finalising thread, or free an object with no thread state. The thread
// never runs again and the process is ending, so what it holds is left
// alone, as the interpreter leaves what its own frames hold. Only while the
// interpreter is finalising is the holder of the GIL asked for.
[[nodiscard]] inline bool may_release_references() noexcept {
#if defined(PYPY_VERSION)
  return true;
#else
#if PY_VERSION_HEX >= 0x030D0000
  if (!Py_IsFinalizing()) {
    return true;
  }
  const PyThreadState* holder = PyThreadState_GetUnchecked();
#else
  if (_Py_IsFinalizing() == 0) {
    return true;
  }
  const PyThreadState* holder = _PyThreadState_UncheckedGet();
#endif
  return holder != nullptr && holder->thread_id == PyThread_get_thread_ident();
#endif
}

class PyRef {
 public:
  PyRef() noexcept = default;

  // Takes over a reference the caller already owns (a "new reference").
  [[nodiscard]] static PyRef steal(PyObject* object) noexcept { return PyRef(object); }

  // Makes a reference the interpreter only lent us (a "borrowed reference")
  // into a strong one, so the object outlives any Python code that runs next.
  [[nodiscard]] static PyRef borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    PyRef(std::move(other)).swap(*this);
    return *this;
  }
  ~PyRef() {
    if (object_ != nullptr && may_release_references()) {
      Py_DECREF(object_);
    }
  }

  [[nodiscard]] PyObject* get() const noexcept { return object_; }
  [[nodiscard]] explicit operator bool() const noexcept { return object_ != nullptr; }

  // Hands the reference to the caller (for returning to the interpreter, or
  // to a C API call that steals it).
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

  void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}

  PyObject* object_ = nullptr;
};

}  // namespace quorl::python
