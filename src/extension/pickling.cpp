// Pickling and copying: a diff reduces to its byte form, which rebuilds an
// equal diff exactly, listing order included. At protocol 5 the byte form
// travels as a PickleBuffer, so that a pickler with a buffer callback (as
// task engines use) sends it out of band without a copy; the rebuilding
// function therefore takes any buffer. copy.copy and copy.deepcopy go
// through the same reduction on both interpreters.
#include <cstdint>
#include <span>

#include "byte_objects.hpp"
#include "errors.hpp"
#include "instance.hpp"
#include "methods.hpp"

namespace quorl::python {

namespace {

// The first protocol whose picklers take buffers out of band.
constexpr long kOutOfBandProtocol = 5;

PyRef attribute_of_module(const char* module_name, const char* attribute) {
  const PyRef module = PyRef::steal(PyImport_ImportModule(module_name));
  return module ? PyRef::steal(PyObject_GetAttrString(module.get(), attribute)) : PyRef();
}

PyRef pickle_buffer_of(PyRef data) {
  const PyRef pickle_buffer = attribute_of_module("pickle", "PickleBuffer");
  return pickle_buffer ? PyRef::steal(PyObject_CallOneArg(pickle_buffer.get(), data.get()))
                       : PyRef();
}

// An exported buffer, released on every way out.
class ExportedBuffer {
 public:
  ExportedBuffer() = default;
  ExportedBuffer(const ExportedBuffer&) = delete;
  ExportedBuffer& operator=(const ExportedBuffer&) = delete;
  ~ExportedBuffer() {
    if (held_ && may_release_references()) {
      PyBuffer_Release(&view_);
    }
  }

  // PyBUF_SIMPLE: the exporter refuses a buffer that is not contiguous.
  [[nodiscard]] bool take(PyObject* value) {
    held_ = PyObject_GetBuffer(value, &view_, PyBUF_SIMPLE) == 0;
    return held_;
  }

  [[nodiscard]] std::span<const std::uint8_t> bytes() const noexcept {
    return {static_cast<const std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

}  // namespace

PyObject* reduce_ex(PyObject* self, PyObject* protocol) {
  return with_instance<Access::shared>(self, [&](GraphDiffObject& instance) -> PyRef {
    const long number = PyLong_AsLong(protocol);
    if (number == -1 && PyErr_Occurred() != nullptr) {
      return {};
    }
    PyRef data = encode_to_bytes_object(instance.diff);
    if (data && number >= kOutOfBandProtocol) {
      data = pickle_buffer_of(std::move(data));
    }
    if (!data) {
      return {};
    }
    PyRef rebuild = attribute_of_module("quorl_api", "_graph_diff_from_buffer");
    if (!rebuild) {
      return {};
    }
    const PyRef arguments = PyRef::steal(PyTuple_Pack(1, data.get()));
    return arguments ? PyRef::steal(PyTuple_Pack(2, rebuild.get(), arguments.get())) : PyRef();
  });
}

PyObject* size_of(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(self, [](GraphDiffObject& instance) {
    return PyRef::steal(PyLong_FromSize_t(sizeof(GraphDiffObject) + instance.diff.heap_bytes()));
  });
}

PyObject* graph_diff_from_buffer(PyObject* /*module*/, PyObject* buffer) {
  return guard_entry([&]() -> PyObject* {
    if (!PyObject_CheckBuffer(buffer)) {
      raise_type_mismatch(buffer, "PyBuffer");
      apply_argument_rule("buffer");
      return nullptr;
    }
    ExportedBuffer view;
    if (!view.take(buffer)) {
      return nullptr;
    }
    return decode_to_graph_diff(view.bytes()).release();
  });
}

}  // namespace quorl::python
