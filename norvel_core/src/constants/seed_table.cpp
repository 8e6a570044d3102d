// The seed table. Pending constants keep their derivation as text; those known
// only as a number hold its shortest plain decimal text (246220.0, 70.0, -1.0
// and 1776.86 read back from these exactly).
#include "constants/seed_table.hpp"

#include <array>

namespace norvel {
namespace {

constexpr std::string_view kSterileDependencies[] = {"roots_total", "visible_sector"};
constexpr std::string_view kNGenDependencies[] = {"n_gen"};
constexpr std::string_view kTopoDependencies[] = {"chi_eff", "b3"};

constexpr SeedRow seed(std::string_view name, double value, std::string_view units) {
    return {name, value, units, ConstantStatus::Seed, {}, {}};
}

constexpr SeedRow pending(std::string_view name, std::string_view expression,
                          std::string_view units,
                          std::span<const std::string_view> dependencies = {}) {
    return {name, 0.0, units, ConstantStatus::Pending, expression, dependencies};
}

constexpr std::array<SeedRow, kSeedTableSize> kRows{
    seed("b3", 24.0, "dimensionless"),
    seed("chi_eff", 72.0, "dimensionless"),
    seed("n_gen", 3.0, "count"),
    seed("roots_total", 288.0, "count"),
    seed("visible_sector", 125.0, "count"),
    seed("sterile_sector", 163.0, "count"),
    seed("phi", 1.618033988749895, "dimensionless"),
    seed("gamma_em", 0.5772156649015329, "dimensionless"),
    seed("jc_constant", 153.0, "count"),
    seed("logic_closure", 288.0, "count"),
    pending("v_higgs_mev", "246220", "MeV"),
    pending("sterile_check", "roots_total - visible_sector", "count", kSterileDependencies),
    pending("n_gen_sq", "n_gen * n_gen", "count", kNGenDependencies),
    pending("h0_central", "70", "km/s/Mpc"),
    pending("w0_central", "-1", "dimensionless"),
    pending("m_tau_mev", "1776.86", "MeV"),
    pending("topo_gen_check", "chi_eff / b3", "count", kTopoDependencies),
};

}  // namespace

std::span<const SeedRow, kSeedTableSize> seed_table() { return kRows; }

}  // namespace norvel
