// What both fuzz targets check their writers' text against: a strict reader
// of the number grammar and the shortest-digits property.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace norvel::fuzz {

[[noreturn]] inline void fault(const char* what, std::string_view text) {
    std::fprintf(stderr, "%s: \"%.*s\"\n", what, static_cast<int>(text.size()), text.data());
    std::abort();
}

inline void expect(bool ok, const char* what, std::string_view text) {
    if (!ok) fault(what, text);
}

inline bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

inline double read_double(std::string_view text) {
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    expect(end == copy.c_str() + copy.size(), "number not read to its end", text);
    return value;
}

// The length of the number at the front of `text` under the grammar
// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?, or 0 when there is none.
inline std::size_t number_length(std::string_view text, bool exponent_allowed = true) {
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t from = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - from;
    };
    if (i < text.size() && text[i] == '-') ++i;
    const std::size_t first = i;
    const std::size_t whole = digits();
    if (whole == 0 || (whole > 1 && text[first] == '0')) return 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (digits() == 0) return 0;
    }
    if (exponent_allowed && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return 0;
    }
    return i;
}

// No decimal with fewer significant digits than `count` reads back as `value`.
inline void expect_shortest(double value, int count, std::string_view text) {
    for (int fewer = 1; fewer < count; ++fewer) {
        char shorter[40];
        std::snprintf(shorter, sizeof shorter, "%.*e", fewer - 1, value);
        expect(!same_bits(read_double(shorter), value), "a shorter decimal reads back", text);
    }
}

// Significant digits of a plain or scientific number text.
inline int significant_digits(std::string_view text) {
    std::string digits;
    for (char c : text) {
        if (c == 'e' || c == 'E') break;
        if (c >= '0' && c <= '9') digits += c;
    }
    const auto first = digits.find_first_not_of('0');
    if (first == std::string::npos) return 1;
    const auto last = digits.find_last_not_of('0');
    // Zeros ending a whole number are place holders, not significant digits.
    return static_cast<int>(last - first + 1);
}

}  // namespace norvel::fuzz
