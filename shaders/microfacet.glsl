// GGX (Trowbridge-Reitz) microfacet distribution with anisotropy, the
// height-correlated Smith masking-shadowing term, visible-normal sampling
// and the Fresnel models of the principled BSDF.
//
// All directions are unit vectors in the local shading frame: the normal is
// +z, the tangent +x. Roughness alphas are (alpha_x, alpha_y) along the
// tangent and bitangent.
#ifndef VITREL_MICROFACET_GLSL
#define VITREL_MICROFACET_GLSL

#include "constants.glsl"

// Smallest GGX alpha: below it the lobe is numerically a mirror, and the
// albedo table's roughness axis starts there as well.
#define GGX_ALPHA_MIN 0.0016

// Perceptual roughness r and anisotropy strength s in [0, 1] to
// (alpha_x, alpha_y) as in glTF's anisotropy extension: alpha = r^2 across
// the tangent's perpendicular, widened towards 1 along the tangent by s^2.
vec2 ggx_alphas(float roughness, float anisotropy) {
    float r = clamp(roughness, 0.0, 1.0);
    float a = r * r;
    float s = clamp(anisotropy, 0.0, 1.0);
    return max(vec2(mix(a, 1.0, s * s), a), vec2(GGX_ALPHA_MIN));
}

// One isotropic alpha with the same footprint, for the albedo table.
float ggx_equivalent_alpha(vec2 alpha) { return sqrt(alpha.x * alpha.y); }

float ggx_d(vec3 m, vec2 alpha) {
    if (m.z <= 0.0) return 0.0;
    float x = m.x / alpha.x;
    float y = m.y / alpha.y;
    float s = x * x + y * y + m.z * m.z;
    return 1.0 / (PI * alpha.x * alpha.y * s * s);
}

// Smith Lambda for direction w (either hemisphere).
float ggx_lambda(vec3 w, vec2 alpha) {
    float z2 = w.z * w.z;
    if (z2 <= 0.0) return 1e30;
    float a2t2 = (alpha.x * alpha.x * w.x * w.x + alpha.y * alpha.y * w.y * w.y) / z2;
    return 0.5 * (sqrt(1.0 + a2t2) - 1.0);
}

float ggx_g1(vec3 w, vec2 alpha) { return 1.0 / (1.0 + ggx_lambda(w, alpha)); }

// Height-correlated masking-shadowing of the pair (reflection and
// transmission alike).
float ggx_g2(vec3 wo, vec3 wi, vec2 alpha) {
    return 1.0 / (1.0 + ggx_lambda(wo, alpha) + ggx_lambda(wi, alpha));
}

// Density of visible normals seen from w (either hemisphere):
// G1(w) |w.m| D(m) / |w.z|.
float ggx_visible_d(vec3 w, vec3 m, vec2 alpha) {
    float cz = abs(w.z);
    if (cz <= 0.0) return 0.0;
    return ggx_g1(w, alpha) * abs(dot(w, m)) * ggx_d(m, alpha) / cz;
}

// Samples a visible normal for w by the spherical-cap method (Dupuy and
// Benyoub 2023). A direction below the surface is mirrored first, so the
// result always lies in the upper hemisphere.
vec3 ggx_sample_visible(vec3 w, vec2 alpha, vec2 u) {
    vec3 wh = normalize(vec3(alpha.x * w.x, alpha.y * w.y, w.z));
    if (wh.z < 0.0) wh = -wh;
    float phi = TWO_PI * u.x;
    float z = (1.0 - u.y) * (1.0 + wh.z) - wh.z;
    float sin_theta = sqrt(clamp(1.0 - z * z, 0.0, 1.0));
    vec3 c = vec3(sin_theta * cos(phi), sin_theta * sin(phi), z);
    vec3 h = c + wh;
    return normalize(vec3(alpha.x * h.x, alpha.y * h.y, max(h.z, 1e-7)));
}

// ---- Fresnel ---------------------------------------------------------------

// Unpolarised reflectance of a dielectric interface. cos_i is measured
// against the normal on the side of the incoming light (negative: from
// inside); eta = n_inside / n_outside. Total internal reflection gives 1.
float fresnel_dielectric(float cos_i, float eta) {
    if (cos_i < 0.0) {
        eta = 1.0 / eta;
        cos_i = -cos_i;
    }
    float sin2_t = (1.0 - cos_i * cos_i) / (eta * eta);
    if (sin2_t >= 1.0) return 1.0;
    float cos_t = sqrt(max(0.0, 1.0 - sin2_t));
    float rs = (cos_i - eta * cos_t) / (cos_i + eta * cos_t);
    float rp = (eta * cos_i - cos_t) / (eta * cos_i + cos_t);
    return 0.5 * (rs * rs + rp * rp);
}

vec3 fresnel_schlick(vec3 f0, float cos_i) {
    float m = clamp(1.0 - cos_i, 0.0, 1.0);
    float m2 = m * m;
    return f0 + (vec3(1.0) - f0) * (m2 * m2 * m);
}

// The F82-tint metal model: Schlick's curve pulled down near grazing so
// that at cos = 1/7 (about 82 degrees) the reflectance is the Schlick value
// times `tint`. tint = 1 is plain Schlick.
#define F82_COS 0.142857142857143
vec3 f82_coefficient(vec3 f0, vec3 tint) {
    float m = 1.0 - F82_COS;
    float m6 = m * m * m * m * m * m;
    return fresnel_schlick(f0, F82_COS) * (vec3(1.0) - tint) / (F82_COS * m6);
}

vec3 fresnel_f82(vec3 f0, vec3 tint, float cos_i) {
    float c = clamp(cos_i, 0.0, 1.0);
    float m = 1.0 - c;
    float m6 = m * m * m * m * m * m;
    return clamp(fresnel_schlick(f0, c) - f82_coefficient(f0, tint) * (c * m6), 0.0, 1.0);
}

// Hemispherical average 2 * integral of F(mu) mu dmu of the F82 model, in
// closed form: Schlick contributes (1 - f0) / 21, the tint term b / 126.
vec3 fresnel_f82_average(vec3 f0, vec3 tint) {
    return clamp(f0 + (vec3(1.0) - f0) * (1.0 / 21.0) - f82_coefficient(f0, tint) * (1.0 / 126.0),
                 0.0, 1.0);
}

#endif
