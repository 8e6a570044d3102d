// Keyed hashing for the registries' maps: SipHash-1-3 over a 128-bit key that
// each map draws at random, so no caller can choose names that collide.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvel {

struct HashKey {
    std::uint64_t k0 = 0;
    std::uint64_t k1 = 0;
};

// SipHash with c compression and d finalisation rounds (SipHash-c-d). The key
// and the message are read as little-endian words whatever the host's byte
// order. Instantiated for 1-3 (the registries) and 2-4.
template <int C, int D>
std::uint64_t siphash(const HashKey& key, std::string_view bytes) noexcept;

// The hash the registries use: SipHash-1-3.
std::uint64_t keyed_hash(const HashKey& key, std::string_view bytes) noexcept;

// The key whose 16 bytes start at `bytes`, read as two little-endian words,
// as the SipHash reference reads its key.
HashKey hash_key_from_bytes(const char* bytes) noexcept;

// A fresh key. The first call on each thread seeds a per-thread generator from
// the operating system's random source; later keys are derived from it.
HashKey fresh_hash_key();

}  // namespace norvel
