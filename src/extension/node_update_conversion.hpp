// Node attributes across the Python boundary: a dictionary with the keys
// "label", "url", "size", "red", "green", "blue" and "show_label" on both
// sides, each key optional.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>

#include "node_update/node_update.hpp"
#include "py_ref.hpp"

namespace quorl::python {

// Reads a `dict` (or subclass) into a record. Keys are looked up one by one
// in the fixed order above with plain dictionary lookups (no __getitem__ or
// __missing__ of a subclass runs); a missing key leaves its field absent,
// other keys are ignored. Returns nullopt with the exception of the first
// failing field set; the caller applies the argument rule.
[[nodiscard]] std::optional<NodeUpdate> read_node_update(PyObject* value);

// Builds the dictionaries of one reading: a new dictionary per record,
// holding the present fields inserted in the fixed order. Values that
// cannot differ are shared: a run of records with the same size gets one
// float object, colours and the flag come from objects made once.
struct CachedObjects;

class NodeUpdateWriter {
 public:
  // Empty, with an exception set (MemoryError), when anything of it cannot
  // be built: a reading never hands back a dictionary with an attribute
  // silently missing.
  [[nodiscard]] PyRef write(const NodeUpdate& update);

 private:
  template <Field field>
  PyRef value_object(const CachedObjects& cached, FieldValue<field> value);

  PyRef last_size_;
  std::uint32_t last_size_bits_ = 0;
};

}  // namespace quorl::python
