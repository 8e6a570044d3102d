// The quark table. The figures are literals on purpose: recomputing
// 246220.0 / phi^n at run time could differ in the last bit between libms.
#include "flavour/quark.hpp"

#include "common/sorted.hpp"

namespace norvel {

QuarkRegistry QuarkRegistry::standard_model() {
    QuarkRegistry registry;
    registry.map_.reserve(6);  // one bucket array, no rehash on the way to six
    registry.insert({"up", 1, 12, 764.665760128228, 0.003105620015141857});
    registry.insert({"down", 1, 11, 1237.2551899207474, 0.005024998740641489});
    registry.insert({"strange", 2, 8, 5241.0970900186985, 0.02128623625220818});
    registry.insert({"charm", 2, 5, 22201.643549995544, 0.09016994374947422});
    registry.insert({"bottom", 3, 4, 35923.013870002665, 0.14589803375031543});
    registry.insert({"top", 3, 0, 246220.0, 1.0});
    return registry;
}

void QuarkRegistry::insert(Quark quark) {
    std::string key = quark.name;
    map_.insert_or_assign(std::move(key), std::move(quark));
}

std::vector<std::string> QuarkRegistry::names() const {
    std::vector<std::string> names;
    names.reserve(map_.size());
    for (const auto& entry : map_) names.push_back(entry.first);
    // The map's order depends on its random key; callers must never see it.
    return sorted_bytewise(std::move(names));
}

const Quark* QuarkRegistry::find(std::string_view name) const {
    const auto it = map_.find(name);
    return it == map_.end() ? nullptr : &it->second;
}

}  // namespace norvel
