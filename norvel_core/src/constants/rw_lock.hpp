// A reader-writer lock in one 32-bit word. std::shared_mutex takes 56 bytes,
// which at thousands of shards would make building a registry cost far more
// than its 17 entries; this one takes four bytes, and is trivial with zero
// meaning free, so a shard array is made ready by one memset. A lone lock
// must be value-initialised: `RwLock lock{};`.
//
// Lookups far outnumber writes (a registry is written while it is built), so
// a reader pays one atomic add to enter and one to leave.
#pragma once

#include <atomic>
#include <cstdint>

namespace norvel {

class RwLock {
public:
    void lock_shared() noexcept {
        // Readers count themselves in first and look second; one that finds a
        // writer, or a writer queuing, backs out again on the slow path.
        if ((word().fetch_add(1, std::memory_order_acquire) & kWriterBits) != 0) [[unlikely]] {
            lock_shared_slow();
        }
    }
    void unlock_shared() noexcept { word().fetch_sub(1, std::memory_order_release); }

    void lock() noexcept {
        std::uint32_t free = 0;
        if (!word().compare_exchange_strong(free, kWriter, std::memory_order_acquire,
                                            std::memory_order_relaxed)) [[unlikely]] {
            lock_slow();
        }
    }
    void unlock() noexcept { word().fetch_and(~kWriter, std::memory_order_release); }

private:
    void lock_shared_slow() noexcept;
    void lock_slow() noexcept;

    static constexpr std::uint32_t kWriter = 1U << 31;
    // Set by a writer that waits for readers to drain, so new readers hold back
    // and a steady stream of lookups cannot starve it.
    static constexpr std::uint32_t kWriterQueued = 1U << 30;
    static constexpr std::uint32_t kWriterBits = kWriter | kWriterQueued;
    static constexpr std::uint32_t kReaders = kWriterQueued - 1;

    std::atomic_ref<std::uint32_t> word() noexcept { return std::atomic_ref(word_); }

    alignas(std::atomic_ref<std::uint32_t>::required_alignment) std::uint32_t word_;
};

}  // namespace norvel
