// The constants every registry starts with.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "constants/entry.hpp"

namespace norvel {

inline constexpr std::size_t kSeedTableSize = 17;

// One row of the seed table. Its texts live for the whole process, so a
// registry can point at them instead of copying them.
struct SeedRow {
    std::string_view name;
    double value;
    std::string_view units;
    ConstantStatus status;
    std::string_view expression;  // only for Pending rows
    std::span<const std::string_view> dependencies;
};

// The rows in table order.
std::span<const SeedRow, kSeedTableSize> seed_table();

}  // namespace norvel
