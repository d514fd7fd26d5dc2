#include "field_conversion.hpp"

#include <string_view>

#include "errors.hpp"
#include "py_ref.hpp"

namespace quorl::python {

namespace {

// Appends str(type.<attribute>) to `name`. Returns false, with no exception
// left set, when the attribute cannot be read or formatted.
bool append_type_attribute(PyObject* type, const char* attribute, std::string& name) {
  const PyRef found = PyRef::steal(PyObject_GetAttrString(type, attribute));
  const PyRef text = found ? PyRef::steal(PyObject_Str(found.get())) : PyRef();
  Py_ssize_t length = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &length) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return false;
  }
  name.append(utf8, static_cast<std::size_t>(length));
  return true;
}

// Whether the type is NumPy's boolean scalar type, told by its module and
// name. NumPy 2 renamed the type from "bool_" to "bool" (keeping "bool_" as
// an alias), so both names are taken.
bool is_numpy_bool_type(PyObject* type) {
  std::string name;
  if (!append_type_attribute(type, "__module__", name)) {
    return false;
  }
  name += '.';
  if (!append_type_attribute(type, "__name__", name)) {
    return false;
  }
  return name == "numpy.bool_" || name == "numpy.bool";
}

// Asks the type's __bool__ (looked up on the type, not on the value) for the
// value's truth, and takes only an exact `bool` as the answer.
std::optional<bool> call_type_bool(PyObject* value, PyObject* type) {
  PyRef method = PyRef::steal(PyObject_GetAttrString(type, "__bool__"));
  if (!method) {
    PyErr_Clear();
    const PyRef type_text = PyRef::steal(PyObject_Str(type));
    if (type_text) {
      PyErr_Format(PyExc_TypeError, "object of type '%U' does not define a '__bool__' conversion",
                   type_text.get());
    }
    return std::nullopt;
  }
  if (const descrgetfunc bind = Py_TYPE(method.get())->tp_descr_get; bind != nullptr) {
    method = PyRef::steal(bind(method.get(), value, type));
    if (!method) {
      return std::nullopt;
    }
  }
  const PyRef result = PyRef::steal(PyObject_CallObject(method.get(), nullptr));
  if (!result) {
    return std::nullopt;
  }
  if (!PyBool_Check(result.get())) {
    raise_type_mismatch(result.get(), "PyBool");
    return std::nullopt;
  }
  return result.get() == Py_True;
}

}  // namespace

std::optional<std::string> read_text(PyObject* value) {
  if (!PyUnicode_Check(value)) {
    raise_type_mismatch(value, "PyString");
    return std::nullopt;
  }
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(value, &length);
  if (utf8 == nullptr) {
    return std::nullopt;
  }
  return std::string(utf8, static_cast<std::size_t>(length));
}

std::optional<std::uint8_t> read_colour(PyObject* value) {
  const long number = PyLong_AsLong(value);
  if (number == -1 && PyErr_Occurred() != nullptr) {
    return std::nullopt;
  }
  if (number < 0 || number > 255) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(number);
}

std::optional<bool> read_show_label(PyObject* value) {
  if (PyBool_Check(value)) {
    return value == Py_True;
  }
  // Held strongly: the value's __bool__ may reassign its __class__ and with
  // it drop the last other reference to the type.
  const PyRef type = PyRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(value)));
  if (!is_numpy_bool_type(type.get())) {
    raise_type_mismatch(value, "PyBool");
    return std::nullopt;
  }
  return call_type_bool(value, type.get());
}

}  // namespace quorl::python
