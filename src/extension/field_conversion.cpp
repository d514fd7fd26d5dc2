#include "field_conversion.hpp"

#include <cstring>
#include <string_view>

#include "ascii_text.hpp"
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

bool is_ascii(std::string_view text) noexcept {
  unsigned char seen = 0;
  for (const char c : text) {
    seen |= static_cast<unsigned char>(c);
  }
  return seen < 0x80U;
}

}  // namespace

PyRef write_text(std::string_view utf8) {
  if (is_ascii(utf8)) {
    return new_ascii_text(
        utf8.size(), [&](char* characters) { std::memcpy(characters, utf8.data(), utf8.size()); });
  }
  return PyRef::steal(
      PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}

std::optional<SmallText> read_text(PyObject* value) {
  if (!PyUnicode_Check(value)) {
    raise_type_mismatch(value, "PyString");
    return std::nullopt;
  }
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(value, &length);
  if (utf8 == nullptr) {
    return std::nullopt;
  }
  return SmallText(std::string_view(utf8, static_cast<std::size_t>(length)));
}

std::optional<std::uint8_t> read_colour(PyObject* value) {
  // An int that is not exactly an int goes through PyNumber_Index first:
  // PyPy's PyLong_AsLong truncates a float and re-wraps what __index__
  // raised, where PyNumber_Index behaves as CPython's PyLong_AsLong does.
  PyRef index;
  if (!PyLong_CheckExact(value)) {
    index = PyRef::steal(PyNumber_Index(value));
    if (!index) {
      return std::nullopt;
    }
    value = index.get();
  }
  const long number = PyLong_AsLong(value);
  if (number == -1 && PyErr_Occurred() != nullptr) {
    return std::nullopt;
  }
  if (number < 0 || number > 255) {
    raise_colour_out_of_range();
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(number);
}

void raise_colour_out_of_range() {
  PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
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
