// The quark-mixing matrix: nine real entries row by row and a stored
// Jarlskog invariant.
#pragma once

#include <array>

namespace norvel {

class CKMMatrix {
public:
    using Entries = std::array<std::array<double, 3>, 3>;

    constexpr CKMMatrix(const Entries& entries, double jarlskog) noexcept
        : entries_(entries), jarlskog_(jarlskog) {}

    // The identity, with J = 0.
    static CKMMatrix from_topology() noexcept;

    // Checks only the normalisation of each row against `tol`.
    bool is_unitary(double tol) const noexcept;
    double jarlskog() const noexcept { return jarlskog_; }
    const Entries& entries() const noexcept { return entries_; }

private:
    Entries entries_;
    double jarlskog_;
};

}  // namespace norvel
