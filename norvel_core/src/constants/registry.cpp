// The sharded store behind FormulasRegistry.
//
// Each shard is a reader-writer lock and a table behind it: a chain of nodes
// and the chain's length. A name's hash under the registry's key picks
// the shard (high half) and is kept in the node, so a chain is searched by
// hash first. Lookups and listings take the shard's read lock, insert its
// write lock; no operation holds two.
//
// Registries are built and dropped on every call of some module functions,
// and the shard count grows with the machine. So the seeded nodes sit in the
// store's own allocation and borrow their texts from the process-wide seed
// table (only inserted entries own copies), and the cost of an empty shard is
// kept to the few bytes a build must clear.
#include "constants/registry.hpp"

#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <utility>

#include "common/panic.hpp"
#include "common/sorted.hpp"
#include "constants/rw_lock.hpp"
#include "constants/seed_table.hpp"

namespace norvel {

namespace {

struct Node {
    Node* next = nullptr;  // the next node in the shard's chain
    std::uint64_t hash = 0;
    std::string key;  // stays as first stored: a replacing entry matched it byte for byte
    // Set on the store's own seeded nodes, and only on them: a seeded node
    // whose entry was replaced still belongs to the store, not to its chain.
    const SeedRow* seed = nullptr;
    std::unique_ptr<ConstantEntry> owned;  // the entry, once inserted rather than seeded

    ConstantEntry entry() const {
        if (owned) return *owned;
        ConstantEntry copy;
        copy.name = key;
        copy.value = seed->value;
        copy.units = seed->units;
        copy.status = seed->status;
        if (seed->status == ConstantStatus::Pending) copy.expression.emplace(seed->expression);
        copy.dependencies.assign(seed->dependencies.begin(), seed->dependencies.end());
        return copy;
    }
    double value() const noexcept { return owned ? owned->value : seed->value; }
};

// A shard's entries: a chain of nodes and its length.
struct Table {
    Node* chain;
    std::uint32_t count;
};

[[gnu::cold, gnu::noinline]] std::unexpected<RegistryError> not_found(std::string_view name) {
    return std::unexpected(RegistryError(registry_error::NotFound{std::string(name)}));
}

}  // namespace

struct FormulasRegistry::Store {
    explicit Store(std::size_t shard_count)
        : key(fresh_hash_key()),
          mask(shard_count - 1),
          locks(std::make_unique_for_overwrite<RwLock[]>(shard_count)),
          tables(std::make_unique_for_overwrite<Table[]>(shard_count)),
          occupied(std::make_unique<std::atomic<std::uint64_t>[]>(words())) {
        // Value-initialising the array compiles to a loop of stores that takes
        // several times as long as memset at 4096 shards.
        std::memset(locks.get(), 0, shard_count * sizeof(RwLock));
    }

    ~Store() {
        for_each_occupied([this](std::size_t i) {
            for (Node* node = tables[i].chain; node != nullptr;) {
                Node* const next = node->next;
                if (node->seed == nullptr) delete node;
                node = next;
            }
        });
    }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    std::size_t shard_of(std::uint64_t hash) const noexcept {
        return static_cast<std::size_t>(hash >> 32) & mask;
    }
    std::size_t words() const noexcept { return (mask + 64) / 64; }

    // The rest is for holders of shard i's lock, or the builder of a registry
    // no other thread sees yet. Bit i changes only under that lock.
    bool occupies(std::size_t i) const noexcept {
        return (occupied[i / 64].load(std::memory_order_relaxed) >> (i % 64) & 1) != 0;
    }
    Node* find(std::size_t i, std::uint64_t hash, std::string_view name) const noexcept {
        if (!occupies(i)) return nullptr;
        for (Node* node = tables[i].chain; node != nullptr; node = node->next) {
            if (node->hash == hash && node->key == name) return node;
        }
        return nullptr;
    }
    void link(std::size_t i, Node* node) noexcept {
        Table& table = tables[i];
        if (occupies(i)) {
            node->next = table.chain;
            table = {node, table.count + 1};
            return;
        }
        node->next = nullptr;
        table = {node, 1};
        occupied[i / 64].fetch_or(std::uint64_t{1} << (i % 64), std::memory_order_relaxed);
    }

    // Visits the shards that hold entries, in index order. The occupied bits
    // lead straight to them, so a sweep costs the same at 512 shards as at 8.
    template <typename Visit>
    void for_each_occupied(Visit&& visit) const {
        for (std::size_t w = 0; w < words(); ++w) {
            for (std::uint64_t bits = occupied[w].load(std::memory_order_relaxed); bits != 0;
                 bits &= bits - 1) {
                visit(64 * w + static_cast<std::size_t>(std::countr_zero(bits)));
            }
        }
    }
    // The same, each shard under its read lock.
    template <typename Visit>
    void sweep(Visit&& visit) const {
        for_each_occupied([this, &visit](std::size_t i) {
            std::shared_lock guard(locks[i]);
            visit(tables[i]);
        });
    }

