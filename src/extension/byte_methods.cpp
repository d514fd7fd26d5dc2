// to_bytes and from_bytes: a whole diff leaves Python as one byte string and
// comes back from one. Every failure of the byte form gives one fixed
// message: callers cannot, and need not, tell one cause from another.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "binding.hpp"
#include "byte_objects.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "bytes_contents.hpp"
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

// Hands the encoder the storage of a new bytes object of the exact length,
// so the byte form is written once, where Python will read it.
class BytesObjectSink final : public ByteSink {
 public:
  // Thrown through the encoder when no bytes object of the length can be
  // made. The interpreter's own exception is then set and stands: a
  // MemoryError, or an OverflowError for a length beyond what a bytes
  // object can hold.
  struct Refused {};

  std::span<std::uint8_t> allocate(std::size_t length) override {
    if (length > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
      PyErr_SetString(PyExc_OverflowError, "byte string is too large");
      throw Refused{};
    }
    object_ = PyRef::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length)));
    if (!object_) {
      throw Refused{};
    }
    return {reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(object_.get())), length};
  }

  PyRef release() noexcept { return std::move(object_); }

 private:
  PyRef object_;
};

}  // namespace

PyRef encode_to_bytes_object(const Diff& diff) {
  BytesObjectSink sink;
  try {
    if (!graph_diff_to_bytes(diff, sink)) {
      raise_plain_exception("Failed to serialize graph diff.");
      return {};
    }
  } catch (const BytesObjectSink::Refused&) {
    return {};
  }
  return sink.release();
}

PyRef decode_to_graph_diff(std::span<const std::uint8_t> input) {
  auto decoded = bytes_to_graph_diff(input);
  if (!decoded) {
    raise_plain_exception("Failed to deserialize graph diff.");
    return {};
  }
  return PyRef::steal(new_graph_diff_object(std::move(*decoded)));
}

PyObject* to_bytes(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(
      self, [](GraphDiffObject& instance) { return encode_to_bytes_object(instance.diff); });
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
    const auto contents = BytesContents::of(data);
    if (!contents) {
      return nullptr;
    }
    return decode_to_graph_diff(contents->bytes()).release();
  });
}

}  // namespace quorl::python
