#include "column_conversion.hpp"

#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "arrow_columns.hpp"
#include "errors.hpp"
#include "float_conversion.hpp"
#include "id_conversion.hpp"
#include "node_update_conversion.hpp"
#include "py_ref.hpp"

namespace quorl::python {

namespace {

constexpr Py_ssize_t kIdLength = 16;

}  // namespace

void reword_failure(const char* parameter, Py_ssize_t item) {
  PendingException pending = PendingException::fetch();
  PyObject* type = pending.type.get();
  const bool exactly_type_error = type == PyExc_TypeError;
  if (!pending.value ||
      (!exactly_type_error && (!PyErr_GivenExceptionMatches(type, PyExc_Exception) ||
                               PyErr_GivenExceptionMatches(type, PyExc_MemoryError)))) {
    std::move(pending).restore();
    return;
  }
  const PyRef text = PyRef::steal(PyObject_Str(pending.value.get()));
  if (!text) {
    return;  // str() of the exception failed; its own exception stands
  }
  const PyRef message = PyRef::steal(
      item == kWholeArgument
          ? PyUnicode_FromFormat("argument '%s': %U", parameter, text.get())
          : PyUnicode_FromFormat("argument '%s': item %zd: %U", parameter, item, text.get()));
  if (!message) {
    return;
  }
  const PyRef replacement =
      PyRef::steal(PyObject_CallFunctionObjArgs(type, message.get(), nullptr));
  if (!replacement || !PyExceptionInstance_Check(replacement.get())) {
    // A class that cannot be built from a message: the exception stays as it was.
    PyErr_Clear();
    std::move(pending).restore();
    return;
  }
  PyRef cause = exactly_type_error ? PyRef::steal(PyException_GetCause(pending.value.get()))
                                   : PyRef::borrow(pending.value.get());
  if (cause) {
    PyException_SetCause(replacement.get(), cause.release());  // steals the cause
  }
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(replacement.get())), replacement.get());
}

bool check_count(std::size_t count, const char* parameter, const FirstColumn* first) {
  if (first == nullptr || count == first->count) {
    return true;
  }
  PyErr_Format(PyExc_ValueError, "argument '%s': %zu items where '%s' has %zu", parameter, count,
               first->parameter, first->count);
  return false;
}

