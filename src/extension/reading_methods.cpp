// The reading methods: each takes a shared borrow and builds new objects
// that share nothing with the diff. When any object of a result cannot be
// made, everything built so far is released and the exception is raised:
// a reading is whole or it fails.
#include "id_conversion.hpp"
#include "instance.hpp"
#include "methods.hpp"
#include "node_update_conversion.hpp"

namespace quorl::python {

namespace {

// Sets result[id text] = value, where `value` is empty when making it
// failed. Returns false with an exception set on failure.
bool set_by_id(PyObject* result, const NodeId& id, const PyRef& value) {
  if (!value) {
    return false;
  }
  const PyRef key = write_id_text(id);
  return key && PyDict_SetItem(result, key.get(), value.get()) == 0;
}

// A list of the id texts of `ids`, sized exactly before it is filled.
template <class Ids>
PyRef id_text_list(const Ids& ids) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(ids.size())));
  if (!list) {
    return {};
  }
  Py_ssize_t index = 0;
  for (const NodeId& id : ids) {
    PyRef text = write_id_text(id);
    if (!text) {
      return {};  // the unfilled slots are empty; releasing the list is safe
    }
    PyList_SET_ITEM(list.get(), index++, text.release());  // steals the text
  }
  return list;
}

template <class TargetWeights>
PyRef weights_dict(const TargetWeights& targets) {
  PyRef inner = PyRef::steal(PyDict_New());
  if (!inner) {
    return {};
  }
  for (const auto& [target, weight] : targets) {
    if (!set_by_id(inner.get(), target, PyRef::steal(PyFloat_FromDouble(weight)))) {
      return {};
    }
  }
  return inner;
}

// A dict from each source's id text to `make_value(targets)`, for the
// sources of `groups` whose inner container is not empty. A source whose
// targets a node deletion took away stays in the diff (num_edges counts it)
// but has nothing to show in a reading.
template <class Groups, class MakeValue>
PyRef non_empty_groups(const Groups& groups, MakeValue make_value) {
  PyRef result = PyRef::steal(PyDict_New());
  if (!result) {
    return {};
  }
  for (const auto& [source, targets] : groups) {
    if (!targets.empty() && !set_by_id(result.get(), source, make_value(targets))) {
      return {};
    }
  }
  return result;
}

}  // namespace

PyObject* new_or_updated_nodes(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(self, [](GraphDiffObject& instance) -> PyRef {
    PyRef result = PyRef::steal(PyDict_New());
    if (!result) {
      return {};
    }
    NodeUpdateWriter writer;
    for (const auto& [id, update] : instance.diff.new_or_updated_nodes()) {
      if (!set_by_id(result.get(), id, writer.write(update))) {
        return {};
      }
    }
    return result;
  });
}

PyObject* deleted_nodes(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(
      self, [](GraphDiffObject& instance) { return id_text_list(instance.diff.deleted_nodes()); });
}

PyObject* new_or_updated_edges(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(self, [](GraphDiffObject& instance) {
    return non_empty_groups(instance.diff.edges().new_or_updated,
                            [](const auto& targets) { return weights_dict(targets); });
  });
}

PyObject* deleted_edges(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(self, [](GraphDiffObject& instance) {
    return non_empty_groups(instance.diff.edges().deleted,
                            [](const auto& targets) { return id_text_list(targets); });
  });
}

PyObject* num_nodes(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(self, [](GraphDiffObject& instance) {
    return PyRef::steal(PyLong_FromUnsignedLongLong(instance.diff.num_nodes()));
  });
}

PyObject* num_edges(PyObject* self, PyObject* /*unused*/) {
  return with_instance<Access::shared>(self, [](GraphDiffObject& instance) {
    return PyRef::steal(PyLong_FromUnsignedLongLong(instance.diff.num_edges()));
  });
}

}  // namespace quorl::python
