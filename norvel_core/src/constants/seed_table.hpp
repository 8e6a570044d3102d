// The constants every registry starts with.
#pragma once

#include <cstddef>

namespace norvel {

class FormulasRegistry;

inline constexpr std::size_t kSeedTableSize = 17;

// Inserts the seed table into `registry` in table order.
void insert_seed_table(FormulasRegistry& registry);

}  // namespace norvel
