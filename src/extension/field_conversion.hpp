// The value conversions of the node attribute fields that have no
// counterpart elsewhere: texts, colour components and the label flag. Each
// returns nullopt with the Python exception set when the value is refused;
// the messages are the ones callers of add_node see (after the argument
// rule has named the argument).
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "node_update/small_text.hpp"
#include "py_ref.hpp"

namespace quorl::python {

// A new `str` holding the UTF-8 text `utf8`.
[[nodiscard]] PyRef write_text(std::string_view utf8);

// A `str` (or subclass), copied out as UTF-8. A string holding an unpaired
// surrogate fails with the interpreter's UnicodeEncodeError.
[[nodiscard]] std::optional<SmallText> read_text(PyObject* value);

// Anything PyLong_AsLong takes (it may call __index__), within 0..255.
[[nodiscard]] std::optional<std::uint8_t> read_colour(PyObject* value);
// Raises the OverflowError of a colour outside 0..255.
void raise_colour_out_of_range();

// A `bool`, or a NumPy boolean: a type named "numpy.bool_" (NumPy 1) or
// "numpy.bool" (NumPy 2), asked through its type's __bool__.
[[nodiscard]] std::optional<bool> read_show_label(PyObject* value);

}  // namespace quorl::python
