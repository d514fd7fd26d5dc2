// The bytes a `bytes` object (or an instance of a subclass) holds, read
// without running any of its Python methods.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>

#include "py_ref.hpp"

namespace quorl::python {

class BytesContents {
 public:
  // `object` must pass PyBytes_Check. Returns nullopt with an exception set
  // only when a subclass instance's buffer cannot be taken.
  [[nodiscard]] static std::optional<BytesContents> of(PyObject* object) {
    if (PyBytes_CheckExact(object)) {
      // Read from the object's own header, as CPython's macros do: under
      // PyPy the macros are calls into its C-API layer, which costs more
      // than the read itself.
      auto* bytes = reinterpret_cast<PyBytesObject*>(object);
      return BytesContents(PyRef(), bytes->ob_sval, Py_SIZE(object));
    }
    // PyPy's C-API layer sizes a subclass instance by its __len__, whatever
    // it says; the buffer of a memoryview always has the true contents.
    PyRef view = PyRef::steal(PyMemoryView_FromObject(object));
    if (!view) {
      return std::nullopt;
    }
    const Py_buffer* buffer = PyMemoryView_GET_BUFFER(view.get());
    const void* data = buffer->buf;
    const Py_ssize_t length = buffer->len;
    return BytesContents(std::move(view), data, length);
  }

  [[nodiscard]] std::span<const std::uint8_t> bytes() const noexcept { return bytes_; }

 private:
  BytesContents(PyRef owner, const void* data, Py_ssize_t length) noexcept
      : owner_(std::move(owner)),
        bytes_(static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(length)) {}

  PyRef owner_;  // the memoryview that keeps a subclass instance's buffer
  std::span<const std::uint8_t> bytes_;
};

}  // namespace quorl::python
