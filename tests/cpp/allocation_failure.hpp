// Out-of-memory injection for tests: replaces the global operator new of the
// test program so that one chosen allocation throws std::bad_alloc.
#pragma once

namespace quorl::testing_support {

// Makes the allocation after `successful` further ones throw (once).
void fail_allocation_after(long successful) noexcept;

// Stops injecting; returns whether the chosen allocation was reached.
bool stop_failing_allocations() noexcept;

}  // namespace quorl::testing_support
