// A diff cannot be pickled or copied through pickling's protocol. CPython's
// object.__reduce_ex__ refuses an instance with native state, while PyPy's
// reduces it to an empty instance, so copy.copy and copy.deepcopy silently
// lose the data there. Refusing here gives both interpreters CPython's
// answer.
#include "methods.hpp"
#include "py_ref.hpp"

namespace quorl::python {

PyObject* reduce_ex(PyObject* self, PyObject* /*protocol*/) {
  // Named as CPython's refusal names it, "<module>.<qualified name>": PyPy's
  // tp_name leaves the module out.
  auto* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
  const PyRef module = PyRef::steal(PyObject_GetAttrString(type, "__module__"));
  const PyRef name = module ? PyRef::steal(PyObject_GetAttrString(type, "__qualname__")) : PyRef();
  if (name) {
    PyErr_Format(PyExc_TypeError, "cannot pickle '%S.%S' object", module.get(), name.get());
  }
  return nullptr;
}

}  // namespace quorl::python
