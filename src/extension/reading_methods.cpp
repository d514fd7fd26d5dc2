// The reading methods: each takes a shared borrow and builds new objects
// that share nothing with the diff.
#include "instance.hpp"
#include "methods.hpp"

namespace quorl::python {

PyObject* num_nodes(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(self, [](GraphDiffObject& instance) {
    return PyLong_FromUnsignedLongLong(instance.diff.num_nodes());
  });
}

PyObject* num_edges(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(self, [](GraphDiffObject& instance) {
    return PyLong_FromUnsignedLongLong(instance.diff.num_edges());
  });
}

}  // namespace quorl::python
