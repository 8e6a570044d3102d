// The number writer: every finite double comes out under the number grammar
// in its fewest digits, reads back to the same bits and shows it is a double;
// anything else is null.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "check.hpp"
#include "common/json.hpp"

using namespace norvel;
using namespace norvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(double)) return 0;
    double value;
    std::memcpy(&value, data, sizeof value);
    std::string text = "[";
    json::write_number(text, value);
    expect(text.front() == '[', "the text before was changed", text);
    text.erase(0, 1);
    if (!std::isfinite(value)) {
        expect(text == "null", "non-finite number", text);
        return 0;
    }
    expect(number_length(text) == text.size(), "number off the grammar", text);
    expect(text.find_first_of(".e") != std::string::npos, "a number without its double", text);
    expect(same_bits(read_double(text), value), "number does not read back", text);
    expect_shortest(value, significant_digits(text), text);
    return 0;
}
