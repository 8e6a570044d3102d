// A reader-writer lock in one 64-bit word. Lookups far outnumber writes (a
// registry is written only while it is built), so a reader pays exactly one
// atomic add to enter and one to leave, and writers pay for everything else.
//
// The word's high half is a payload that only the write-lock holder changes.
// A reader that needs nothing but the payload reads the word once: with no
// writer inside, the payload is the one the last writer left. That read writes
// no shared memory, which keeps a sweep over many idle locks cheap and free of
// cache-line traffic between threads.
#pragma once

#include <atomic>
#include <cstdint>

namespace norvel {

// Zero is the unlocked state with a zero payload and the type is trivial, so
// an array of shards holding these locks is made ready by clearing its memory
// in one go. A lone lock must be value-initialised: `RwLock lock{};`.
class RwLock {
public:
    void lock_shared() noexcept {
        // Readers count themselves in first and look second; one that finds a
        // writer, or a writer queuing, backs out again on the slow path.
        if ((state().fetch_add(1, std::memory_order_acquire) & kWriterBits) != 0) [[unlikely]] {
            lock_shared_slow();
        }
    }
    void unlock_shared() noexcept { state().fetch_sub(1, std::memory_order_release); }

    void lock() noexcept {
        std::uint64_t idle = state().load(std::memory_order_relaxed) & kPayload;
        if (!state().compare_exchange_strong(idle, idle | kWriter, std::memory_order_acquire,
                                             std::memory_order_relaxed)) [[unlikely]] {
            lock_slow();
        }
    }
    void unlock() noexcept { state().fetch_and(~kWriter, std::memory_order_release); }

    // The payload, for a holder of the lock (shared or exclusive).
    std::uint32_t payload() const noexcept {
        return static_cast<std::uint32_t>(state().load(std::memory_order_relaxed) >> 32);
    }
    // Replaces the payload; only the holder of the write lock may call it. An
    // add rather than a store, because readers touch the low half meanwhile.
    void set_payload(std::uint32_t value) noexcept {
        const std::uint64_t delta = static_cast<std::uint64_t>(value - payload()) << 32;
        state().fetch_add(delta, std::memory_order_relaxed);
    }

    // The optimistic read side: one load of the word. When no writer was
    // inside at that moment, the payload is the one the last writer left;
    // otherwise the caller takes lock_shared() and reads payload(). Anything
    // beyond the payload must be read under lock_shared() (which orders it).
    class Glimpse {
    public:
        bool valid() const noexcept { return (word_ & kWriter) == 0; }
        std::uint32_t payload() const noexcept { return static_cast<std::uint32_t>(word_ >> 32); }
        // Nonzero when the payload is, or a writer was inside: the cases in
        // which the caller has more to do. Glimpses can be OR-ed together.
        std::uint64_t busy_bits() const noexcept { return word_ & (kPayload | kWriter); }

    private:
        friend class RwLock;
        explicit Glimpse(std::uint64_t word) noexcept : word_(word) {}
        std::uint64_t word_;
    };
    Glimpse glimpse() const noexcept { return Glimpse(state().load(std::memory_order_relaxed)); }

private:
    void lock_shared_slow() noexcept;
    void lock_slow() noexcept;

    // Mutable: the optimistic read is a const operation on the same word.
    std::atomic_ref<std::uint64_t> state() const noexcept { return std::atomic_ref(state_); }

    static constexpr std::uint64_t kWriter = 1U << 31;
    // Set by a writer that waits for readers to drain, so new readers hold back
    // and a steady stream of lookups cannot starve it.
    static constexpr std::uint64_t kWriterQueued = 1U << 30;
    static constexpr std::uint64_t kWriterBits = kWriter | kWriterQueued;
    static constexpr std::uint64_t kReaders = kWriterQueued - 1;
    static constexpr std::uint64_t kPayload = ~std::uint64_t{0xffffffff};

    alignas(std::atomic_ref<std::uint64_t>::required_alignment) mutable std::uint64_t state_;
};

}  // namespace norvel
