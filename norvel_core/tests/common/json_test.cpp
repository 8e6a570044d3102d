#include "common/json.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "constants/datasheet.hpp"

namespace norvel {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

struct NumberCase {
    double value;
    std::string_view text;
};

// Grouped by the branch of the number format they exercise; the boundaries
// of each branch sit next to each other.
const NumberCase kNumberCases[] = {
    // Documented examples.
    {24.0, "24.0"},
    {1.618033988749895, "1.618033988749895"},
    {0.5772156649015329, "0.5772156649015329"},
    {0.00001, "0.00001"},
    {0.0000065, "6.5e-6"},
    {1e15, "1000000000000000.0"},
    {1e16, "1e+16"},
    {6.62607015e-34, "6.62607015e-34"},
    // Zeros keep their sign.
    {0.0, "0.0"},
    {-0.0, "-0.0"},
    // E = -6: the first exponent form below the fixed range.
    {1e-6, "1e-6"},
    {9.5e-6, "9.5e-6"},
    {-1.25e-6, "-1.25e-6"},
    // E = -5 .. -1: leading "0." and -E-1 zeros.
    {1.2345e-5, "0.000012345"},
    {0.5, "0.5"},
    {0.1, "0.1"},
    {0.30000000000000004, "0.30000000000000004"},
    {-0.999, "-0.999"},
    // E = 0.
    {1.0, "1.0"},
    {9.75, "9.75"},
    // Digit count below, at and above E+1 (E = 2).
    {100.0, "100.0"},
    {120.0, "120.0"},
    {123.0, "123.0"},
    {123.4, "123.4"},
    {-246220.0, "-246220.0"},
    // E = 15 with more digits than fit before the point.
    {1234567890123456.0, "1234567890123456.0"},
    {1234567890123456.5, "1234567890123456.5"},
    {-9007199254740992.0, "-9007199254740992.0"},
    // E = 16 and beyond: exponent form with sign, no leading zeros.
    {12345678901234568.0, "1.2345678901234568e+16"},
    {-2e16, "-2e+16"},
    {1e100, "1e+100"},
    {1e-100, "1e-100"},
    // The ends of the range.
    {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
    {std::numeric_limits<double>::lowest(), "-1.7976931348623157e+308"},
    {std::numeric_limits<double>::min(), "2.2250738585072014e-308"},
    {std::numeric_limits<double>::denorm_min(), "5e-324"},
    {-std::numeric_limits<double>::denorm_min(), "-5e-324"},
    {std::nextafter(std::numeric_limits<double>::min(), 0.0), "2.225073858507201e-308"},
    // Not finite.
    {std::numeric_limits<double>::quiet_NaN(), "null"},
    {-std::numeric_limits<double>::quiet_NaN(), "null"},
    {std::numeric_limits<double>::infinity(), "null"},
    {-std::numeric_limits<double>::infinity(), "null"},
};

std::string number_text(double value) {
    std::string out;
    json::write_number(out, value);
    return out;
}

TEST(JsonNumber, CaseTable) {
    for (const auto& [value, text] : kNumberCases) {
        EXPECT_EQ(number_text(value), text) << "value " << value;
    }
}

TEST(JsonNumber, AppendsToExistingText) {
    std::string out = "[";
    json::write_number(out, 24.0);
    json::write_number(out, std::nan(""));
    EXPECT_EQ(out, "[24.0null");
}

// Significant digits of a number text: mantissa digits without leading or
// trailing zeros ("1000000000000000.0" has one, "0.000012345" five).
int significant_digits(std::string_view text) {
    text = text.substr(0, text.find('e'));
    std::string digits;
    for (char c : text) {
        if (c >= '0' && c <= '9') digits += c;
    }
    const auto first = digits.find_first_not_of('0');
    const auto last = digits.find_last_not_of('0');
    return static_cast<int>(last - first + 1);
}

bool reads_back_as(std::uint64_t mantissa, int exponent, double target) {
    if (mantissa == 0) return false;
    std::string text = std::to_string(mantissa);
    text += 'e';
    text += std::to_string(exponent);
    double back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    return back == target;
}

// Whether some decimal with `digits` significant digits reads back as `x`
// (positive, finite). Tries the correctly rounded one and both its
// neighbours, and the finer neighbour below when rounding carried into a new
// power of ten.
bool some_decimal_with_digits_round_trips(double x, int digits) {
    char text[48];
    const auto end =
        std::to_chars(text, text + sizeof text, x, std::chars_format::scientific, digits - 1).ptr;
    std::uint64_t mantissa = 0;
    const char* p = text;
    for (; *p != 'e'; ++p) {
        if (*p != '.') mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    int exponent = 0;
    ++p;
    if (*p == '+') ++p;
    std::from_chars(p, end, exponent);
    const int scale = exponent - (digits - 1);

    if (reads_back_as(mantissa - 1, scale, x) || reads_back_as(mantissa, scale, x) ||
        reads_back_as(mantissa + 1, scale, x)) {
        return true;
    }
    std::uint64_t power = 1;
    for (int i = 1; i < digits; ++i) power *= 10;
    return mantissa == power && reads_back_as(mantissa * 10 - 1, scale - 1, x);
}

double random_double(std::mt19937_64& rng) {
    // Half raw bit patterns, which mostly land in the exponent form; half
    // spread over the binades around the fixed-point forms.
    const std::uint64_t bits = rng();
    if (bits & 1) return std::bit_cast<double>(rng());
    const std::uint64_t biased_exponent = 1023 - 22 + (bits >> 1) % 80;
    const std::uint64_t fraction = rng() & ((std::uint64_t{1} << 52) - 1);
    return std::bit_cast<double>((bits & (std::uint64_t{1} << 63)) | (biased_exponent << 52) |
                                 fraction);
}

TEST(JsonNumber, RandomDoublesRoundTripInShortestForm) {
    std::mt19937_64 rng(0x5eed'0f'd1'91'75);
    int checked = 0;
    while (checked < 1'000'000) {
        const double x = random_double(rng);
        if (!std::isfinite(x) || x == 0.0) continue;
        ++checked;
        const std::string text = number_text(x);

        double back = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_TRUE(ec == std::errc{} && end == text.data() + text.size()) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(x)) << text;

        const bool exponent_form = text.find('e') != std::string::npos;
        ASSERT_TRUE(exponent_form || text.find('.') != std::string::npos) << text;
        const double magnitude = std::fabs(x);
        ASSERT_EQ(exponent_form, magnitude < 1e-5 || magnitude >= 1e16) << text;

        const int digits = significant_digits(text);
        ASSERT_LE(digits, 17) << text;
        if (digits > 1) {
            ASSERT_FALSE(some_decimal_with_digits_round_trips(magnitude, digits - 1))
                << text << " is not the shortest";
        }
    }
}

struct StringCase {
    std::string_view raw;
    std::string_view written;
};

const StringCase kStringCases[] = {
    {"", R"("")"},
    {"b3", R"("b3")"},
    {"say \"hi\"", R"("say \"hi\"")"},
    {"C:\\dir\\", R"("C:\\dir\\")"},
    {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
    {"a\0b"sv, R"("a\u0000b")"},
    {"\x01\x0b\x0e\x1b\x1f", R"("\u0001\u000b\u000e\u001b\u001f")"},
    {" /'<>&", R"(" /'<>&")"},
    {"\x7f", "\"\x7f\""},
    {"\xc3\xa9t\xc3\xa9", "\"\xc3\xa9t\xc3\xa9\""},  // two-byte UTF-8
    {"\xe2\x84\x8f", "\"\xe2\x84\x8f\""},            // three-byte UTF-8
    {"\xf0\x9f\x9c\x81", "\"\xf0\x9f\x9c\x81\""},    // four-byte UTF-8
    {"\xff\x80", "\"\xff\x80\""},                    // bytes pass through unchecked
    {"\"\x1f\\\n", R"("\"\u001f\\\n")"},
};

TEST(JsonString, EscapesByCharacterClass) {
    for (const auto& [raw, written] : kStringCases) {
        std::string out;
        json::write_string(out, raw);
        EXPECT_EQ(out, written);
    }
}

TEST(JsonString, OnlyQuoteBackslashAndControlsAreEscaped) {
    for (int c = 0; c < 256; ++c) {
        std::string out;
        json::write_string(out, std::string(1, static_cast<char>(c)));
        const bool escaped = c < 0x20 || c == '"' || c == '\\';
        EXPECT_EQ(out.size() != 3, escaped) << "byte " << c;
    }
}

// The datasheet writes its members straight into one buffer, in byte-wise
// key order, with the string and number forms above.
TEST(Datasheet, Text) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<ConstantEntry, std::string_view> cases[] = {
        {ConstantEntry::seed("b3", 24.0, "dimensionless"),
         R"({"name":"b3","status":"Seed","uncertainty":null,"units":"dimensionless","value":24.0})"},
        {ConstantEntry::pending("v_higgs_mev", "246220", "MeV"),
         R"({"name":"v_higgs_mev","status":"Pending","uncertainty":null,"units":"MeV","value":0.0})"},
        {{"q\"\\\n\x01\xc3\xa9", -0.0, "u\tv", 6.62607015e-34, ConstantStatus::Cached, {}, {}},
         "{\"name\":\"q\\\"\\\\\\n\\u0001\xc3\xa9\",\"status\":\"Cached\","
         R"("uncertainty":6.62607015e-34,"units":"u\tv","value":-0.0})"},
        {{"nan", std::nan(""), "", inf, ConstantStatus::External, "x", {"y"}},
         R"({"name":"nan","status":"External","uncertainty":null,"units":"","value":null})"},
    };
    for (const auto& [entry, text] : cases) EXPECT_EQ(datasheet_json(entry), text) << entry.name;
}

}  // namespace
}  // namespace norvel
