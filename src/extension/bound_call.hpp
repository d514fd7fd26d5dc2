// The steps that every mutating method with parameters takes before its own
// work: binding, self check and the exclusive borrow.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

#include "binding.hpp"
#include "instance.hpp"

namespace quorl::python {

// Binds the call's arguments to the signature's parameters, then runs
// `body(instance, arguments)` under the self check and the exclusive borrow.
// The body's result (a `PyRef`) is released to the interpreter only by
// entry_point. Binding comes first: a call with wrong arguments never
// touches the borrow.
template <std::size_t count, class Body>
PyObject* with_bound_arguments(const Signature& signature, PyObject* self, PyObject* const* args,
                               Py_ssize_t positional_count, PyObject* keyword_names, Body&& body) {
  return entry_point([&]() -> PyRef {
    std::array<PyObject*, count> arguments{};
    if (!bind_fastcall(signature, args, positional_count, keyword_names, arguments)) {
      return {};
    }
    return borrowed_call<Access::exclusive>(
        self, [&](GraphDiffObject& instance) { return body(instance, arguments); });
  });
}

}  // namespace quorl::python
