// A count field can claim any number of entries; the decoder must not
// reserve room for them up front. This binary counts every byte that
// operator new hands out, so it can bound what a failed decode allocated.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "byte_form_support.hpp"
#include "bytes/graph_diff_bytes_detail.hpp"

namespace {
std::atomic<std::size_t> allocated_bytes{0};
}  // namespace

// g++ cannot see that this operator new is malloc underneath.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  allocated_bytes += size;
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace quorl {
namespace {

using namespace testing_support;

constexpr std::uint64_t kHuge = 1ULL << 40;
// 4 096 reserved entries of the largest container (a source with its inner
// map) stay well below this.
constexpr std::size_t kAllocationBound = 1U << 20;

struct HugeCountCase {
  const char* name;
  Bytes bytes;
};

class HugeCount : public testing::TestWithParam<HugeCountCase> {};

TEST_P(HugeCount, FailsWithoutALargeAllocation) {
  allocated_bytes = 0;
  const auto decoded = bytes_to_graph_diff(GetParam().bytes);
  const std::size_t allocated = allocated_bytes;
  ASSERT_FALSE(decoded.has_value());
  EXPECT_EQ(decoded.error().cause, DecodeFailure::premature_end);
  EXPECT_LT(allocated, kAllocationBound);
}

const NodeId kA = numbered_id(0);
const NodeId kB = numbered_id(16);

INSTANTIATE_TEST_SUITE_P(
    Containers, HugeCount,
    testing::Values(
        HugeCountCase{"nodes",
                      ByteBuilder().count(kHuge).id(kA).text("{}").id(kB).text("{}").bytes()},
        HugeCountCase{"deleted_nodes", ByteBuilder().count(0).count(kHuge).id(kA).id(kB).bytes()},
        HugeCountCase{
            "updated_sources",
            ByteBuilder().zero_counts(2).count(kHuge).id(kA).count(0).id(kB).count(0).bytes()},
        HugeCountCase{"updated_targets", ByteBuilder()
                                             .zero_counts(2)
                                             .count(1)
                                             .id(kA)
                                             .count(kHuge)
                                             .id(kB)
                                             .weight_bits(0)
                                             .bytes()},
        HugeCountCase{"deleted_sources",
                      ByteBuilder().zero_counts(3).count(kHuge).id(kA).count(1).id(kB).bytes()},
        HugeCountCase{
            "deleted_targets",
            ByteBuilder().zero_counts(3).count(1).id(kA).count(kHuge).id(kB).id(kA).bytes()},
        HugeCountCase{"largest_count", ByteBuilder().count(~0ULL).id(kA).text("{}").bytes()}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

}  // namespace
}  // namespace quorl
