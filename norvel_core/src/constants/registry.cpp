// The sharded store behind FormulasRegistry.
//
// Registries are built and dropped on every call of some module functions, and
// the shard count grows with the machine, so an empty shard must be nearly
// free: one allocation holds the store header, the shard array (16 zeroed bytes
// per shard, nothing to free) and node room for the seed table. A shard keeps
// its first few entries on a chain inside itself and only then takes a bucket
// array. Nodes never move once made, so a shard's lock guards its own chains
// while other shards grow, and claiming a node slot takes one atomic add.
#include "constants/registry.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <thread>
#include <type_traits>
#include <utility>

#include "common/panic.hpp"
#include "common/sorted.hpp"
#include "constants/rw_lock.hpp"
#include "constants/seed_table.hpp"

namespace norvel {

namespace {

struct Node {
    Node(std::uint64_t hash, ConstantEntry&& entry) noexcept
        : hash(hash), entry(std::move(entry)) {}

    Node* next = nullptr;  // the next node in the same bucket
    std::uint64_t hash;
    // The entry's own name is the key. A replacing entry has matched it byte for
    // byte, so keeping the first key and adopting the newcomer's name agree.
    ConstantEntry entry;
};

constexpr std::size_t round_up(std::size_t n, std::size_t align) {
    return (n + align - 1) / align * align;
}

// A shard's first few entries hang off a single chain stored in the shard
// itself, so most shards of a seeded registry never allocate a bucket array.
// Entries are never removed, so the layout follows from the entry count alone.
constexpr std::uint32_t kChainMax = 4;

constexpr std::size_t bucket_count(std::uint32_t entries) {
    return entries <= kChainMax ? 1 : std::bit_ceil(std::size_t{entries});
}

// Trivial, with all bytes zero meaning empty and unlocked, so the whole array
// is cleared by one memset and needs no teardown.
struct Shard {
    mutable RwLock lock;
    std::uint32_t count;
    union {
        Node* chain;     // while count <= kChainMax
        Node** buckets;  // bucket_count(count) heads
    };

    Node* const* heads() const noexcept { return count <= kChainMax ? &chain : buckets; }
    Node** heads() noexcept { return count <= kChainMax ? &chain : buckets; }

    Node* find(std::uint64_t hash, std::string_view name) const noexcept {
        for (Node* node = heads()[hash & (bucket_count(count) - 1)]; node != nullptr;
             node = node->next) {
            if (node->hash == hash && node->entry.name == name) return node;
        }
        return nullptr;
    }

    template <typename F>
    void for_each(F&& visit) const {
        Node* const* const first = heads();
        const std::size_t n = bucket_count(count);
        for (std::size_t i = 0; i < n; ++i) {
            for (const Node* node = first[i]; node != nullptr; node = node->next) visit(*node);
        }
    }

    // Moves every node onto `fresh`, which has room for `n` heads.
    void rehash(Node** fresh, std::size_t n) noexcept {
        std::uninitialized_fill_n(fresh, n, nullptr);
        Node** const old = heads();
        const std::size_t old_n = bucket_count(count);
        for (std::size_t i = 0; i < old_n; ++i) {
            for (Node* node = old[i]; node != nullptr;) {
                Node* const next = node->next;
                Node*& head = fresh[node->hash & (n - 1)];
                node->next = head;
                head = node;
                node = next;
            }
        }
        buckets = fresh;
    }
};

static_assert(sizeof(Shard) == 16);
static_assert(std::is_trivial_v<Shard>);

// Node slots of one size, handed out by a single atomic add so that inserts
// into different shards share no lock. The first chunk lives in the registry's
// own block; later chunks double. Nothing is freed before the registry goes.
class NodeArena {
public:
    NodeArena(void* first, std::size_t capacity) noexcept
        : first_{nullptr, capacity, static_cast<Node*>(first)}, current_(&first_) {}
    NodeArena(const NodeArena&) = delete;
    NodeArena& operator=(const NodeArena&) = delete;

    // Destroys every node and frees the later chunks. Runs single-threaded.
    ~NodeArena() {
        Chunk* chunk = current_.load(std::memory_order_relaxed);
        while (chunk != nullptr) {
            std::destroy_n(chunk->slots, chunk->filled());
            Chunk* const previous = chunk->previous;
            if (chunk != &first_) ::operator delete(static_cast<void*>(chunk));
            chunk = previous;
        }
    }

