// Host-side statistics for the GPU shading tests.
#pragma once

#include <array>
#include <string>
#include <vector>

// Pearson chi-square goodness of fit of observed counts against expected
// counts. Cells whose expectation is below `min_expected` are pooled into
// one cell (as is usual for sparse histograms); `p_value` is the probability
// of a statistic at least this large under the null hypothesis.
struct ChiSquareResult {
    double statistic = 0.0;
    int degrees_of_freedom = 0;
    double p_value = 1.0;
    std::string describe() const;
};
ChiSquareResult chi_square_test(const std::vector<double>& observed,
                                const std::vector<double>& expected, double min_expected = 5.0);

// Regularised upper incomplete gamma function Q(a, x).
double gamma_q(double a, double x);

// L2 star discrepancy of points in [0, 1)^2 (Warnock's formula).
double l2_star_discrepancy(const std::vector<std::array<double, 2>>& points);

// Significance level of one test among `tests` so that the family keeps
// overall significance `alpha` (Sidak correction).
double sidak_alpha(double alpha, int tests);
