// What every fresh registry must hold, written out independently of the seed
// table's source.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "constants/entry.hpp"

namespace norvel::test_support {

struct SeedExpectation {
    std::string name;
    double value;
    std::string units;
    ConstantStatus status;
    std::optional<std::string> expression;
    std::vector<std::string> dependencies;

    ConstantEntry entry() const {
        return ConstantEntry{name, value, units, std::nullopt, status, expression, dependencies};
    }
};

inline const std::vector<SeedExpectation> kSeedExpectations = {
    {"b3", 24.0, "dimensionless", ConstantStatus::Seed, std::nullopt, {}},
    {"chi_eff", 72.0, "dimensionless", ConstantStatus::Seed, std::nullopt, {}},
    {"n_gen", 3.0, "count", ConstantStatus::Seed, std::nullopt, {}},
    {"roots_total", 288.0, "count", ConstantStatus::Seed, std::nullopt, {}},
    {"visible_sector", 125.0, "count", ConstantStatus::Seed, std::nullopt, {}},
    {"sterile_sector", 163.0, "count", ConstantStatus::Seed, std::nullopt, {}},
    {"phi", 1.618033988749895, "dimensionless", ConstantStatus::Seed, std::nullopt, {}},
    {"gamma_em", 0.5772156649015329, "dimensionless", ConstantStatus::Seed, std::nullopt, {}},
    {"jc_constant", 153.0, "count", ConstantStatus::Seed, std::nullopt, {}},
    {"logic_closure", 288.0, "count", ConstantStatus::Seed, std::nullopt, {}},
    {"v_higgs_mev", 0.0, "MeV", ConstantStatus::Pending, "246220", {}},
    {"sterile_check",
     0.0,
     "count",
     ConstantStatus::Pending,
     "roots_total - visible_sector",
     {"roots_total", "visible_sector"}},
    {"n_gen_sq", 0.0, "count", ConstantStatus::Pending, "n_gen * n_gen", {"n_gen"}},
    {"h0_central", 0.0, "km/s/Mpc", ConstantStatus::Pending, "70", {}},
    {"w0_central", 0.0, "dimensionless", ConstantStatus::Pending, "-1", {}},
    {"m_tau_mev", 0.0, "MeV", ConstantStatus::Pending, "1776.86", {}},
    {"topo_gen_check", 0.0, "count", ConstantStatus::Pending, "chi_eff / b3", {"chi_eff", "b3"}},
};

inline const std::vector<std::string> kSortedSeedNames = {
    "b3",
    "chi_eff",
    "gamma_em",
    "h0_central",
    "jc_constant",
    "logic_closure",
    "m_tau_mev",
    "n_gen",
    "n_gen_sq",
    "phi",
    "roots_total",
    "sterile_check",
    "sterile_sector",
    "topo_gen_check",
    "v_higgs_mev",
    "visible_sector",
    "w0_central",
};

inline bool same_bits(const std::expected<double, RegistryError>& got, double expected) {
    return got && std::bit_cast<std::uint64_t>(*got) == std::bit_cast<std::uint64_t>(expected);
}

inline void expect_entry(const std::expected<ConstantEntry, RegistryError>& got,
                         const SeedExpectation& expected) {
    ASSERT_TRUE(got.has_value()) << got.error().text();
    EXPECT_EQ(*got, expected.entry());
    EXPECT_TRUE(same_bits(got->value, expected.value)) << got->value;
}

}  // namespace norvel::test_support