    // Uninitialised room for one node.
    void* allocate() {
        for (;;) {
            Chunk* const chunk = current_.load(std::memory_order_acquire);
            const std::size_t i = chunk->used.fetch_add(1, std::memory_order_relaxed);
            if (i < chunk->capacity) [[likely]]
                return chunk->slots + i;
            grow(chunk);
        }
    }

    // The number of nodes made so far; exact only when no insert is under way.
    std::size_t size() const noexcept {
        std::size_t total = 0;
        for (const Chunk* chunk = current_.load(std::memory_order_acquire); chunk != nullptr;
             chunk = chunk->previous) {
            total += chunk->filled();
        }
        return total;
    }

private:
    struct Chunk {
        Chunk* previous;
        std::size_t capacity;
        Node* slots;
        // Slots claimed; overshoots `capacity` when racing inserts find it full.
        std::atomic<std::size_t> used{0};

        std::size_t filled() const noexcept {
            return std::min(used.load(std::memory_order_relaxed), capacity);
        }
    };
    static constexpr std::size_t kHeader = round_up(sizeof(Chunk), alignof(Node));
    static constexpr std::size_t kMinSlots = 16;

    [[gnu::noinline]] void grow(Chunk* full) {
        std::lock_guard guard(grow_lock_);
        if (current_.load(std::memory_order_relaxed) != full) return;  // another thread grew it
        const std::size_t capacity = std::max(kMinSlots, 2 * full->capacity);
        auto* const raw =
            static_cast<std::byte*>(::operator new(kHeader + capacity * sizeof(Node)));
        auto* const chunk =
            ::new (raw) Chunk{full, capacity, reinterpret_cast<Node*>(raw + kHeader)};
        current_.store(chunk, std::memory_order_release);
    }

    Chunk first_;
    std::atomic<Chunk*> current_;
    RwLock grow_lock_{};
};

// Bucket arrays for shards that outgrow their chain: rare, so a plain locked
// bump allocator over chunks that are freed together.
class TableArena {
public:
    TableArena() = default;
    TableArena(const TableArena&) = delete;
    TableArena& operator=(const TableArena&) = delete;
    ~TableArena() {
        while (chunks_ != nullptr) {
            Chunk* const previous = chunks_->previous;
            ::operator delete(static_cast<void*>(chunks_));
            chunks_ = previous;
        }
    }

    // Uninitialised room for `n` bucket heads.
    Node** allocate(std::size_t n) {
        const std::size_t size = n * sizeof(Node*);
        std::lock_guard guard(lock_);
        if (static_cast<std::size_t>(end_ - next_) < size) {
            const std::size_t chunk_size = std::max(kHeader + size, kMinChunk);
            auto* const raw = static_cast<std::byte*>(::operator new(chunk_size));
            chunks_ = ::new (raw) Chunk{chunks_};
            next_ = raw + kHeader;
            end_ = raw + chunk_size;
        }
        auto* const heads = reinterpret_cast<Node**>(next_);
        next_ += size;
        return heads;
    }

private:
    struct Chunk {
        Chunk* previous;
    };
    static constexpr std::size_t kHeader = round_up(sizeof(Chunk), alignof(Node*));
    static constexpr std::size_t kMinChunk = 4096;

    RwLock lock_{};
    std::byte* next_ = nullptr;
    std::byte* end_ = nullptr;
    Chunk* chunks_ = nullptr;
};

[[gnu::cold, gnu::noinline]] std::unexpected<RegistryError> not_found(std::string_view name) {
    return std::unexpected(RegistryError(registry_error::NotFound{std::string(name)}));
}

}  // namespace

struct FormulasRegistry::Store {
    Store(HashKey key, Shard* shards, std::size_t shard_count, void* node_slots,
          std::size_t node_capacity)
        : key(key), shard_mask(shard_count - 1), shards(shards), nodes(node_slots, node_capacity) {}

    // The high half of the hash picks the shard; the low bits pick the bucket.
    Shard& shard_for(std::uint64_t hash) const noexcept {
        return shards[static_cast<std::size_t>(hash >> 32) & shard_mask];
    }

