// Shortest round-trip decimal forms of doubles.
#pragma once

#include <string>

namespace norvel {

// The shortest significant digits that read back as `value` (finite, non-zero
// magnitude), and the decimal exponent of the first digit.
struct ShortestDigits {
    std::string digits;  // no leading or trailing zeros; "0" for zero
    int exponent = 0;    // scientific exponent of the first digit
    bool negative = false;
};
ShortestDigits shortest_digits(double value);

// Plain decimal text with no exponent, the fractional part of a whole number
// dropped: 246220.0 -> "246220", -1.0 -> "-1", 1776.86 -> "1776.86".
std::string plain_decimal(double value);

}  // namespace norvel
