// The datasheet writer: whatever entry goes in, the text is strict JSON whose
// five members come back in byte-wise key order with their values intact,
// numbers in their shortest digits and strings decoding to the same bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "check.hpp"
#include "constants/datasheet.hpp"

using namespace norvel;
using namespace norvel::fuzz;

namespace {

namespace json {
struct Null {};
using Value = std::variant<Null, double, std::string>;
}  // namespace json

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    std::vector<std::pair<std::string, json::Value>> object() {
        std::vector<std::pair<std::string, json::Value>> members;
        take('{');
        if (peek() == '}') {
            ++at_;
        } else {
            do {
                std::string key = string();
                take(':');
                members.emplace_back(std::move(key), value());
            } while (peek() == ',' && ++at_);
            take('}');
        }
        expect(at_ == text_.size(), "text after the object", text_);
        return members;
    }

private:
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    void take(char c) {
        expect(peek() == c, "unexpected character", text_.substr(at_));
        ++at_;
    }

    json::Value value() {
        if (peek() == '"') return string();
        if (text_.substr(at_, 4) == "null") {
            at_ += 4;
            return json::Null{};
        }
        const std::size_t length = number_length(text_.substr(at_));
        expect(length > 0, "not a value", text_.substr(at_));
        const std::string_view number = text_.substr(at_, length);
        at_ += length;
        const double parsed = read_double(number);
        expect_shortest(parsed, significant_digits(number), number);
        expect(number.find_first_of(".e") != std::string_view::npos, "a number without its double",
               number);
        return parsed;
    }

    std::string string() {
        take('"');
        std::string out;
        while (peek() != '"') {
            expect(at_ < text_.size(), "unterminated string", text_);
            const auto c = static_cast<unsigned char>(text_[at_++]);
            expect(c >= 0x20, "raw control character", text_);
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            const char e = text_[at_++];
            const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
            if (const auto i = simple.find(e); i != std::string_view::npos) {
                out += meaning[i];
                continue;
            }
            expect(e == 'u' && at_ + 4 <= text_.size(), "bad escape", text_);
            const unsigned code = std::stoul(std::string(text_.substr(at_, 4)), nullptr, 16);
            expect(code < 0x20, "a \\u escape the writer should not need", text_);
            out += static_cast<char>(code);
            at_ += 4;
        }
        ++at_;
        return out;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

bool same(const json::Value& written, const json::Value& read) {
    if (const auto* d = std::get_if<double>(&written)) {
        if (!std::isfinite(*d)) return std::holds_alternative<json::Null>(read);
        const auto* r = std::get_if<double>(&read);
        return r != nullptr && same_bits(*d, *r);
    }
    if (const auto* s = std::get_if<std::string>(&written)) {
        const auto* r = std::get_if<std::string>(&read);
        return r != nullptr && *s == *r;
    }
    return std::holds_alternative<json::Null>(read);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ConstantEntry entry;
    entry.name = in.ConsumeRandomLengthString(24);
    entry.units = in.ConsumeRandomLengthString(24);
    entry.value = std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
    if (in.ConsumeBool())
        entry.uncertainty = std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
    entry.status = static_cast<ConstantStatus>(in.ConsumeIntegralInRange(0, 3));
    const std::string text = datasheet_json(entry);
    const auto read = Reader(text).object();
    const std::pair<std::string_view, json::Value> members[] = {
        {"name", entry.name},
        {"status", std::string(to_text(entry.status))},
        {"uncertainty", entry.uncertainty ? json::Value(*entry.uncertainty) : json::Null{}},
        {"units", entry.units},
        {"value", entry.value},
    };
    expect(read.size() == std::size(members), "members lost", text);
    for (std::size_t i = 0; i < read.size(); ++i) {
        const auto& [key, value] = members[i];
        expect(read[i].first == key && same(value, read[i].second), "member changed", text);
    }
    return 0;
}
