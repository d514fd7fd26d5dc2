#include "arrow_imports.hpp"

#include <cerrno>

#include "column_conversion.hpp"

namespace quorl::python {

namespace {

using arrow::ArrowArray;
using arrow::ArrowArrayStream;
using arrow::ArrowSchema;

constexpr const char* kArrayMethod = "__arrow_c_array__";
constexpr const char* kStreamMethod = "__arrow_c_stream__";

// Whether the type (or a base) defines the method, found without running
// Python code.
bool type_defines(PyObject* value, const char* method) {
  const PyRef name = PyRef::steal(PyUnicode_InternFromString(method));
  if (!name) {
    PyErr_Clear();
    return false;
  }
  return _PyType_Lookup(Py_TYPE(value), name.get()) != nullptr;
}

// Calls the method with no arguments (no requested schema), the failure
// worded for `parameter`.
PyRef call_method(PyObject* value, const char* method, const char* parameter) {
  PyRef result = PyRef::steal(PyObject_CallMethod(value, method, nullptr));
  if (!result) {
    reword_failure(parameter);
  }
  return result;
}

void raise_consumed(const char* parameter) {
  PyErr_Format(PyExc_ValueError, "argument '%s': the Arrow capsule was already consumed",
               parameter);
}

bool import_array(PyObject* value, const char* parameter, ImportedColumn& column) {
  const PyRef pair = call_method(value, kArrayMethod, parameter);
  if (!pair) {
    return false;
  }
  if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2 ||
      !PyCapsule_IsValid(PyTuple_GET_ITEM(pair.get(), 0), arrow::kSchemaCapsule) ||
      !PyCapsule_IsValid(PyTuple_GET_ITEM(pair.get(), 1), arrow::kArrayCapsule)) {
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': __arrow_c_array__() returned no pair of an 'arrow_schema' and "
                 "an 'arrow_array' capsule",
                 parameter);
    return false;
  }
  auto* schema = static_cast<ArrowSchema*>(
      PyCapsule_GetPointer(PyTuple_GET_ITEM(pair.get(), 0), arrow::kSchemaCapsule));
  auto* array = static_cast<ArrowArray*>(
      PyCapsule_GetPointer(PyTuple_GET_ITEM(pair.get(), 1), arrow::kArrayCapsule));
  if (schema->release == nullptr || array->release == nullptr) {
    raise_consumed(parameter);
    return false;
  }
  column.chunks.reserve(1);  // nothing is moved out of a capsule before this succeeds
  column.schema = OwnedArrow<ArrowSchema>(schema);
  column.chunks.emplace_back(array);
  return true;
}

// Raises the failure of a stream's callback that returned `code`.
void raise_stream_failure(ArrowArrayStream& stream, int code, const char* parameter) {
  if (PyErr_Occurred() != nullptr) {
    reword_failure(parameter);
    return;
  }
  if (code == ENOMEM) {
    PyErr_NoMemory();
    return;
  }
  const char* text = stream.get_last_error != nullptr ? stream.get_last_error(&stream) : nullptr;
  if (text != nullptr) {
    PyErr_Format(PyExc_RuntimeError, "argument '%s': the Arrow stream failed (error %d): %s",
                 parameter, code, text);
  } else {
    PyErr_Format(PyExc_RuntimeError, "argument '%s': the Arrow stream failed (error %d)", parameter,
                 code);
  }
}

bool import_stream(PyObject* value, const char* parameter, ImportedColumn& column) {
  const PyRef capsule = call_method(value, kStreamMethod, parameter);
  if (!capsule) {
    return false;
  }
  if (!PyCapsule_IsValid(capsule.get(), arrow::kStreamCapsule)) {
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': __arrow_c_stream__() returned no 'arrow_array_stream' capsule",
                 parameter);
    return false;
  }
  auto* source =
      static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule.get(), arrow::kStreamCapsule));
  if (source->release == nullptr) {
    raise_consumed(parameter);
    return false;
  }
  OwnedArrow<ArrowArrayStream> owned(source);
  ArrowArrayStream& stream = *owned.get();
  if (stream.get_schema == nullptr || stream.get_next == nullptr) {
    PyErr_Format(PyExc_ValueError, "argument '%s': the Arrow stream lacks its callbacks",
                 parameter);
    return false;
  }
  ArrowSchema schema{};
  if (const int code = stream.get_schema(&stream, &schema); code != 0) {
    raise_stream_failure(stream, code, parameter);
    return false;
  }
  if (schema.release == nullptr) {
    PyErr_Format(PyExc_ValueError, "argument '%s': the Arrow stream gave a released schema",
                 parameter);
    return false;
  }
  column.schema = OwnedArrow<ArrowSchema>(&schema);
  for (;;) {
    ArrowArray next{};
    if (const int code = stream.get_next(&stream, &next); code != 0) {
      raise_stream_failure(stream, code, parameter);
      return false;
    }
    if (next.release == nullptr) {
      return true;  // the end of the stream
    }
    OwnedArrow<ArrowArray> chunk(&next);
    column.chunks.push_back(std::move(chunk));
  }
}

}  // namespace

bool offers_arrow_column(PyObject* value) {
  return !PyObject_CheckBuffer(value) &&
         (type_defines(value, kArrayMethod) || type_defines(value, kStreamMethod));
}

void ArrowImports::import_all(std::span<PyObject* const> arguments,
                              std::span<const std::string_view> parameters) {
  for (std::size_t index = 0; index < arguments.size() && count_ < columns_.size(); ++index) {
    PyObject* value = arguments[index];
    if (!offers_arrow_column(value)) {
      continue;
    }
    ImportedColumn& column = columns_[count_++];
    column.source = value;
    column.parameter = parameters[index];
    // The parameter names are literals, so their views end in a NUL.
    const char* parameter = column.parameter.data();
    const bool imported = type_defines(value, kArrayMethod)
                              ? import_array(value, parameter, column)
                              : import_stream(value, parameter, column);
    if (!imported) {
      column.chunks.clear();
      column.schema = {};
      column.failure = PendingException::fetch();
      return;  // no later column is read: this one fails first or an earlier one does
    }
  }
}

ImportedColumn* ArrowImports::find(PyObject* value, const char* parameter) noexcept {
  for (std::size_t index = 0; index < count_; ++index) {
    if (columns_[index].source == value && columns_[index].parameter == parameter) {
      return &columns_[index];
    }
  }
  return nullptr;
}

}  // namespace quorl::python
