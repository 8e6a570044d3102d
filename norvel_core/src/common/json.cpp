// The compact JSON writer behind the constant datasheet.
#include "common/json.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "common/decimal.hpp"

namespace norvel::json {

Object& Object::add(std::string key, Value value) {
    // std::string compares through char_traits<char>, which orders bytes as
    // unsigned char: UTF-8 keys sort byte-wise. upper_bound keeps equal keys
    // in arrival order.
    const auto at =
        std::upper_bound(members_.begin(), members_.end(), key,
                         [](const std::string& k, const auto& m) { return k < m.first; });
    members_.emplace(at, std::move(key), std::move(value));
    return *this;
}

namespace {

// "-1.7976931348623157e+308" is the longest number text.
constexpr std::size_t max_number_text = 24;

std::size_t estimated_size(const Value& value) {
    if (const auto* s = std::get_if<std::string>(&value)) return s->size() + 2;
    if (std::holds_alternative<double>(value)) return max_number_text;
    return 4;
}

void write_value(std::string& out, const Value& value) {
    if (const auto* s = std::get_if<std::string>(&value)) {
        write_string(out, *s);
    } else if (const auto* d = std::get_if<double>(&value)) {
        write_number(out, *d);
    } else {
        out += "null";
    }
}

}  // namespace

std::string Object::write() const {
    std::size_t size = 2;
    for (const auto& [key, value] : members_) size += key.size() + 4 + estimated_size(value);

    std::string out;
    out.reserve(size);
    out += '{';
    bool first = true;
    for (const auto& [key, value] : members_) {
        if (!first) out += ',';
        first = false;
        write_string(out, key);
        out += ':';
        write_value(out, value);
    }
    out += '}';
    return out;
}

void write_string(std::string& out, std::string_view s) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    std::size_t pending = 0;  // first byte not yet copied to `out`
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(s, pending, i - pending);
        pending = i + 1;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            default: {
                const char escape[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xf]};
                out.append(escape, sizeof escape);
            }
        }
    }
    out.append(s, pending);
    out += '"';
}

void write_number(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    const DigitArray d = shortest_digit_array(value);
    const int e = d.exponent;
    if (e >= -5 && e <= 15) {
        // Fixed notation; a whole number still shows it is a double.
        if (!append_fixed(out, d)) out += ".0";
        return;
    }
    const std::string_view digits = d.view();
    if (d.negative) out += '-';
    out += digits[0];
    if (digits.size() > 1) {
        out += '.';
        out += digits.substr(1);
    }
    out += e < 0 ? "e-" : "e+";
    char exponent[4];
    const auto res = std::to_chars(exponent, exponent + sizeof exponent, e < 0 ? -e : e);
    out.append(exponent, res.ptr);
}

std::string number_text(double value) {
    std::string out;
    out.reserve(max_number_text);
    write_number(out, value);
    return out;
}

}  // namespace norvel::json
