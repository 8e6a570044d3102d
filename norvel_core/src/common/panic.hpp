// Internal invariant failures. A panic aborts the current operation; the
// Python facade catches it at the edge of every entry point and raises
// PanicException. Core code never reports errors this way: it returns them.
#pragma once

#include <source_location>
#include <stdexcept>
#include <string>

namespace norvel {

class Panic : public std::runtime_error {
public:
    Panic(std::string message, std::source_location where)
        : std::runtime_error(std::move(message)), where_(where) {}

    const std::source_location& where() const noexcept { return where_; }

private:
    std::source_location where_;
};

// The single throw site for "this cannot happen" and explicit precondition checks.
[[noreturn]] void panic(std::string message,
                        std::source_location where = std::source_location::current());

}  // namespace norvel
