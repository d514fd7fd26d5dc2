#pragma once

#include <Python.h>

namespace quorl::python {

// The PyGraphDiff class object, created at the first call and then kept for
// the life of the interpreter. Returns a borrowed reference, or nullptr with
// an exception set.
PyTypeObject* get_or_create_graph_diff_type();

// Allocates an instance of one of the module's classes (a new reference, or
// nullptr with an exception set), and frees one, giving back the references
// to its class that the allocation took.
[[nodiscard]] PyObject* allocate_instance(PyTypeObject* type);
void free_instance(PyObject* self);

// Forget the Python objects kept between calls (the class; the interned
// dictionary keys and colour values), without touching them: called once the interpreter that
// owned them has been finalised, so that the next one builds its own.
void forget_graph_diff_type() noexcept;
void forget_cached_objects() noexcept;
void forget_table_type() noexcept;

}  // namespace quorl::python
