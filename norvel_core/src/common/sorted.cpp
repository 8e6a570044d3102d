#include "common/sorted.hpp"

#include <algorithm>
#include <cstddef>

namespace norvel {

void sort_bytewise(std::vector<std::string_view>& keys) noexcept {
    // string_view compares through char_traits<char>, which orders bytes as
    // unsigned char. Listings hold a few dozen short names at most, where an
    // insertion sort beats the general one; larger ones take the general sort.
    constexpr std::size_t kInsertionMax = 32;
    if (keys.size() > kInsertionMax) {
        std::sort(keys.begin(), keys.end());
        return;
    }
    for (std::size_t i = 1; i < keys.size(); ++i) {
        const std::string_view key = keys[i];
        std::size_t j = i;
        for (; j > 0 && key < keys[j - 1]; --j) keys[j] = keys[j - 1];
        keys[j] = key;
    }
}

}  // namespace norvel
