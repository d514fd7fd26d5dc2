// to_bytes and from_bytes: a whole diff leaves Python as one byte string and
// comes back from one. Every failure of the byte form gives one fixed
// message: callers cannot, and need not, tell one cause from another.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "binding.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "instance.hpp"
#include "methods.hpp"

namespace quorl::python {

namespace {

constexpr std::array<std::string_view, 1> kBytesParameter = {"bytes"};
constexpr Signature kFromBytes{"PyGraphDiff.from_bytes()", kBytesParameter};

// Raises an exception of the class Exception itself (no subclass, no cause).
PyObject* raise_plain_exception(const char* message) {
  PyErr_SetString(PyExc_Exception, message);
  return nullptr;
}

}  // namespace

PyObject* to_bytes(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(self, [](GraphDiffObject& instance) -> PyObject* {
    const auto encoded = graph_diff_to_bytes(instance.diff);
    if (!encoded) {
      return raise_plain_exception("Failed to serialize graph diff.");
    }
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(encoded->data()),
                                     static_cast<Py_ssize_t>(encoded->size()));
  });
}

PyObject* from_bytes(PyObject* /*static: no self*/, PyObject* const* args,
                     Py_ssize_t positional_count, PyObject* keyword_names) {
  return guard_entry([&]() -> PyObject* {
    std::array<PyObject*, 1> arguments{};
    if (!bind_fastcall(kFromBytes, args, positional_count, keyword_names, arguments)) {
      return nullptr;
    }
    PyObject* data = arguments[0];
    if (!PyBytes_Check(data)) {
      raise_type_mismatch(data, "PyBytes");
      apply_argument_rule("bytes");
      return nullptr;
    }
    // Decoded in place from the object's own storage; nothing of it is kept.
    const std::span<const std::uint8_t> input(
        reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(data)),
        static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
    auto decoded = bytes_to_graph_diff(input);
    if (!decoded) {
      return raise_plain_exception("Failed to deserialize graph diff.");
    }
    return new_graph_diff_object(std::move(*decoded));
  });
}

}  // namespace quorl::python
