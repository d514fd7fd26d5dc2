#include "column_conversion.hpp"

#include <bit>
#include <cassert>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

#include "arrow_columns.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "diff/little_endian.hpp"
#include "errors.hpp"
#include "float_conversion.hpp"
#include "id_conversion.hpp"
#include "node_update_conversion.hpp"
#include "py_ref.hpp"

namespace quorl::python {

void reword_failure(const char* parameter, std::optional<std::size_t> item) {
  reword_argument_failure(parameter, item, Reworded::every_class);
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
    reword_failure(parameter);
    return nullptr;
  }
  if (!is_c_contiguous(*view)) {
    PyErr_Format(PyExc_BufferError, "argument '%s': the buffer is not C-contiguous", parameter);
    return nullptr;
  }
  return view;
}

// The argument as a list or tuple (a new reference), or null with the
// failure worded. Any other sequence is read by iterating it, which runs its
// Python code.
PyRef fast_sequence(PyObject* value, const char* parameter, HeldBuffers& held) {
  if (!PySequence_Check(value)) {
    raise_type_mismatch(value, "PySequence");
    reword_failure(parameter);
    return {};
  }
  if (!PyList_CheckExact(value) && !PyTuple_CheckExact(value)) {
    held.before_python_code();
  }
  PyRef sequence = PyRef::steal(PySequence_Fast(value, "not a sequence"));
  if (!sequence) {
    reword_failure(parameter);
  }
  return sequence;
}

std::size_t sequence_size(const PyRef& sequence) {
  return static_cast<std::size_t>(PySequence_Fast_GET_SIZE(sequence.get()));
}

// How to read the weights of a buffer: their width and the order of their
// bytes.
struct WeightFormat {
  Py_ssize_t width;
  bool little_endian;
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
  if (format == "f" && view.itemsize == 4) {
    return WeightFormat{4, little_endian};
  }
  if (format == "d" && view.itemsize == 8) {
    return WeightFormat{8, little_endian};
  }
  return std::nullopt;
}

// Copies `out.size()` weights of type `Float` from `bytes` (no alignment
// assumed), narrowed to float32.
template <class Float, bool little_endian>
void load_weights(const unsigned char* bytes, std::span<float> out) noexcept {
  using Word = std::conditional_t<sizeof(Float) == 4, std::uint32_t, std::uint64_t>;
  for (float& weight : out) {
    const Word stored = load_little_endian<Word>(bytes);
    const Word word = little_endian ? stored : std::byteswap(stored);
    if constexpr (std::is_same_v<Float, float>) {
      weight = std::bit_cast<float>(word);  // bit for bit, signalling NaNs included
    } else {
      weight = narrow_to_float(std::bit_cast<double>(word));
    }
    bytes += sizeof(Word);
  }
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
  const bool native = format->little_endian == (std::endian::native == std::endian::little);
  if (format->width == sizeof(float) && native &&
      reinterpret_cast<std::uintptr_t>(view->buf) % alignof(float) == 0) {
    out.view({static_cast<const float*>(view->buf), count});
    held.viewed_by(out);
    return true;
  }
  std::vector<float> weights(count);
  const auto* bytes = static_cast<const unsigned char*>(view->buf);
  if (format->width == sizeof(float)) {
    format->little_endian ? load_weights<float, true>(bytes, weights)
                          : load_weights<float, false>(bytes, weights);
  } else {
    format->little_endian ? load_weights<double, true>(bytes, weights)
                          : load_weights<double, false>(bytes, weights);
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

void HeldBuffers::viewed_by(BufferViewer& column) noexcept {
  assert(viewer_count_ < viewers_.size() && "a call has at most three columns");
  viewers_[viewer_count_++] = &column;
}

void HeldBuffers::before_python_code() {
  for (; viewer_count_ > 0; --viewer_count_) {
    viewers_[viewer_count_ - 1]->take_copy();
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
    return read_arrow_ids(*imported, first, held, out);
  }
  if (PyObject_CheckBuffer(value)) {
    const Py_buffer* view = contiguous_buffer(value, parameter, held);
    if (view == nullptr) {
      return false;
    }
    const auto length = static_cast<std::size_t>(view->len);
    if (length % kIdLength != 0) {
      PyErr_Format(PyExc_ValueError,
                   "argument '%s': a buffer of %zu bytes is not a whole number of 16-byte ids",
                   parameter, length);
      return false;
    }
    if (!check_count(length / kIdLength, parameter, first)) {
      return false;
    }
    // Any 16 bytes are an id, and an id is its 16 bytes.
    static_assert(sizeof(NodeId) == kIdLength && alignof(NodeId) == 1);
    out.view({static_cast<const NodeId*>(view->buf), length / kIdLength});
    held.viewed_by(out);
    return true;
  }
  const PyRef sequence = fast_sequence(value, parameter, held);
  if (!sequence || !check_count(sequence_size(sequence), parameter, first)) {
    return false;
  }
  std::vector<NodeId> ids(sequence_size(sequence));
  // Reading an id runs no Python code, so the items cannot change meanwhile.
  PyObject** items = PySequence_Fast_ITEMS(sequence.get());
  for (std::size_t index = 0; index < ids.size(); ++index) {
    const auto id = convert_node_id(items[index]);
    if (!id) {
      reword_failure(parameter, index);
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
    return read_arrow_weights(*imported, first, held, out);
  }
  if (PyObject_CheckBuffer(value)) {
    return read_weight_buffer(value, parameter, first, held, out);
  }
  const PyRef sequence = fast_sequence(value, parameter, held);
  if (!sequence || !check_count(sequence_size(sequence), parameter, &first)) {
    return false;
  }
  std::vector<float> weights(sequence_size(sequence));
  // A weight other than a float or an exact int may run Python code
  // (__float__, __index__) that changes a list; the items are then read from
  // a tuple taken before any such code ran.
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
    if (!PyFloat_Check(item) && !PyLong_CheckExact(item)) {
      held.before_python_code();
    }
    const auto weight = read_float(item);
    if (!weight) {
      reword_failure(parameter, index);
      return false;
    }
    weights[index] = *weight;
  }
  out.assign(std::move(weights));
  return true;
}

bool read_update_column(PyObject* value, const char* parameter, const FirstColumn& first,
                        HeldBuffers& held, std::vector<NodeUpdate>& out) {
  const PyRef sequence = fast_sequence(value, parameter, held);
  if (!sequence || !check_count(sequence_size(sequence), parameter, &first)) {
    return false;
  }
  // Reading a dictionary may run Python code (a key's __eq__, a value's
  // __float__); the items are read from a tuple that such code cannot change.
  held.before_python_code();
  const PyRef items = PyRef::steal(PySequence_Tuple(sequence.get()));
  if (!items) {
    return false;
  }
  const auto count = static_cast<std::size_t>(PyTuple_GET_SIZE(items.get()));
  out.reserve(count);
  for (std::size_t index = 0; index < count; ++index) {
    auto update = read_node_update(PyTuple_GET_ITEM(items.get(), static_cast<Py_ssize_t>(index)));
    if (!update) {
      reword_failure(parameter, index);
      return false;
    }
    out.push_back(std::move(*update));
  }
  return true;
}

}  // namespace quorl::python
