// The bulk editing methods: one call records a whole column of edits with
// exactly the effect of the per-item calls in order. Every column is read
// and checked before the diff changes; the diff's batch operation then runs
// all or nothing, so a failure of any kind leaves the diff as it was.
#include <array>
#include <cassert>
#include <string_view>
#include <utility>
#include <vector>

#include "arrow_columns.hpp"
#include "bound_call.hpp"
#include "column_conversion.hpp"
#include "methods.hpp"

namespace quorl::python {

namespace {

constexpr std::array<std::string_view, 3> kSourcesTargetsWeights = {"sources", "targets",
                                                                    "weights"};
constexpr std::array<std::string_view, 2> kSourcesTargets = {"sources", "targets"};
constexpr std::array<std::string_view, 1> kIds = {"ids"};
constexpr std::array<std::string_view, 2> kIdsUpdates = {"ids", "updates"};

constexpr Signature kAddEdges{"PyGraphDiff.add_edges()", kSourcesTargetsWeights};
constexpr Signature kDeleteEdges{"PyGraphDiff.delete_edges()", kSourcesTargets};
constexpr Signature kDeleteNodes{"PyGraphDiff.delete_nodes()", kIds};
constexpr Signature kAddNodes{"PyGraphDiff.add_nodes()", kIdsUpdates};

// The ends of a column of edges, `sources` first.
struct EdgeEnds {
  IdColumn sources;
  IdColumn targets;

  [[nodiscard]] FirstColumn first() const { return {sources.size(), "sources"}; }
};

bool read_edge_ends(PyObject* sources, PyObject* targets, HeldBuffers& held, EdgeEnds& ends) {
  if (!read_id_column(sources, "sources", nullptr, held, ends.sources)) {
    return false;
  }
  const FirstColumn first = ends.first();
  return read_id_column(targets, "targets", &first, held, ends.targets);
}

}  // namespace

PyObject* add_edges(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                    PyObject* keyword_names) {
  return with_bound_arguments<3>(
      kAddEdges, self, args, positional_count, keyword_names,
      [](GraphDiffObject& instance, const auto& arguments) -> PyRef {
        HeldBuffers held;
        held.arrow().import_all(arguments, kAddEdges.parameters);
        EdgeEnds ends;
        WeightColumn weights;
        if (!read_edge_ends(arguments[0], arguments[1], held, ends)) {
          return {};
        }
        if (!read_weight_column(arguments[2], "weights", ends.first(), held, weights)) {
          return {};
        }
        // The result exists before the diff changes: failing to make it
        // afterwards would report a failure for edits that were made. No
        // Python code runs from here on, so the columns that view buffers
        // are read as they are.
        auto refusals = instance.diff.refused_edges(ends.sources.values(), ends.targets.values());
        PyRef result = PyRef::steal(PyLong_FromSize_t(ends.sources.size() - refusals.count));
        if (!result) {
          return {};
        }
        [[maybe_unused]] const std::size_t recorded = instance.diff.add_edges(
            ends.sources.values(), ends.targets.values(), weights.values(), std::move(refusals));
        assert(recorded == PyLong_AsSize_t(result.get()));
        return result;
      });
}

PyObject* delete_edges(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                       PyObject* keyword_names) {
  return with_bound_arguments<2>(kDeleteEdges, self, args, positional_count, keyword_names,
                                 [](GraphDiffObject& instance, const auto& arguments) -> PyRef {
                                   HeldBuffers held;
                                   held.arrow().import_all(arguments, kDeleteEdges.parameters);
                                   EdgeEnds ends;
                                   if (!read_edge_ends(arguments[0], arguments[1], held, ends)) {
                                     return {};
                                   }
                                   instance.diff.delete_edges(ends.sources.values(),
                                                              ends.targets.values());
                                   return none_result();
                                 });
}

PyObject* delete_nodes(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                       PyObject* keyword_names) {
  return with_bound_arguments<1>(kDeleteNodes, self, args, positional_count, keyword_names,
                                 [](GraphDiffObject& instance, const auto& arguments) -> PyRef {
                                   HeldBuffers held;
                                   held.arrow().import_all(arguments, kDeleteNodes.parameters);
                                   IdColumn ids;
                                   if (!read_id_column(arguments[0], "ids", nullptr, held, ids)) {
                                     return {};
                                   }
                                   instance.diff.delete_nodes(ids.values());
                                   return none_result();
                                 });
}

PyObject* add_nodes(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                    PyObject* keyword_names) {
  return with_bound_arguments<2>(
      kAddNodes, self, args, positional_count, keyword_names,
      [](GraphDiffObject& instance, const auto& arguments) -> PyRef {
        HeldBuffers held;
        held.arrow().import_all(arguments, kAddNodes.parameters);
        IdColumn ids;
        if (!read_id_column(arguments[0], "ids", nullptr, held, ids)) {
          return {};
        }
        if (ImportedColumn* imported = held.arrow().find(arguments[1], "updates")) {
          // No Python code runs from here on, so the ids are read where they lie.
          if (!add_arrow_updates(*imported, ids.values(), instance.diff)) {
            return {};
          }
          return none_result();
        }
        std::vector<NodeUpdate> updates;
        const FirstColumn first{ids.size(), "ids"};
        if (!read_update_column(arguments[1], "updates", first, held, updates)) {
          return {};
        }
        instance.diff.add_or_update_nodes(ids.values(), updates);
        return none_result();
      });
}

}  // namespace quorl::python
