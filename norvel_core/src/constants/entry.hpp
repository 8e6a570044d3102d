// The record of one named constant, its provenance and the registry's errors.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

namespace norvel {

enum class ConstantStatus : std::uint8_t { Seed = 0, Cached = 1, Pending = 2, External = 3 };

std::string_view to_text(ConstantStatus status) noexcept;

// Owns all of its texts; copying is a deep copy (an absent expression stays absent).
struct ConstantEntry {
    std::string name;
    double value = 0.0;
    std::string units;
    std::optional<double> uncertainty;
    ConstantStatus status = ConstantStatus::Seed;
    std::optional<std::string> expression;
    std::vector<std::string> dependencies;

    static ConstantEntry seed(std::string_view name, double value, std::string_view units);
    static ConstantEntry pending(std::string_view name, std::string_view expression,
                                 std::string_view units,
                                 std::initializer_list<std::string_view> dependencies = {});

    bool operator==(const ConstantEntry&) const = default;
};

namespace registry_error {
struct NotFound {
    std::string name;
};
struct NotImplemented {
    std::string name;
};
struct LoadFailed {
    std::string path;
    std::error_code source;
};
struct InvalidSchema {
    std::string path;
};
struct CyclicDerivation {
    std::string name;
};
struct ExpressionParse {
    std::string subject;
    std::string detail;
};
}  // namespace registry_error

class RegistryError {
public:
    using Kind = std::variant<registry_error::NotFound, registry_error::NotImplemented,
                              registry_error::LoadFailed, registry_error::InvalidSchema,
                              registry_error::CyclicDerivation, registry_error::ExpressionParse>;

    template <typename K>
    RegistryError(K kind) : kind_(std::move(kind)) {}

    const Kind& kind() const noexcept { return kind_; }
    // The one-line message that reaches Python as a KeyError's argument.
    std::string text() const;

private:
    Kind kind_;
};

}  // namespace norvel
