// A whole diff as a new bytes object, and a new diff from a byte form: what
// to_bytes, from_bytes and pickling share. Both return an empty PyRef with
// the exception set on failure (the fixed messages of the byte form).
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>

#include "diff/graph_diff.hpp"
#include "py_ref.hpp"

namespace quorl::python {

[[nodiscard]] PyRef encode_to_bytes_object(const Diff& diff);
[[nodiscard]] PyRef decode_to_graph_diff(std::span<const std::uint8_t> input);

}  // namespace quorl::python
