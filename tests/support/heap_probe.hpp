// The heap as a test or benchmark program sees it: linking heap_probe.cpp
// replaces the program's global operator new and delete with ones that
// count what they hand out and can be made to fail, for bounding what an
// operation allocates and for injecting out-of-memory.
#pragma once

#include <cstddef>

namespace quorl::testing_support {

// Makes the allocation after `successful` further ones throw (once).
void fail_allocation_after(long successful) noexcept;

// Stops injecting; returns whether the chosen allocation was reached.
bool stop_failing_allocations() noexcept;

// Starts counting afresh: requested bytes from zero, the peak from what is
// live now.
void reset_heap_counts() noexcept;

// The bytes asked of operator new since the last reset.
[[nodiscard]] std::size_t requested_bytes() noexcept;

// The heap held through operator new, as the allocator rounds each block
// (with its header), now and at its peak since the last reset.
[[nodiscard]] std::size_t live_heap_bytes() noexcept;
[[nodiscard]] std::size_t peak_heap_bytes() noexcept;

}  // namespace quorl::testing_support
