// The sharded store behind FormulasRegistry.
//
// Each shard is a reader-writer lock and a table behind it: a chain of nodes
// and the chain's length. A name's hash under the registry's key picks
// the shard (high half) and is kept in the node, so a chain is searched by
// hash first. Lookups and listings take the shard's read lock, insert its
// write lock; no operation holds two.
//
// Registries are built and dropped on every call of some module functions,
// and the shard count grows with the machine. So a store is one allocation
// holding its shards and the seeded nodes, the seeded nodes borrow their texts
// from the process-wide seed table (only inserted entries own copies), and the
// cost of an empty shard is kept to the few bytes a build must clear.
#include "constants/registry.hpp"

#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
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
    // Set on the store's own seeded nodes, and only on them: a seeded node
    // whose entry was replaced still belongs to the store, not to its chain.
    const SeedRow* seed = nullptr;
    std::unique_ptr<ConstantEntry> owned;  // the entry, once inserted rather than seeded

    // The key is the entry's name; a replacing entry matched it byte for byte.
    std::string_view key() const noexcept { return owned ? owned->name : seed->name; }
    ConstantEntry entry() const {
        if (owned) return *owned;
        const bool pending = seed->status == ConstantStatus::Pending;
        return {.name = std::string(seed->name),
                .value = seed->value,
                .units = std::string(seed->units),
                .uncertainty = std::nullopt,
                .status = seed->status,
                .expression = pending ? std::optional(std::string(seed->expression)) : std::nullopt,
                .dependencies = {seed->dependencies.begin(), seed->dependencies.end()}};
    }
    double value() const noexcept { return owned ? owned->value : seed->value; }
};

// A shard's entries: a chain of nodes and its length. The count is one word
// that changes only under the shard's write lock, so one atomic load of it
// reads what the read lock would show.
struct Table {
    Node* chain;
    std::uint32_t entries;

    std::atomic_ref<std::uint32_t> count() noexcept { return std::atomic_ref(entries); }
};

[[gnu::cold, gnu::noinline]] std::unexpected<RegistryError> not_found(std::string_view name) {
    return std::unexpected(RegistryError(registry_error::NotFound{std::string(name)}));
}

constexpr std::size_t words_for(std::size_t shard_count) { return (shard_count + 63) / 64; }

}  // namespace

// One block: this header, the tables, then the occupied bits and the locks.
// Only the bits and the locks are cleared, four bytes and a bit a shard: a
// table is read only once bit i says shard i holds an entry. That keeps
// building 4096 shards within twice the cost of building 8.
struct FormulasRegistry::Store {
    static std::unique_ptr<Store> make(std::size_t shard_count) {
        const HashKey key = fresh_hash_key();  // may panic, so drawn before the block is made
        const std::size_t bytes =
            sizeof(Store) + shard_count * sizeof(Table) + cleared(shard_count);
        return std::unique_ptr<Store>(::new (::operator new(bytes)) Store(key, shard_count));
    }
    // The block goes with the store.
    void operator delete(Store* store, std::destroying_delete_t) noexcept {
        store->~Store();
        ::operator delete(static_cast<void*>(store));
    }

    ~Store() {
        // Only inserted nodes are freed one by one; none of the registries the
        // module builds takes an insert, so their teardown sweeps nothing.
        if (!inserted.load(std::memory_order_relaxed)) return;
        for_each_occupied([this](std::size_t i) {
            for (Node* node = tables[i].chain; node != nullptr;) {
                Node* const next = node->next;
                if (node->seed == nullptr) delete node;
                node = next;
            }
        });
    }
    Store(const Store&) = delete;

    std::size_t shard_of(std::uint64_t hash) const noexcept {
        return static_cast<std::size_t>(hash >> 32) & mask;
    }
    // Bits of different shards share a word but not a lock: always atomic.
    std::atomic_ref<std::uint64_t> bits(std::size_t w) const noexcept {
        return std::atomic_ref(occupied[w]);
    }

    // `read` of the node stored under `name`, made under the shard's read
    // lock so that no lock outlives the call; or NotFound.
    template <typename Read>
    auto lookup(std::string_view name, Read&& read) const
        -> std::expected<decltype(read(std::declval<const Node&>())), RegistryError> {
        const std::uint64_t hash = keyed_hash(key, name);
        const std::size_t i = shard_of(hash);
        {
            std::shared_lock guard(locks[i]);
            if (const Node* node = find(i, hash, name)) return read(*node);
        }
        return not_found(name);
    }

