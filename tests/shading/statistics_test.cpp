// The statistics the shading tests rely on, checked against published table
// values and against deliberately wrong hypotheses, so that a passing
// chi-square test means something.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
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

// Samples of one density tested against a histogram's expectation: the true
// density passes, a density that is slightly wrong fails.
class ChiSquareControl : public ::testing::Test {
protected:
    static constexpr int kBins = 64;
    static constexpr int kSamples = 1 << 17;

    // Histogram of x = sqrt(u), whose density is 2x on [0, 1).
    std::vector<double> observed() {
        std::mt19937 rng(12345);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::vector<double> counts(kBins, 0.0);
        for (int i = 0; i < kSamples; ++i) {
            const int bin = std::min(kBins - 1, static_cast<int>(std::sqrt(u(rng)) * kBins));
            counts[bin] += 1.0;
        }
        return counts;
    }
    // Expected counts of the density proportional to x^k.
    static std::vector<double> expected(double k) {
        std::vector<double> e(kBins);
        for (int b = 0; b < kBins; ++b) {
            const double lo = double(b) / kBins, hi = double(b + 1) / kBins;
            e[b] = kSamples * (std::pow(hi, k + 1) - std::pow(lo, k + 1));
        }
        return e;
    }
};

TEST_F(ChiSquareControl, TheTrueDensityPasses) {
    const ChiSquareResult r = chi_square_test(observed(), expected(1.0));
    EXPECT_GT(r.p_value, 0.01) << r.describe();
    EXPECT_EQ(r.degrees_of_freedom, kBins - 1);
}

TEST_F(ChiSquareControl, ASlightlyWrongDensityFails) {
    // Exponent 1.05 instead of 1: a 5 % error in the shape of the pdf, the
    // size of a wrong Jacobian or a missing cosine on a lobe's flank.
    for (double k : {1.05, 0.95, 0.0, 2.0}) {
        const ChiSquareResult r = chi_square_test(observed(), expected(k));
        EXPECT_LT(r.p_value, 1e-6) << "exponent " << k << ": " << r.describe();
    }
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

// For N independent uniform points in the unit square the mean of T^2 is
// (1/4 - 1/9) / N; a stratified grid does better, a clump much worse.
TEST(Discrepancy, RandomPointsMatchTheirExpectationAndGridsBeatThem) {
    constexpr int kPoints = 256;
    constexpr int kSets = 200;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    double meanT2 = 0.0;
    for (int set = 0; set < kSets; ++set) {
        std::vector<std::array<double, 2>> points(kPoints);
        for (auto& p : points) p = {u(rng), u(rng)};
        const double t = l2_star_discrepancy(points);
        meanT2 += t * t / kSets;
    }
    const double expectedT2 = (1.0 / 4 - 1.0 / 9) / kPoints;
    EXPECT_NEAR(meanT2 / expectedT2, 1.0, 0.1);

    std::vector<std::array<double, 2>> grid, clump;
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j) {
            grid.push_back({(i + 0.5) / 16, (j + 0.5) / 16});
            clump.push_back({(i + 0.5) / 32, (j + 0.5) / 32});
        }
    EXPECT_LT(l2_star_discrepancy(grid), 0.75 * std::sqrt(expectedT2));
    EXPECT_GT(l2_star_discrepancy(clump), 10 * l2_star_discrepancy(grid));
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
