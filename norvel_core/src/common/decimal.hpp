// Shortest round-trip decimal forms of doubles.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace norvel {

// The shortest significant digits that read back as `value`, and the
// decimal exponent of the first digit, in a fixed buffer.
struct DigitArray {
    std::array<char, 17> digits{};  // a double never needs more than 17
    int count = 0;
    int exponent = 0;
    bool negative = false;

    std::string_view view() const noexcept {
        return {digits.data(), static_cast<std::size_t>(count)};
    }
};
// Panics when `value` is not finite.
DigitArray shortest_digit_array(double value);

// Appends the digits without an exponent, signed, in as few characters as
// they allow: "246220", "-1", "1776.86", "0.000065". Returns whether a
// fractional part was written.
bool append_fixed(std::string& out, const DigitArray& digits);

}  // namespace norvel
