// Pieces of compact JSON text, appended to a buffer the caller sized.
#pragma once

#include <string>
#include <string_view>

namespace norvel::json {

// Append `s` as a JSON string (quoted and escaped) to `out`.
void write_string(std::string& out, std::string_view s);
// Append a double as a JSON number in its shortest round-trip digits ("null"
// when not finite); a whole number keeps a ".0" to show it is a double.
void write_number(std::string& out, double value);

}  // namespace norvel::json
