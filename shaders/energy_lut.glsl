// Directional albedo of single-scattering GGX lobes from the table of
// binding 4, laid out as gpu_layout.h describes (ESS_*). The including
// program declares the table as `uint ess_lut_words[]`.
#ifndef VITREL_ENERGY_LUT_GLSL
#define VITREL_ENERGY_LUT_GLSL

#extension GL_EXT_control_flow_attributes : require

#include "gpu_layout.h"

float ess_entry(int i, int j, int k) {
    uint index = uint(i + ESS_DIM * j + ESS_DIM * ESS_DIM * k);
    uint word = ess_lut_words[index >> 1];
    uint v = (index & 1u) != 0u ? (word >> 16) : (word & 0xFFFFu);
    return float(v) * (1.0 / ESS_VALUE_SCALE);
}

// Bilinear in (mu, roughness) within slice k.
float ess_slice(float mu, float alpha, int k) {
    float fi = clamp(mu * float(ESS_DIM) - 0.5, 0.0, float(ESS_DIM - 1));
    float fj = clamp(sqrt(max(alpha, 0.0)) * float(ESS_DIM - 1), 0.0, float(ESS_DIM - 1));
    int i0 = min(int(fi), ESS_DIM - 2);
    int j0 = min(int(fj), ESS_DIM - 2);
    float ti = fi - float(i0);
    float tj = fj - float(j0);
    float a = mix(ess_entry(i0, j0, k), ess_entry(i0 + 1, j0, k), ti);
    float b = mix(ess_entry(i0, j0 + 1, k), ess_entry(i0 + 1, j0 + 1, k), ti);
    return mix(a, b, tj);
}

// Albedo of the white (Fresnel = 1) GGX reflection lobe.
float ess_conductor(float mu, float alpha) { return ess_slice(mu, alpha, 0); }

// Hemispherical average 2 * integral of E(mu) mu dmu of the white lobe, by
// the midpoint rule on the table's own mu samples (exact for the bilinear
// interpolant between them), interpolated in roughness.
float ess_conductor_average(float alpha) {
    float fj = clamp(sqrt(max(alpha, 0.0)) * float(ESS_DIM - 1), 0.0, float(ESS_DIM - 1));
    int j0 = min(int(fj), ESS_DIM - 2);
    float tj = fj - float(j0);
    float sum0 = 0.0;
    float sum1 = 0.0;
    [[dont_unroll]] for (int i = 0; i < ESS_DIM; ++i) {
        float mu = (float(i) + 0.5) / float(ESS_DIM);
        sum0 += ess_entry(i, j0, 0) * mu;
        sum1 += ess_entry(i, j0 + 1, 0) * mu;
    }
    return 2.0 * mix(sum0, sum1, tj) / float(ESS_DIM);
}

// Albedo (reflection plus transmission) of a dielectric lobe seen from
// outside; eta = n_inside / n_outside, clamped to the table's range.
float ess_dielectric(float mu, float alpha, float eta) {
    float fk = clamp((eta - 1.0) * float(ESS_DIM - 1) / (ESS_MAX_ETA - 1.0), 1.0,
                     float(ESS_DIM - 1));
    int k0 = min(int(fk), ESS_DIM - 2);
    float tk = fk - float(k0);
    return mix(ess_slice(mu, alpha, k0), ess_slice(mu, alpha, k0 + 1), tk);
}

#endif
