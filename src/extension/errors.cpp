#include "errors.hpp"

#include <utility>

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

void PendingException::replace(PyObject* new_type, const PyRef& message, PyRef cause) && {
  if (!message) {
    return;
  }
  const PyRef replacement =
      PyRef::steal(PyObject_CallFunctionObjArgs(new_type, message.get(), nullptr));
  if (!replacement || !PyExceptionInstance_Check(replacement.get())) {
    PyErr_Clear();
    std::move(*this).restore();
    return;
  }
  if (cause) {
    PyException_SetCause(replacement.get(), cause.release());  // steals the cause
  }
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(replacement.get())), replacement.get());
}

void reword_argument_failure(const char* parameter, std::optional<std::size_t> item,
                             Reworded scope) {
  PendingException pending = PendingException::fetch();
  PyObject* type = pending.type.get();
  const bool exactly_type_error = type == PyExc_TypeError;
  if (!pending.value ||
      (!exactly_type_error &&
       (scope == Reworded::type_error_only || !PyErr_GivenExceptionMatches(type, PyExc_Exception) ||
        PyErr_GivenExceptionMatches(type, PyExc_MemoryError)))) {
    std::move(pending).restore();
    return;
  }
  const PyRef text = PyRef::steal(PyObject_Str(pending.value.get()));
  if (!text) {
    return;  // str() of the exception failed; its own exception stands
  }
  const PyRef message = PyRef::steal(
      item ? PyUnicode_FromFormat("argument '%s': item %zu: %U", parameter, *item, text.get())
           : PyUnicode_FromFormat("argument '%s': %U", parameter, text.get()));
  // The argument rule chains no exception: only the cause carries over.
  PyRef cause = exactly_type_error ? PyRef::steal(PyException_GetCause(pending.value.get()))
                                   : PyRef::borrow(pending.value.get());
  std::move(pending).replace(type, message, std::move(cause));
}

}  // namespace quorl::python
