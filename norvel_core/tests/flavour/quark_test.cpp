#include "flavour/quark.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace norvel {
namespace {

TEST(QuarkRegistry, StandardModelHoldsTheTableBitForBit) {
    const Quark expected[] = {
        {"up", 1, 12, 764.665760128228, 0.003105620015141857},
        {"down", 1, 11, 1237.2551899207474, 0.005024998740641489},
        {"strange", 2, 8, 5241.0970900186985, 0.02128623625220818},
        {"charm", 2, 5, 22201.643549995544, 0.09016994374947422},
        {"bottom", 3, 4, 35923.013870002665, 0.14589803375031543},
        {"top", 3, 0, 246220.0, 1.0},
    };
    const QuarkRegistry registry = QuarkRegistry::standard_model();
    EXPECT_EQ(registry.len(), 6u);
    for (const Quark& quark : expected) {
        const Quark* found = registry.find(quark.name);
        ASSERT_NE(found, nullptr) << quark.name;
        EXPECT_EQ(found->name, quark.name);
        EXPECT_EQ(found->generation, quark.generation) << quark.name;
        EXPECT_EQ(found->phi_exponent, quark.phi_exponent) << quark.name;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(found->mass_mev),
                  std::bit_cast<std::uint64_t>(quark.mass_mev))
            << quark.name;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(found->vev_fraction),
                  std::bit_cast<std::uint64_t>(quark.vev_fraction))
            << quark.name;
    }
    EXPECT_EQ(registry.names(),
              (std::vector<std::string>{"bottom", "charm", "down", "strange", "top", "up"}));
}

TEST(QuarkRegistry, LookupIsExactBytes) {
    const QuarkRegistry registry = QuarkRegistry::standard_model();
    EXPECT_EQ(registry.find("Up"), nullptr);
    EXPECT_EQ(registry.find("up "), nullptr);
    EXPECT_EQ(registry.find(""), nullptr);
}

TEST(QuarkRegistry, StartsEmpty) {
    const QuarkRegistry registry;
    EXPECT_EQ(registry.len(), 0u);
    EXPECT_TRUE(registry.names().empty());
    EXPECT_EQ(registry.find("up"), nullptr);
}

TEST(QuarkRegistry, InsertReplacesRecordOfTheSameName) {
    QuarkRegistry registry = QuarkRegistry::standard_model();
    const Quark replacement{"up", 3, 7, 1.5, 0.25};
    registry.insert(replacement);
    EXPECT_EQ(registry.len(), 6u);
    ASSERT_NE(registry.find("up"), nullptr);
    EXPECT_EQ(*registry.find("up"), replacement);
}

TEST(QuarkRegistry, NamesSortByteWiseWhateverTheInsertionOrder) {
    // A prefix, a capital and a non-ASCII name around the plain ones.
    std::array<std::string, 5> names = {"Top", "t", "top", "up", "\xc3\xbc"};
    const std::vector<std::string> sorted(names.begin(), names.end());
    ASSERT_TRUE(std::ranges::is_sorted(names));
    int orders = 0;
    do {
        QuarkRegistry registry;
        for (const std::string& name : names) registry.insert(Quark{.name = name});
        ASSERT_EQ(registry.names(), sorted);
        ASSERT_EQ(registry.len(), names.size());
        ++orders;
    } while (std::ranges::next_permutation(names).found);
    EXPECT_EQ(orders, 120);
}

// Past eight records an index takes over the search, and is rebuilt as it fills.
TEST(QuarkRegistry, FindsEveryRecordAroundTheIndexThresholds) {
    for (const int count : {8, 9, 17, 40}) {
        SCOPED_TRACE(count);
        QuarkRegistry registry;
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            names.push_back(std::string("q").append(std::to_string(i)));
            registry.insert(Quark{.name = names.back(), .phi_exponent = i});
        }
        registry.insert(Quark{.name = "q3", .phi_exponent = -3});
        EXPECT_EQ(registry.len(), names.size());
        for (int i = 0; i < count; ++i) {
            const Quark* found = registry.find(names[static_cast<std::size_t>(i)]);
            ASSERT_NE(found, nullptr) << i;
            EXPECT_EQ(found->phi_exponent, i == 3 ? -3 : i);
        }
        EXPECT_EQ(registry.find(std::string("q").append(std::to_string(count))), nullptr);
        std::ranges::sort(names);
        EXPECT_EQ(registry.names(), names);
    }
}

}  // namespace
}  // namespace norvel
