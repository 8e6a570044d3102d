// The seed table. Pending constants keep their derivation as text; those known
// only as a number hold its plain decimal text, written from the double so the
// text can never drift from the value it stands for.
#include "constants/seed_table.hpp"

#include <string>

#include "common/decimal.hpp"
#include "constants/registry.hpp"

namespace norvel {
namespace {

// The texts depend only on their doubles, so they are written once per process.
struct NumberTexts {
    std::string v_higgs = plain_decimal(246220.0);
    std::string h0 = plain_decimal(70.0);
    std::string w0 = plain_decimal(-1.0);
    std::string m_tau = plain_decimal(1776.86);
};

const NumberTexts& number_texts() {
    static const NumberTexts texts;
    return texts;
}

}  // namespace

void insert_seed_table(FormulasRegistry& registry) {
    const NumberTexts& numbers = number_texts();
    registry.insert(ConstantEntry::seed("b3", 24.0, "dimensionless"));
    registry.insert(ConstantEntry::seed("chi_eff", 72.0, "dimensionless"));
    registry.insert(ConstantEntry::seed("n_gen", 3.0, "count"));
    registry.insert(ConstantEntry::seed("roots_total", 288.0, "count"));
    registry.insert(ConstantEntry::seed("visible_sector", 125.0, "count"));
    registry.insert(ConstantEntry::seed("sterile_sector", 163.0, "count"));
    registry.insert(ConstantEntry::seed("phi", 1.618033988749895, "dimensionless"));
    registry.insert(ConstantEntry::seed("gamma_em", 0.5772156649015329, "dimensionless"));
    registry.insert(ConstantEntry::seed("jc_constant", 153.0, "count"));
    registry.insert(ConstantEntry::seed("logic_closure", 288.0, "count"));

    registry.insert(ConstantEntry::pending("v_higgs_mev", numbers.v_higgs, "MeV"));
    registry.insert(ConstantEntry::pending("sterile_check", "roots_total - visible_sector", "count",
                                           {"roots_total", "visible_sector"}));
    registry.insert(ConstantEntry::pending("n_gen_sq", "n_gen * n_gen", "count", {"n_gen"}));
    registry.insert(ConstantEntry::pending("h0_central", numbers.h0, "km/s/Mpc"));
    registry.insert(ConstantEntry::pending("w0_central", numbers.w0, "dimensionless"));
    registry.insert(ConstantEntry::pending("m_tau_mev", numbers.m_tau, "MeV"));
    registry.insert(
        ConstantEntry::pending("topo_gen_check", "chi_eff / b3", "count", {"chi_eff", "b3"}));
}

}  // namespace norvel
