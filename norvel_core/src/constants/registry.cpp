// The sharded store behind FormulasRegistry.
//
// Registries are built and dropped on every call of some module functions, and
// the shard count grows with the machine, so an empty shard must be nearly
// free: one allocation holds the store header, the shard array (8 zeroed bytes
// per shard: the lock, whose payload is the entry count), the shards' chain
// heads (never cleared) and the nodes of the seed table. A shard keeps its
// first few entries on one chain and only then takes a bucket array. Nodes
// never move once made, so a shard's lock guards its own chains while other
// shards grow, and claiming a node slot takes one atomic add.
//
// Nodes hold their texts as views. A seeded node points into the process-wide
// seed table and allocates nothing; an inserted one owns a copy. A node's key
// never changes once linked, so a listing can sort views and copy each name once.
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
#include <optional>
#include <shared_mutex>
#include <span>
#include <thread>
#include <type_traits>
#include <utility>

#include "common/panic.hpp"
#include "common/sorted.hpp"
#include "constants/rw_lock.hpp"
#include "constants/seed_table.hpp"

namespace norvel {

namespace {

std::uint32_t size32(std::string_view text) {
    if (text.size() > UINT32_MAX) panic("registry texts must be shorter than 4 GiB");
    return static_cast<std::uint32_t>(text.size());
}

// The texts of an entry other than its name, laid out for one allocation when
// owned: the dependency views first (for their alignment), then the bytes.
struct Body {
    std::string_view units;
    std::string_view expression;
    std::span<const std::string_view> dependencies;
    std::byte* owned = nullptr;  // the allocation behind the views, if any
};

Body borrowed_body(const SeedRow& row) noexcept {
    return {row.units, row.expression, row.dependencies};
}

Body owned_body(const ConstantEntry& entry) {
    const std::string_view expression =
        entry.expression ? std::string_view(*entry.expression) : std::string_view();
    std::size_t bytes = size32(entry.units) + size32(expression);
    for (const std::string& dependency : entry.dependencies) bytes += dependency.size();
    const std::size_t count = entry.dependencies.size();
    if (count > UINT32_MAX) panic("registry entries must have fewer than 2^32 dependencies");
    if (bytes == 0 && count == 0) return {};
    auto* const raw =
        static_cast<std::byte*>(::operator new(count * sizeof(std::string_view) + bytes));
    auto* const views = reinterpret_cast<std::string_view*>(raw);
    char* text = reinterpret_cast<char*>(raw + count * sizeof(std::string_view));
    const auto place = [&text](std::string_view from) {
        if (!from.empty()) std::memcpy(text, from.data(), from.size());  // data() may be null
        const std::string_view placed(text, from.size());
        text += from.size();
        return placed;
    };
    Body body;
    body.owned = raw;
    body.units = place(entry.units);
    body.expression = place(expression);
    for (std::size_t i = 0; i < count; ++i)
        std::construct_at(views + i, place(entry.dependencies[i]));
    body.dependencies = {views, count};
    return body;
}

// An entry in compact form: texts as pointers with 32-bit sizes, and the low
// half of the name's hash (buckets are picked by its low bits, shards by the
// high half), so that a seeded registry fits in a couple of kilobytes.
struct Node {
    Node(std::uint64_t full_hash, std::string_view key, bool owns_key) noexcept
        : key_data(key.data()),
          hash(static_cast<std::uint32_t>(full_hash)),
          key_size(static_cast<std::uint32_t>(key.size())),
          owns_key(owns_key) {}
    ~Node() {
        if (owns_key) ::operator delete(const_cast<char*>(key_data));
        ::operator delete(owned);
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // Stays as first stored: a replacing entry has matched it byte for byte.
    std::string_view key() const noexcept { return {key_data, key_size}; }
    bool matches(std::uint64_t full_hash, std::string_view name) const noexcept {
        return hash == static_cast<std::uint32_t>(full_hash) && key() == name;
    }

    // Takes over `fresh`, freeing the texts it replaces. The sizes were
    // checked by whoever made `fresh`.
    void set(double new_value, std::optional<double> new_uncertainty, ConstantStatus new_status,
             bool new_has_expression, const Body& fresh) noexcept {
        ::operator delete(owned);
        owned = fresh.owned;
        units_data = fresh.units.data();
        units_size = static_cast<std::uint32_t>(fresh.units.size());
        expression_data = fresh.expression.data();
        expression_size = static_cast<std::uint32_t>(fresh.expression.size());
        dependencies_data = fresh.dependencies.data();
        dependency_count = static_cast<std::uint32_t>(fresh.dependencies.size());
        value = new_value;
        uncertainty = new_uncertainty.value_or(0.0);
        has_uncertainty = new_uncertainty.has_value();
        status = new_status;
        has_expression = new_has_expression;
    }

    ConstantEntry entry() const {
        ConstantEntry copy;
        copy.name = key();
        copy.value = value;
        copy.units.assign(units_data, units_size);
        if (has_uncertainty) copy.uncertainty = uncertainty;
        copy.status = status;
        if (has_expression) copy.expression.emplace(expression_data, expression_size);
        copy.dependencies.reserve(dependency_count);
        for (std::uint32_t i = 0; i < dependency_count; ++i) {
            copy.dependencies.emplace_back(dependencies_data[i]);
        }
        return copy;
    }

    Node* next = nullptr;  // the next node in the same bucket
    const char* const key_data;
    const char* units_data = nullptr;
    const char* expression_data = nullptr;
    const std::string_view* dependencies_data = nullptr;
    std::byte* owned = nullptr;  // the allocation behind the texts other than the key
    double value = 0.0;
    double uncertainty = 0.0;
    const std::uint32_t hash;
    const std::uint32_t key_size;
    std::uint32_t units_size = 0;
    std::uint32_t expression_size = 0;
    std::uint32_t dependency_count = 0;
    ConstantStatus status = ConstantStatus::Seed;
    bool has_uncertainty = false;
    bool has_expression = false;
    const bool owns_key;
};

static_assert(sizeof(Node) == 88);

constexpr std::size_t round_up(std::size_t n, std::size_t align) {
    return (n + align - 1) / align * align;
}

// A shard's first few entries hang off a single chain, so most shards of a
// seeded registry never allocate a bucket array. Entries are never removed, so
// the layout follows from the entry count alone.
constexpr std::uint32_t kChainMax = 8;

constexpr std::size_t bucket_count(std::uint32_t entries) {
    return entries <= kChainMax ? 1 : std::bit_ceil(std::size_t{entries});
}

// What a sweep over the shards reads: the lock, whose payload is the shard's
// entry count, eight bytes per shard. Trivial, with all bytes zero meaning
// empty and unlocked, so the whole array is cleared by one memset and needs
// no teardown.
struct Shard {
    mutable RwLock lock;

