// Node ids across the Python boundary: they come in as 16-byte `bytes` and
// go out as 36-character lower-case text in the 8-4-4-4-12 pattern.
#pragma once

#include <Python.h>

#include <optional>

#include "diff/node_id.hpp"

namespace quorl::python {

// Reads the argument `parameter` as a node id: a `bytes` (or subclass) of
// exactly 16 bytes. Every refusal raises the same TypeError
// "argument '<parameter>': failed to extract field PyUuid.0"; its __cause__
// says why (a TypeError for a value that is no `bytes`, an Exception
// "Expected 16 bytes." for a wrong length). Runs no Python code.
[[nodiscard]] std::optional<NodeId> read_node_id(PyObject* value, const char* parameter);

// The same before the argument rule: the refusal is the TypeError
// "failed to extract field PyUuid.0" with its reason as __cause__, for a
// caller that words it itself (an item of a column of ids).
[[nodiscard]] std::optional<NodeId> convert_node_id(PyObject* value);

// The id text as a new `str`, the same text as str(uuid.UUID(bytes=...)).
// Returns nullptr with an exception set when the string cannot be allocated.
[[nodiscard]] PyObject* write_id_text(const NodeId& id);

}  // namespace quorl::python
