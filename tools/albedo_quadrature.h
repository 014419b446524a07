// Directional albedos of the principled BSDF's layer lobes by fine
// quadrature, in double precision: the dielectric specular layer (GGX
// reflection with the dielectric Fresnel term, seen from outside) and the
// white sheen lobe. They mirror bsdf_layers.glsl and microfacet.glsl
// exactly; tools/gen_albedo_tables tabulates them into
// shaders/albedo_tables.glsl, and the shading tests compare those tables
// with the per-point quadrature the shaders used to run.
#pragma once

#include <algorithm>
#include <cmath>

namespace albedo {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kAlphaMin = 0.0016;     // GGX_ALPHA_MIN
inline constexpr double kSheenAlphaMin = 0.07;  // SHEEN_ALPHA_MIN

struct V3 {
    double x, y, z;
};
inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator*(double s, V3 a) { return {s * a.x, s * a.y, s * a.z}; }
inline double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline V3 normalize(V3 a) { return (1.0 / std::sqrt(dot(a, a))) * a; }

inline double ggx_lambda(V3 w, double alpha) {
    const double z2 = w.z * w.z;
    if (z2 <= 0.0) return 1e30;
    return 0.5 * (std::sqrt(1.0 + alpha * alpha * (w.x * w.x + w.y * w.y) / z2) - 1.0);
}

// Visible normal for w by the spherical-cap method (isotropic alpha).
inline V3 ggx_sample_visible(V3 w, double alpha, double u1, double u2) {
    V3 wh = normalize({alpha * w.x, alpha * w.y, w.z});
    const double phi = 2.0 * kPi * u1;
    const double z = (1.0 - u2) * (1.0 + wh.z) - wh.z;
    const double s = std::sqrt(std::clamp(1.0 - z * z, 0.0, 1.0));
    const V3 h = V3{s * std::cos(phi), s * std::sin(phi), z} + wh;
    return normalize({alpha * h.x, alpha * h.y, std::max(h.z, 1e-7)});
}

inline double fresnel_dielectric(double cos_i, double eta) {
    if (cos_i < 0.0) {
        eta = 1.0 / eta;
        cos_i = -cos_i;
    }
    const double sin2_t = (1.0 - cos_i * cos_i) / (eta * eta);
    if (sin2_t >= 1.0) return 1.0;
    const double cos_t = std::sqrt(std::max(0.0, 1.0 - sin2_t));
    const double rs = (cos_i - eta * cos_t) / (cos_i + eta * cos_t);
    const double rp = (eta * cos_i - cos_t) / (eta * cos_i + cos_t);
    return 0.5 * (rs * rs + rp * rp);
}

// Mean weight F G2 / G1 of reflections off visible normals, n x n midpoint
// strata, Fresnel scale 1.
inline double specular_albedo(double mu, double alpha, double eta, int n = 96) {
    const V3 wo{std::sqrt(std::max(0.0, 1.0 - mu * mu)), 0.0, mu};
    const double lo = ggx_lambda(wo, alpha);
    const double g1 = 1.0 / (1.0 + lo);
    double sum = 0.0;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) {
            const V3 m = ggx_sample_visible(wo, alpha, (a + 0.5) / n, (b + 0.5) / n);
            const double om = dot(wo, m);
            const V3 wi = (2.0 * om) * m + (-1.0) * wo;
            if (wi.z > 0.0)
                sum += std::min(1.0, fresnel_dielectric(om, eta)) / (1.0 + lo + ggx_lambda(wi, alpha)) / g1;
        }
    return std::clamp(sum / (static_cast<double>(n) * n), 0.0, 1.0);
}

inline double sheen_distribution(double cos_m, double roughness) {
    const double alpha = std::max(roughness * roughness, kSheenAlphaMin);
    const double inv = 1.0 / alpha;
    const double sin2 = std::max(0.0, 1.0 - cos_m * cos_m);
    return (2.0 + inv) * std::pow(sin2, 0.5 * inv) / (2.0 * kPi);
}

// Integral of the white sheen lobe times the cosine over the hemisphere,
// n x n midpoint strata in (theta, phi).
inline double sheen_albedo(double mu, double roughness, int n = 128) {
    const V3 wo{std::sqrt(std::max(0.0, 1.0 - mu * mu)), 0.0, mu};
    const double dt = 0.5 * kPi / n, dp = 2.0 * kPi / n;
    double sum = 0.0;
    for (int a = 0; a < n; ++a) {
        const double theta = (a + 0.5) * dt;
        const double st = std::sin(theta), ct = std::cos(theta);
        for (int b = 0; b < n; ++b) {
            const double phi = (b + 0.5) * dp;
            const V3 wi{st * std::cos(phi), st * std::sin(phi), ct};
            const V3 m = normalize(wi + wo);
            const double v = 1.0 / (4.0 * (wi.z + wo.z - wi.z * wo.z));
            sum += sheen_distribution(m.z, roughness) * v * wi.z * st;
        }
    }
    return std::clamp(sum * dt * dp, 0.0, 1.0);
}

}  // namespace albedo
