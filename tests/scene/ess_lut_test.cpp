// The committed GGX albedo table: regenerated entries match, and the
// integrator agrees with a brute-force integral of the analytic BRDF.
#include <gtest/gtest.h>

#include <cmath>

#include "scene/ess_lut.h"
#include "tools/ess_lut_integrator.h"

namespace {

size_t lut_index(int i, int j, int k) {
    return static_cast<size_t>(i) + kEssLutDim * static_cast<size_t>(j) +
           kEssLutDim * kEssLutDim * static_cast<size_t>(k);
}

// Albedo of a GGX reflection lobe with Fresnel 1, integrating
// f(o, i) cos(i) over the hemisphere on a fine (theta, phi) grid: shares
// nothing with the visible-normal quadrature of the generator.
double brute_force_conductor_albedo(double mu, double alpha) {
    constexpr double kPi = 3.14159265358979323846;
    const double ox = std::sqrt(1.0 - mu * mu), oz = mu;
    const int nt = 1024, np = 512;
    double sum = 0.0;
    for (int a = 0; a < nt; ++a) {
        const double theta = (a + 0.5) * (0.5 * kPi) / nt;
        const double iz = std::cos(theta), st = std::sin(theta);
        for (int b = 0; b < np; ++b) {
            const double phi = (b + 0.5) * 2.0 * kPi / np;
            const double ix = st * std::cos(phi), iy = st * std::sin(phi);
            double hx = ox + ix, hy = iy, hz = oz + iz;
            const double hl = std::sqrt(hx * hx + hy * hy + hz * hz);
            hx /= hl, hy /= hl, hz /= hl;
            const double a2 = alpha * alpha;
            const double d_den = hz * hz * (a2 - 1.0) + 1.0;
            const double d = a2 / (kPi * d_den * d_den);
            const double g2 = 1.0 / (1.0 + ess_lambda(mu, alpha) + ess_lambda(iz, alpha));
            const double f = d * g2 / (4.0 * mu * iz);
            sum += f * iz * st;  // solid angle element sin(theta) dtheta dphi
        }
    }
    return sum * (0.5 * kPi / nt) * (2.0 * kPi / np);
}

}  // namespace

TEST(EssLut, ValuesStayInTheDocumentedRange) {
    for (size_t e = 0; e < kEssLutSize; ++e) {
        ASSERT_GE(ess_lut_precomputed[e], 8192u) << e;
        ASSERT_LE(ess_lut_precomputed[e], 65535u) << e;
    }
}

TEST(EssLut, RegeneratedEntriesMatchTheTable) {
    const int probes[][3] = {{0, 0, 0},   {31, 0, 0},  {5, 31, 0},   {16, 16, 0}, {31, 31, 0},
                             {0, 31, 31}, {10, 8, 12}, {31, 31, 31}, {3, 24, 1},  {20, 3, 30}};
    for (const auto& p : probes) {
        const uint16_t expected = ess_quantise(ess_albedo(p[0], p[1], p[2]));
        EXPECT_NEAR(ess_lut_precomputed[lut_index(p[0], p[1], p[2])], expected, 1)
            << p[0] << "," << p[1] << "," << p[2];
    }
}

TEST(EssLut, IntegratorAgreesWithBruteForceBrdfIntegral) {
    for (int j : {8, 16, 24, 31}) {
        for (int i : {4, 12, 20, 31}) {
            const double vndf = ess_albedo(i, j, 0, 256);
            const double brute = brute_force_conductor_albedo(ess_mu(i), ess_alpha(j));
            EXPECT_NEAR(vndf, brute, 0.01) << "i=" << i << " j=" << j;
        }
    }
}

TEST(EssLut, PhysicalShape) {
    // A smooth perfect reflector loses almost nothing away from grazing.
    for (int i = 8; i < 32; ++i) EXPECT_GE(ess_lut_precomputed[lut_index(i, 0, 0)], 65400u) << i;
    // Rougher lobes lose more energy to masking at normal incidence.
    for (int j = 1; j < 32; ++j)
        EXPECT_LE(ess_lut_precomputed[lut_index(31, j, 0)], ess_lut_precomputed[lut_index(31, j - 1, 0)]) << j;
    // A smooth lossless dielectric reflects plus transmits everything.
    for (int k = 1; k < 32; ++k) EXPECT_GE(ess_lut_precomputed[lut_index(20, 0, k)], 65400u) << k;
}
