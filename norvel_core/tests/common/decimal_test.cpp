#include "common/decimal.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "common/panic.hpp"

namespace norvel {
namespace {

TEST(ShortestDigits, SplitsDigitsExponentAndSign) {
    struct Case {
        double value;
        std::string_view digits;
        int exponent;
        bool negative;
    };
    const Case cases[] = {
        {246220.0, "24622", 5, false},
        {6.62607015e-34, "662607015", -34, false},
        {-0.0000065, "65", -6, true},
        {0.1, "1", -1, false},
        {1776.86, "177686", 3, false},
        {0.0, "0", 0, false},
        {-0.0, "0", 0, true},
        {std::numeric_limits<double>::max(), "17976931348623157", 308, false},
        {std::numeric_limits<double>::denorm_min(), "5", -324, false},
    };
    for (const auto& c : cases) {
        const DigitArray d = shortest_digit_array(c.value);
        EXPECT_EQ(d.view(), c.digits) << c.value;
        EXPECT_EQ(d.exponent, c.exponent) << c.value;
        EXPECT_EQ(d.negative, c.negative) << c.value;
    }
}

TEST(ShortestDigits, NonFiniteIsAPanic) {
    EXPECT_THROW(shortest_digit_array(std::nan("")), Panic);
    EXPECT_THROW(shortest_digit_array(-std::numeric_limits<double>::infinity()), Panic);
}

TEST(AppendFixed, NeverUsesAnExponent) {
    struct Case {
        double value;
        std::string_view text;
    };
    const Case cases[] = {
        {246220.0, "246220"},
        {70.0, "70"},
        {-1.0, "-1"},
        {1776.86, "1776.86"},
        {0.5, "0.5"},
        {1e-7, "0.0000001"},
        {-6.5e-6, "-0.0000065"},
        {1e20, "100000000000000000000"},
        {1.5e17, "150000000000000000"},
        {0.0, "0"},
        {-0.0, "-0"},
    };
    for (const auto& [value, text] : cases) {
        std::string out;
        const bool fraction = append_fixed(out, shortest_digit_array(value));
        EXPECT_EQ(out, text) << value;
        EXPECT_EQ(fraction, text.find('.') != std::string_view::npos) << value;
    }
}

}  // namespace
}  // namespace norvel
