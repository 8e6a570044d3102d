#include "flavour/ckm.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace norvel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(CKMMatrix, FromTopologyIsTheIdentityWithNoCPViolation) {
    const CKMMatrix m = CKMMatrix::from_topology();
    const CKMMatrix::Entries identity = {{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};
    EXPECT_EQ(m.entries(), identity);
    EXPECT_EQ(m.jarlskog(), 0.0);
    EXPECT_FALSE(std::signbit(m.jarlskog()));
}

TEST(CKMMatrix, IdentityAgainstTolerances) {
    const CKMMatrix m = CKMMatrix::from_topology();
    EXPECT_TRUE(m.is_unitary(0.0));
    EXPECT_TRUE(m.is_unitary(-0.0));
    EXPECT_TRUE(m.is_unitary(1e-12));
    EXPECT_TRUE(m.is_unitary(kInf));
    EXPECT_FALSE(m.is_unitary(-1e-12));
    EXPECT_FALSE(m.is_unitary(-std::numeric_limits<double>::denorm_min()));
    EXPECT_FALSE(m.is_unitary(-kInf));
    EXPECT_FALSE(m.is_unitary(kNaN));
}

TEST(CKMMatrix, OnlyRowNormalisationIsChecked) {
    const CKMMatrix same_rows({{{1.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, {1.0, 0.0, 0.0}}}, 0.0);
    EXPECT_TRUE(same_rows.is_unitary(0.0));
    const CKMMatrix signed_rows({{{0.0, -1.0, 0.0}, {0.6, 0.0, 0.8}, {0.0, 0.0, -1.0}}}, 0.0);
    EXPECT_TRUE(signed_rows.is_unitary(1e-15));
}

TEST(CKMMatrix, WorstRowDecidesAtTheExactTolerance) {
    // Each matrix has one row off by `deviation` (exact in binary) and the
    // others normalised; the offending row moves to check every row counts.
    struct Case {
        double a, b, c;
        double deviation;
    };
    const Case rows[] = {
        {1.0, 0.0, 0x1p-26, 0x1p-52},  // s = 1 + 2^-52, the next double above 1
        {1.5, 0.0, 0.0, 1.25},        {0.5, 0.5, 0.5, 0.25},
        {0.0, 0.0, 0.0, 1.0},         {kInf, 0.0, 0.0, kInf},
    };
    for (const auto& [a, b, c, deviation] : rows) {
        for (int bad = 0; bad < 3; ++bad) {
            CKMMatrix::Entries entries = {{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};
            entries[static_cast<std::size_t>(bad)] = {a, b, c};
            const CKMMatrix m(entries, 0.0);
            EXPECT_TRUE(m.is_unitary(deviation)) << "row " << bad << " deviation " << deviation;
            EXPECT_FALSE(m.is_unitary(std::nextafter(deviation, 0.0)))
                << "row " << bad << " deviation " << deviation;
        }
    }
}

TEST(CKMMatrix, RowThatIsNotANumberNeverPasses) {
    const double tolerances[] = {0.0, 1e-9, 1.0, 1e300, kInf, kNaN};
    for (int bad = 0; bad < 3; ++bad) {
        for (int column = 0; column < 3; ++column) {
            CKMMatrix::Entries entries = {{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}};
            entries[static_cast<std::size_t>(bad)][static_cast<std::size_t>(column)] = kNaN;
            const CKMMatrix m(entries, 0.0);
            for (double tol : tolerances) {
                EXPECT_FALSE(m.is_unitary(tol))
                    << "NaN at " << bad << "," << column << " tol " << tol;
            }
        }
    }
}

}  // namespace
}  // namespace norvel