    const HashKey key;
    const std::size_t mask;
    // Shard i is locks[i] and tables[i]. Only the locks are cleared when a
    // store is made, four bytes a shard: a table is read only once bit i of
    // `occupied` says the shard holds an entry. That keeps building 4096
    // shards within twice the cost of building 8.
    const std::unique_ptr<RwLock[]> locks;
    const std::unique_ptr<Table[]> tables;
    // Set by inserts into different shards under different locks, hence atomic.
    const std::unique_ptr<std::atomic<std::uint64_t>[]> occupied;
    std::array<Node, kSeedTableSize> seeded;
};

FormulasRegistry::FormulasRegistry() : FormulasRegistry(default_shard_count(), true) {}

FormulasRegistry::FormulasRegistry(std::size_t shard_count) : FormulasRegistry(shard_count, true) {}

FormulasRegistry FormulasRegistry::empty(std::size_t shard_count) {
    return FormulasRegistry(shard_count, false);
}

FormulasRegistry::FormulasRegistry(std::size_t shard_count, bool seeded) {
    // The shard index comes from the hash's high 32 bits.
    if (!std::has_single_bit(shard_count) || shard_count > (std::size_t{1} << 32)) {
        panic("registry shard count must be a power of two no larger than 2^32");
    }
    store_ = std::make_unique<Store>(shard_count);
    if (!seeded) return;
    // The seed names are distinct, so each row links a node of its own; no
    // other thread can see the registry yet, so no lock is taken.
    for (std::size_t i = 0; i < kSeedTableSize; ++i) {
        const SeedRow& row = seed_table()[i];
        Node& node = store_->seeded[i];
        node.hash = keyed_hash(store_->key, row.name);
        node.key = row.name;
        node.seed = &row;
        store_->link(store_->shard_of(node.hash), &node);
    }
}

FormulasRegistry::FormulasRegistry(FormulasRegistry&&) noexcept = default;
FormulasRegistry& FormulasRegistry::operator=(FormulasRegistry&&) noexcept = default;
FormulasRegistry::~FormulasRegistry() = default;

std::optional<ConstantEntry> FormulasRegistry::insert(ConstantEntry&& entry) {
    Store& store = *store_;
    const std::uint64_t hash = keyed_hash(store.key, entry.name);
    const std::size_t i = store.shard_of(hash);
    auto fresh = std::make_unique<ConstantEntry>(std::move(entry));
    std::lock_guard guard(store.locks[i]);
    if (Node* node = store.find(i, hash, fresh->name)) {
        std::optional<ConstantEntry> previous = node->entry();
        node->owned = std::move(fresh);
        return previous;
    }
    auto* const node = new Node;
    node->hash = hash;
    node->key = fresh->name;
    node->owned = std::move(fresh);
    store.link(i, node);
    return std::nullopt;
}

std::expected<ConstantEntry, RegistryError> FormulasRegistry::get(std::string_view name) const {
    const std::uint64_t hash = keyed_hash(store_->key, name);
    const std::size_t i = store_->shard_of(hash);
    {
        std::shared_lock guard(store_->locks[i]);
        // The copy is made before the guard lets go.
        if (const Node* node = store_->find(i, hash, name)) return node->entry();
    }
    return not_found(name);
}

std::expected<double, RegistryError> FormulasRegistry::value(std::string_view name) const {
    const std::uint64_t hash = keyed_hash(store_->key, name);
    const std::size_t i = store_->shard_of(hash);
    {
        std::shared_lock guard(store_->locks[i]);
        if (const Node* node = store_->find(i, hash, name)) return node->value();
    }
    return not_found(name);
}

std::vector<std::string_view> FormulasRegistry::name_views() const {
    std::vector<std::string_view> views;
    views.reserve(kSeedTableSize);
    store_->sweep([&views](const Table& table) {
        for (const Node* node = table.chain; node != nullptr; node = node->next) {
            views.push_back(node->key);
        }
    });
    sort_bytewise(views);
    return views;
}

std::vector<std::string> FormulasRegistry::names() const {
    const std::vector<std::string_view> views = name_views();
    return {views.begin(), views.end()};
}

std::size_t FormulasRegistry::len() const {
    std::size_t total = 0;
    store_->sweep([&total](const Table& table) { total += table.count; });
    return total;
}

std::size_t FormulasRegistry::shard_count() const noexcept { return store_->mask + 1; }

std::size_t FormulasRegistry::default_shard_count() {
    static const std::size_t count = [] {
        const unsigned reported = std::thread::hardware_concurrency();
        const std::size_t processors = reported == 0 ? 1 : reported;
        return std::bit_ceil(4 * processors);
    }();
    return count;
}

}  // namespace norvel
