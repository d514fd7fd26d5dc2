// The mutating methods: each takes the exclusive borrow before it converts
// its first argument and leaves the diff untouched when a conversion fails.
#include "instance.hpp"
#include "methods.hpp"

namespace quorl::python {

PyObject* clear(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::exclusive>(self, [](GraphDiffObject& instance) {
    instance.diff.clear();
    Py_RETURN_NONE;
  });
}

}  // namespace quorl::python
