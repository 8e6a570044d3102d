// Shortest round-trip decimal forms of doubles.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace norvel {

// The shortest significant digits that read back as `value` (finite, non-zero
// magnitude), and the decimal exponent of the first digit.
struct ShortestDigits {
    std::string digits;  // no leading or trailing zeros; "0" for zero
    int exponent = 0;    // scientific exponent of the first digit
    bool negative = false;
};
// Panics when `value` is not finite.
ShortestDigits shortest_digits(double value);

// The same digits in a fixed buffer, for writers that must not allocate.
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

// Plain decimal text with no exponent, the fractional part of a whole number
// dropped: 246220.0 -> "246220", -1.0 -> "-1", 1776.86 -> "1776.86".
// Zero keeps its sign ("0", "-0"); non-finite values read "nan", "inf", "-inf".
std::string plain_decimal(double value);

}  // namespace norvel
