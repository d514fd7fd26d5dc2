// What a method table entry needs, for every type the module makes.
#pragma once

#include <Python.h>

namespace quorl::python {

// The calling flags of a method with named parameters.
inline constexpr int kFastCall = METH_FASTCALL | METH_KEYWORDS;

// A method table stores every method as a PyCFunction; the flags tell the
// interpreter the real signature.
template <class Function>
PyCFunction as_table_entry(Function* function) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace quorl::python
