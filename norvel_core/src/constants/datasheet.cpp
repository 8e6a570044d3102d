#include "constants/datasheet.hpp"

#include <cstddef>

#include "common/json.hpp"

namespace norvel {

namespace {

// Room for a string member's value: every byte may become a six-byte escape.
constexpr std::size_t escaped_room(std::string_view text) { return 6 * text.size() + 2; }

// "-1.7976931348623157e+308" is the longest number text.
constexpr std::size_t kNumberRoom = 24;

}  // namespace

std::string datasheet_json(const ConstantEntry& entry) {
    // The members are written straight into one buffer, sized once, in the
    // byte-wise order of their keys that a general JSON object would sort them into.
    constexpr std::string_view kFixed = R"({"name":,"status":,"uncertainty":,"units":,"value":})";
    const std::string_view status = to_text(entry.status);
    std::string out;
    out.reserve(kFixed.size() + escaped_room(entry.name) + escaped_room(status) + kNumberRoom +
                escaped_room(entry.units) + kNumberRoom);
    out += R"({"name":)";
    json::write_string(out, entry.name);
    out += R"(,"status":)";
    json::write_string(out, status);
    out += R"(,"uncertainty":)";
    if (entry.uncertainty) {
        json::write_number(out, *entry.uncertainty);
    } else {
        out += "null";
    }
    out += R"(,"units":)";
    json::write_string(out, entry.units);
    out += R"(,"value":)";
    json::write_number(out, entry.value);
    out += '}';
    return out;
}

}  // namespace norvel
