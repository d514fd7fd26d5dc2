// The methods of PyGraphDiff, in the order of its method table.
#pragma once

#include <Python.h>

namespace quorl::python {

PyObject* new_or_updated_nodes(PyObject* self, PyObject* unused);
PyObject* deleted_nodes(PyObject* self, PyObject* unused);
PyObject* new_or_updated_edges(PyObject* self, PyObject* unused);
PyObject* deleted_edges(PyObject* self, PyObject* unused);
PyObject* num_nodes(PyObject* self, PyObject* unused);
PyObject* num_edges(PyObject* self, PyObject* unused);
PyObject* add_node(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                   PyObject* keyword_names);
PyObject* delete_node(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                      PyObject* keyword_names);
PyObject* add_edge(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                   PyObject* keyword_names);
PyObject* delete_edge(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                      PyObject* keyword_names);
PyObject* clear(PyObject* self, PyObject* unused);
PyObject* to_bytes(PyObject* self, PyObject* unused);
PyObject* from_bytes(PyObject* no_self, PyObject* const* args, Py_ssize_t positional_count,
                     PyObject* keyword_names);
PyObject* reduce_ex(PyObject* self, PyObject* protocol);
PyObject* merge(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                PyObject* keyword_names);
PyObject* size_of(PyObject* self, PyObject* unused);

// The module-level function that pickles name to rebuild a diff from its
// byte form, in any buffer.
PyObject* graph_diff_from_buffer(PyObject* module, PyObject* buffer);

// Bulk editing and columnar readings.
PyObject* add_edges(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                    PyObject* keyword_names);
PyObject* delete_edges(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                       PyObject* keyword_names);
PyObject* delete_nodes(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                       PyObject* keyword_names);
PyObject* add_nodes(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                    PyObject* keyword_names);
PyObject* new_or_updated_edge_arrays(PyObject* self, PyObject* unused);
PyObject* deleted_edge_arrays(PyObject* self, PyObject* unused);
PyObject* deleted_node_ids(PyObject* self, PyObject* unused);

}  // namespace quorl::python
