// The datasheet of one constant as compact JSON text.
#pragma once

#include <string>

#include "constants/entry.hpp"

namespace norvel {

// {"name":..,"status":..,"uncertainty":..,"units":..,"value":..}: keys in
// byte-wise order, non-finite numbers as null. Expression and dependencies
// are not part of the datasheet.
std::string datasheet_json(const ConstantEntry& entry);

}  // namespace norvel
