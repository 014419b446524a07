// The statistics the shading tests rely on, checked against published table
// values and closed forms, so that a passing chi-square test means
// something (BsdfTest's negative control rejects a slightly wrong pdf).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "statistics.h"

namespace {

// Upper-tail critical values of the chi-square distribution (NIST/SEMATECH
// e-Handbook of Statistical Methods, table 1.3.6.7.4).
TEST(ChiSquareDistribution, TailProbabilitiesMatchTables) {
    const struct {
        int dof;
        double statistic;
        double p;
    } table[] = {
        {1, 3.841, 0.05},  {1, 6.635, 0.01},  {2, 5.991, 0.05},     {5, 11.070, 0.05},
        {5, 15.086, 0.01}, {10, 18.307, 0.05}, {10, 2.558, 0.99},   {30, 50.892, 0.01},
        {100, 124.342, 0.05}, {100, 70.065, 0.99},
    };
    for (const auto& row : table) {
        const double p = gamma_q(0.5 * row.dof, 0.5 * row.statistic);
        EXPECT_NEAR(p / row.p, 1.0, 2e-3) << "dof " << row.dof << " chi2 " << row.statistic;
    }
}

TEST(ChiSquareDistribution, IncompleteGammaMatchesClosedForms) {
    for (double x : {1e-6, 0.1, 1.0, 2.5, 10.0, 40.0}) {
        EXPECT_NEAR(gamma_q(1.0, x), std::exp(-x), 1e-12) << x;             // exponential
        EXPECT_NEAR(gamma_q(0.5, x), std::erfc(std::sqrt(x)), 1e-12) << x;  // half-normal
        EXPECT_NEAR(gamma_q(2.0, x), (1.0 + x) * std::exp(-x), 1e-12) << x;
    }
    EXPECT_EQ(gamma_q(3.0, 0.0), 1.0);
    EXPECT_EQ(gamma_q(3.0, -1.0), 1.0);
}

TEST(ChiSquareTest, StatisticPoolingAndImpossibleSamples) {
    // The last two cells expect fewer than 5 and are pooled into one.
    const ChiSquareResult r = chi_square_test({10, 20, 1, 2}, {12, 18, 1.5, 1.5});
    EXPECT_NEAR(r.statistic, 4.0 / 12 + 4.0 / 18, 1e-12);
    EXPECT_EQ(r.degrees_of_freedom, 2);
    EXPECT_NEAR(r.p_value, std::exp(-r.statistic / 2), 1e-12);

    // A sample where the density is zero rejects outright.
    const ChiSquareResult impossible = chi_square_test({10, 10, 1}, {10.5, 10.5, 0});
    EXPECT_EQ(impossible.p_value, 0.0);
}

TEST(Discrepancy, MatchesTheDefiningIntegral) {
    // T^2 = integral over [0,1]^2 of (fraction of points in [0,x)x[0,y) - xy)^2,
    // evaluated by the midpoint rule.
    const std::vector<std::array<double, 2>> points = {{0.2, 0.7}, {0.55, 0.1}, {0.9, 0.45}};
    constexpr int kSteps = 1000;
    double integral = 0.0;
    for (int i = 0; i < kSteps; ++i) {
        for (int j = 0; j < kSteps; ++j) {
            const double x = (i + 0.5) / kSteps, y = (j + 0.5) / kSteps;
            double inside = 0.0;
            for (const auto& p : points) inside += (p[0] < x && p[1] < y) ? 1.0 : 0.0;
            const double d = inside / points.size() - x * y;
            integral += d * d;
        }
    }
    integral /= double(kSteps) * kSteps;
    EXPECT_NEAR(l2_star_discrepancy(points), std::sqrt(integral), 1e-3);
}

TEST(Sidak, FamilyKeepsItsOverallLevel) {
    EXPECT_NEAR(sidak_alpha(0.05, 1), 0.05, 1e-12);
    for (int tests : {2, 10, 48}) {
        const double a = sidak_alpha(0.01, tests);
        EXPECT_NEAR(1.0 - std::pow(1.0 - a, tests), 0.01, 1e-12) << tests;
        EXPECT_LT(a, 0.01 / tests * 1.01);
    }
    EXPECT_NEAR(sidak_alpha(0.05, 10), 0.0051162, 1e-6);
}

}  // namespace
