// Node attributes across the Python boundary: a dictionary with the keys
// "label", "url", "size", "red", "green", "blue" and "show_label" on both
// sides, each key optional.
#pragma once

#include <Python.h>

#include <optional>

#include "node_update/node_update.hpp"

namespace quorl::python {

// Reads a `dict` (or subclass) into a record. Keys are looked up one by one
// in the fixed order above with plain dictionary lookups (no __getitem__ or
// __missing__ of a subclass runs); a missing key leaves its field absent,
// other keys are ignored. Returns nullopt with the exception of the first
// failing field set; the caller applies the argument rule.
[[nodiscard]] std::optional<NodeUpdate> read_node_update(PyObject* value);

// A new dictionary holding the present fields, inserted in the fixed order.
// Returns nullptr with an exception set (MemoryError) when anything of it
// cannot be built: a reading never hands back a dictionary with an
// attribute silently missing.
[[nodiscard]] PyObject* write_node_update(const NodeUpdate& update);

}  // namespace quorl::python
