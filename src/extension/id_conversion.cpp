#include "id_conversion.hpp"

#include <array>
#include <cstring>

#include "errors.hpp"
#include "py_ref.hpp"

namespace quorl::python {

namespace {

constexpr Py_ssize_t kIdLength = 16;
constexpr Py_ssize_t kTextLength = 36;

// Two hex digits per byte value, so a byte costs one table read.
constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
  constexpr char digits[] = "0123456789abcdef";
  std::array<std::array<char, 2>, 256> pairs{};
  for (std::size_t value = 0; value < pairs.size(); ++value) {
    pairs[value] = {digits[value >> 4], digits[value & 0xF]};
  }
  return pairs;
}();

void format_id_text(const NodeId& id, char* text) noexcept {
  std::size_t position = 0;
  for (std::size_t index = 0; index < id.size(); ++index) {
    if (index == 4 || index == 6 || index == 8 || index == 10) {
      text[position++] = '-';
    }
    std::memcpy(text + position, kHexPairs[id[index]].data(), 2);
    position += 2;
  }
}

// Raises the refusal of an id: the pending exception (the reason) becomes
// the __cause__ of a TypeError "failed to extract field PyUuid.0".
void raise_bad_id() {
  PyRef reason = PendingException::fetch().value;
  PyRef wrapper =
      PyRef::steal(PyObject_CallFunction(PyExc_TypeError, "s", "failed to extract field PyUuid.0"));
  if (!wrapper) {
    return;  // out of memory: that exception stands
  }
  if (reason) {
    PyException_SetCause(wrapper.get(), reason.release());  // steals the reason
  }
  PyErr_SetObject(PyExc_TypeError, wrapper.get());
}

}  // namespace

std::optional<NodeId> convert_node_id(PyObject* value) {
  if (!PyBytes_Check(value)) {
    raise_type_mismatch(value, "PyBytes");
    raise_bad_id();
    return std::nullopt;
  }
  if (PyBytes_GET_SIZE(value) != kIdLength) {
    PyErr_SetString(PyExc_Exception, "Expected 16 bytes.");
    raise_bad_id();
    return std::nullopt;
  }
  NodeId id;
  std::memcpy(id.data(), PyBytes_AS_STRING(value), id.size());
  return id;
}

std::optional<NodeId> read_node_id(PyObject* value, const char* parameter) {
  auto id = convert_node_id(value);
  if (!id) {
    apply_argument_rule(parameter);
  }
  return id;
}

PyObject* write_id_text(const NodeId& id) {
  // An ASCII string of known length: the digits go straight into its buffer.
  // PyPy's C-API layer supports this too, and there it is several times
  // faster than building the string from a C text.
  PyObject* text = PyUnicode_New(kTextLength, 127);
  if (text != nullptr) {
    format_id_text(id, reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text)));
  }
  return text;
}

}  // namespace quorl::python
