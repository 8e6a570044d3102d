// The Standard-Model quarks, held as literals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
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

class QuarkRegistry {
public:
    QuarkRegistry() = default;  // empty, with a freshly seeded map
    static QuarkRegistry standard_model();

    // Stores `quark` under a copy of its name, replacing any record of that name.
    void insert(Quark quark);
    std::size_t len() const noexcept { return map_.size(); }
    // Every name, sorted byte-wise.
    std::vector<std::string> names() const;
    const Quark* find(std::string_view name) const;

private:
    std::unordered_map<std::string, Quark, KeyedStringHash, std::equal_to<>> map_;
};

}  // namespace norvel
