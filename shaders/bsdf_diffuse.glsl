// Diffuse lobes: Lambert and a rough diffuse model (Fujii's improved
// Oren-Nayar). Both reflect into the hemisphere of the normal (+z) only and
// are sampled by cosine-weighted directions.
#ifndef VITREL_BSDF_DIFFUSE_GLSL
#define VITREL_BSDF_DIFFUSE_GLSL

#include "bsdf_common.glsl"
#include "sampling.glsl"

vec3 lambert_eval(vec3 albedo, vec3 wo, vec3 wi) {
    if (wo.z <= 0.0 || wi.z <= 0.0) return vec3(0.0);
    return albedo * (INV_PI * wi.z);
}

float diffuse_pdf(vec3 wo, vec3 wi) {
    if (wo.z <= 0.0 || wi.z <= 0.0) return 0.0;
    return cosine_hemisphere_pdf(wi.z);
}

BsdfSample lambert_sample(vec3 albedo, vec3 wo, vec3 u) {
    if (wo.z <= 0.0) return bsdf_invalid_sample();
    vec3 wi = sample_cosine_hemisphere(u.yz);
    if (wi.z <= 0.0) return bsdf_invalid_sample();
    BsdfSample s = bsdf_make_sample(wi, lambert_eval(albedo, wo, wi), diffuse_pdf(wo, wi));
    // eval / pdf is exactly the albedo; write it so no rounding creeps in.
    s.weight = albedo;
    return s;
}

// Rough diffuse: f = albedo / pi * (A + B s / t) with s = cos(phi_i - phi_o)
// sin(theta_i) sin(theta_o), t = max(cos theta_i, cos theta_o) where s > 0,
// A = 1 / (1 + (1/2 - 2 / (3 pi)) sigma), B = sigma A (Fujii 2012).
// Reciprocal; sigma = 0 is Lambert. Like every single-scattering
// Oren-Nayar form it returns less than the albedo at grazing view angles
// and high sigma (about 0.7 of it at normal incidence for sigma = 1).
#define FON_C1 0.287793409210806
vec3 rough_diffuse_eval(vec3 albedo, float sigma, vec3 wo, vec3 wi) {
    if (wo.z <= 0.0 || wi.z <= 0.0) return vec3(0.0);
    float a = 1.0 / (1.0 + FON_C1 * sigma);
    float b = sigma * a;
    float s = dot(wi, wo) - wi.z * wo.z;
    float st = s > 0.0 ? s / max(wi.z, wo.z) : s;
    return albedo * (INV_PI * max(a + b * st, 0.0) * wi.z);
}

BsdfSample rough_diffuse_sample(vec3 albedo, float sigma, vec3 wo, vec3 u) {
    if (wo.z <= 0.0) return bsdf_invalid_sample();
    vec3 wi = sample_cosine_hemisphere(u.yz);
    return bsdf_make_sample(wi, rough_diffuse_eval(albedo, sigma, wo, wi), diffuse_pdf(wo, wi));
}

#endif