    // The rest is for holders of shard i's lock, or the builder of a registry
    // no other thread sees yet. Bit i changes only under that lock.
    bool occupies(std::size_t i) const noexcept {
        return (bits(i / 64).load(std::memory_order_acquire) >> (i % 64) & 1) != 0;
    }
    Node* find(std::size_t i, std::uint64_t hash, std::string_view name) const noexcept {
        if (!occupies(i)) return nullptr;
        for (Node* node = tables[i].chain; node != nullptr; node = node->next) {
            if (node->hash == hash && node->key() == name) return node;
        }
        return nullptr;
    }
    void link(std::size_t i, Node* node) noexcept {
        Table& table = tables[i];
        const std::uint32_t count = occupies(i) ? table.count().load(std::memory_order_relaxed) : 0;
        node->next = count == 0 ? nullptr : table.chain;
        table.chain = node;
        table.count().store(count + 1, std::memory_order_relaxed);
        if (count != 0) return;
        bits(i / 64).fetch_or(std::uint64_t{1} << (i % 64), std::memory_order_release);
    }

    // Visits the shards that hold entries, in index order. The occupied bits
    // lead straight to them, so a sweep costs the same at 512 shards as at 8.
    template <typename Visit>
    void for_each_occupied(Visit&& visit) const {
        for (std::size_t w = 0; w < words_for(mask + 1); ++w) {
            for (std::uint64_t b = bits(w).load(std::memory_order_acquire); b != 0; b &= b - 1) {
                visit(64 * w + static_cast<std::size_t>(std::countr_zero(b)));
            }
        }
    }

    const HashKey key;
    const std::size_t mask;
    Table* const tables;  // shard i is tables[i] behind locks[i]
    std::uint64_t* const occupied;
    RwLock* const locks;
    std::array<Node, kSeedTableSize> seeded;
    std::atomic<bool> inserted{false};

private:
    static std::size_t cleared(std::size_t shard_count) {
        return words_for(shard_count) * sizeof(std::uint64_t) + shard_count * sizeof(RwLock);
    }
    Store(HashKey key, std::size_t shard_count) noexcept
        : key(key),
          mask(shard_count - 1),
          tables(reinterpret_cast<Table*>(this + 1)),
          occupied(reinterpret_cast<std::uint64_t*>(tables + shard_count)),
          locks(reinterpret_cast<RwLock*>(occupied + words_for(shard_count))) {
        std::memset(occupied, 0, cleared(shard_count));
    }
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
    store_ = Store::make(shard_count);
    if (!seeded) return;
    // The seed names are distinct, so each row links a node of its own; no
    // other thread can see the registry yet, so no lock is taken.
    for (std::size_t i = 0; i < kSeedTableSize; ++i) {
        const SeedRow& row = seed_table()[i];
        Node& node = store_->seeded[i];
        node.hash = keyed_hash(store_->key, row.name);
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
    store.inserted.store(true, std::memory_order_relaxed);
    auto* const node = new Node;
    node->hash = hash;
    node->owned = std::move(fresh);
    store.link(i, node);
    return std::nullopt;
}

std::expected<ConstantEntry, RegistryError> FormulasRegistry::get(std::string_view name) const {
    return store_->lookup(name, [](const Node& node) { return node.entry(); });
}

std::expected<double, RegistryError> FormulasRegistry::value(std::string_view name) const {
    return store_->lookup(name, [](const Node& node) { return node.value(); });
}

std::vector<std::string_view> FormulasRegistry::name_views() const {
    std::vector<std::string_view> views;
    views.reserve(kSeedTableSize);
    store_->for_each_occupied([this, &views](std::size_t i) {
        std::shared_lock guard(store_->locks[i]);
        for (const Node* node = store_->tables[i].chain; node != nullptr; node = node->next) {
            views.push_back(node->key());
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
    store_->for_each_occupied([this, &total](std::size_t i) {
        total += store_->tables[i].count().load(std::memory_order_relaxed);
    });
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
