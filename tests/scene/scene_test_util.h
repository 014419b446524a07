// Helpers shared by the scene preparation tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "scene/scene.h"
#include "scene/scene_prep.h"

namespace scene_test {

inline uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

inline uint32_t bits(int32_t i) { return static_cast<uint32_t>(i); }

// 32-bit little-endian word `index` of an arbitrary record.
template <class T>
uint32_t word_at(const T& record, size_t index) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    return uint32_t{bytes[4 * index]} | uint32_t{bytes[4 * index + 1]} << 8 | uint32_t{bytes[4 * index + 2]} << 16 |
           uint32_t{bytes[4 * index + 3]} << 24;
}

inline size_t count_occurrences(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// Runs build_scene_buffer on a square 64 x 64 image without overscan and
// returns what it printed.
inline std::string prepare(Scene& scene) {
    testing::internal::CaptureStdout();
    build_scene_buffer(scene, 64, 64, 1.0f);
    return testing::internal::GetCapturedStdout();
}

// Index of the first entry of cdf[0, n) that is not below u, the way the
// GPU programs pick an entry.
inline size_t pick(const uint32_t* cdf, size_t n, uint32_t u) {
    return static_cast<size_t>(std::lower_bound(cdf, cdf + n, u) - cdf);
}

// Upper 99.99% quantile of the chi-square distribution with `df` degrees of
// freedom (Wilson-Hilferty approximation).
inline double chi_square_limit(double df) {
    constexpr double kZ = 3.719;  // standard normal, one-sided 1e-4
    const double a = 2.0 / (9.0 * df);
    return df * std::pow(1.0 - a + kZ * std::sqrt(a), 3.0);
}

// Pearson's statistic of observed counts against weights (any scale). A bin
// with zero weight must stay empty; it does not count as a degree of freedom.
inline void expect_counts_match(const std::vector<uint64_t>& counts, const std::vector<double>& weights) {
    ASSERT_EQ(counts.size(), weights.size());
    double total_weight = 0.0;
    uint64_t draws = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        total_weight += weights[i];
        draws += counts[i];
    }
    double chi2 = 0.0;
    int bins = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        if (weights[i] <= 0.0) {
            EXPECT_EQ(counts[i], 0u) << "bin " << i << " has no weight";
            continue;
        }
        const double expected = static_cast<double>(draws) * weights[i] / total_weight;
        const double diff = static_cast<double>(counts[i]) - expected;
        chi2 += diff * diff / expected;
        ++bins;
    }
    ASSERT_GE(bins, 2);
    EXPECT_LT(chi2, chi_square_limit(bins - 1)) << "over " << bins << " bins";
}

// Draws `draws` uniform 32-bit numbers at a fixed seed and counts the entry
// each picks from cdf[0, n).
inline std::vector<uint64_t> sample_cdf(const uint32_t* cdf, size_t n, size_t draws, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint64_t> counts(n, 0);
    for (size_t i = 0; i < draws; ++i) {
        const size_t k = pick(cdf, n, static_cast<uint32_t>(rng()));
        EXPECT_LT(k, n);
        if (k < n) ++counts[k];
    }
    return counts;
}

}  // namespace scene_test
