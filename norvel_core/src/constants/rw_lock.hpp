// A reader-writer lock in one 32-bit word. Lookups far outnumber writes (a
// registry is written only while it is built), so a reader pays exactly one
// atomic add to enter and one to leave, and writers pay for everything else.
#pragma once

#include <atomic>
#include <cstdint>

namespace norvel {

// Zero is the unlocked state and the type is trivial, so an array of shards
// holding these locks is made ready by clearing its memory in one go. A lone
// lock must be value-initialised: `RwLock lock{};`.
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
        std::uint32_t idle = 0;
        if (!state().compare_exchange_strong(idle, kWriter, std::memory_order_acquire,
                                             std::memory_order_relaxed)) [[unlikely]] {
            lock_slow();
        }
    }
    void unlock() noexcept { state().fetch_and(~kWriter, std::memory_order_release); }

private:
    void lock_shared_slow() noexcept;
    void lock_slow() noexcept;

    std::atomic_ref<std::uint32_t> state() noexcept { return std::atomic_ref(state_); }

    static constexpr std::uint32_t kWriter = 1U << 31;
    // Set by a writer that waits for readers to drain, so new readers hold back
    // and a steady stream of lookups cannot starve it.
    static constexpr std::uint32_t kWriterQueued = 1U << 30;
    static constexpr std::uint32_t kWriterBits = kWriter | kWriterQueued;
    static constexpr std::uint32_t kReaders = kWriterQueued - 1;

    alignas(std::atomic_ref<std::uint32_t>::required_alignment) std::uint32_t state_;
};

}  // namespace norvel