    // The count for a holder of the lock.
    std::uint32_t count() const noexcept { return lock.payload(); }

    // The count read on the lock's optimistic side: an idle shard's memory is
    // only read, never written. The shared lock is the fallback while a writer
    // is inside.
    std::uint32_t read_count() const noexcept {
        const RwLock::Glimpse glimpse = lock.glimpse();
        if (glimpse.valid()) [[likely]]
            return glimpse.payload();
        std::shared_lock guard(lock);
        return lock.payload();
    }
};

// Shards are swept in groups: one glimpse at each lock of a group, and only a
// group with entries or a writer inside is looked at shard by shard. A sweep
// over idle shards thus costs a load and an OR per shard, with no branch.
constexpr std::size_t kSweepGroup = 8;

template <typename Visit>
void sweep_busy(const Shard* shards, std::size_t count, Visit&& visit) {
    const std::size_t group = std::min(count, kSweepGroup);
    for (std::size_t first = 0; first < count; first += group) {
        std::uint64_t busy = 0;
        for (std::size_t k = 0; k < group; ++k)
            busy |= shards[first + k].lock.glimpse().busy_bits();
        if (busy == 0) [[likely]]
            continue;
        for (std::size_t k = 0; k < group; ++k) visit(first + k);
    }
}

static_assert(sizeof(Shard) == 8);
static_assert(std::is_trivial_v<Shard>);

// Where a shard's nodes hang, kept apart from the packed shard array. Read only
// once the shard holds an entry, so the array is never cleared.
union Heads {
    Node* chain;     // while count <= kChainMax
    Node** buckets;  // bucket_count(count) heads
};

// A shard and its heads, for code that holds the shard's lock (or builds an
// unshared registry).
class ShardTable {
public:
    ShardTable(Shard& shard, Heads& heads) noexcept : shard_(shard), heads_(heads) {}

    Shard& shard() const noexcept { return shard_; }

    Node* find(std::uint64_t hash, std::string_view name) const noexcept {
        const std::uint32_t count = shard_.count();
        if (count == 0) return nullptr;
        for (Node* node = heads()[hash & (bucket_count(count) - 1)]; node != nullptr;
             node = node->next) {
            if (node->matches(hash, name)) return node;
        }
        return nullptr;
    }

    template <typename F>
    void for_each(F&& visit) const {
        const std::uint32_t count = shard_.count();
        if (count == 0) return;
        Node* const* const first = heads();
        const std::size_t n = bucket_count(count);
        for (std::size_t i = 0; i < n; ++i) {
            for (const Node* node = first[i]; node != nullptr; node = node->next) visit(*node);
        }
    }

