#include "constants/registry.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/panic.hpp"
#include "registry_expectations.hpp"

namespace norvel {
namespace {

using namespace std::string_literals;
using test_support::kSeedExpectations;
using test_support::kSortedSeedNames;

// Appended, not added: g++ 12 raises a false -Wrestrict on "k" + std::to_string(i).
std::string key(int i) { return std::string("k").append(std::to_string(i)); }

std::string not_found_text(const std::string& name) {
    return "constant `" + name + "` not found in registry";
}

// 0 stands for the process-wide shard count.
class SeededRegistryTest : public ::testing::TestWithParam<std::size_t> {
protected:
    FormulasRegistry registry = GetParam() == 0 ? FormulasRegistry() : FormulasRegistry(GetParam());
};

TEST_P(SeededRegistryTest, HoldsTheSeedTable) {
    if (GetParam() != 0) {
        EXPECT_EQ(registry.shard_count(), GetParam());
    }
    EXPECT_EQ(registry.len(), 17U);
    EXPECT_EQ(registry.names(), kSortedSeedNames);
    for (const auto& expected : kSeedExpectations) {
        SCOPED_TRACE(expected.name);
        test_support::expect_entry(registry.get(expected.name), expected);
        EXPECT_TRUE(test_support::same_bits(registry.value(expected.name), expected.value));
    }
}

TEST_P(SeededRegistryTest, NamesMatchOnlyByteForByte) {
    for (const std::string& name :
         {"N_GEN"s, ""s, "B3"s, " b3"s, "b3 "s, "b"s, "n_gen_sq_"s, "phi\0"s, "\xcf\x86"s}) {
        SCOPED_TRACE(name);
        const auto entry = registry.get(name);
        ASSERT_FALSE(entry.has_value());
        const auto* not_found = std::get_if<registry_error::NotFound>(&entry.error().kind());
        ASSERT_NE(not_found, nullptr);
        EXPECT_EQ(not_found->name, name);
        EXPECT_EQ(entry.error().text(), not_found_text(name));
        const auto value = registry.value(name);
        ASSERT_FALSE(value.has_value());
        EXPECT_EQ(value.error().text(), not_found_text(name));
    }
}

TEST_P(SeededRegistryTest, InsertReplacesAndHandsBackThePrevious) {
    const auto before = registry.get("n_gen_sq");
    ASSERT_TRUE(before.has_value());
    const std::optional<ConstantEntry> previous =
        registry.insert(ConstantEntry::seed("n_gen_sq", 9.0, "count"));
    ASSERT_TRUE(previous.has_value());
    EXPECT_EQ(*previous, *before);
    EXPECT_EQ(registry.get("n_gen_sq"), ConstantEntry::seed("n_gen_sq", 9.0, "count"));
    EXPECT_EQ(registry.len(), 17U);
    EXPECT_EQ(registry.names(), kSortedSeedNames);
}

TEST_P(SeededRegistryTest, OddNamesAreStoredAndSortedAsBytes) {
    // Upper case sorts before lower case, a prefix before its extensions (a
    // trailing zero byte included), and multi-byte UTF-8 after all of ASCII.
    for (const std::string& name :
         {"\xc3\xbcml"s, "B3"s, "two words"s, "grave`"s, "b3\0x"s, "b"s, "b3\0"s}) {
        EXPECT_FALSE(registry.insert(ConstantEntry::seed(name, 1.0, "count")).has_value());
        EXPECT_EQ(registry.get(name), ConstantEntry::seed(name, 1.0, "count"));
    }
    // clang-format off
    const std::vector<std::string> expected = {
        "B3"s, "b"s, "b3"s, "b3\0"s, "b3\0x"s, "chi_eff"s, "gamma_em"s, "grave`"s, "h0_central"s,
        "jc_constant"s, "logic_closure"s, "m_tau_mev"s, "n_gen"s, "n_gen_sq"s, "phi"s,
        "roots_total"s, "sterile_check"s, "sterile_sector"s, "topo_gen_check"s, "two words"s,
        "v_higgs_mev"s, "visible_sector"s, "w0_central"s, "\xc3\xbcml"s};
    // clang-format on
    EXPECT_EQ(registry.names(), expected);
    EXPECT_EQ(registry.len(), 24U);
}

TEST_P(SeededRegistryTest, LookupsHandOutCopies) {
    auto first = registry.get("sterile_check");
    first->dependencies.clear();
    first->expression.reset();
    test_support::expect_entry(registry.get("sterile_check"), kSeedExpectations[11]);
}

TEST_P(SeededRegistryTest, GrowsWellPastTheSeedTable) {
    FormulasRegistry grown = FormulasRegistry::empty(registry.shard_count());
    EXPECT_EQ(grown.len(), 0U);
    EXPECT_TRUE(grown.names().empty());
    constexpr int kCount = 1000;
    for (int i = 0; i < kCount; ++i) {
        grown.insert(ConstantEntry::seed(key(i), i, "count"));
    }
    for (int i = 0; i < kCount; i += 2) {
        const auto previous = grown.insert(ConstantEntry::seed(key(i), -i, "count"));
        ASSERT_TRUE(previous.has_value());
        EXPECT_EQ(previous->value, i);
    }
    EXPECT_EQ(grown.len(), std::size_t{kCount});
    const std::vector<std::string> names = grown.names();
    ASSERT_EQ(names.size(), std::size_t{kCount});
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(grown.value(key(i)), i % 2 == 0 ? -i : i);
    }
}

INSTANTIATE_TEST_SUITE_P(ShardCounts, SeededRegistryTest, ::testing::Values(0, 1, 4, 4096),
                         [](const auto& info) {
                             return info.param == 0 ? "Default"s : "S" + std::to_string(info.param);
                         });

TEST(FormulasRegistryTest, RegistriesAreIndependentYetAnswerAlike) {
    FormulasRegistry first;
    const FormulasRegistry second;
    EXPECT_EQ(first.names(), second.names());
    EXPECT_EQ(first.len(), second.len());
    for (const auto& expected : kSeedExpectations) {
        const auto a = first.get(expected.name);
        const auto b = second.get(expected.name);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(*a, *b);
    }
    first.insert(ConstantEntry::seed("b3", 0.0, "count"));
    EXPECT_EQ(second.value("b3"), 24.0);
}

TEST(FormulasRegistryTest, MovingKeepsTheEntries) {
    FormulasRegistry source(8);
    FormulasRegistry moved(std::move(source));
    EXPECT_EQ(moved.value("phi"), 1.618033988749895);
    FormulasRegistry assigned = FormulasRegistry::empty(4);
    assigned = std::move(moved);
    EXPECT_EQ(assigned.names(), kSortedSeedNames);
    EXPECT_EQ(assigned.shard_count(), 8U);
}

TEST(FormulasRegistryTest, DefaultShardCountIsTheSmallestPowerOfTwoCoveringFourPerProcessor) {
    const std::size_t processors = std::max(1U, std::thread::hardware_concurrency());
    const std::size_t shards = FormulasRegistry::default_shard_count();
    EXPECT_TRUE(std::has_single_bit(shards));
    EXPECT_GE(shards, 4 * processors);
    EXPECT_LT(shards, 8 * processors);
    EXPECT_EQ(FormulasRegistry().shard_count(), shards);
}

TEST(FormulasRegistryTest, ShardCountMustBeAPowerOfTwoNoLargerThan2To32) {
    std::vector<std::size_t> bad_counts = {0, 3, 6, 1000};
    // Refused before anything is allocated for it.
    if constexpr (sizeof(std::size_t) > 4) bad_counts.push_back(std::size_t{1} << 33);
    for (const std::size_t bad : bad_counts) {
        EXPECT_THROW(FormulasRegistry{bad}, Panic);
        EXPECT_THROW(FormulasRegistry::empty(bad), Panic);
    }
}

}  // namespace
}  // namespace norvel
