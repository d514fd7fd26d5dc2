#include "node_update_conversion.hpp"

#include <array>
#include <cstddef>

#include "errors.hpp"
#include "field_conversion.hpp"
#include "float_conversion.hpp"
#include "module.hpp"
#include "py_ref.hpp"

namespace quorl::python {

namespace {

enum Field : std::size_t { kLabel, kUrl, kSize, kRed, kGreen, kBlue, kShowLabel, kFieldCount };

// The dictionary keys in lookup and insertion order.
constexpr std::array<const char*, kFieldCount> kKeyNames = {
    "label", "url", "size", "red", "green", "blue", "show_label",
};

// The keys as interned strings, made at the first use and kept (strongly)
// for the life of the interpreter.
std::array<PyObject*, kFieldCount> kept_keys{};
bool kept_keys_complete = false;

// Returns nullptr with an exception set when a key cannot be made; the next
// call tries again.
PyObject* const* field_keys() {
  if (kept_keys_complete) {
    return kept_keys.data();
  }
  for (std::size_t index = 0; index < kFieldCount; ++index) {
    if (kept_keys[index] == nullptr) {
      kept_keys[index] = PyUnicode_InternFromString(kKeyNames[index]);
      if (kept_keys[index] == nullptr) {
        return nullptr;
      }
    }
  }
  kept_keys_complete = true;
  return kept_keys.data();
}

// Looks the key up and, when present, converts its value into `field`.
// The value is held strongly for the whole conversion: the conversion may run
// Python code (__float__, __index__, __bool__) that removes it from the
// dictionary, and a key's __eq__ run by the lookup may change the dictionary
// too. Returns false with an exception set when the lookup or the
// conversion fails.
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

// Inserts `value` (a new reference, or nullptr when making it failed) under
// the field's key.
bool insert_field(PyObject* dict, PyObject* const* keys, Field field, PyObject* value) {
  const PyRef held = PyRef::steal(value);
  return held && PyDict_SetItem(dict, keys[field], held.get()) == 0;
}

PyObject* text_object(const std::string& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

}  // namespace

void forget_field_keys() noexcept {
  kept_keys.fill(nullptr);
  kept_keys_complete = false;
}

std::optional<NodeUpdate> read_node_update(PyObject* value) {
  if (!PyDict_Check(value)) {
    raise_type_mismatch(value, "PyDict");
    return std::nullopt;
  }
  PyObject* const* keys = field_keys();
  if (keys == nullptr) {
    return std::nullopt;
  }
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

PyObject* write_node_update(const NodeUpdate& update) {
  PyObject* const* keys = field_keys();
  if (keys == nullptr) {
    return nullptr;
  }
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) {
    return nullptr;
  }
  PyObject* target = dict.get();
  const bool complete =
      (!update.label || insert_field(target, keys, kLabel, text_object(*update.label))) &&
      (!update.url || insert_field(target, keys, kUrl, text_object(*update.url))) &&
      (!update.size || insert_field(target, keys, kSize, PyFloat_FromDouble(*update.size))) &&
      (!update.red || insert_field(target, keys, kRed, PyLong_FromLong(*update.red))) &&
      (!update.green || insert_field(target, keys, kGreen, PyLong_FromLong(*update.green))) &&
      (!update.blue || insert_field(target, keys, kBlue, PyLong_FromLong(*update.blue))) &&
      (!update.show_label ||
       insert_field(target, keys, kShowLabel, PyBool_FromLong(*update.show_label ? 1 : 0)));
  return complete ? dict.release() : nullptr;
}

}  // namespace quorl::python
