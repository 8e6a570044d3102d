// The Standard-Model quarks, held as literals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/keyed_hash.hpp"

namespace norvel {

struct Quark {
    std::string name;
    std::uint8_t generation = 0;
    std::int32_t phi_exponent = 0;
    double mass_mev = 0.0;
    double vev_fraction = 0.0;

    bool operator==(const Quark&) const = default;
};

// A keyed hash map laid out flat: the records sit in one array with their
// hashes beside them, searched by hash first. Past a few records an
// open-addressed index of slot numbers takes over the search.
class QuarkRegistry {
public:
    QuarkRegistry() = default;  // empty; the map's key is drawn with the first record
    static QuarkRegistry standard_model();

    // Stores `quark` under a copy of its name, replacing any record of that name.
    void insert(Quark quark);
    std::size_t len() const noexcept { return slots_.size(); }
    // Every name, sorted byte-wise.
    std::vector<std::string> names() const;
    // The same as views of the stored keys, valid until the registry changes.
    std::vector<std::string_view> name_views() const;
    const Quark* find(std::string_view name) const;

private:
    struct Slot {
        std::uint64_t hash;
        std::string key;
        Quark quark;
    };
    static constexpr std::size_t kScanMax = 8;

    std::size_t slot_of(std::uint64_t hash, std::string_view name) const noexcept;
    void reindex();

    // Drawn fresh when the first record arrives: no name is hashed before
    // then, and an empty registry (all that PyQuarkRegistry() makes) never needs one.
    HashKey key_;
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> index_;  // slot + 1, or 0 when free; empty while scanning
};

}  // namespace norvel
