// PyRef: owns one strong reference to a Python object.
#pragma once

#include <Python.h>

#include <utility>

namespace quorl::python {

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
  ~PyRef() { Py_XDECREF(object_); }

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
