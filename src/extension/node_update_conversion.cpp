#include "node_update_conversion.hpp"

#include <array>
#include <bit>
#include <cstddef>

#include "errors.hpp"
#include "field_conversion.hpp"
#include "float_conversion.hpp"
#include "module.hpp"
#include "py_ref.hpp"

namespace quorl::python {

// The Python objects that the conversions make once and reuse for the
// life of the interpreter: the dictionary keys as interned strings (by field)
// and the colour values. Under PyPy every object made in C costs a crossing
// into the interpreter, so a reading hands out these instead of new ones;
// CPython caches the same small ints itself. Empty slots are made at the
// next use.
struct CachedObjects {
  std::array<PyObject*, kFields.size()> keys{};
  std::array<PyObject*, 256> colours{};
};

namespace {

PyObject* interned_key(std::string_view name) {
  PyObject* key = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
  if (key != nullptr) {
    PyUnicode_InternInPlace(&key);
  }
  return key;
}

// Kept (strongly) for the life of the interpreter.
CachedObjects cached_store;
bool cached_store_complete = false;

// Returns nullptr with an exception set when an object cannot be made.
const CachedObjects* cached_objects() {
  if (cached_store_complete) {
    return &cached_store;
  }
  for (const FieldDescription& description : kFields) {
    PyObject*& key = cached_store.keys[index_of(description.field)];
    if (key == nullptr) {
      key = interned_key(description.python_key);
      if (key == nullptr) {
        return nullptr;
      }
    }
  }
  for (std::size_t value = 0; value < cached_store.colours.size(); ++value) {
    PyObject*& colour = cached_store.colours[value];
    if (colour == nullptr) {
      colour = PyLong_FromSize_t(value);
      if (colour == nullptr) {
        return nullptr;
      }
    }
  }
  cached_store_complete = true;
  return &cached_store;
}

// The value of a field of the given kind, converted from Python.
template <Field field>
auto read_value(PyObject* value) {
  constexpr FieldKind kKind = kind_of(field);
  if constexpr (kKind == FieldKind::text) {
    return read_text(value);
  } else if constexpr (kKind == FieldKind::size) {
    return read_float(value);
  } else if constexpr (kKind == FieldKind::colour) {
    return read_colour(value);
  } else {
    return read_show_label(value);
  }
}

// Looks the field's key up and, when present, converts its value into the
// record. The value is held strongly for the whole conversion: the
// conversion may run Python code (__float__, __index__, __bool__) that
// removes it from the dictionary, and a key's __eq__ run by the lookup may
// change the dictionary too. Returns false with an exception set when the
// lookup or the conversion fails.
//
// Every key is looked up, even once all entries of a small dictionary have
// been found: under PyPy asking a dictionary for its size costs more than
// three lookups, and without the size an absent key cannot be known absent.
template <Field field>
bool read_field(PyObject* dict, const CachedObjects& cached, NodeUpdate& update) {
  PyObject* found = PyDict_GetItemWithError(dict, cached.keys[index_of(field)]);
  if (found == nullptr) {
    return PyErr_Occurred() == nullptr;
  }
  const PyRef value = PyRef::borrow(found);
  auto converted = read_value<field>(value.get());
  if (!converted) {
    return false;
  }
  if constexpr (kind_of(field) == FieldKind::text) {
    update.set_text(field, std::move(*converted));
  } else {
    update.set<field>(*converted);
  }
  return true;
}

PyRef shared(PyObject* object) { return PyRef::borrow(object); }

}  // namespace

void forget_cached_objects() noexcept {
  cached_store = CachedObjects{};
  cached_store_complete = false;
}

std::optional<NodeUpdate> read_node_update(PyObject* value) {
  if (!PyDict_Check(value)) {
    raise_type_mismatch(value, "PyDict");
    return std::nullopt;
  }
  const CachedObjects* cached = cached_objects();
  if (cached == nullptr) {
    return std::nullopt;
  }
  // The caller's argument vector holds the dictionary; holding it here as
  // well keeps it alive whatever the converted values' Python code does.
  const PyRef dict = PyRef::borrow(value);
  NodeUpdate update;
  const bool complete = all_fields_in_python_order(
      [&]<Field field>() { return read_field<field>(dict.get(), *cached, update); });
  if (!complete) {
    return std::nullopt;
  }
  return update;
}

template <Field field>
PyRef NodeUpdateWriter::value_object(const CachedObjects& cached, FieldValue<field> value) {
  constexpr FieldKind kKind = kind_of(field);
  if constexpr (kKind == FieldKind::text) {
    return write_text(value);
  } else if constexpr (kKind == FieldKind::size) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    if (!last_size_ || bits != last_size_bits_) {
      last_size_ = PyRef::steal(PyFloat_FromDouble(value));
      last_size_bits_ = bits;
    }
    return shared(last_size_.get());
  } else if constexpr (kKind == FieldKind::colour) {
    return shared(cached.colours[value]);
  } else {
    return shared(value ? Py_True : Py_False);
  }
}

PyRef NodeUpdateWriter::write(const NodeUpdate& update) {
  const CachedObjects* cached = cached_objects();
  if (cached == nullptr) {
    return {};
  }
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) {
    return {};
  }
  const bool complete = all_fields_in_python_order([&]<Field field>() {
    const auto value = update.get<field>();
    if (!value) {
      return true;
    }
    const PyRef object = value_object<field>(*cached, *value);
    return object && PyDict_SetItem(dict.get(), cached->keys[index_of(field)], object.get()) == 0;
  });
  return complete ? std::move(dict) : PyRef();
}

}  // namespace quorl::python
