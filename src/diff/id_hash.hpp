// The hash that finds ids in every container of the project, keyed by a key
// drawn once per process from the operating system's random source: four
// AES rounds over the 16 id bytes where the processor has AES instructions,
// else SipHash-1-3 (decided when the key is made, so one key always hashes
// one way).
//
// Ids come from other parties (Python callers, byte strings from other
// processes), so the hash must not let anyone pick ids that share a slot: a
// fixed hash can always be searched for collisions offline, and a few
// hundred thousand of them turn every lookup into a walk. SipHash is a keyed
// pseudo-random function made for exactly this (hash tables fed by
// untrusted keys); the 1-3 variant does one compression round per 8-byte
// word and three final rounds, which on a 16-byte id is six rounds of adds,
// rotations and xors, a few nanoseconds, with no multiplications to chain.
//
// Where the processor has them, AES rounds do the same job in fewer cycles:
// an id is exactly one AES block, so it is whitened with a secret round key
// and passed through four rounds under further secret round keys. Two rounds
// already make every output bit depend on every input bit through the
// S-box, and the keys (expanded from the SipHash key with SipHash itself)
// never leave the process; an attacker sees at most which ids share a slot,
// through timing, which is what the key hides. Four dependent instructions
// of a few cycles each cost about half of SipHash-1-3's chain on a 16-byte
// id, and more so when lookups overlap.
//
// The key never shows in any order: containers list entries in the order
// their history gave them (ordered_table.hpp), so the same history gives the
// same listings and bytes in processes with different keys.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "diff/little_endian.hpp"
#include "diff/node_id.hpp"

namespace quorl {

// Which function a key hashes with.
enum class HashKind : std::uint8_t { sip_1_3, aes_4 };

// True if this processor runs the AES rounds (checked once).
[[nodiscard]] bool processor_has_aes() noexcept;

struct HashKey {
  static constexpr int kAesRounds = 4;

  std::uint64_t first = 0;
  std::uint64_t second = 0;
  HashKind kind = HashKind::sip_1_3;
  // Round keys of the AES form, low and high halves: the whitening key,
  // then one per round.
  std::array<std::array<std::uint64_t, 2>, kAesRounds + 1> round_keys{};

  HashKey() noexcept = default;
  // A key hashing the fastest way this processor allows.
  HashKey(std::uint64_t first_word, std::uint64_t second_word) noexcept
      : HashKey(first_word, second_word,
                processor_has_aes() ? HashKind::aes_4 : HashKind::sip_1_3) {}
  HashKey(std::uint64_t first_word, std::uint64_t second_word, HashKind hash_kind) noexcept;
};

namespace detail {

constexpr std::uint64_t rotate_left(std::uint64_t value, int bits) noexcept {
  return (value << bits) | (value >> (64 - bits));
}

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  constexpr void round() noexcept {
    v0 += v1;
    v1 = rotate_left(v1, 13);
    v1 ^= v0;
    v0 = rotate_left(v0, 32);
    v2 += v3;
    v3 = rotate_left(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotate_left(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotate_left(v1, 17);
    v1 ^= v2;
    v2 = rotate_left(v2, 32);
  }

  constexpr void compress(std::uint64_t word) noexcept {
    v3 ^= word;
    round();
    v0 ^= word;
  }
};

// A fresh key from getrandom (falling back to the C++ random device, which
// reads the same source through another door).
HashKey random_hash_key();

}  // namespace detail

// SipHash-1-3 under `key` of 16 bytes given as two little-endian words,
// `low` (bytes 0-7) and `high` (bytes 8-15).
[[nodiscard]] constexpr std::uint64_t sip_hash_1_3(const HashKey& key, const std::uint64_t low,
                                                   const std::uint64_t high) noexcept {
  detail::SipState state{key.first ^ 0x736f6d6570736575ULL, key.second ^ 0x646f72616e646f6dULL,
                         key.first ^ 0x6c7967656e657261ULL, key.second ^ 0x7465646279746573ULL};
  state.compress(low);
  state.compress(high);
  state.compress(std::uint64_t{16} << 56);  // the message length, 16 bytes
  state.v2 ^= 0xff;
  state.round();
  state.round();
  state.round();
  return state.v0 ^ state.v1 ^ state.v2 ^ state.v3;
}

[[nodiscard]] inline std::uint64_t sip_hash_1_3(const HashKey& key, const NodeId& id) noexcept {
  // Little-endian words, so that the hash is one function on every host.
  return sip_hash_1_3(key, load_little_endian<std::uint64_t>(id.data()),
                      load_little_endian<std::uint64_t>(id.data() + 8));
}

// The AES form of the hash; only for a key of kind aes_4, on a processor
// that has the instructions.
[[nodiscard]] std::uint64_t aes_hash_4(const HashKey& key, const NodeId& id) noexcept;

// The hashes of `ids` under `key`, written to out[0] to out[ids.size() - 1]:
// the same values as keyed_id_hash, several in flight at once.
void keyed_id_hashes(const HashKey& key, std::span<const NodeId> ids, std::uint64_t* out) noexcept;

// The hash of `id` under `key`, in the key's kind.
[[nodiscard]] inline std::uint64_t keyed_id_hash(const HashKey& key, const NodeId& id) noexcept {
  return key.kind == HashKind::aes_4 ? aes_hash_4(key, id) : sip_hash_1_3(key, id);
}

// The key of this process, drawn on first use.
[[nodiscard]] inline const HashKey& process_hash_key() {
  static const HashKey key = detail::random_hash_key();
  return key;
}

// Supplies the process's key to SeededIdHash.
struct ProcessHashKey {
  static const HashKey& get() { return process_hash_key(); }
};

// The hash containers use: it holds no state, so a container (an edge group
// of a few ids) pays nothing to carry it. `KeySource::get()` gives the key;
// tests supply one of their own to hash under a key they choose.
template <class KeySource>
struct SeededIdHash {
  [[nodiscard]] std::size_t operator()(const NodeId& id) const noexcept {
    return static_cast<std::size_t>(keyed_id_hash(KeySource::get(), id));
  }

  // The hashes of many ids at once (see keyed_id_hashes).
  static void hash_many(std::span<const NodeId> ids, std::uint64_t* out) noexcept {
    keyed_id_hashes(KeySource::get(), ids, out);
  }
};

using IdHash = SeededIdHash<ProcessHashKey>;

}  // namespace quorl