namespace {

// The items of a buffer follow one another in C order with no gaps.
bool is_c_contiguous(const Py_buffer& view) {
  if (view.suboffsets != nullptr) {
    return false;
  }
  if (view.strides == nullptr || view.shape == nullptr) {
    return true;
  }
  Py_ssize_t expected = view.itemsize;
  for (int dimension = view.ndim - 1; dimension >= 0; --dimension) {
    if (view.shape[dimension] == 0) {
      return true;
    }
    if (view.shape[dimension] > 1 && view.strides[dimension] != expected) {
      return false;
    }
    expected *= view.shape[dimension];
  }
  return true;
}

// Exports the buffer of `value` and checks that it is C-contiguous.
Py_buffer* contiguous_buffer(PyObject* value, const char* parameter, HeldBuffers& held) {
  Py_buffer* view = held.export_buffer(value);
  if (view == nullptr) {
    reword_failure(parameter, kWholeArgument);
    return nullptr;
  }
  if (!is_c_contiguous(*view)) {
    PyErr_Format(PyExc_BufferError, "argument '%s': the buffer is not C-contiguous", parameter);
    return nullptr;
  }
  return view;
}

// The argument as a list or tuple (a new reference), or null with the
// failure worded.
PyRef fast_sequence(PyObject* value, const char* parameter) {
  if (!PySequence_Check(value)) {
    raise_type_mismatch(value, "PySequence");
    reword_failure(parameter, kWholeArgument);
    return {};
  }
  PyRef sequence = PyRef::steal(PySequence_Fast(value, "not a sequence"));
  if (!sequence) {
    reword_failure(parameter, kWholeArgument);
  }
  return sequence;
}

std::size_t sequence_size(const PyRef& sequence) {
  return static_cast<std::size_t>(PySequence_Fast_GET_SIZE(sequence.get()));
}

// How to read one weight out of a buffer: its width and whether its bytes
// come in the other order than the host's.
struct WeightFormat {
  Py_ssize_t width;
  bool swapped;
};

std::optional<WeightFormat> weight_format(const Py_buffer& view) {
  std::string_view format = view.format != nullptr ? view.format : "B";
  bool little_endian = std::endian::native == std::endian::little;
  if (!format.empty() && (format[0] == '@' || format[0] == '=')) {
    format.remove_prefix(1);
  } else if (!format.empty() && format[0] == '<') {
    little_endian = true;
    format.remove_prefix(1);
  } else if (!format.empty() && (format[0] == '>' || format[0] == '!')) {
    little_endian = false;
    format.remove_prefix(1);
  }
  const bool swapped = little_endian != (std::endian::native == std::endian::little);
  if (format == "f" && view.itemsize == 4) {
    return WeightFormat{4, swapped};
  }
  if (format == "d" && view.itemsize == 8) {
    return WeightFormat{8, swapped};
  }
  return std::nullopt;
}

// The weight at `bytes` (no alignment assumed).
float load_weight(const unsigned char* bytes, WeightFormat format) {
  unsigned char ordered[8];
  std::memcpy(ordered, bytes, static_cast<std::size_t>(format.width));
  if (format.swapped) {
    for (Py_ssize_t low = 0, high = format.width - 1; low < high; ++low, --high) {
      std::swap(ordered[low], ordered[high]);
    }
  }
  if (format.width == 4) {
    float value = 0;
    std::memcpy(&value, ordered, sizeof value);
    return value;
  }
  double value = 0;
  std::memcpy(&value, ordered, sizeof value);
  return narrow_to_float(value);
}

bool read_weight_buffer(PyObject* value, const char* parameter, const FirstColumn& first,
                        HeldBuffers& held, WeightColumn& out) {
  const Py_buffer* view = contiguous_buffer(value, parameter, held);
  if (view == nullptr) {
    return false;
  }
  const auto format = weight_format(*view);
  if (!format) {
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': a buffer of format '%s' holds no float32 ('f') or float64 ('d') "
                 "items",
                 parameter, view->format != nullptr ? view->format : "B");
    return false;
  }
  const auto count = static_cast<std::size_t>(view->len / format->width);
  if (!check_count(count, parameter, &first)) {
    return false;
  }
  // Native float32 items where a float may stand are read where they lie.
  if (format->width == sizeof(float) && !format->swapped &&
      reinterpret_cast<std::uintptr_t>(view->buf) % alignof(float) == 0) {
    out.view({static_cast<const float*>(view->buf), count});
    return true;
  }
  std::vector<float> weights(count);
  const auto* bytes = static_cast<const unsigned char*>(view->buf);
  for (std::size_t index = 0; index < count; ++index) {
    weights[index] = load_weight(bytes + index * static_cast<std::size_t>(format->width), *format);
  }
  out.assign(std::move(weights));
  return true;
}

}  // namespace

HeldBuffers::~HeldBuffers() {
  // Releasing drops a reference to each exporter, which a thread unwound at
  // shutdown without the GIL must not do (see PyRef).
  if (!may_release_references()) {
    return;
  }
  while (count_ > 0) {
    PyBuffer_Release(&views_[--count_]);
  }
}

Py_buffer* HeldBuffers::export_buffer(PyObject* value) {
  assert(count_ < views_.size() && "a call has at most three columns");
  Py_buffer* view = &views_[count_];
  if (PyObject_GetBuffer(value, view, PyBUF_RECORDS_RO) != 0) {
    return nullptr;
  }
  ++count_;
  return view;
}

