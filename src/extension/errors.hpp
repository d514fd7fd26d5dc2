// The module's own exceptions and the rules that word them.
#pragma once

#include <Python.h>

#include <cxxabi.h>

#include <new>
#include <utility>

#include "py_ref.hpp"

namespace quorl::python {

// The exception being raised, taken out of the interpreter (normalised) so
// that it can be inspected, wrapped or put back.
struct PendingException {
  PyRef type;
  PyRef value;
  PyRef traceback;

  [[nodiscard]] static PendingException fetch();
  void restore() && { PyErr_Restore(type.release(), value.release(), traceback.release()); }
};

// Raises TypeError "'<qualname of type(value)>' object cannot be converted to
// '<target>'".
void raise_type_mismatch(PyObject* value, const char* target);

// Re-words the pending exception of a failed conversion of the argument
// `name`: an exception of exactly TypeError becomes a new TypeError
// "argument '<name>': <text>" that keeps the old one's __cause__; any other
// exception stays as it is. Expects an exception to be set.
void apply_argument_rule(const char* name);

// Runs `body` at a C API entry point: C++ exceptions never reach the
// interpreter, and running out of memory becomes MemoryError.
//
// One unwinding passes through untouched: when the interpreter shuts down,
// it ends a daemon thread that waits for the GIL inside Python code this
// module called (a weight's __float__, a key's __eq__, a finaliser) with
// pthread_exit, which unwinds the thread's stack as a forced unwind. It must
// reach the thread's start, so it is rethrown, and nothing on the way may be
// noexcept: that would turn the rethrow into std::terminate.
template <class Body>
auto guard_entry(Body&& body) -> decltype(body()) {
  try {
    return std::forward<Body>(body)();
  } catch (const abi::__forced_unwind&) {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unexpected C++ exception in quorl_api");
  }
  return {};
}

// Runs the body of a C API entry point (a method, a slot, the module's
// initialisation), which returns the `PyRef` it built: C++ exceptions become
// Python ones, and the reference leaves its handle here, to the interpreter,
// and nowhere else.
template <class Body>
PyObject* entry_point(Body&& body) {
  return guard_entry([&]() -> PyRef { return std::forward<Body>(body)(); }).release();
}

}  // namespace quorl::python
