// A count field can claim any number of entries; the decoder must not
// reserve room for them up front. The heap probe counts every byte that
// operator new hands out, so it can bound what a failed decode allocated.
#include <gtest/gtest.h>

#include "byte_form_support.hpp"
#include "byte_string.hpp"
#include "heap_probe.hpp"

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
  reset_heap_counts();
  const auto decoded = bytes_to_graph_diff(GetParam().bytes);
  const std::size_t allocated = requested_bytes();
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