bool read_id_column(PyObject* value, const char* parameter, const FirstColumn* first,
                    HeldBuffers& held, IdColumn& out) {
  if (ImportedColumn* imported = held.arrow().find(value, parameter)) {
    return read_arrow_ids(*imported, first, out);
  }
  if (PyObject_CheckBuffer(value)) {
    const Py_buffer* view = contiguous_buffer(value, parameter, held);
    if (view == nullptr) {
      return false;
    }
    if (view->len % kIdLength != 0) {
      PyErr_Format(PyExc_ValueError,
                   "argument '%s': a buffer of %zd bytes is not a whole number of 16-byte ids",
                   parameter, view->len);
      return false;
    }
    if (!check_count(static_cast<std::size_t>(view->len / kIdLength), parameter, first)) {
      return false;
    }
    // Any 16 bytes are an id, and an id is its 16 bytes.
    static_assert(sizeof(NodeId) == kIdLength && alignof(NodeId) == 1);
    out.view(
        {static_cast<const NodeId*>(view->buf), static_cast<std::size_t>(view->len) / kIdLength});
    return true;
  }
  const PyRef sequence = fast_sequence(value, parameter);
  if (!sequence || !check_count(sequence_size(sequence), parameter, first)) {
    return false;
  }
  std::vector<NodeId> ids(sequence_size(sequence));
  // Reading an id runs no Python code, so the items cannot change meanwhile.
  PyObject** items = PySequence_Fast_ITEMS(sequence.get());
  for (std::size_t index = 0; index < ids.size(); ++index) {
    const auto id = convert_node_id(items[index]);
    if (!id) {
      reword_failure(parameter, static_cast<Py_ssize_t>(index));
      return false;
    }
    ids[index] = *id;
  }
  out.assign(std::move(ids));
  return true;
}

bool read_weight_column(PyObject* value, const char* parameter, const FirstColumn& first,
                        HeldBuffers& held, WeightColumn& out) {
  if (ImportedColumn* imported = held.arrow().find(value, parameter)) {
    return read_arrow_weights(*imported, first, out);
  }
  if (PyObject_CheckBuffer(value)) {
    return read_weight_buffer(value, parameter, first, held, out);
  }
  const PyRef sequence = fast_sequence(value, parameter);
  if (!sequence || !check_count(sequence_size(sequence), parameter, &first)) {
    return false;
  }
  std::vector<float> weights(sequence_size(sequence));
  // A weight other than an exact float may run Python code (__float__,
  // __index__) that changes a list; the items are then read from a tuple
  // taken before any such code ran.
  PyRef snapshot;
  PyObject* items = sequence.get();
  for (std::size_t index = 0; index < weights.size(); ++index) {
    PyObject* item = PySequence_Fast_GET_ITEM(items, static_cast<Py_ssize_t>(index));
    if (PyFloat_CheckExact(item)) {
      weights[index] = narrow_to_float(PyFloat_AS_DOUBLE(item));
      continue;
    }
    if (!snapshot && PyList_Check(items)) {
      snapshot = PyRef::steal(PyList_AsTuple(items));
      if (!snapshot) {
        return false;
      }
      items = snapshot.get();
      item = PyTuple_GET_ITEM(items, static_cast<Py_ssize_t>(index));
    }
    const auto weight = read_float(item);
    if (!weight) {
      reword_failure(parameter, static_cast<Py_ssize_t>(index));
      return false;
    }
    weights[index] = *weight;
  }
  out.assign(std::move(weights));
  return true;
}

bool read_update_column(PyObject* value, const char* parameter, const FirstColumn& first,
                        HeldBuffers& held, std::vector<NodeUpdate>& out) {
  if (ImportedColumn* imported = held.arrow().find(value, parameter)) {
    return read_arrow_updates(*imported, first, out);
  }
  const PyRef sequence = fast_sequence(value, parameter);
  if (!sequence || !check_count(sequence_size(sequence), parameter, &first)) {
    return false;
  }
  // Reading a dictionary may run Python code (a key's __eq__, a value's
  // __float__); the items are read from a tuple that such code cannot change.
  const PyRef items = PyRef::steal(PySequence_Tuple(sequence.get()));
  if (!items) {
    return false;
  }
  const auto count = static_cast<std::size_t>(PyTuple_GET_SIZE(items.get()));
  out.reserve(count);
  for (std::size_t index = 0; index < count; ++index) {
    auto update = read_node_update(PyTuple_GET_ITEM(items.get(), static_cast<Py_ssize_t>(index)));
    if (!update) {
      reword_failure(parameter, static_cast<Py_ssize_t>(index));
      return false;
    }
    out.push_back(std::move(*update));
  }
  return true;
}

}  // namespace quorl::python
