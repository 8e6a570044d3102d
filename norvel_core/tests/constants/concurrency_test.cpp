// Meant to be run under ThreadSanitizer too (KESTROVA_TSAN=ON): the checks
// catch wrong answers, the sanitizer catches unsynchronised access.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "constants/registry.hpp"
#include "constants/rw_lock.hpp"
#include "registry_expectations.hpp"

namespace norvel {
namespace {

using test_support::kSeedExpectations;
using test_support::kSortedSeedNames;

void run_threads(int count, const auto& body) {
    std::vector<std::jthread> threads;
    for (int t = 0; t < count; ++t) threads.emplace_back(body, t);
}

TEST(RwLockTest, WritersExcludeReadersAndEachOther) {
    RwLock lock{};
    long a = 0;
    long b = 0;
    std::atomic<long> torn{0};
    constexpr long kRounds = 20000;
    run_threads(6, [&](int t) {
        for (long i = 0; i < kRounds; ++i) {
            if (t < 2) {
                lock.lock();
                ++a;
                ++b;
                lock.unlock();
            } else {
                lock.lock_shared();
                if (a != b) torn.fetch_add(1, std::memory_order_relaxed);
                lock.unlock_shared();
            }
        }
    });
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(a, 2 * kRounds);
    EXPECT_EQ(b, 2 * kRounds);
}

TEST(FormulasRegistryConcurrencyTest, ReadersShareOneRegistry) {
    const FormulasRegistry registry;
    std::vector<ConstantEntry> expected;
    for (const auto& e : kSeedExpectations) expected.push_back(e.entry());
    std::atomic<int> wrong{0};
    run_threads(4, [&](int) {
        for (int round = 0; round < 200; ++round) {
            for (const ConstantEntry& entry : expected) {
                const auto got = registry.get(entry.name);
                if (!got || *got != entry || registry.value(entry.name) != entry.value) ++wrong;
            }
            if (registry.get("N_GEN").has_value() || registry.len() != 17 ||
                registry.names() != kSortedSeedNames) {
                ++wrong;
            }
        }
    });
    EXPECT_EQ(wrong.load(), 0);
}

// Inserts race each other for shards while readers look up what each writer
// has published so far.
TEST(FormulasRegistryConcurrencyTest, InsertsAndLookupsInterleave) {
    FormulasRegistry registry = FormulasRegistry::empty(4);
    constexpr int kWriters = 4;
    constexpr int kPerWriter = 400;
    std::atomic<int> published[kWriters] = {};
    std::atomic<int> wrong{0};
    const auto name = [](int w, int i) { return std::to_string(w) + "/" + std::to_string(i); };
    run_threads(kWriters + 2, [&](int t) {
        if (t < kWriters) {
            for (int i = 0; i < kPerWriter; ++i) {
                if (registry.insert(ConstantEntry::seed(name(t, i), i, "count"))) ++wrong;
                published[t].store(i + 1, std::memory_order_release);
            }
            return;
        }
        for (int round = 0; round < kPerWriter; ++round) {
            std::size_t published_total = 0;
            for (int w = 0; w < kWriters; ++w) {
                const int seen = published[w].load(std::memory_order_acquire);
                if (seen > 0 && registry.value(name(w, seen - 1)) != seen - 1) ++wrong;
                published_total += static_cast<std::size_t>(seen);
            }
            // The sweeps find their shards by bits read without a lock: they must
            // still count every entry published before they began, and no more.
            const std::size_t len = registry.len();
            if (len < published_total || len > std::size_t{kWriters * kPerWriter}) ++wrong;
            if (round % 16 == 0) {
                const std::vector<std::string> names = registry.names();
                if (names.size() < published_total || !std::ranges::is_sorted(names)) ++wrong;
            }
        }
    });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(registry.len(), std::size_t{kWriters * kPerWriter});
    EXPECT_EQ(registry.names().size(), std::size_t{kWriters * kPerWriter});
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kPerWriter; ++i) EXPECT_EQ(registry.value(name(w, i)), i);
    }
}

}  // namespace
}  // namespace norvel
