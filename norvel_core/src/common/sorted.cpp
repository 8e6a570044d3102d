#include "common/sorted.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>

namespace norvel {

std::vector<std::string> sorted_bytewise(std::vector<std::string> keys) {
    // std::string compares through char_traits<char>, which orders bytes as unsigned char.
    std::vector<std::uint32_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::uint32_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
    std::vector<std::string> sorted;
    sorted.reserve(keys.size());
    for (const std::uint32_t index : order) sorted.push_back(std::move(keys[index]));
    return sorted;
}

}  // namespace norvel
