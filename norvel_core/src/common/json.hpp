// A compact JSON writer for flat objects. Members are written in byte-wise
// order of their keys whatever order they were added in, with no whitespace.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace norvel::json {

struct Null {};
using Value = std::variant<Null, double, std::string>;

class Object {
public:
    // Members with equal keys are written in the order they were added.
    Object& reserve(std::size_t members) {
        members_.reserve(members);
        return *this;
    }
    Object& add(std::string key, Value value);
    std::string write() const;

private:
    // Kept in key order as members arrive, so writing needs no sort.
    std::vector<std::pair<std::string, Value>> members_;
};

// Append `s` as a JSON string (quoted and escaped) to `out`.
void write_string(std::string& out, std::string_view s);
// Append a double as a JSON number ("null" when not finite).
void write_number(std::string& out, double value);
std::string number_text(double value);

}  // namespace norvel::json
