// The tables appended to the binding-4 buffer after the ESS table (layout in
// shaders/gpu_layout.h): the dielectric seen from inside, hemispherical
// averages, the specular-layer and sheen albedos. Shared by the generator
// and the tests that re-derive entries.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/ess_lut_integrator.h"

// Albedo of the white "Charlie" sheen lobe with Neubelt's visibility (the
// GPU's sheen_eval) at view cosine mu, by an n x 2n midpoint quadrature of
// the incident direction in (theta, phi).
inline double sheen_lobe_albedo(double mu, double roughness, int n = 256) {
    constexpr double kPi = 3.14159265358979323846;
    constexpr double kSheenAlphaMin = 0.07;  // SHEEN_ALPHA_MIN of bsdf_layers.glsl
    const double alpha = std::max(roughness * roughness, kSheenAlphaMin);
    const double inv = 1.0 / alpha;
    const double ox = std::sqrt(std::max(0.0, 1.0 - mu * mu)), oz = mu;
    const double d_theta = 0.5 * kPi / n, d_phi = 2.0 * kPi / (2 * n);
    double sum = 0.0;
    for (int a = 0; a < n; ++a) {
        const double theta = (a + 0.5) * d_theta;
        const double iz = std::cos(theta), st = std::sin(theta);
        for (int b = 0; b < 2 * n; ++b) {
            const double phi = (b + 0.5) * d_phi;
            double hx = ox + st * std::cos(phi), hy = st * std::sin(phi), hz = oz + iz;
            const double hl = std::sqrt(hx * hx + hy * hy + hz * hz);
            const double cos_m = hz / hl;
            const double sin2 = std::max(0.0, 1.0 - cos_m * cos_m);
            const double d = (2.0 + inv) * std::pow(sin2, 0.5 * inv) / (2.0 * kPi);
            const double v = 1.0 / (4.0 * (iz + oz - iz * oz));
            sum += d * v * iz * st;
        }
    }
    return sum * d_theta * d_phi;
}

inline uint16_t table_quantise(double e) {
    return static_cast<uint16_t>(std::lround(std::clamp(e, 0.0, 1.0) * ESS_VALUE_SCALE));
}

// 2 * integral E(mu) mu dmu by the midpoint rule on the quantised mu samples
// `row[0 .. kEssDim)`, exactly as the shader would sum them.
inline uint16_t table_average(const uint16_t* row) {
    double sum = 0.0;
    for (int i = 0; i < kEssDim; ++i) sum += row[i] / ESS_VALUE_SCALE * ess_mu(i);
    return table_quantise(2.0 * sum / kEssDim);
}

// Values of slice k of the dielectric seen from inside.
inline double ess_inside_albedo(int i, int j, int k, int n = 128) {
    return ggx_lobe_albedo(ess_mu(i), ess_alpha(j), 1.0 / ess_eta(k), EssLobe::Dielectric, n);
}

inline double specular_layer_albedo(int i, int j, int k, int n = 128) {
    return ggx_lobe_albedo(ess_mu(i), ess_alpha(j), ess_eta(k), EssLobe::Reflection, n);
}

inline double sheen_table_albedo(int i, int j) {
    return sheen_lobe_albedo(ess_mu(i), static_cast<double>(j) / (kEssDim - 1));
}
