// The one ordering every listing uses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace norvel {

// Sorts `keys` in ascending byte-wise order, a prefix before its extensions.
// The keys must be unique, so the order is the same as a stable sort's.
void sort_bytewise(std::vector<std::string_view>& keys) noexcept;

}  // namespace norvel