    // Links `node`; `allocate(n)` gives room for n bucket heads when needed.
    template <typename Allocate>
    void link(Node* node, Allocate&& allocate) const {
        const std::uint32_t old_count = shard_.count();
        const std::uint32_t count = old_count + 1;
        const std::size_t n = bucket_count(count);
        if (old_count == 0) {
            heads_.chain = nullptr;  // the heads were never cleared
        } else if (n != bucket_count(old_count)) {
            rehash(allocate(n), n);
        }
        Node*& head = (count <= kChainMax ? &heads_.chain : heads_.buckets)[node->hash & (n - 1)];
        node->next = head;
        head = node;
        shard_.lock.set_payload(count);
    }

private:
    Node* const* heads() const noexcept {
        return shard_.count() <= kChainMax ? &heads_.chain : heads_.buckets;
    }

    // Moves every node onto `fresh`, which has room for `n` heads.
    void rehash(Node** fresh, std::size_t n) const noexcept {
        std::uninitialized_fill_n(fresh, n, nullptr);
        Node* const* const old = heads();
        const std::size_t old_n = bucket_count(shard_.count());
        for (std::size_t i = 0; i < old_n; ++i) {
            for (Node* node = old[i]; node != nullptr;) {
                Node* const next = node->next;
                Node*& head = fresh[node->hash & (n - 1)];
                node->next = head;
                head = node;
                node = next;
            }
        }
        heads_.buckets = fresh;
    }

    Shard& shard_;
    Heads& heads_;
};

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

    // The next slot of the first chunk, while the registry is still being
    // built and no other thread can see it: no atomic read-modify-write.
    void* allocate_unshared() noexcept {
        const std::size_t i = first_.used.load(std::memory_order_relaxed);
        first_.used.store(i + 1, std::memory_order_relaxed);
        return first_.slots + i;
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

// Bucket arrays for shards that outgrow their chain: rare, so a bump allocator
// over chunks that are freed together. The first chunk is small: a seeded
// registry needs a bucket array in a few shards at most.
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
        std::lock_guard guard(lock_);
        return allocate_unshared(n);
    }

    // The same, while the registry is still being built.
    Node** allocate_unshared(std::size_t n) {
        const std::size_t size = n * sizeof(Node*);
        if (static_cast<std::size_t>(end_ - next_) < size) {
            chunk_size_ = std::min(2 * chunk_size_, kMaxChunk);
            const std::size_t chunk_size = std::max(kHeader + size, chunk_size_);
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
    static constexpr std::size_t kMaxChunk = 4096;

    RwLock lock_{};
    std::size_t chunk_size_ = 64;  // doubled before each new chunk
    std::byte* next_ = nullptr;
    std::byte* end_ = nullptr;
    Chunk* chunks_ = nullptr;
};

struct FreeBytes {
    void operator()(std::byte* bytes) const noexcept { ::operator delete(bytes); }
};
using OwnedBytes = std::unique_ptr<std::byte, FreeBytes>;

[[gnu::cold, gnu::noinline]] std::unexpected<RegistryError> not_found(std::string_view name) {
    return std::unexpected(RegistryError(registry_error::NotFound{std::string(name)}));
}

}  // namespace

struct FormulasRegistry::Store {
    Store(HashKey key, Shard* shards, Heads* heads, std::size_t shard_count, void* node_slots,
          std::size_t node_capacity)
        : key(key),
          shard_mask(shard_count - 1),
          shards(shards),
          heads(heads),
          nodes(node_slots, node_capacity) {}

    // The high half of the hash picks the shard; the low bits pick the bucket.
    ShardTable table_for(std::uint64_t hash) const noexcept {
        const std::size_t i = static_cast<std::size_t>(hash >> 32) & shard_mask;
        return {shards[i], heads[i]};
    }

    void seed() {
        for (const SeedRow& row : seed_table()) {
            const std::uint64_t hash = keyed_hash(key, row.name);
            const ShardTable table = table_for(hash);
            Node* node = table.find(hash, row.name);
            if (node == nullptr) {
                node = ::new (nodes.allocate_unshared()) Node(hash, row.name, false);
                table.link(node, [this](std::size_t n) { return tables.allocate_unshared(n); });
            }
            node->set(row.value, std::nullopt, row.status, row.status == ConstantStatus::Pending,
                      borrowed_body(row));
        }
    }

    const HashKey key;
    const std::size_t shard_mask;
    Shard* const shards;  // in the same block, right after this header
    Heads* const heads;   // after the shards
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

    // One block: the header, the shards, their heads, then room for the seed
    // table's nodes. Only the shards are cleared.
    const std::size_t node_capacity = seeded ? kSeedTableSize : 0;
    const std::size_t shards_at = round_up(sizeof(Store), alignof(Shard));
    const std::size_t heads_at = round_up(shards_at + shard_count * sizeof(Shard), alignof(Heads));
    const std::size_t nodes_at = round_up(heads_at + shard_count * sizeof(Heads), alignof(Node));

