#include "flavour/ckm.hpp"

#include <cmath>

namespace norvel {

CKMMatrix CKMMatrix::from_topology() noexcept {
    return CKMMatrix({{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}}, 0.0);
}

bool CKMMatrix::is_unitary(double tol) const noexcept {
    double worst = 0.0;
    for (const auto& [a, b, c] : entries_) {
        const double deviation = std::fabs((a * a + b * b) + c * c - 1.0);
        // NaN never compares greater, so the fold alone would drop this row and
        // let the others decide; a row that is not a number cannot be normalised.
        if (std::isnan(deviation)) return false;
        if (deviation > worst) worst = deviation;
    }
    return tol >= worst;
}

}  // namespace norvel
