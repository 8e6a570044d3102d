// Shortest digits come from std::to_chars in scientific form, which already
// picks the fewest digits that round-trip; the rest is taking its text apart.
#include "common/decimal.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

#include "common/panic.hpp"

namespace norvel {

DigitArray shortest_digit_array(double value) {
    if (!std::isfinite(value)) panic("shortest digits of a non-finite double");

    DigitArray out;
    out.negative = std::signbit(value);

    // Longest form: "d.dddddddddddddddde-308" (24 bytes).
    char text[32];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific);
    if (ec != std::errc{}) panic("to_chars failed on a finite double");

    const char* p = text;
    for (; p != end && *p != 'e'; ++p) {
        if (*p != '.') out.digits[static_cast<std::size_t>(out.count++)] = *p;
    }
    if (p == end) panic("to_chars scientific text without an exponent");
    ++p;  // 'e'
    const bool exponent_negative = *p == '-';
    ++p;  // the exponent's sign is always written
    int exponent = 0;
    std::from_chars(p, end, exponent);
    out.exponent = exponent_negative ? -exponent : exponent;
    return out;
}

bool append_fixed(std::string& out, const DigitArray& d) {
    const std::string_view digits = d.view();
    const int e = d.exponent;
    if (d.negative) out += '-';
    if (e < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-e - 1), '0');
        out += digits;
        return true;
    }
    const std::size_t whole = static_cast<std::size_t>(e) + 1;
    if (whole >= digits.size()) {
        out += digits;
        out.append(whole - digits.size(), '0');
        return false;
    }
    out += digits.substr(0, whole);
    out += '.';
    out += digits.substr(whole);
    return true;
}

}  // namespace norvel