    auto* const block =
        static_cast<std::byte*>(::operator new(nodes_at + node_capacity * sizeof(Node)));
    std::memset(block + shards_at, 0, shard_count * sizeof(Shard));
    auto* const shards = reinterpret_cast<Shard*>(block + shards_at);
    auto* const heads = reinterpret_cast<Heads*>(block + heads_at);
    store_.reset(::new (block)
                     Store(key, shards, heads, shard_count, block + nodes_at, node_capacity));

    // No other thread can see the registry before this constructor returns, so
    // the seed table goes in without the shard locks and without atomic adds.
    if (seeded) store_->seed();
}

FormulasRegistry::FormulasRegistry(FormulasRegistry&&) noexcept = default;
FormulasRegistry& FormulasRegistry::operator=(FormulasRegistry&&) noexcept = default;
FormulasRegistry::~FormulasRegistry() = default;

std::optional<ConstantEntry> FormulasRegistry::insert(ConstantEntry&& entry) {
    Store& store = *store_;
    const std::uint64_t hash = keyed_hash(store.key, entry.name);
    const ShardTable table = store.table_for(hash);
    // The texts are copied before the lock is taken; a failed allocation
    // leaves the registry as it was.
    const Body fresh = owned_body(entry);
    OwnedBytes body_guard(fresh.owned);
    std::lock_guard guard(table.shard().lock);
    Node* node = table.find(hash, entry.name);
    std::optional<ConstantEntry> previous;
    if (node != nullptr) {
        previous.emplace(node->entry());
    } else {
        OwnedBytes key(static_cast<std::byte*>(::operator new(size32(entry.name) + 1)));
        std::memcpy(key.get(), entry.name.data(), entry.name.size());
        node = ::new (store.nodes.allocate())
            Node(hash, std::string_view(reinterpret_cast<char*>(key.release()), entry.name.size()),
                 true);
        table.link(node, [&store](std::size_t n) { return store.tables.allocate(n); });
    }
    node->set(entry.value, entry.uncertainty, entry.status, entry.expression.has_value(), fresh);
    (void)body_guard.release();
    return previous;
}

std::expected<ConstantEntry, RegistryError> FormulasRegistry::get(std::string_view name) const {
    const std::uint64_t hash = keyed_hash(store_->key, name);
    const ShardTable table = store_->table_for(hash);
    {
        std::shared_lock guard(table.shard().lock);
        // The copy is made before the guard lets go.
        if (const Node* node = table.find(hash, name)) return node->entry();
    }
    return not_found(name);
}

std::expected<double, RegistryError> FormulasRegistry::value(std::string_view name) const {
    const std::uint64_t hash = keyed_hash(store_->key, name);
    const ShardTable table = store_->table_for(hash);
    {
        std::shared_lock guard(table.shard().lock);
        if (const Node* node = table.find(hash, name)) return node->value;
    }
    return not_found(name);
}

std::vector<std::string_view> FormulasRegistry::name_views() const {
    std::vector<std::string_view> views;
    views.reserve(store_->nodes.size());
    // Shards in index order; the shared lock is taken where there are keys to
    // collect, and an empty shard is seen empty through the optimistic side.
    sweep_busy(store_->shards, store_->shard_mask + 1, [&](std::size_t i) {
        const Shard& shard = store_->shards[i];
        if (shard.read_count() == 0) return;
        std::shared_lock guard(shard.lock);
        ShardTable(store_->shards[i], store_->heads[i]).for_each([&](const Node& node) {
            views.push_back(node.key());
        });
    });
    sort_bytewise(views);
    return views;
}

std::vector<std::string> FormulasRegistry::names() const {
    const std::vector<std::string_view> views = name_views();
    return {views.begin(), views.end()};
}

std::size_t FormulasRegistry::len() const {
    // Shards in index order, a group at a time: the glimpsed counts are summed
    // without a branch, and a group with a writer inside is read again shard
    // by shard, under the shared lock where the writer still is.
    const Shard* const shards = store_->shards;
    const std::size_t count = store_->shard_mask + 1;
    const std::size_t group = std::min(count, kSweepGroup);
    std::size_t total = 0;
    for (std::size_t first = 0; first < count; first += group) {
        std::size_t sum = 0;
        bool writer = false;
        for (std::size_t k = 0; k < group; ++k) {
            const RwLock::Glimpse glimpse = shards[first + k].lock.glimpse();
            sum += glimpse.payload();
            writer |= !glimpse.valid();
        }
        if (writer) [[unlikely]] {
            sum = 0;
            for (std::size_t k = 0; k < group; ++k) sum += shards[first + k].read_count();
        }
        total += sum;
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
