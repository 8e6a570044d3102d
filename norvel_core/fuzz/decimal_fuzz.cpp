// The shortest-decimal formatter: every finite double's plain text and digits
// read back to the same bits, in the fewest digits, under the number grammar.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "check.hpp"
#include "common/decimal.hpp"
#include "common/panic.hpp"

using namespace norvel;
using namespace norvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(double)) return 0;
    double value;
    std::memcpy(&value, data, sizeof value);
    const std::string plain = plain_decimal(value);
    if (!std::isfinite(value)) {
        expect(plain == (std::isnan(value) ? "nan"
                         : value > 0       ? "inf"
                                           : "-inf"),
               "non-finite text", plain);
        bool panicked = false;
        try {
            shortest_digits(value);
        } catch (const Panic&) {
            panicked = true;
        }
        expect(panicked, "non-finite digits did not panic", plain);
        return 0;
    }
    expect(number_length(plain, false) == plain.size(), "plain text off the grammar", plain);
    expect(plain.find('.') == std::string::npos || plain.back() != '0', "trailing zero", plain);
    expect(same_bits(read_double(plain), value), "plain text does not read back", plain);
    expect_shortest(value, significant_digits(plain), plain);

    const ShortestDigits d = shortest_digits(value);
    const DigitArray a = shortest_digit_array(value);
    expect(a.view() == d.digits && a.exponent == d.exponent && a.negative == d.negative,
           "the two digit forms differ", d.digits);
    expect(d.digits == "0" || (d.digits.front() != '0' && d.digits.back() != '0'),
           "digits with leading or trailing zeros", d.digits);
    std::string scientific = (d.negative ? "-" : "") + d.digits.substr(0, 1);
    if (d.digits.size() > 1) scientific += "." + d.digits.substr(1);
    scientific += "e" + std::to_string(d.exponent);
    expect(same_bits(read_double(scientific), value), "digits do not read back", scientific);
    expect_shortest(value, static_cast<int>(d.digits.size()), scientific);
    return 0;
}
