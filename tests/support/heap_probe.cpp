// Kept in a file of its own so that no test code sees the replaced operators
// inline (the compiler would take malloc/free behind operator new/delete for
// a mismatch).
#include "heap_probe.hpp"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> allocations_before_failure{-1};  // negative: never fail
std::atomic<bool> failure_reached{false};
std::atomic<std::size_t> requested{0};
std::atomic<std::size_t> live{0};
std::atomic<std::size_t> peak{0};

std::size_t block_bytes(void* block) noexcept {
  return malloc_usable_size(block) + sizeof(std::size_t);
}

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

void reset_heap_counts() noexcept {
  requested = 0;
  peak = live.load();
}

std::size_t requested_bytes() noexcept { return requested; }
std::size_t live_heap_bytes() noexcept { return live; }
std::size_t peak_heap_bytes() noexcept { return peak; }

}  // namespace quorl::testing_support

void* operator new(std::size_t size) {
  if (allocations_before_failure >= 0 && allocations_before_failure-- == 0) {
    failure_reached = true;
    throw std::bad_alloc();
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  requested += size;
  const std::size_t now = live += block_bytes(block);
  std::size_t seen = peak;
  while (now > seen && !peak.compare_exchange_weak(seen, now)) {
  }
  return block;
}

void operator delete(void* block) noexcept {
  if (block != nullptr) {
    live -= block_bytes(block);
    std::free(block);
  }
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

// Every form of new and delete goes through the two above: a sanitizer
// supplies its own of each form not replaced here, and a block from one
// side released by the other is a mismatch (std::stable_partition takes
// its buffer with the nothrow form).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* block, const std::nothrow_t&) noexcept { operator delete(block); }
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { operator delete(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { operator delete(block); }
