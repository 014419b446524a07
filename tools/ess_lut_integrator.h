// Directional albedo of one GGX microfacet lobe, integrated numerically.
// Shared by the table generator and the test that re-derives table entries.
//
// The table's layout, axes and clamping are defined once, in
// shaders/gpu_layout.h (ESS_*).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "shaders/gpu_layout.h"

inline constexpr int kEssDim = ESS_DIM;
inline constexpr double kEssAlphaMin = ESS_ALPHA_MIN;
inline constexpr double kEssFloor = ESS_MIN_ALBEDO;
inline constexpr double kEssMaxEta = ESS_MAX_ETA;

inline double ess_mu(int i) { return (i + 0.5) / kEssDim; }
inline double ess_alpha(int j) {
    const double r = static_cast<double>(j) / (kEssDim - 1);
    return std::max(r * r, kEssAlphaMin);
}
inline double ess_eta(int k) { return 1.0 + (kEssMaxEta - 1.0) * k / (kEssDim - 1); }

// Smith Lambda of isotropic GGX for a direction with cosine mu to the normal.
inline double ess_lambda(double mu, double alpha) {
    const double mu2 = std::max(mu * mu, 1e-12);
    const double tan2 = (1.0 - mu2) / mu2;
    return 0.5 * (std::sqrt(1.0 + alpha * alpha * tan2) - 1.0);
}

// Unpolarised Fresnel reflectance of a dielectric, cos_i measured on the
// incident side, eta = n_t / n_i. Total internal reflection gives 1.
inline double ess_fresnel_dielectric(double cos_i, double eta) {
    const double sin2_t = (1.0 - cos_i * cos_i) / (eta * eta);
    if (sin2_t >= 1.0) return 1.0;
    const double cos_t = std::sqrt(1.0 - sin2_t);
    const double rs = (cos_i - eta * cos_t) / (cos_i + eta * cos_t);
    const double rp = (eta * cos_i - cos_t) / (eta * cos_i + cos_t);
    return 0.5 * (rs * rs + rp * rp);
}

// Which energy of a GGX lobe the quadrature counts.
enum class EssLobe {
    White,       // reflection with Fresnel 1 (metals)
    Dielectric,  // reflection plus transmission of an interface
    Reflection,  // the reflected part of a dielectric only (specular layers)
};

// Directional albedo of a GGX lobe of `kind` seen at cosine mu, by midpoint
// quadrature over n x n strata of the visible-normal distribution (Heitz
// 2018): every stratum contributes G2 / G1(o) times the Fresnel weight of
// its lobe. eta = n below / n above (either side of 1).
inline double ggx_lobe_albedo(double mu, double alpha, double eta, EssLobe kind, int n = 128) {
    const double ox = std::sqrt(std::max(0.0, 1.0 - mu * mu)), oz = mu;  // view, y = 0
    const double lam_o = ess_lambda(mu, alpha);
    const double g1_o = 1.0 / (1.0 + lam_o);
    // Stretch the view direction to the hemisphere configuration.
    double vhx = alpha * ox, vhz = oz;
    const double vlen = std::sqrt(vhx * vhx + vhz * vhz);
    vhx /= vlen;
    vhz /= vlen;
    // Basis around vh: T1 = the y axis (vh lies in the xz plane), T2 =
    // vh x T1, the in-plane direction that the hemisphere warp acts on.
    const double t2x = -vhz, t2z = vhx;
    double sum = 0.0;
    constexpr double kPi = 3.14159265358979323846;
    for (int a = 0; a < n; ++a) {
        for (int b = 0; b < n; ++b) {
            const double u1 = (a + 0.5) / n, u2 = (b + 0.5) / n;
            const double r = std::sqrt(u1);
            const double phi = 2.0 * kPi * u2;
            double p1 = r * std::cos(phi), p2 = r * std::sin(phi);
            const double s = 0.5 * (1.0 + vhz);
            p2 = (1.0 - s) * std::sqrt(std::max(0.0, 1.0 - p1 * p1)) + s * p2;
            const double p3 = std::sqrt(std::max(0.0, 1.0 - p1 * p1 - p2 * p2));
            // nh = p1 * T1 + p2 * T2 + p3 * vh, then unstretch.
            double mx = p2 * t2x + p3 * vhx;
            double my = p1;
            double mz = p2 * t2z + p3 * vhz;
            mx *= alpha;
            my *= alpha;
            mz = std::max(mz, 1e-9);
            const double ml = std::sqrt(mx * mx + my * my + mz * mz);
            mx /= ml;
            my /= ml;
            mz /= ml;
            const double om = ox * mx + oz * mz;  // o . m
            if (om <= 0.0) continue;
            const double f = kind == EssLobe::White ? 1.0 : ess_fresnel_dielectric(om, eta);
            // Reflection.
            const double iz = 2.0 * om * mz - oz;
            if (iz > 0.0) sum += f / (1.0 + lam_o + ess_lambda(iz, alpha)) / g1_o;
            if (kind != EssLobe::Dielectric || f >= 1.0) continue;
            // Refraction into the lower hemisphere.
            const double inv = 1.0 / eta;
            const double c2 = 1.0 - inv * inv * (1.0 - om * om);
            const double tz = (inv * om - std::sqrt(c2)) * mz - inv * oz;
            if (tz < 0.0) sum += (1.0 - f) / (1.0 + lam_o + ess_lambda(-tz, alpha)) / g1_o;
        }
    }
    return sum / (static_cast<double>(n) * n);
}

// E(mu, alpha, slice k) of the ESS table: slice 0 white, the others a
// dielectric entered from outside.
inline double ess_albedo(int i, int j, int k, int n = 128) {
    return ggx_lobe_albedo(ess_mu(i), ess_alpha(j), ess_eta(k), k == 0 ? EssLobe::White : EssLobe::Dielectric, n);
}

inline uint16_t ess_quantise(double e) {
    const double c = std::clamp(e, kEssFloor, 1.0);
    return static_cast<uint16_t>(std::lround(c * ESS_VALUE_SCALE));
}
