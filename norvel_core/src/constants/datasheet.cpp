#include "constants/datasheet.hpp"

#include "common/json.hpp"

namespace norvel {

std::string datasheet_json(const ConstantEntry& entry) {
    json::Object sheet;
    sheet.reserve(5)
        .add("name", entry.name)
        .add("value", entry.value)
        .add("units", entry.units)
        .add("uncertainty",
             entry.uncertainty ? json::Value(*entry.uncertainty) : json::Value(json::Null{}))
        .add("status", std::string(to_text(entry.status)));
    return sheet.write();
}

}  // namespace norvel