    // Links a new node into `shard`, whose write lock the caller holds.
    void add(Shard& shard, std::uint64_t hash, ConstantEntry&& entry) {
        Node* const node = ::new (nodes.allocate()) Node(hash, std::move(entry));
        const std::uint32_t count = shard.count + 1;
        const std::size_t n = bucket_count(count);
        if (n != bucket_count(shard.count)) shard.rehash(tables.allocate(n), n);
        shard.count = count;
        Node*& head = shard.heads()[hash & (n - 1)];
        node->next = head;
        head = node;
    }

    const HashKey key;
    const std::size_t shard_mask;
    Shard* const shards;  // in the same block, right after this header
    NodeArena nodes;
    TableArena tables;
};

void FormulasRegistry::StoreDeleter::operator()(Store* store) const noexcept {
    store->~Store();
    ::operator delete(static_cast<void*>(store));
}

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
    const HashKey key = fresh_hash_key();  // may panic, so drawn before anything is allocated

    // One block: the header, the shards, then room for the seed table's nodes.
    const std::size_t node_capacity = seeded ? kSeedTableSize : 0;
    const std::size_t shards_at = round_up(sizeof(Store), alignof(Shard));
    const std::size_t nodes_at = round_up(shards_at + shard_count * sizeof(Shard), alignof(Node));

    auto* const block =
        static_cast<std::byte*>(::operator new(nodes_at + node_capacity * sizeof(Node)));
    std::memset(block + shards_at, 0, shard_count * sizeof(Shard));
    auto* const shards = reinterpret_cast<Shard*>(block + shards_at);
    store_.reset(::new (block) Store(key, shards, shard_count, block + nodes_at, node_capacity));

    if (seeded) insert_seed_table(*this);
}

FormulasRegistry::FormulasRegistry(FormulasRegistry&&) noexcept = default;
FormulasRegistry& FormulasRegistry::operator=(FormulasRegistry&&) noexcept = default;
FormulasRegistry::~FormulasRegistry() = default;

std::optional<ConstantEntry> FormulasRegistry::insert(ConstantEntry&& entry) {
    Store& store = *store_;
    const std::uint64_t hash = keyed_hash(store.key, entry.name);
    Shard& shard = store.shard_for(hash);
    std::lock_guard guard(shard.lock);
    if (Node* const node = shard.find(hash, entry.name)) {
        std::optional<ConstantEntry> previous(std::move(node->entry));
        node->entry = std::move(entry);
        return previous;
    }
    store.add(shard, hash, std::move(entry));
    return std::nullopt;
}

std::expected<ConstantEntry, RegistryError> FormulasRegistry::get(std::string_view name) const {
    const std::uint64_t hash = keyed_hash(store_->key, name);
    const Shard& shard = store_->shard_for(hash);
    {
        std::shared_lock guard(shard.lock);
        // The copy is made before the guard lets go.
        if (const Node* node = shard.find(hash, name)) return node->entry;
    }
    return not_found(name);
}

std::expected<double, RegistryError> FormulasRegistry::value(std::string_view name) const {
    const std::uint64_t hash = keyed_hash(store_->key, name);
    const Shard& shard = store_->shard_for(hash);
    {
        std::shared_lock guard(shard.lock);
        if (const Node* node = shard.find(hash, name)) return node->entry.value;
    }
    return not_found(name);
}

std::vector<std::string> FormulasRegistry::names() const {
    std::vector<std::string> collected;
    collected.reserve(store_->nodes.size());
    for (std::size_t i = 0; i <= store_->shard_mask; ++i) {
        const Shard& shard = store_->shards[i];
        std::shared_lock guard(shard.lock);
        shard.for_each([&](const Node& node) { collected.push_back(node.entry.name); });
    }
    return sorted_bytewise(std::move(collected));
}

std::size_t FormulasRegistry::len() const {
    std::size_t total = 0;
    for (std::size_t i = 0; i <= store_->shard_mask; ++i) {
        const Shard& shard = store_->shards[i];
        std::shared_lock guard(shard.lock);
        total += shard.count;
    }
    return total;
}

std::size_t FormulasRegistry::shard_count() const noexcept { return store_->shard_mask + 1; }

std::size_t FormulasRegistry::default_shard_count() {
    static const std::size_t count = [] {
        const unsigned reported = std::thread::hardware_concurrency();
        const std::size_t processors = reported == 0 ? 1 : reported;
        return std::bit_ceil(4 * processors);
    }();
    return count;
}

}  // namespace norvel
