// The quark table. The figures are literals on purpose: recomputing
// 246220.0 / phi^n at run time could differ in the last bit between libms.
#include "flavour/quark.hpp"

#include <bit>
#include <utility>

#include "common/sorted.hpp"

namespace norvel {

QuarkRegistry QuarkRegistry::standard_model() {
    QuarkRegistry registry;
    registry.slots_.reserve(6);  // one allocation, no move on the way to six
    registry.insert({"up", 1, 12, 764.665760128228, 0.003105620015141857});
    registry.insert({"down", 1, 11, 1237.2551899207474, 0.005024998740641489});
    registry.insert({"strange", 2, 8, 5241.0970900186985, 0.02128623625220818});
    registry.insert({"charm", 2, 5, 22201.643549995544, 0.09016994374947422});
    registry.insert({"bottom", 3, 4, 35923.013870002665, 0.14589803375031543});
    registry.insert({"top", 3, 0, 246220.0, 1.0});
    return registry;
}

std::size_t QuarkRegistry::slot_of(std::uint64_t hash, std::string_view name) const noexcept {
    if (index_.empty()) {
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            if (slots_[i].hash == hash && slots_[i].key == name) return i;
        }
        return slots_.size();
    }
    const std::size_t mask = index_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const std::uint32_t slot = index_[at];
        if (slot == 0) return slots_.size();
        const Slot& s = slots_[slot - 1];
        if (s.hash == hash && s.key == name) return slot - 1;
    }
}

void QuarkRegistry::reindex() {
    // At most half full, so every probe meets a free place.
    std::vector<std::uint32_t> index(std::bit_ceil(2 * slots_.size()), 0);
    const std::size_t mask = index.size() - 1;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        std::size_t at = slots_[i].hash & mask;
        while (index[at] != 0) at = (at + 1) & mask;
        index[at] = static_cast<std::uint32_t>(i + 1);
    }
    index_ = std::move(index);
}

void QuarkRegistry::insert(Quark quark) {
    if (slots_.empty()) key_ = fresh_hash_key();
    const std::uint64_t hash = keyed_hash(key_, quark.name);
    const std::size_t at = slot_of(hash, quark.name);
    if (at != slots_.size()) {
        slots_[at].quark = std::move(quark);
        return;
    }
    std::string key = quark.name;
    slots_.emplace_back(hash, std::move(key), std::move(quark));
    if (slots_.size() > kScanMax && 2 * slots_.size() > index_.size()) {
        reindex();
    } else if (!index_.empty()) {
        const std::size_t mask = index_.size() - 1;
        std::size_t place = hash & mask;
        while (index_[place] != 0) place = (place + 1) & mask;
        index_[place] = static_cast<std::uint32_t>(slots_.size());
    }
}

std::vector<std::string_view> QuarkRegistry::name_views() const {
    std::vector<std::string_view> views;
    views.reserve(slots_.size());
    for (const Slot& slot : slots_) views.push_back(slot.key);
    // The slots' order follows insertion; callers must never see it.
    sort_bytewise(views);
    return views;
}

std::vector<std::string> QuarkRegistry::names() const {
    const std::vector<std::string_view> views = name_views();
    return {views.begin(), views.end()};
}

const Quark* QuarkRegistry::find(std::string_view name) const {
    if (slots_.empty()) return nullptr;
    const std::size_t at = slot_of(keyed_hash(key_, name), name);
    return at == slots_.size() ? nullptr : &slots_[at].quark;
}

}  // namespace norvel
