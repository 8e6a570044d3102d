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

// A shard's entries: a chain of nodes and its length.
struct Table {
    Node* chain;
    std::uint32_t count;
};

[[gnu::cold, gnu::noinline]] std::unexpected<RegistryError> not_found(std::string_view name) {
    return std::unexpected(RegistryError(registry_error::NotFound{std::string(name)}));
}

constexpr std::size_t round_up(std::size_t n, std::size_t align) {
    return (n + align - 1) / align * align;
}

}  // namespace

// One block: this header, the occupied bits and the locks (cleared together,
// four bytes and a bit a shard), then the tables, which are never cleared: a
// table is read only once bit i of `occupied` says shard i holds an entry.
// That keeps building 4096 shards within twice the cost of building 8.
struct FormulasRegistry::Store {
    static std::unique_ptr<Store> make(std::size_t shard_count) {
        const HashKey key = fresh_hash_key();  // may panic, so drawn before the block is made
        const std::size_t words = (shard_count + 63) / 64;
        const std::size_t locks_at = sizeof(Store) + words * sizeof(std::uint64_t);
        const std::size_t tables_at = round_up(locks_at + shard_count * sizeof(RwLock), 8);
        auto* const block =
            static_cast<std::byte*>(::operator new(tables_at + shard_count * sizeof(Table)));
        std::memset(block + sizeof(Store), 0, locks_at - sizeof(Store) + shard_count * 4);
        return std::unique_ptr<Store>(::new (block) Store(
            key, shard_count, reinterpret_cast<std::uint64_t*>(block + sizeof(Store)),
            reinterpret_cast<RwLock*>(block + locks_at),
            reinterpret_cast<Table*>(block + tables_at)));
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
    Store& operator=(const Store&) = delete;

    std::size_t shard_of(std::uint64_t hash) const noexcept {
        return static_cast<std::size_t>(hash >> 32) & mask;
    }
    std::size_t words() const noexcept { return (mask + 64) / 64; }
    std::atomic_ref<std::uint64_t> bits(std::size_t w) const noexcept {
        return std::atomic_ref(occupied[w]);
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
    // `shared` is false only while the registry is being built: then no other
    // thread can see it, and the bit needs no atomic read-modify-write.
    void link(std::size_t i, Node* node, bool shared) noexcept {
        Table& table = tables[i];
        const bool first = !occupies(i);
        node->next = first ? nullptr : table.chain;
        table.chain = node;
        count(table).store(first ? 1 : count(table).load(std::memory_order_relaxed) + 1,
                           std::memory_order_relaxed);
        if (!first) return;
        const std::uint64_t bit = std::uint64_t{1} << (i % 64);
        if (shared) {
            bits(i / 64).fetch_or(bit,
                                  std::memory_order_release);  // shards of a word share no lock
        } else {
            bits(i / 64).store(bits(i / 64).load(std::memory_order_relaxed) | bit,
                               std::memory_order_relaxed);
        }
    }
    // A shard's count is one word that changes only under the shard's write
    // lock, so one atomic load of it reads what the read lock would show.
    static std::atomic_ref<std::uint32_t> count(Table& table) noexcept {
        return std::atomic_ref(table.count);
    }

    // Visits the shards that hold entries, in index order. The occupied bits
    // lead straight to them, so a sweep costs the same at 512 shards as at 8.
    template <typename Visit>
    void for_each_occupied(Visit&& visit) const {
        for (std::size_t w = 0; w < words(); ++w) {
            for (std::uint64_t b = bits(w).load(std::memory_order_acquire); b != 0; b &= b - 1) {
                visit(64 * w + static_cast<std::size_t>(std::countr_zero(b)));
            }
        }
    }

    const HashKey key;
    const std::size_t mask;
    // Shard i is locks[i] and tables[i]; all three arrays follow this header.
    // The bits are set by inserts into different shards under different locks,
    // hence always touched atomically.
    std::uint64_t* const occupied;
    RwLock* const locks;
    Table* const tables;
    std::array<Node, kSeedTableSize> seeded;
    std::atomic<bool> inserted{false};

private:
    Store(HashKey key, std::size_t shard_count, std::uint64_t* occupied, RwLock* locks,
          Table* tables) noexcept
        : key(key), mask(shard_count - 1), occupied(occupied), locks(locks), tables(tables) {}
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
        store_->link(store_->shard_of(node.hash), &node, false);
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
    store.link(i, node, true);
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
        total += Store::count(store_->tables[i]).load(std::memory_order_relaxed);
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
