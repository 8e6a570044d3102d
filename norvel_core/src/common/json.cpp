// The JSON pieces behind the constant datasheet.
#include "common/json.hpp"

#include <charconv>
#include <cmath>

#include "common/decimal.hpp"

namespace norvel::json {

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

}  // namespace norvel::json
