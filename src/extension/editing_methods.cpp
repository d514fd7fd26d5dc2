// The mutating methods: each takes the exclusive borrow before it converts
// its first argument and leaves the diff untouched when a conversion fails.
#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "bound_call.hpp"
#include "float_conversion.hpp"
#include "id_conversion.hpp"
#include "instance.hpp"
#include "methods.hpp"
#include "node_update_conversion.hpp"

namespace quorl::python {

namespace {

constexpr std::array<std::string_view, 2> kIdAndUpdate = {"id", "update"};
constexpr std::array<std::string_view, 1> kId = {"id"};
constexpr std::array<std::string_view, 3> kFromToWeight = {"from", "to", "weight"};
constexpr std::array<std::string_view, 2> kFromTo = {"from", "to"};
constexpr std::array<std::string_view, 1> kOther = {"other"};

constexpr Signature kAddNode{"PyGraphDiff.add_node()", kIdAndUpdate};
constexpr Signature kDeleteNode{"PyGraphDiff.delete_node()", kId};
constexpr Signature kAddEdge{"PyGraphDiff.add_edge()", kFromToWeight};
constexpr Signature kDeleteEdge{"PyGraphDiff.delete_edge()", kFromTo};
constexpr Signature kMerge{"PyGraphDiff.merge()", kOther};

// Converts the `from` and `to` arguments, in that order; the first failure
// raises and ends the conversion.
std::optional<std::pair<NodeId, NodeId>> read_edge_ends(PyObject* from, PyObject* to) {
  const auto source = read_node_id(from, "from");
  if (!source) {
    return std::nullopt;
  }
  const auto target = read_node_id(to, "to");
  if (!target) {
    return std::nullopt;
  }
  return std::pair{*source, *target};
}

}  // namespace

PyObject* add_node(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                   PyObject* keyword_names) {
  return with_bound_arguments<2>(kAddNode, self, args, positional_count, keyword_names,
                                 [](GraphDiffObject& instance, const auto& arguments) -> PyObject* {
                                   const auto id = read_node_id(arguments[0], "id");
                                   if (!id) {
                                     return nullptr;
                                   }
                                   auto update = read_node_update(arguments[1]);
                                   if (!update) {
                                     apply_argument_rule("update");
                                     return nullptr;
                                   }
                                   instance.diff.add_or_update_node(*id, std::move(*update));
                                   Py_RETURN_NONE;
                                 });
}

PyObject* delete_node(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                      PyObject* keyword_names) {
  return with_bound_arguments<1>(kDeleteNode, self, args, positional_count, keyword_names,
                                 [](GraphDiffObject& instance, const auto& arguments) -> PyObject* {
                                   const auto id = read_node_id(arguments[0], "id");
                                   if (!id) {
                                     return nullptr;
                                   }
                                   instance.diff.delete_node(*id);
                                   Py_RETURN_NONE;
                                 });
}

PyObject* add_edge(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                   PyObject* keyword_names) {
  return with_bound_arguments<3>(
      kAddEdge, self, args, positional_count, keyword_names,
      [](GraphDiffObject& instance, const auto& arguments) -> PyObject* {
        const auto ends = read_edge_ends(arguments[0], arguments[1]);
        if (!ends) {
          return nullptr;
        }
        const auto weight = read_float(arguments[2]);
        if (!weight) {
          apply_argument_rule("weight");
          return nullptr;
        }
        // An edge at a node marked deleted is refused without a word:
        // the diff stays as it was and the call still returns None,
        // which callers rely on.
        static_cast<void>(instance.diff.add_edge(ends->first, ends->second, *weight));
        Py_RETURN_NONE;
      });
}

PyObject* delete_edge(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                      PyObject* keyword_names) {
  return with_bound_arguments<2>(kDeleteEdge, self, args, positional_count, keyword_names,
                                 [](GraphDiffObject& instance, const auto& arguments) -> PyObject* {
                                   const auto ends = read_edge_ends(arguments[0], arguments[1]);
                                   if (!ends) {
                                     return nullptr;
                                   }
                                   instance.diff.delete_edge(ends->first, ends->second);
                                   Py_RETURN_NONE;
                                 });
}

PyObject* clear(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::exclusive>(self, [](GraphDiffObject& instance) {
    instance.diff.clear();
    Py_RETURN_NONE;
  });
}

// `other` is held shared while `self` is held exclusively; merging a diff
// into itself takes the one exclusive borrow, and the core copies first.
PyObject* merge(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                PyObject* keyword_names) {
  return with_bound_arguments<1>(
      kMerge, self, args, positional_count, keyword_names,
      [self](GraphDiffObject& instance, const auto& arguments) -> PyRef {
        PyObject* other = arguments[0];
        if (other == self) {
          instance.diff.merge(instance.diff);
          return none_result();
        }
        if (!check_self(other)) {
          apply_argument_rule("other");
          return {};
        }
        BorrowGuard<Access::shared> borrow;
        if (!borrow.take(other)) {
          return {};
        }
        instance.diff.merge(reinterpret_cast<GraphDiffObject*>(other)->diff);
        return none_result();
      });
}

}  // namespace quorl::python
