#include "node_update_conversion.hpp"

#include <array>
#include <bit>
#include <cstddef>

#include "errors.hpp"
#include "field_conversion.hpp"
#include "float_conversion.hpp"
#include "py_ref.hpp"

namespace quorl::python {

namespace {

enum Field : std::size_t { kLabel, kUrl, kSize, kRed, kGreen, kBlue, kShowLabel, kFieldCount };

// The dictionary keys in lookup and insertion order.
constexpr std::array<const char*, kFieldCount> kKeyNames = {
    "label", "url", "size", "red", "green", "blue", "show_label",
};

// The Python objects that the conversions make once and reuse for the
// life of the process: the keys as interned strings and the colour values.
// Under PyPy every object made in C costs a crossing into the interpreter,
// so a reading hands out these instead of new ones; CPython caches the same
// small ints itself. Empty slots are made at the next use.
struct CachedObjects {
  std::array<PyObject*, kFieldCount> keys{};
  std::array<PyObject*, 256> colours{};
};

// Returns nullptr with an exception set when an object cannot be made.
const CachedObjects* cached_objects() {
  static CachedObjects objects;
  static bool complete = false;
  if (complete) {
    return &objects;
  }
  for (std::size_t index = 0; index < kFieldCount; ++index) {
    if (objects.keys[index] == nullptr) {
      objects.keys[index] = PyUnicode_InternFromString(kKeyNames[index]);
      if (objects.keys[index] == nullptr) {
        return nullptr;
      }
    }
  }
  for (std::size_t value = 0; value < objects.colours.size(); ++value) {
    if (objects.colours[value] == nullptr) {
      objects.colours[value] = PyLong_FromSize_t(value);
      if (objects.colours[value] == nullptr) {
        return nullptr;
      }
    }
  }
  complete = true;
  return &objects;
}

// Looks the key up and, when present, converts its value into `field`.
// The value is held strongly for the whole conversion: the conversion may run
// Python code (__float__, __index__, __bool__) that removes it from the
// dictionary, and a key's __eq__ run by the lookup may change the dictionary
// too. Returns false with an exception set when the lookup or the
// conversion fails.
//
// Every key is looked up, even once all entries of a small dictionary have
// been found: under PyPy asking a dictionary for its size costs more than
// three lookups, and without the size an absent key cannot be known absent.
template <class Value, class Convert>
bool read_field(PyObject* dict, PyObject* key, std::optional<Value>& field, Convert convert) {
  PyObject* found = PyDict_GetItemWithError(dict, key);
  if (found == nullptr) {
    return PyErr_Occurred() == nullptr;
  }
  const PyRef value = PyRef::borrow(found);
  std::optional<Value> converted = convert(value.get());
  if (!converted) {
    return false;
  }
  field = std::move(converted);
  return true;
}

// Inserts `value` (empty when making it failed) under the field's key.
bool insert_field(PyObject* dict, const CachedObjects& cached, Field field, const PyRef& value) {
  return value && PyDict_SetItem(dict, cached.keys[field], value.get()) == 0;
}

PyRef shared(PyObject* object) { return PyRef::borrow(object); }

}  // namespace

std::optional<NodeUpdate> read_node_update(PyObject* value) {
  if (!PyDict_Check(value)) {
    raise_type_mismatch(value, "PyDict");
    return std::nullopt;
  }
  const CachedObjects* cached = cached_objects();
  if (cached == nullptr) {
    return std::nullopt;
  }
  const auto& keys = cached->keys;
  // The caller's argument vector holds the dictionary; holding it here as
  // well keeps it alive whatever the converted values' Python code does.
  const PyRef dict = PyRef::borrow(value);
  NodeUpdate update;
  const bool complete =
      read_field(dict.get(), keys[kLabel], update.label, read_text) &&
      read_field(dict.get(), keys[kUrl], update.url, read_text) &&
      read_field(dict.get(), keys[kSize], update.size, read_float) &&
      read_field(dict.get(), keys[kRed], update.red, read_colour) &&
      read_field(dict.get(), keys[kGreen], update.green, read_colour) &&
      read_field(dict.get(), keys[kBlue], update.blue, read_colour) &&
      read_field(dict.get(), keys[kShowLabel], update.show_label, read_show_label);
  if (!complete) {
    return std::nullopt;
  }
  return update;
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
  PyObject* target = dict.get();
  const auto colour = [&](std::uint8_t value) { return shared(cached->colours[value]); };
  const bool complete =
      (!update.label || insert_field(target, *cached, kLabel, write_text(*update.label))) &&
      (!update.url || insert_field(target, *cached, kUrl, write_text(*update.url))) &&
      (!update.size || insert_field(target, *cached, kSize, size_object(*update.size))) &&
      (!update.red || insert_field(target, *cached, kRed, colour(*update.red))) &&
      (!update.green || insert_field(target, *cached, kGreen, colour(*update.green))) &&
      (!update.blue || insert_field(target, *cached, kBlue, colour(*update.blue))) &&
      (!update.show_label ||
       insert_field(target, *cached, kShowLabel, shared(*update.show_label ? Py_True : Py_False)));
  return complete ? std::move(dict) : PyRef();
}

PyRef NodeUpdateWriter::size_object(float size) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(size);
  if (!last_size_ || bits != last_size_bits_) {
    last_size_ = PyRef::steal(PyFloat_FromDouble(size));
    last_size_bits_ = bits;
  }
  return shared(last_size_.get());
}

}  // namespace quorl::python
