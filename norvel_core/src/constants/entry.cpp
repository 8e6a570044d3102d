// Making entries and the one-line text forms of statuses and errors.
#include "constants/entry.hpp"

namespace norvel {

std::string_view to_text(ConstantStatus status) noexcept {
    switch (status) {
        case ConstantStatus::Seed:
            return "Seed";
        case ConstantStatus::Cached:
            return "Cached";
        case ConstantStatus::Pending:
            return "Pending";
        case ConstantStatus::External:
            return "External";
    }
    return {};  // only reachable through a cast from an out-of-range byte
}

ConstantEntry ConstantEntry::seed(std::string_view name, double value, std::string_view units) {
    ConstantEntry entry;
    entry.name = name;
    entry.value = value;
    entry.units = units;
    return entry;
}

ConstantEntry ConstantEntry::pending(std::string_view name, std::string_view expression,
                                     std::string_view units,
                                     std::initializer_list<std::string_view> dependencies) {
    ConstantEntry entry;
    entry.name = name;
    entry.units = units;
    entry.status = ConstantStatus::Pending;
    entry.expression.emplace(expression);
    entry.dependencies.reserve(dependencies.size());
    for (const std::string_view dependency : dependencies) {
        entry.dependencies.emplace_back(dependency);
    }
    return entry;
}

namespace {

// Opening text, field, middle text[, second field]: sized once, appended once.
std::string framed(std::string_view open, std::string_view field, std::string_view close,
                   std::string_view tail = {}) {
    std::string text;
    text.reserve(open.size() + field.size() + close.size() + tail.size());
    text.append(open).append(field).append(close).append(tail);
    return text;
}

struct TextForm {
    std::string operator()(const registry_error::NotFound& e) const {
        return framed("constant `", e.name, "` not found in registry");
    }
    std::string operator()(const registry_error::NotImplemented& e) const {
        return framed("derivation of `", e.name, "` is not yet implemented in norvel_core");
    }
    std::string operator()(const registry_error::LoadFailed& e) const {
        return framed("failed to load constants from `", e.path, "`: ", e.source.message());
    }
    std::string operator()(const registry_error::InvalidSchema& e) const {
        return framed("invalid JSON schema in `", e.path, "`");
    }
    std::string operator()(const registry_error::CyclicDerivation& e) const {
        return framed("cyclic derivation involving `", e.name, "`");
    }
    std::string operator()(const registry_error::ExpressionParse& e) const {
        return framed("expression parse error in `", e.subject, "`: ", e.detail);
    }
};

}  // namespace

std::string RegistryError::text() const { return std::visit(TextForm{}, kind_); }

}  // namespace norvel
