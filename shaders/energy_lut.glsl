// Albedo tables of binding 4, laid out as gpu_layout.h describes (ESS_*,
// SPECULAR_*, SHEEN_*): directional albedos of single-scattering GGX lobes
// (metal, dielectric from either side), of the specular layer and of the
// sheen, and their hemispherical averages. The including program declares
// the buffer as `uint ess_lut_words[]`.
#ifndef VITREL_ENERGY_LUT_GLSL
#define VITREL_ENERGY_LUT_GLSL

#include "bound_length.glsl"
#include "gpu_layout.h"

// The 16-bit value at `index` (counted from the start of the buffer); 0
// past its end (a renderer prepared without the tables binds a 16-byte
// placeholder, and a buffer-reference read has no bounds check of its own).
float lut_value(int index) {
    uint at = uint(index) >> 1;
    if (at >= uint(BOUND_LENGTH(ess_lut_words))) return 0.0;
    uint word = ess_lut_words[at];
    uint v = (index & 1) != 0 ? (word >> 16) : (word & 0xFFFFu);
    return float(v) * (1.0 / ESS_VALUE_SCALE);
}

// Continuous index along an axis of ESS_DIM nodes: integer part and weight.
float lut_axis(float x, out int i0) {
    float f = clamp(x, 0.0, float(ESS_DIM - 1));
    i0 = min(int(f), ESS_DIM - 2);
    return f - float(i0);
}

// Node coordinates of the axes: mu samples at cell centres, roughness at
// r = sqrt(alpha), eta at 1 .. ESS_MAX_ETA (the ESS tables' dielectric
// slices start at 1: their slice 0 is another lobe).
float lut_mu_axis(float mu, out int i0) { return lut_axis(mu * float(ESS_DIM) - 0.5, i0); }
float lut_roughness_axis(float r, out int j0) { return lut_axis(r * float(ESS_DIM - 1), j0); }
float lut_eta_axis(float eta, float first_slice, out int k0) {
    float fk = clamp((eta - 1.0) * float(ESS_DIM - 1) / (ESS_MAX_ETA - 1.0), first_slice, float(ESS_DIM - 1));
    k0 = min(int(fk), ESS_DIM - 2);
    return fk - float(k0);
}

// Bilinear in (mu, roughness) within one ESS_DIM x ESS_DIM slice at `base`.
float lut_slice(int base, float mu, float r) {
    int i0, j0;
    float ti = lut_mu_axis(mu, i0);
    float tj = lut_roughness_axis(r, j0);
    int at = base + i0 + ESS_DIM * j0;
    float a = mix(lut_value(at), lut_value(at + 1), ti);
    float b = mix(lut_value(at + ESS_DIM), lut_value(at + ESS_DIM + 1), ti);
    return mix(a, b, tj);
}

// Trilinear in (mu, roughness, eta) of a table of ESS_DIM slices at `base`,
// from slice `first_slice` on.
float lut_volume(int base, float mu, float r, float eta, float first_slice) {
    int k0;
    float tk = lut_eta_axis(eta, first_slice, k0);
    int slice = base + ESS_DIM * ESS_DIM * k0;
    return mix(lut_slice(slice, mu, r), lut_slice(slice + ESS_DIM * ESS_DIM, mu, r), tk);
}

// Bilinear in (roughness, eta) of an average table (index j + ESS_DIM k) at `base`.
float lut_average(int base, float r, float eta, float first_slice) {
    int j0, k0;
    float tj = lut_roughness_axis(r, j0);
    float tk = lut_eta_axis(eta, first_slice, k0);
    int at = base + j0 + ESS_DIM * k0;
    float a = mix(lut_value(at), lut_value(at + 1), tj);
    float b = mix(lut_value(at + ESS_DIM), lut_value(at + ESS_DIM + 1), tj);
    return mix(a, b, tk);
}

float ggx_table_roughness(float alpha) { return sqrt(max(alpha, 0.0)); }

// Albedo of the white (Fresnel = 1) GGX reflection lobe.
float ess_conductor(float mu, float alpha) { return lut_slice(0, mu, ggx_table_roughness(alpha)); }

// Its hemispherical average 2 * integral of E(mu) mu dmu.
float ess_conductor_average(float alpha) {
    int j0;
    float tj = lut_roughness_axis(ggx_table_roughness(alpha), j0);
    return mix(lut_value(ESS_AVERAGE_OFFSET + j0), lut_value(ESS_AVERAGE_OFFSET + j0 + 1), tj);
}

// Albedo (reflection plus transmission) of a dielectric interface seen from
// the side whose index is n_near, with eta_side = n_far / n_near (either side
// of 1; the tables span 1 / ESS_MAX_ETA .. ESS_MAX_ETA).
float ess_dielectric(float mu, float alpha, float eta_side) {
    float r = ggx_table_roughness(alpha);
    return eta_side >= 1.0 ? lut_volume(0, mu, r, eta_side, 1.0)
                           : lut_volume(ESS_INSIDE_OFFSET, mu, r, 1.0 / eta_side, 1.0);
}

float ess_dielectric_average(float alpha, float eta_side) {
    float r = ggx_table_roughness(alpha);
    return eta_side >= 1.0 ? lut_average(ESS_AVERAGE_OFFSET, r, eta_side, 1.0)
                           : lut_average(ESS_AVERAGE_OFFSET + ESS_DIM * ESS_DIM, r, 1.0 / eta_side, 1.0);
}

// Reflected albedo of a dielectric specular layer (Fresnel of eta = n below
// / n above, clamped to 1 .. ESS_MAX_ETA) and its hemispherical average.
float specular_layer_albedo(float mu, float alpha, float eta) {
    return lut_volume(SPECULAR_ALBEDO_OFFSET, mu, ggx_table_roughness(alpha), eta, 0.0);
}
float specular_layer_average(float alpha, float eta) {
    return lut_average(SPECULAR_AVERAGE_OFFSET, ggx_table_roughness(alpha), eta, 0.0);
}

// Albedo of the white sheen lobe of roughness r and its hemispherical average.
float sheen_layer_albedo(float mu, float r) { return lut_slice(SHEEN_ALBEDO_OFFSET, mu, clamp(r, 0.0, 1.0)); }
float sheen_layer_average(float r) {
    int j0;
    float tj = lut_roughness_axis(clamp(r, 0.0, 1.0), j0);
    return mix(lut_value(SHEEN_AVERAGE_OFFSET + j0), lut_value(SHEEN_AVERAGE_OFFSET + j0 + 1), tj);
}

#endif
