#include "binding.hpp"

#include <algorithm>
#include <cstddef>
#include <string>

#include "py_ref.hpp"

namespace quorl::python {

namespace {

bool fail_too_many(const Signature& signature, Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd %s given",
               signature.full_name, static_cast<Py_ssize_t>(signature.parameters.size()), given,
               given == 1 ? "was" : "were");
  return false;
}

bool fail_unexpected_keyword(const Signature& signature, PyObject* name) {
  const PyRef text = PyRef::steal(PyObject_Str(name));
  if (!text) {
    return false;
  }
  PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", signature.full_name,
               text.get());
  return false;
}

bool fail_missing(const Signature& signature, std::span<PyObject* const> bound) {
  std::string names;
  std::size_t missing = 0;
  for (std::size_t index = 0; index < bound.size(); ++index) {
    missing += bound[index] == nullptr ? 1 : 0;
  }
  std::size_t listed = 0;
  for (std::size_t index = 0; index < bound.size(); ++index) {
    if (bound[index] != nullptr) {
      continue;
    }
    if (listed > 0) {
      if (missing == 2) {
        names += " and ";
      } else {
        names += listed + 1 == missing ? ", and " : ", ";
      }
    }
    names += '\'';
    names += signature.parameters[index];
    names += '\'';
    ++listed;
  }
  PyErr_Format(PyExc_TypeError, "%s missing %zu required positional %s: %s", signature.full_name,
               missing, missing == 1 ? "argument" : "arguments", names.c_str());
  return false;
}

// Fills the parameter named `name` with `value`. Keyword names are matched by
// their UTF-8 bytes; a name that cannot be read as text matches nothing.
bool bind_keyword(const Signature& signature, PyObject* name, PyObject* value,
                  std::span<PyObject*> bound) {
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &length) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return fail_unexpected_keyword(signature, name);
  }
  const std::string_view text(utf8, static_cast<std::size_t>(length));
  for (std::size_t index = 0; index < signature.parameters.size(); ++index) {
    if (signature.parameters[index] != text) {
      continue;
    }
    if (bound[index] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", signature.full_name,
                   std::string(text).c_str());
      return false;
    }
    bound[index] = value;
    return true;
  }
  return fail_unexpected_keyword(signature, name);
}

bool bind_positional(const Signature& signature, PyObject* const* args, Py_ssize_t count,
                     std::span<PyObject*> bound) {
  for (PyObject*& slot : bound) {
    slot = nullptr;
  }
  if (count > static_cast<Py_ssize_t>(signature.parameters.size())) {
    return fail_too_many(signature, count);
  }
  for (Py_ssize_t index = 0; index < count; ++index) {
    bound[static_cast<std::size_t>(index)] = args[index];
  }
  return true;
}

bool check_complete(const Signature& signature, std::span<PyObject* const> bound) {
  const auto required = bound.first(std::min(signature.required, bound.size()));
  for (PyObject* slot : required) {
    if (slot == nullptr) {
      return fail_missing(signature, required);
    }
  }
  return true;
}

}  // namespace

bool bind_fastcall_in_full(const Signature& signature, PyObject* const* args,
                           Py_ssize_t positional_count, PyObject* keyword_names,
                           std::span<PyObject*> bound) {
  if (!bind_positional(signature, args, positional_count, bound)) {
    return false;
  }
  const Py_ssize_t keyword_count = keyword_names == nullptr ? 0 : PyTuple_GET_SIZE(keyword_names);
  for (Py_ssize_t index = 0; index < keyword_count; ++index) {
    if (!bind_keyword(signature, PyTuple_GET_ITEM(keyword_names, index),
                      args[positional_count + index], bound)) {
      return false;
    }
  }
  return check_complete(signature, bound);
}

bool bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs,
                std::span<PyObject*> bound) {
  const Py_ssize_t positional_count = args == nullptr ? 0 : PyTuple_GET_SIZE(args);
  for (PyObject*& slot : bound) {
    slot = nullptr;
  }
  if (positional_count > static_cast<Py_ssize_t>(signature.parameters.size())) {
    return fail_too_many(signature, positional_count);
  }
  for (Py_ssize_t index = 0; index < positional_count; ++index) {
    bound[static_cast<std::size_t>(index)] = PyTuple_GET_ITEM(args, index);
  }
  if (kwargs != nullptr) {
    // Keywords come in the order the call gave them (dictionaries keep it).
    Py_ssize_t position = 0;
    PyObject* name = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &name, &value)) {
      if (!bind_keyword(signature, name, value, bound)) {
        return false;
      }
    }
  }
  return check_complete(signature, bound);
}

}  // namespace quorl::python
