// Columns handed in through the Arrow PyCapsule interface: an object whose
// type has __arrow_c_array__ (a schema and an array capsule) or
// __arrow_c_stream__ (a stream capsule, read to its end).
//
// A bulk call imports all its Arrow columns before it reads any column:
// the methods and a stream's producer are Python code, and none may run
// between reading a column in place and the diff's use of it. An import
// that fails keeps its exception for the moment its column is read, so the
// first failing column still decides.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "arrow_c_data.hpp"
#include "errors.hpp"
#include "py_ref.hpp"

namespace quorl::python {

// One C structure moved out of its capsule (whose release is then NULL):
// released exactly once, when this goes.
template <class Struct>
class OwnedArrow {
 public:
  OwnedArrow() noexcept = default;
  explicit OwnedArrow(Struct* source) noexcept : value_(*source) { source->release = nullptr; }
  OwnedArrow(OwnedArrow&& other) noexcept : value_(other.value_) { other.value_.release = nullptr; }
  OwnedArrow& operator=(OwnedArrow&& other) noexcept {
    OwnedArrow(std::move(other)).swap(*this);
    return *this;
  }
  OwnedArrow(const OwnedArrow&) = delete;
  OwnedArrow& operator=(const OwnedArrow&) = delete;
  ~OwnedArrow() {
    // A producer's release may drop Python references (see PyRef), and so
    // run Python code, which must not meet the call's pending exception.
    if (value_.release == nullptr || !may_release_references()) {
      return;
    }
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    value_.release(&value_);
    PyErr_Restore(type, value, traceback);
  }

  [[nodiscard]] Struct* get() noexcept { return &value_; }
  [[nodiscard]] const Struct& operator*() const noexcept { return value_; }
  [[nodiscard]] bool empty() const noexcept { return value_.release == nullptr; }
  void swap(OwnedArrow& other) noexcept { std::swap(value_, other.value_); }

 private:
  Struct value_{};
};

// The schema and chunks of one imported column, or the exception its
// import raised.
struct ImportedColumn {
  PyObject* source = nullptr;  // borrowed from the call's arguments
  std::string_view parameter;
  OwnedArrow<arrow::ArrowSchema> schema;
  std::vector<OwnedArrow<arrow::ArrowArray>> chunks;
  PendingException failure;

  [[nodiscard]] bool failed() const noexcept { return static_cast<bool>(failure.type); }
};

// Whether `value` is read as an Arrow column: it offers the interface on
// its type and is no buffer (a buffer keeps its own, older reading).
[[nodiscard]] bool offers_arrow_column(PyObject* value);

class ArrowImports {
 public:
  ArrowImports() = default;
  ArrowImports(const ArrowImports&) = delete;
  ArrowImports& operator=(const ArrowImports&) = delete;
  ~ArrowImports() = default;

  // Imports every argument that offers an Arrow column; `parameters` names
  // them. Runs Python code; leaves no exception set.
  void import_all(std::span<PyObject* const> arguments,
                  std::span<const std::string_view> parameters);

  // The import of `value` as the argument `parameter`, or nullptr when it
  // was not imported (it offers no Arrow column).
  [[nodiscard]] ImportedColumn* find(PyObject* value, const char* parameter) noexcept;

 private:
  std::array<ImportedColumn, 3> columns_;
  std::size_t count_ = 0;
};

}  // namespace quorl::python
