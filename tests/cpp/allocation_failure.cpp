// Kept in a file of its own so that no test code sees the replaced operators
// inline (the compiler would take malloc/free behind operator new/delete for
// a mismatch).
#include "allocation_failure.hpp"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

long allocations_before_failure = -1;  // negative: never fail
bool failure_reached = false;

}  // namespace

namespace quorl::testing_support {

void fail_allocation_after(long successful) noexcept {
  failure_reached = false;
  allocations_before_failure = successful;
}

bool stop_failing_allocations() noexcept {
  allocations_before_failure = -1;
  return failure_reached;
}

}  // namespace quorl::testing_support

void* operator new(std::size_t size) {
  if (allocations_before_failure >= 0 && allocations_before_failure-- == 0) {
    failure_reached = true;
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) {
    return memory;
  }
  throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
