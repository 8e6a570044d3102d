// The contended paths of RwLock. They spin briefly and then yield: the only
// writer is the thread building a registry, so waits are short and rare, and
// no wake-up bookkeeping is worth putting on the readers' fast path.
#include "constants/rw_lock.hpp"

#include <thread>

namespace norvel {

namespace {

class Backoff {
public:
    void pause() noexcept {
        if (spins_ < kSpins) {
            ++spins_;
        } else {
            std::this_thread::yield();
        }
    }

private:
    static constexpr int kSpins = 64;
    int spins_ = 0;
};

}  // namespace

void RwLock::lock_shared_slow() noexcept {
    Backoff backoff;
    for (;;) {
        // Take back the optimistic count so a queued writer can see zero readers.
        word().fetch_sub(1, std::memory_order_relaxed);
        while ((word().load(std::memory_order_relaxed) & kWriterBits) != 0) backoff.pause();
        if ((word().fetch_add(1, std::memory_order_acquire) & kWriterBits) == 0) return;
    }
}

void RwLock::lock_slow() noexcept {
    Backoff backoff;
    std::uint32_t current = word().load(std::memory_order_relaxed);
    for (;;) {
        if ((current & (kWriter | kReaders)) == 0) {
            // Taking the lock also clears the queued mark; any other queued
            // writer sets it again on its next look.
            if (word().compare_exchange_weak(current, kWriter, std::memory_order_acquire,
                                             std::memory_order_relaxed)) {
                return;
            }
            continue;
        }
        if ((current & kWriterQueued) == 0) {
            word().fetch_or(kWriterQueued, std::memory_order_relaxed);
        }
        backoff.pause();
        current = word().load(std::memory_order_relaxed);
    }
}

}  // namespace norvel
