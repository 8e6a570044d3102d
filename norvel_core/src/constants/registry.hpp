// FormulasRegistry: the named constants, in a store split into shards that
// each sit behind their own reader-writer lock. Lookups copy entries out so
// no lock outlives a call.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/keyed_hash.hpp"
#include "constants/entry.hpp"

namespace norvel {

class FormulasRegistry {
public:
    // A registry holding the 17 entries of the seed table, with the process-wide
    // shard count or with `shard_count` shards (a power of two, at least 1).
    FormulasRegistry();
    explicit FormulasRegistry(std::size_t shard_count);

    // An empty registry, for tests and benchmarks.
    static FormulasRegistry empty(std::size_t shard_count);

    FormulasRegistry(FormulasRegistry&&) noexcept;
    FormulasRegistry& operator=(FormulasRegistry&&) noexcept;
    FormulasRegistry(const FormulasRegistry&) = delete;
    FormulasRegistry& operator=(const FormulasRegistry&) = delete;
    ~FormulasRegistry();

    // Stores `entry` under its name; hands back the entry it replaced, if any.
    std::optional<ConstantEntry> insert(ConstantEntry&& entry);
    std::optional<ConstantEntry> insert(const ConstantEntry& entry) {
        return insert(ConstantEntry(entry));
    }
    // A deep copy of the entry stored under `name`, or NotFound.
    std::expected<ConstantEntry, RegistryError> get(std::string_view name) const;
    // Only the value, for callers that need nothing else (no copy of the texts).
    std::expected<double, RegistryError> value(std::string_view name) const;
    // Every name, sorted byte-wise.
    std::vector<std::string> names() const;
    // The same as views of the stored keys, valid until the registry changes.
    std::vector<std::string_view> name_views() const;
    std::size_t len() const;

    std::size_t shard_count() const noexcept;

    // Smallest power of two >= 4 x logical processors (1 when unknown),
    // computed once per process.
    static std::size_t default_shard_count();

private:
    struct Store;
    FormulasRegistry(std::size_t shard_count, bool seeded);
    std::unique_ptr<Store> store_;
};

}  // namespace norvel
