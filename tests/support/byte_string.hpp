// The byte form into a vector of its own, for the tests, fuzzers and
// benchmarks; the module encodes through a ByteSink of its own
// (bytes/graph_diff_bytes.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "bytes/graph_diff_bytes.hpp"

namespace quorl {

namespace detail {

// Leaves bytes uninitialised where std::allocator would zero them: the
// encoder sizes its buffer to the exact length and then writes every byte,
// so a zero fill would only be a second pass over tens of megabytes. Every
// other construction (copies, push_back, an explicit value) is unchanged.
template <class Value>
struct DefaultInitAllocator : std::allocator<Value> {
  template <class Other>
  struct rebind {
    using other = DefaultInitAllocator<Other>;
  };

  DefaultInitAllocator() = default;
  template <class Other>
  DefaultInitAllocator(const DefaultInitAllocator<Other>& /*unused*/) noexcept {}

  template <class Element>
  void construct(Element* element) noexcept(std::is_nothrow_default_constructible_v<Element>) {
    ::new (static_cast<void*>(element)) Element;
  }
  template <class Element, class... Arguments>
  void construct(Element* element, Arguments&&... arguments) {
    std::construct_at(element, std::forward<Arguments>(arguments)...);
  }
};

}  // namespace detail

using ByteString = std::vector<std::uint8_t, detail::DefaultInitAllocator<std::uint8_t>>;

// The byte form of `diff`, in a vector allocated once at its exact length
// and returned only when the encoder filled it exactly.
[[nodiscard]] inline std::expected<ByteString, EncodeError> graph_diff_to_bytes(const Diff& diff) {
  class VectorSink final : public ByteSink {
   public:
    std::span<std::uint8_t> allocate(std::size_t length) override {
      if (length > bytes.max_size()) {
        throw std::bad_alloc();
      }
      bytes.resize(length);
      return bytes;
    }
    ByteString bytes;
  };
  VectorSink sink;
  if (auto written = graph_diff_to_bytes(diff, sink); !written) {
    return std::unexpected(written.error());
  }
  return std::move(sink.bytes);
}

}  // namespace quorl
