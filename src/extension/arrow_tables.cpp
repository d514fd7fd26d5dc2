// The table readings: each builds an immutable table of the diff's
// contents under a shared borrow and hands it out as a DiffTable, which
// exports it through the Arrow PyCapsule interface (__arrow_c_schema__,
// __arrow_c_array__, __arrow_c_stream__) and tells its row count by len().
// A table shares nothing with the diff, so it outlives it and any change.
#include <array>
#include <memory>
#include <string_view>
#include <utility>

#include "arrow_export.hpp"
#include "binding.hpp"
#include "errors.hpp"
#include "instance.hpp"
#include "method_entry.hpp"
#include "methods.hpp"
#include "module.hpp"
#include "py_ref.hpp"

namespace quorl::python {

namespace {

using arrow::ArrowArray;
using arrow::ArrowArrayStream;
using arrow::ArrowSchema;
using arrow::TableData;

struct TableObject {
  PyObject_HEAD std::shared_ptr<const TableData> table;
  // Set once `table` exists; see GraphDiffObject.
  bool constructed;
};

PyTypeObject* the_table_type = nullptr;

// The exported structure a capsule owns: released (if its consumer did not
// move it out) and freed with the capsule, or here if no capsule is made.
template <class Struct>
struct ReleaseAndDelete {
  void operator()(Struct* value) const noexcept {
    if (value->release != nullptr) {
      value->release(value);
    }
    delete value;
  }
};

template <class Struct>
using OwnedExport = std::unique_ptr<Struct, ReleaseAndDelete<Struct>>;

template <class Struct>
void destroy_capsule(PyObject* capsule) noexcept {
  auto* value = static_cast<Struct*>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
  if (value != nullptr) {
    ReleaseAndDelete<Struct>()(value);
  }
}

template <class Struct>
PyRef new_capsule(OwnedExport<Struct> value, const char* name) {
  PyRef capsule = PyRef::steal(PyCapsule_New(value.get(), name, destroy_capsule<Struct>));
  if (capsule) {
    [[maybe_unused]] Struct* owned_by_capsule = value.release();
  }
  return capsule;
}

PyRef schema_capsule(const TableData& table) {
  OwnedExport<ArrowSchema> schema(new ArrowSchema{});
  arrow::export_schema(table, schema.get());
  return new_capsule(std::move(schema), arrow::kSchemaCapsule);
}

// The table of `self`, or null with TypeError set for an instance that
// PyPy's object.__new__ made without one.
const std::shared_ptr<const TableData>* table_of(PyObject* self) {
  auto* object = reinterpret_cast<TableObject*>(self);
  if (!object->constructed) {
    PyErr_SetString(PyExc_TypeError, "DiffTable instance made without a table");
    return nullptr;
  }
  return &object->table;
}

constexpr std::array<std::string_view, 1> kRequestedSchema = {"requested_schema"};
constexpr Signature kArrayExport{"DiffTable.__arrow_c_array__()", kRequestedSchema, 0};
constexpr Signature kStreamExport{"DiffTable.__arrow_c_stream__()", kRequestedSchema, 0};

// A requested schema is taken and ignored, as the interface allows: the
// consumer checks the schema it gets.
template <class Export>
PyObject* exporting_method(const Signature& signature, PyObject* self, PyObject* const* args,
                           Py_ssize_t positional_count, PyObject* keyword_names, Export&& make) {
  return entry_point([&]() -> PyRef {
    std::array<PyObject*, 1> arguments{};
    if (!bind_fastcall(signature, args, positional_count, keyword_names, arguments)) {
      return {};
    }
    const auto* table = table_of(self);
    if (table == nullptr) {
      return {};
    }
    return make(*table);
  });
}

PyObject* table_schema(PyObject* self, PyObject* /*unused*/) {
  return entry_point([&]() -> PyRef {
    const auto* table = table_of(self);
    if (table == nullptr) {
      return {};
    }
    return schema_capsule(**table);
  });
}

PyObject* table_array(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                      PyObject* keyword_names) {
  return exporting_method(kArrayExport, self, args, positional_count, keyword_names,
                          [](const std::shared_ptr<const TableData>& table) -> PyRef {
                            const PyRef schema = schema_capsule(*table);
                            if (!schema) {
                              return {};
                            }
                            OwnedExport<ArrowArray> batch(new ArrowArray{});
                            arrow::export_batch(table, batch.get());
                            const PyRef array = new_capsule(std::move(batch), arrow::kArrayCapsule);
                            if (!array) {
                              return {};
                            }
                            return PyRef::steal(PyTuple_Pack(2, schema.get(), array.get()));
                          });
}

PyObject* table_stream(PyObject* self, PyObject* const* args, Py_ssize_t positional_count,
                       PyObject* keyword_names) {
  return exporting_method(kStreamExport, self, args, positional_count, keyword_names,
                          [](const std::shared_ptr<const TableData>& table) {
                            OwnedExport<ArrowArrayStream> stream(new ArrowArrayStream{});
                            arrow::export_stream(table, stream.get());
                            return new_capsule(std::move(stream), arrow::kStreamCapsule);
                          });
}

Py_ssize_t table_length(PyObject* self) {
  const auto* table = table_of(self);
  return table == nullptr ? -1 : static_cast<Py_ssize_t>((*table)->rows);
}

PyObject* table_new(PyTypeObject* /*type*/, PyObject* /*args*/, PyObject* /*kwargs*/) {
  PyErr_SetString(PyExc_TypeError,
                  "cannot create 'DiffTable' instances: the table readings of PyGraphDiff make "
                  "them");
  return nullptr;
}

void table_dealloc(PyObject* self) {
  auto* object = reinterpret_cast<TableObject*>(self);
  if (object->constructed) {
    object->table.~shared_ptr();
  }
  free_instance(self);
}

PyMethodDef table_methods[] = {
    {"__arrow_c_schema__", table_schema, METH_NOARGS, "__arrow_c_schema__($self)\n--\n\n"},
    {"__arrow_c_array__", as_table_entry(table_array), kFastCall,
     "__arrow_c_array__($self, requested_schema=None)\n--\n\n"},
    {"__arrow_c_stream__", as_table_entry(table_stream), kFastCall,
     "__arrow_c_stream__($self, requested_schema=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

char table_doc[] = "DiffTable()\n--\n\nAn Arrow table of one of a PyGraphDiff's readings.";

PyType_Slot table_slots[] = {
    {Py_tp_doc, table_doc},
    {Py_tp_methods, table_methods},
    {Py_tp_new, reinterpret_cast<void*>(table_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(table_dealloc)},
    {Py_sq_length, reinterpret_cast<void*>(table_length)},
    {0, nullptr},
};

// Not subclassable, not tracked by the collector: a table holds no Python
// objects.
PyType_Spec table_spec = {
    "quorl_api.DiffTable", static_cast<int>(sizeof(TableObject)), 0, Py_TPFLAGS_DEFAULT,
    table_slots,
};

PyTypeObject* table_type() {
  if (the_table_type == nullptr) {
    // Kept for the life of the interpreter.
    the_table_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&table_spec));
  }
  return the_table_type;
}

PyRef new_table(TableData data) {
  auto table = std::make_shared<const TableData>(std::move(data));
  PyTypeObject* type = table_type();
  if (type == nullptr) {
    return {};
  }
  PyRef self = PyRef::steal(allocate_instance(type));
  if (!self) {
    return {};
  }
  auto* object = reinterpret_cast<TableObject*>(self.get());
  new (&object->table) std::shared_ptr<const TableData>(std::move(table));
  object->constructed = true;
  return self;
}

template <TableData (*build)(const Diff&)>
PyObject* table_reading(PyObject* self) {
  return with_instance<Access::shared>(
      self, [](GraphDiffObject& instance) { return new_table(build(instance.diff)); });
}

}  // namespace

void forget_table_type() noexcept { the_table_type = nullptr; }

PyObject* new_or_updated_node_table(PyObject* self, PyObject* /*unused*/) {
  return table_reading<arrow::node_table>(self);
}

PyObject* deleted_node_table(PyObject* self, PyObject* /*unused*/) {
  return table_reading<arrow::deleted_node_table>(self);
}

PyObject* new_or_updated_edge_table(PyObject* self, PyObject* /*unused*/) {
  return table_reading<arrow::edge_table>(self);
}

PyObject* deleted_edge_table(PyObject* self, PyObject* /*unused*/) {
  return table_reading<arrow::deleted_edge_table>(self);
}

}  // namespace quorl::python
