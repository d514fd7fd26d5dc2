// New `str` objects of ASCII text, written in place: the characters go
// straight into the object's own buffer, with no decoding. Under PyPy a
// string made from UTF-8 goes through the C-API layer's own decoder, which
// an ASCII text does not need.
#pragma once

#include <Python.h>

#include <cstddef>

#include "py_ref.hpp"

namespace quorl::python {

// A new `str` of `length` ASCII characters, which `fill(char* characters)`
// writes before the object is used anywhere. Empty, with MemoryError set,
// when it cannot be made. Inline: the readings make one per id, and the
// compiler sees through it.
template <class Fill>
[[nodiscard]] inline PyRef new_ascii_text(std::size_t length, Fill&& fill) {
  if (length > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
    PyErr_NoMemory();
    return {};
  }
  PyRef text = PyRef::steal(PyUnicode_New(static_cast<Py_ssize_t>(length), 127));
  if (text) {
    fill(reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text.get())));
  }
  return text;
}

}  // namespace quorl::python
