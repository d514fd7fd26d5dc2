#include "diff/id_hash.hpp"

#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quorl {

bool processor_has_aes() noexcept {
#if defined(__x86_64__)
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("aes") != 0;
  }();
  return has;
#else
  return false;
#endif
}

HashKey::HashKey(std::uint64_t first_word, std::uint64_t second_word, HashKind hash_kind) noexcept
    : first(first_word), second(second_word), kind(hash_kind) {
  if (kind == HashKind::aes_4 && !processor_has_aes()) {
    kind = HashKind::sip_1_3;
  }
  // The round keys are SipHash outputs of distinct counters under the key:
  // as secret as the key, and unrelated to each other.
  std::uint64_t counter = 0;
  for (auto& round_key : round_keys) {
    for (auto& half : round_key) {
      half = sip_hash_1_3(*this, counter, ~counter);
      ++counter;
    }
  }
}

#if defined(__x86_64__)
namespace {

struct AesRoundKeys {
  __m128i keys[HashKey::kAesRounds + 1];  // NOLINT(*-avoid-c-arrays): no std::array of vector types

  explicit AesRoundKeys(const HashKey& key) noexcept {
    for (std::size_t index = 0; index <= HashKey::kAesRounds; ++index) {
      keys[index] = _mm_set_epi64x(static_cast<long long>(key.round_keys[index][1]),
                                   static_cast<long long>(key.round_keys[index][0]));
    }
  }

  [[nodiscard]] __attribute__((target("aes"))) std::uint64_t hash(const NodeId& id) const noexcept {
    __m128i state = _mm_loadu_si128(reinterpret_cast<const __m128i*>(id.data()));
    state = _mm_xor_si128(state, keys[0]);
    for (std::size_t round = 1; round <= HashKey::kAesRounds; ++round) {
      state = _mm_aesenc_si128(state, keys[round]);
    }
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(state)) ^
           static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(state, state)));
  }
};

}  // namespace

__attribute__((target("aes"))) std::uint64_t aes_hash_4(const HashKey& key,
                                                        const NodeId& id) noexcept {
  return AesRoundKeys(key).hash(id);
}

__attribute__((target("aes"))) void keyed_id_hashes(const HashKey& key, std::span<const NodeId> ids,
                                                    std::uint64_t* out) noexcept {
  if (key.kind != HashKind::aes_4) {
    for (const NodeId& id : ids) {
      *out++ = sip_hash_1_3(key, id);
    }
    return;
  }
  // The ids do not depend on each other, so the rounds of several are in
  // flight at once.
  const AesRoundKeys keys(key);
  for (const NodeId& id : ids) {
    *out++ = keys.hash(id);
  }
}
#else
std::uint64_t aes_hash_4(const HashKey& key, const NodeId& id) noexcept {
  return sip_hash_1_3(key, id);
}

void keyed_id_hashes(const HashKey& key, std::span<const NodeId> ids, std::uint64_t* out) noexcept {
  for (const NodeId& id : ids) {
    *out++ = sip_hash_1_3(key, id);
  }
}
#endif

}  // namespace quorl

namespace quorl::detail {

HashKey random_hash_key() {
  std::uint8_t bytes[16];
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    const ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (got < 0 && errno != EINTR) {
      break;
    }
  }
  if (filled < sizeof bytes) {
    try {
      std::random_device device;
      for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(device());
      }
    } catch (...) {
      // No random source at all: the time and the address space layout
      // still keep the key from being known in advance.
      const auto time =
          static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
      const auto place = reinterpret_cast<std::uintptr_t>(&filled);
      return HashKey(time ^ 0x9e3779b97f4a7c15ULL,
                     static_cast<std::uint64_t>(place) * 0xbf58476d1ce4e5b9ULL);
    }
  }
  return HashKey(load_little_endian<std::uint64_t>(bytes),
                 load_little_endian<std::uint64_t>(bytes + 8));
}

}  // namespace quorl::detail
