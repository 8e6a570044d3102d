#include "constants/entry.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace norvel {
namespace {

using namespace std::string_literals;

TEST(ConstantStatusTest, TextFormIsTheBareEnumeratorName) {
    EXPECT_EQ(to_text(ConstantStatus::Seed), "Seed");
    EXPECT_EQ(to_text(ConstantStatus::Cached), "Cached");
    EXPECT_EQ(to_text(ConstantStatus::Pending), "Pending");
    EXPECT_EQ(to_text(ConstantStatus::External), "External");
}

TEST(RegistryErrorTest, TextFormsInsertFieldsVerbatim) {
    namespace e = registry_error;
    const std::error_code enoent = std::make_error_code(std::errc::no_such_file_or_directory);
    const struct {
        RegistryError error;
        std::string text;
    } cases[] = {
        {e::NotFound{"phi"}, "constant `phi` not found in registry"},
        {e::NotFound{""}, "constant `` not found in registry"},
        {e::NotFound{" two  words "}, "constant ` two  words ` not found in registry"},
        {e::NotFound{"a`b``"}, "constant `a`b``` not found in registry"},
        {e::NotFound{"\u03c6_\u00fc\U0001f600"},
         "constant `\xcf\x86_\xc3\xbc\xf0\x9f\x98\x80` not found in registry"},
        {e::NotFound{"nul\0byte"s}, "constant `nul\0byte` not found in registry"s},
        {e::NotImplemented{"n_gen_sq"},
         "derivation of `n_gen_sq` is not yet implemented in norvel_core"},
        {e::LoadFailed{"seed.json", enoent},
         "failed to load constants from `seed.json`: " + enoent.message()},
        {e::InvalidSchema{"seed.json"}, "invalid JSON schema in `seed.json`"},
        {e::CyclicDerivation{"a\nb"}, "cyclic derivation involving `a\nb`"},
        {e::ExpressionParse{"n_gen *", "unexpected end"},
         "expression parse error in `n_gen *`: unexpected end"},
        {e::ExpressionParse{"", ""}, "expression parse error in ``: "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.text(), c.text);
    }
    EXPECT_FALSE(enoent.message().empty());
}

TEST(ConstantEntryTest, CopiesAreDeepAndKeepAbsenceApartFromEmptiness) {
    const ConstantEntry seed = ConstantEntry::seed("phi", 1.618033988749895, "dimensionless");
    const ConstantEntry empty = ConstantEntry::pending("x", "", "count");
    const ConstantEntry pending =
        ConstantEntry::pending("d", "c + b + a", "count", {"c", "b", "a"});

    EXPECT_EQ(ConstantEntry(seed).expression, std::nullopt);
    EXPECT_EQ(ConstantEntry(empty).expression, std::optional<std::string>(""));

    ConstantEntry copy = pending;
    EXPECT_EQ(copy.dependencies, (std::vector<std::string>{"c", "b", "a"}));
    copy.dependencies.pop_back();
    copy.expression->clear();
    EXPECT_EQ(pending.dependencies, (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_EQ(pending.expression, "c + b + a");
}

}  // namespace
}  // namespace norvel
