// Column arguments of the bulk methods: n ids, n weights or n node updates,
// each given either as one buffer (bytes, bytearray, memoryview, array.array,
// a NumPy array) or as a sequence of the single values that the per-item
// methods take.
//
// Every failure names the parameter, and for a bad item its index:
//   argument '<parameter>': item <index>: <what the single call would say>
//   argument '<parameter>': <what is wrong with the whole argument>
// A bad item raises the exception class that the single call raises. An
// exactly-TypeError keeps the single call's __cause__, as the argument rule
// does; any other class is raised anew with the single call's exception as
// its __cause__ (MemoryError, exceptions outside Exception and classes that
// cannot be built from a message pass unchanged). Whole-argument failures:
// TypeError for something that is neither a buffer nor a sequence and for a
// buffer of the wrong item format, ValueError for a length that does not
// match, BufferError for a buffer that is not C-contiguous.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "arrow_imports.hpp"
#include "diff/node_id.hpp"
#include "node_update/node_update.hpp"

namespace quorl::python {

// A column that may view an exported buffer's items in place.
class BufferViewer {
 public:
  // Copies the viewed items into the column's own storage.
  virtual void take_copy() = 0;

 protected:
  BufferViewer() = default;
  BufferViewer(const BufferViewer&) = default;
  BufferViewer& operator=(const BufferViewer&) = default;
  ~BufferViewer() = default;
};

// The buffers that one call has exported, released when the call ends on
// any way out, and the columns that view them. A buffer stays exported
// while Python code that a later conversion runs (a weight's __float__)
// could otherwise resize it; that code could still write to it (a
// bytearray), so the columns viewing it take a copy before any such code
// runs. A call whose conversions run no Python code (three buffers, or
// lists of bytes and floats) reads every buffer where it lies.
class HeldBuffers {
 public:
  HeldBuffers() = default;
  HeldBuffers(const HeldBuffers&) = delete;
  HeldBuffers& operator=(const HeldBuffers&) = delete;
  ~HeldBuffers();

  // Exports the buffer of `value` (any layout, with its format). Returns
  // nullptr with the exporter's exception set when it refuses.
  Py_buffer* export_buffer(PyObject* value);

  // The call's Arrow columns, imported before any column is read.
  [[nodiscard]] ArrowImports& arrow() noexcept { return arrow_; }

  // Records that `column` views one of these buffers; it must outlive the
  // conversions of the call.
  void viewed_by(BufferViewer& column) noexcept;

  // Called by a conversion before it may run Python code: every column
  // that views a buffer copies its items, once.
  void before_python_code();

 private:
  ArrowImports arrow_;
  std::array<Py_buffer, 3> views_{};
  std::size_t count_ = 0;
  std::array<BufferViewer*, 3> viewers_{};
  std::size_t viewer_count_ = 0;
};

// A column of ids or weights: a view of an exported buffer's items, or
// items of its own. A view spares copying a million items; it must not
// outlive the buffers it views, and it is read as it is only while no
// Python code has run since the buffer was taken (see HeldBuffers).
template <class Value>
class Column final : public BufferViewer {
 public:
  [[nodiscard]] std::span<const Value> values() const noexcept { return view_; }
  [[nodiscard]] std::size_t size() const noexcept { return view_.size(); }
  [[nodiscard]] const Value& operator[](std::size_t index) const noexcept { return view_[index]; }

  void take_copy() override {
    if (view_.data() != owned_.data()) {
      assign(std::vector<Value>(view_.begin(), view_.end()));
    }
  }

  void view(std::span<const Value> values) noexcept { view_ = values; }
  void assign(std::vector<Value> values) noexcept {
    owned_ = std::move(values);
    view_ = owned_;
  }

 private:
  std::span<const Value> view_;
  std::vector<Value> owned_;
};

using IdColumn = Column<NodeId>;
using WeightColumn = Column<float>;

// The length of the column that came first in the call, which every later
// column must match.
struct FirstColumn {
  std::size_t count;
  const char* parameter;
};

// Shared with the Arrow columns: checks a column's length against the first
// column's (raising the ValueError above), and words the pending exception
// of a failed conversion of `parameter` (of its item `item`, when given) in
// the form above.
[[nodiscard]] bool check_count(std::size_t count, const char* parameter, const FirstColumn* first);
void reword_failure(const char* parameter, std::optional<std::size_t> item = std::nullopt);

// Each reads the argument `parameter` into `out` and returns true, or
// returns false with the exception described above set. `first` is null
// for the call's first column. The ids of a buffer are its bytes, 16 per
// id, whatever its item format; the weights of a buffer are float32 ('f')
// or float64 ('d') items of either byte order.
[[nodiscard]] bool read_id_column(PyObject* value, const char* parameter, const FirstColumn* first,
                                  HeldBuffers& held, IdColumn& out);
[[nodiscard]] bool read_weight_column(PyObject* value, const char* parameter,
                                      const FirstColumn& first, HeldBuffers& held,
                                      WeightColumn& out);
// Updates as a sequence of dictionaries (an Arrow struct column goes
// straight into the diff: see add_arrow_updates).
[[nodiscard]] bool read_update_column(PyObject* value, const char* parameter,
                                      const FirstColumn& first, HeldBuffers& held,
                                      std::vector<NodeUpdate>& out);

}  // namespace quorl::python
