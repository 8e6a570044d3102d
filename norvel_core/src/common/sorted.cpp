#include "common/sorted.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace norvel {

namespace {

// The first eight bytes of `text` as a big-endian number, zero-padded: two
// texts whose prefixes differ compare as those numbers do, byte-wise, so most
// comparisons of short names take one integer compare instead of a memcmp.
std::uint64_t prefix_of(std::string_view text) noexcept {
    std::uint64_t word = 0;
    if (text.size() >= 8) {
        std::memcpy(&word, text.data(), 8);
    } else {
        for (std::size_t i = 0; i < text.size(); ++i) {
            word |= static_cast<std::uint64_t>(static_cast<unsigned char>(text[i])) << (8 * i);
        }
        if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
    }
    return std::endian::native == std::endian::little ? std::byteswap(word) : word;
}

struct Keyed {
    std::uint64_t prefix;
    std::string_view text;

    // Equal prefixes (a zero byte and padding look alike) fall back to the
    // full comparison, which also puts a prefix before its extensions.
    bool operator<(const Keyed& other) const noexcept {
        if (prefix != other.prefix) return prefix < other.prefix;
        return text < other.text;
    }
};

}  // namespace

void sort_bytewise(std::vector<std::string_view>& keys) noexcept {
    // string_view compares through char_traits<char>, which orders bytes as
    // unsigned char. Listings hold a few dozen short names at most, where an
    // insertion sort beats the general one; larger ones take the general sort.
    constexpr std::size_t kInsertionMax = 32;
    if (keys.size() > kInsertionMax) {
        std::sort(keys.begin(), keys.end());
        return;
    }
    // Left uninitialised: only the first n are ever read, after being written.
    union Room {
        Room() noexcept {}
        Keyed keyed[kInsertionMax];
    } room;
    Keyed* const keyed = room.keyed;
    const std::size_t n = keys.size();
    for (std::size_t i = 0; i < n; ++i) std::construct_at(keyed + i, prefix_of(keys[i]), keys[i]);
    for (std::size_t i = 1; i < n; ++i) {
        const Keyed key = keyed[i];
        std::size_t j = i;
        for (; j > 0 && key < keyed[j - 1]; --j) keyed[j] = keyed[j - 1];
        keyed[j] = key;
    }
    for (std::size_t i = 0; i < n; ++i) keys[i] = keyed[i].text;
}

}  // namespace norvel
