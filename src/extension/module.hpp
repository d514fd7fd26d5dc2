#pragma once

#include <Python.h>

namespace quorl::python {

// The PyGraphDiff class object, created at the first call and then kept for
// the life of the process. Returns a borrowed reference, or nullptr with an
// exception set.
PyTypeObject* get_or_create_graph_diff_type();

}  // namespace quorl::python
