// The module's own exceptions and the rules that word them.
#pragma once

#include <Python.h>

#include <cxxabi.h>

#include <cstddef>
#include <new>
#include <optional>
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

  // Raises in its place a new exception of class `type` built from
  // `message`, with `cause` as its __cause__. When `message` is empty
  // (making it failed, with its exception set) that failure stands; when the
  // class cannot be built from a message this exception stands.
  void replace(PyObject* new_type, const PyRef& message, PyRef cause) &&;
};

// Raises TypeError "'<qualname of type(value)>' object cannot be converted to
// '<target>'".
void raise_type_mismatch(PyObject* value, const char* target);

// Which failed conversions reword_argument_failure words anew.
enum class Reworded {
  type_error_only,  // the argument rule: other classes pass unchanged
  every_class,      // a column's rule: other classes too, with the old one as cause
};

// Re-words the pending exception E of a failed conversion of the argument
// `parameter` (of its item `item`, when given) as "argument '<parameter>':
// [item <item>: ]<str(E)>". An E of exactly TypeError becomes a new
// TypeError that keeps E's __cause__ (E itself is not chained). Any other E
// is re-worded only under Reworded::every_class, into a new exception of
// E's own class whose __cause__ is E; MemoryError, exceptions outside
// Exception and classes that cannot be built from a message stay as they
// are. Expects an exception to be set.
void reword_argument_failure(const char* parameter, std::optional<std::size_t> item,
                             Reworded scope);

// The argument rule for a failed conversion of the argument `name`.
inline void apply_argument_rule(const char* name) {
  reword_argument_failure(name, std::nullopt, Reworded::type_error_only);
}

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
