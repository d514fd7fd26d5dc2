// The methods of PyGraphDiff, in the order of its method table.
#pragma once

#include <Python.h>

namespace quorl::python {

PyObject* num_nodes(PyObject* self, PyObject* unused);
PyObject* num_edges(PyObject* self, PyObject* unused);
PyObject* clear(PyObject* self, PyObject* unused);

}  // namespace quorl::python
