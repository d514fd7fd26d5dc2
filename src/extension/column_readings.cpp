// The columnar readings: the edges and deleted nodes as new `bytes` objects
// of 16-byte ids and little-endian float32 weights, ready for
// numpy.frombuffer. They list in the order of the dictionary readings, and
// like them a reading is whole or it fails.
#include <concepts>
#include <cstdint>
#include <span>
#include <utility>

#include "bytes/byte_writer.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "edge_pairs.hpp"
#include "instance.hpp"
#include "methods.hpp"

namespace quorl::python {

namespace {

// A new `bytes` of `length` bytes, filled through the byte form's writer:
// ids as their 16 bytes, weights little-endian whatever the host, bit for
// bit.
class BytesColumn {
 public:
  explicit BytesColumn(std::size_t length)
      : bytes_(PyRef::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length)))),
        writer_(storage(bytes_, length)) {}

  [[nodiscard]] explicit operator bool() const noexcept { return static_cast<bool>(bytes_); }

  void write_id(const NodeId& id) noexcept { writer_.write_id_bytes(id); }
  template <class Ids>
  void write_ids(const Ids& ids) noexcept {
    writer_.write_id_bytes_of(ids);
  }
  void write_weight(float weight) noexcept { writer_.write_weight(weight); }

  // The filled column; the column is spent. Empty, with SystemError set,
  // if the writes did not fill it exactly.
  [[nodiscard]] PyRef take() && {
    if (!writer_.filled_exactly()) {
      PyErr_SetString(PyExc_SystemError, "a columnar reading miscounted its items");
      return {};
    }
    return std::move(bytes_);
  }

 private:
  static std::span<std::uint8_t> storage(const PyRef& bytes, std::size_t length) noexcept {
    if (!bytes) {
      return {};
    }
    return {reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes.get())), length};
  }

  PyRef bytes_;
  detail::Writer writer_;
};

// A tuple of the filled columns, or empty if a column or the tuple could
// not be made.
template <std::same_as<PyRef>... Columns>
PyRef tuple_of(Columns... columns) {
  if (!(columns && ...)) {
    return {};
  }
  PyRef tuple = PyRef::steal(PyTuple_New(sizeof...(Columns)));
  if (!tuple) {
    return {};
  }
  Py_ssize_t index = 0;
  (PyTuple_SET_ITEM(tuple.get(), index++, columns.release()), ...);  // steals each
  return tuple;
}

// The sources and targets of an edge container, and the weights where it
// has them, as a tuple of columns.
template <class Groups>
PyRef edge_columns(const Groups& groups) {
  constexpr bool kWeighted = !std::same_as<typename Groups::mapped_type::value_type, NodeId>;
  const std::size_t pairs = count_pairs(groups);
  BytesColumn sources(kIdLength * pairs);
  BytesColumn targets(kIdLength * pairs);
  // Empty, and left unwritten, for a container without weights.
  BytesColumn weights(kWeighted ? kWeightBytes * pairs : 0);  // NOLINT(misc-const-correctness)
  if (!sources || !targets || !weights) {
    return {};
  }
  for (const auto& [source, source_targets] : groups) {
    for (const auto& entry : source_targets) {
      sources.write_id(source);
      if constexpr (kWeighted) {
        targets.write_id(entry.first);
        weights.write_weight(entry.second);
      } else {
        targets.write_id(entry);
      }
    }
  }
  if constexpr (kWeighted) {
    return tuple_of(std::move(sources).take(), std::move(targets).take(),
                    std::move(weights).take());
  } else {
    return tuple_of(std::move(sources).take(), std::move(targets).take());
  }
}

}  // namespace

PyObject* new_or_updated_edge_arrays(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(self, [](GraphDiffObject& instance) {
    return edge_columns(instance.diff.edges().new_or_updated);
  });
}

PyObject* deleted_edge_arrays(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(
      self, [](GraphDiffObject& instance) { return edge_columns(instance.diff.edges().deleted); });
}

PyObject* deleted_node_ids(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(self, [](GraphDiffObject& instance) -> PyRef {
    const auto& deleted = instance.diff.deleted_nodes();
    BytesColumn ids(kIdLength * deleted.size());
    if (!ids) {
      return {};
    }
    ids.write_ids(deleted);
    return std::move(ids).take();
  });
}

}  // namespace quorl::python
