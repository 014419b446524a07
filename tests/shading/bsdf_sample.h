// Records shared by the BSDF and principled-BSDF test programs.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "statistics.h"

// One BSDF sample as the test programs write it: direction, pdf, weight and
// flags (bit 0 = valid).
struct Sample {
    float wi[3];
    float pdf;
    float weight[3];
    float flags;
};
static_assert(sizeof(Sample) == 32, "matches the programs' output stride");

inline bool valid(const Sample& x) { return static_cast<uint32_t>(x.flags) & 1u; }

// The samples a program wrote as floats.
inline std::vector<Sample> to_samples(const std::vector<float>& v, uint32_t n) {
    std::vector<Sample> s(n);
    std::memcpy(s.data(), v.data(), n * sizeof(Sample));
    return s;
}

// Directional albedo by sampling: mean weight (green channel) of valid
// samples over all samples.
inline double mean_weight(const std::vector<Sample>& samples) {
    double sum = 0.0;
    for (const Sample& x : samples)
        if (valid(x)) sum += x.weight[1];
    return sum / static_cast<double>(samples.size());
}

// Unit direction with polar cosine `c` and azimuth `phi` (radians) in the
// shading frame (z = normal), written as three floats.
inline void direction_at(double c, double phi, float* xyz) {
    const double s = std::sqrt(std::max(0.0, 1.0 - c * c));
    xyz[0] = static_cast<float>(s * std::cos(phi));
    xyz[1] = static_cast<float>(s * std::sin(phi));
    xyz[2] = static_cast<float>(c);
}

// The (cos theta, phi) grid of the sphere the test programs integrate pdfs
// over: rows of cos theta from +1 down to -1, columns of phi.
inline constexpr uint32_t kGridTheta = 16;
inline constexpr uint32_t kGridPhi = 32;

inline uint32_t grid_bin(const float w[3]) {
    constexpr double kTwoPi = 6.283185307179586;
    const double c = std::clamp(static_cast<double>(w[2]), -1.0, 1.0);
    const uint32_t it = std::min(static_cast<uint32_t>((1.0 - c) / 2.0 * kGridTheta), kGridTheta - 1);
    double phi = std::atan2(static_cast<double>(w[1]), static_cast<double>(w[0]));
    if (phi < 0.0) phi += kTwoPi;
    const uint32_t ip = std::min(static_cast<uint32_t>(phi / kTwoPi * kGridPhi), kGridPhi - 1);
    return it * kGridPhi + ip;
}

// Chi-square of the valid samples' grid bins against per-bin pdf integrals
// (`pdfIntegrals[stride * bin]`); also the total pdf integral and the
// fraction of valid samples, which must agree.
struct SamplingFit {
    ChiSquareResult chi;
    double integral = 0.0;
    double validFraction = 0.0;
};
inline SamplingFit fit_samples_to_pdf(const std::vector<Sample>& samples,
                                      const std::vector<float>& pdfIntegrals, size_t stride) {
    SamplingFit fit;
    const double n = static_cast<double>(samples.size());
    std::vector<double> observed(kGridTheta * kGridPhi, 0.0), expected(observed.size());
    double validCount = 0.0;
    for (const Sample& x : samples) {
        if (!valid(x)) continue;
        validCount += 1.0;
        observed[grid_bin(x.wi)] += 1.0;
    }
    for (size_t b = 0; b < expected.size(); ++b) {
        expected[b] = pdfIntegrals[stride * b] * n;
        fit.integral += pdfIntegrals[stride * b];
    }
    fit.validFraction = validCount / n;
    fit.chi = chi_square_test(observed, expected);
    return fit;
}
