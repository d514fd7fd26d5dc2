#include "id_conversion.hpp"

#include <cstring>

#include "bytes/graph_diff_bytes.hpp"
#include "bytes_contents.hpp"
#include "errors.hpp"
#include "py_ref.hpp"

namespace quorl::python {

namespace {

// Raises the refusal of an id: the pending exception (the reason) becomes
// the __cause__ of a TypeError "failed to extract field PyUuid.0".
void raise_bad_id() {
  PendingException reason = PendingException::fetch();
  PyRef cause = PyRef::borrow(reason.value.get());
  std::move(reason).replace(PyExc_TypeError,
                            PyRef::steal(PyUnicode_FromString("failed to extract field PyUuid.0")),
                            std::move(cause));
}

}  // namespace

std::optional<NodeId> convert_node_id(PyObject* value) {
  NodeId id;
  if (PyBytes_CheckExact(value) && Py_SIZE(value) == static_cast<Py_ssize_t>(kIdLength)) {
    // The common case, read from the object's header as BytesContents does.
    std::memcpy(id.data(), reinterpret_cast<PyBytesObject*>(value)->ob_sval, id.size());
    return id;
  }
  if (!PyBytes_Check(value)) {
    raise_type_mismatch(value, "PyBytes");
    raise_bad_id();
    return std::nullopt;
  }
  const auto contents = BytesContents::of(value);
  if (!contents) {
    raise_bad_id();
    return std::nullopt;
  }
  if (contents->bytes().size() != kIdLength) {
    PyErr_SetString(PyExc_Exception, "Expected 16 bytes.");
    raise_bad_id();
    return std::nullopt;
  }
  std::memcpy(id.data(), contents->bytes().data(), id.size());
  return id;
}

std::optional<NodeId> read_node_id(PyObject* value, const char* parameter) {
  auto id = convert_node_id(value);
  if (!id) {
    apply_argument_rule(parameter);
  }
  return id;
}

}  // namespace quorl::python
