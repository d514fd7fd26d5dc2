// The PyGraphDiff instance, its borrow flag, and the steps every instance
// method takes before and after its own work: self check, borrow, and the
// borrow given back on every way out.
#pragma once

#include <Python.h>

#include "diff/graph_diff.hpp"
#include "errors.hpp"
#include "py_ref.hpp"

namespace quorl::python {

struct GraphDiffObject {
  PyObject_HEAD Diff diff;
  // 0: free; n > 0: n reading calls in progress; -1: one mutating call.
  Py_ssize_t borrow;
  // Set once `diff` exists. PyPy's object.__new__ makes a zero-filled
  // instance without the constructor; it holds no diff to use or destroy.
  bool constructed;
};

// The class object, built once by the first module initialisation.
PyTypeObject* graph_diff_type() noexcept;

// Creates an instance of exactly PyGraphDiff that owns `diff`. Empty, with an
// exception set, when it cannot be allocated.
PyRef new_graph_diff_object(Diff diff);

enum class Access { shared, exclusive };

// Holds one borrow of an instance, and a strong reference to it, for as long
// as it lives.
template <Access access>
class BorrowGuard {
 public:
  // Returns false with RuntimeError set when the borrow cannot be taken.
  [[nodiscard, gnu::always_inline]] bool take(PyObject* self) {
    auto* instance = reinterpret_cast<GraphDiffObject*>(self);
    if constexpr (access == Access::shared) {
      if (instance->borrow == -1) {
        PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
        return false;
      }
      ++instance->borrow;
    } else {
      if (instance->borrow != 0) {
        PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
        return false;
      }
      instance->borrow = -1;
    }
    instance_ = instance;
    hold_ = PyRef::borrow(self);
    return true;
  }

  BorrowGuard() = default;
  BorrowGuard(const BorrowGuard&) = delete;
  BorrowGuard& operator=(const BorrowGuard&) = delete;

  [[gnu::always_inline]] ~BorrowGuard() {
    if (instance_ == nullptr) {
      return;
    }
    if constexpr (access == Access::shared) {
      --instance_->borrow;
    } else {
      instance_->borrow = 0;
    }
    // `hold_` is released after the flag is given back.
  }

 private:
  GraphDiffObject* instance_ = nullptr;
  PyRef hold_;
};

// Checks that `self` is a PyGraphDiff; otherwise raises the type mismatch.
[[nodiscard, gnu::always_inline]] inline bool check_self(PyObject* self) {
  PyTypeObject* type = graph_diff_type();
  if (Py_TYPE(self) != type && !PyType_IsSubtype(Py_TYPE(self), type)) {
    raise_type_mismatch(self, "PyGraphDiff");
    return false;
  }
  if (!reinterpret_cast<GraphDiffObject*>(self)->constructed) {
    PyErr_SetString(PyExc_TypeError, "PyGraphDiff instance made without its constructor");
    return false;
  }
  return true;
}

// None, as a body's result.
[[nodiscard]] inline PyRef none_result() noexcept { return PyRef::borrow(Py_None); }

// Runs `body(instance)` under the self check and a borrow of the given
// access, and returns its result.
template <Access access, class Body>
[[gnu::always_inline]] inline PyRef borrowed_call(PyObject* self, Body&& body) {
  if (!check_self(self)) {
    return {};
  }
  BorrowGuard<access> borrow;
  if (!borrow.take(self)) {
    return {};
  }
  return body(*reinterpret_cast<GraphDiffObject*>(self));
}

// The entry point of a method without parameters.
template <Access access, class Body>
PyObject* with_instance(PyObject* self, Body&& body) {
  return entry_point([&] { return borrowed_call<access>(self, body); });
}

}  // namespace quorl::python
