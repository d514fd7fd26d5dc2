// Argument binding shared by the constructor and every method that takes
// arguments: positional arguments fill the parameters in order, keywords
// fill them by name, and every mistake gets one of four fixed messages.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>
#include <string_view>

namespace quorl::python {

struct Signature {
  const char* full_name;  // as it appears in messages, e.g. "PyGraphDiff.add_node()"
  std::span<const std::string_view> parameters;
  // The parameters after the first `required` may be left out (their slots
  // stay null).
  std::size_t required = static_cast<std::size_t>(-1);
};

// The fast-call form with keywords, or with fewer or more positional
// arguments than parameters (see bind_fastcall).
[[nodiscard]] bool bind_fastcall_in_full(const Signature& signature, PyObject* const* args,
                                         Py_ssize_t positional_count, PyObject* keyword_names,
                                         std::span<PyObject*> bound);

// Fast-call form. On success every slot of `bound` (one per parameter) holds
// a reference borrowed from the call's own argument vector. On failure a
// TypeError is set and false is returned. Inline for the call that gives
// every parameter by position, which is what single edits in a loop make.
[[nodiscard]] inline bool bind_fastcall(const Signature& signature, PyObject* const* args,
                                        Py_ssize_t positional_count, PyObject* keyword_names,
                                        std::span<PyObject*> bound) {
  if (keyword_names == nullptr && static_cast<std::size_t>(positional_count) == bound.size() &&
      bound.size() == signature.parameters.size()) {
    for (std::size_t index = 0; index < bound.size(); ++index) {
      bound[index] = args[index];
    }
    return true;
  }
  return bind_fastcall_in_full(signature, args, positional_count, keyword_names, bound);
}

// Tuple-and-dictionary form, for the constructor. The references in `bound`
// are borrowed from `args` and `kwargs`.
[[nodiscard]] bool bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs,
                              std::span<PyObject*> bound);

}  // namespace quorl::python
