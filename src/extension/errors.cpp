#include "errors.hpp"

#include "py_ref.hpp"

namespace quorl::python {

namespace {

// The type's __qualname__ as text, or nullptr (with no exception set) when it
// cannot be read.
PyRef type_qualname(PyObject* value) {
  const PyRef qualname = PyRef::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__"));
  PyRef text = qualname ? PyRef::steal(PyObject_Str(qualname.get())) : PyRef();
  if (!text) {
    PyErr_Clear();
  }
  return text;
}

}  // namespace

void raise_type_mismatch(PyObject* value, const char* target) {
  const PyRef qualname = type_qualname(value);
  if (qualname) {
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", qualname.get(),
                 target);
  } else {
    PyErr_Format(PyExc_TypeError,
                 "'<failed to extract type name>' object cannot be converted to '%s'", target);
  }
}

PendingException PendingException::fetch() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  return {PyRef::steal(type), PyRef::steal(value), PyRef::steal(traceback)};
}

void apply_argument_rule(const char* name) {
  PendingException pending = PendingException::fetch();
  if (pending.type.get() != PyExc_TypeError || !pending.value) {
    std::move(pending).restore();
    return;
  }
  const PyRef& value = pending.value;
  const PyRef text = PyRef::steal(PyObject_Str(value.get()));
  if (!text) {
    return;  // str() of the exception failed; its own exception stands.
  }
  const PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  if (!message) {
    return;
  }
  const PyRef replacement =
      PyRef::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
  if (!replacement) {
    return;
  }
  // The old exception is not chained: only its cause carries over.
  if (PyObject* cause = PyException_GetCause(value.get())) {
    PyException_SetCause(replacement.get(), cause);  // steals `cause`
  }
  PyErr_SetObject(PyExc_TypeError, replacement.get());
}

}  // namespace quorl::python
