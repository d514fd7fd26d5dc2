// The columnar readings: the edges and deleted nodes as new `bytes` objects
// of 16-byte ids and little-endian float32 weights, ready for
// numpy.frombuffer. They list in the order of the dictionary readings, and
// like them a reading is whole or it fails.
#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <utility>

#include "diff/little_endian.hpp"
#include "instance.hpp"
#include "methods.hpp"

namespace quorl::python {

namespace {

constexpr std::size_t kIdLength = 16;
constexpr std::size_t kWeightLength = 4;

// A new `bytes` of `length` bytes to be filled, and where to write next.
class BytesColumn {
 public:
  explicit BytesColumn(std::size_t length)
      : bytes_(PyRef::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length)))) {
    if (bytes_) {
      next_ = reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes_.get()));
    }
  }

  [[nodiscard]] explicit operator bool() const noexcept { return static_cast<bool>(bytes_); }

  void write_id(const NodeId& id) noexcept {
    std::memcpy(next_, id.data(), kIdLength);
    next_ += kIdLength;
  }

  // Little-endian whatever the host, bit for bit.
  void write_weight(float weight) noexcept {
    store_little_endian(std::bit_cast<std::uint32_t>(weight), next_);
    next_ += kWeightLength;
  }

  // The filled column; the writer is spent.
  [[nodiscard]] PyRef take() && noexcept { return std::move(bytes_); }

 private:
  PyRef bytes_;
  std::uint8_t* next_ = nullptr;
};

template <class Groups>
std::size_t count_pairs(const Groups& groups) noexcept {
  std::size_t pairs = 0;
  for (const auto& [source, targets] : groups) {
    pairs += targets.size();
  }
  return pairs;
}

// A tuple of the filled columns, or empty if the tuple could not be made.
template <std::same_as<PyRef>... Columns>
PyRef tuple_of(Columns... columns) {
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
  BytesColumn weights(kWeighted ? kWeightLength * pairs : 0);  // NOLINT(misc-const-correctness)
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
    for (const auto& id : deleted) {
      ids.write_id(id);
    }
    return std::move(ids).take();
  });
}

}  // namespace quorl::python
