#include "statistics.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {
constexpr int kGammaIterations = 1000;
constexpr double kGammaEpsilon = 1e-14;
constexpr double kTiny = 1e-300;
}  // namespace

std::string ChiSquareResult::describe() const {
    std::ostringstream s;
    s << "chi2=" << statistic << " dof=" << degrees_of_freedom << " p=" << p_value;
    return s.str();
}

// Series for P(a, x) below a + 1, Lentz continued fraction for Q above
// (Numerical Recipes, 6.2).
double gamma_q(double a, double x) {
    if (x <= 0.0) return 1.0;
    const double log_prefix = -x + a * std::log(x) - std::lgamma(a);
    if (x < a + 1.0) {
        double term = 1.0 / a;
        double sum = term;
        for (int n = 1; n < kGammaIterations; ++n) {
            term *= x / (a + n);
            sum += term;
            if (std::fabs(term) < std::fabs(sum) * kGammaEpsilon) break;
        }
        return std::clamp(1.0 - sum * std::exp(log_prefix), 0.0, 1.0);
    }
    double b = x + 1.0 - a;
    double c = 1.0 / kTiny;
    double d = 1.0 / b;
    double h = d;
    for (int i = 1; i < kGammaIterations; ++i) {
        const double an = -i * (i - a);
        b += 2.0;
        d = an * d + b;
        if (std::fabs(d) < kTiny) d = kTiny;
        c = b + an / c;
        if (std::fabs(c) < kTiny) c = kTiny;
        d = 1.0 / d;
        const double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1.0) < kGammaEpsilon) break;
    }
    return std::clamp(std::exp(log_prefix) * h, 0.0, 1.0);
}

ChiSquareResult chi_square_test(const std::vector<double>& observed,
                                const std::vector<double>& expected, double min_expected) {
    ChiSquareResult r;
    double pooled_obs = 0.0, pooled_exp = 0.0;
    int cells = 0;
    for (size_t i = 0; i < observed.size(); ++i) {
        if (expected[i] < min_expected) {
            pooled_obs += observed[i];
            pooled_exp += expected[i];
            continue;
        }
        const double d = observed[i] - expected[i];
        r.statistic += d * d / expected[i];
        ++cells;
    }
    if (pooled_exp > 0.0) {
        const double d = pooled_obs - pooled_exp;
        r.statistic += d * d / pooled_exp;
        ++cells;
    } else if (pooled_obs > 0.0) {
        // Samples where the density says none can land: reject outright.
        r.statistic = HUGE_VAL;
        r.p_value = 0.0;
        r.degrees_of_freedom = cells;
        return r;
    }
    r.degrees_of_freedom = std::max(cells - 1, 1);
    r.p_value = gamma_q(0.5 * r.degrees_of_freedom, 0.5 * r.statistic);
    return r;
}

double l2_star_discrepancy(const std::vector<std::array<double, 2>>& points) {
    const double n = static_cast<double>(points.size());
    double single = 0.0;
    for (const auto& p : points) single += (1.0 - p[0] * p[0]) * (1.0 - p[1] * p[1]) / 4.0;
    double pairs = 0.0;
    for (const auto& p : points)
        for (const auto& q : points)
            pairs += (1.0 - std::max(p[0], q[0])) * (1.0 - std::max(p[1], q[1]));
    const double t2 = 1.0 / 9.0 - 2.0 / n * single + pairs / (n * n);
    return std::sqrt(std::max(t2, 0.0));
}

double sidak_alpha(double alpha, int tests) {
    return 1.0 - std::pow(1.0 - alpha, 1.0 / tests);
}
