// GGX metal with the F82-tint Fresnel model and multiple-scattering energy
// compensation (Kulla and Conty 2017) from the albedo table.
//
// The compensation adds a reciprocal lobe
//   f_ms = F_ms (1 - E(mu_o)) (1 - E(mu_i)) / (pi (1 - E_avg))
// with E the white single-scattering albedo of the table, E_avg its
// hemispherical average and F_ms = F_avg^2 E_avg / (1 - F_avg (1 - E_avg))
// the colour of the energy that bounces more than once. A white metal then
// returns all energy at every roughness. The compensation lobe is sampled
// by cosine-weighted directions with probability 1 - E(mu_o).
#ifndef VITREL_BSDF_CONDUCTOR_GLSL
#define VITREL_BSDF_CONDUCTOR_GLSL

#include "bsdf_common.glsl"
#include "energy_lut.glsl"
#include "microfacet.glsl"
#include "sampling.glsl"

// Below this 1 - E_avg the lobe is a near-mirror that loses no energy.
#define CONDUCTOR_MS_MIN 1e-4

struct ConductorLobe {
    vec2 alpha;
    vec3 f0;
    vec3 tint;        // F82 edge tint
    bool compensate;  // add the multiple-scattering lobe
};

// 1 - E(mu_o): the share of energy the single-scattering lobe loses, which
// is also the probability of sampling the compensation lobe.
float conductor_ms_share(ConductorLobe p, float mu_o, out float e_avg) {
    e_avg = 1.0;
    if (!p.compensate) return 0.0;
    float a = ggx_equivalent_alpha(p.alpha);
    e_avg = ess_conductor_average(a);
    if (1.0 - e_avg < CONDUCTOR_MS_MIN) return 0.0;
    return clamp(1.0 - ess_conductor(mu_o, a), 0.0, 1.0);
}

vec3 conductor_eval(ConductorLobe p, vec3 wo, vec3 wi) {
    if (wo.z <= 0.0 || wi.z <= 0.0) return vec3(0.0);
    vec3 m = normalize(wo + wi);
    vec3 f = fresnel_f82(p.f0, p.tint, dot(wi, m)) *
             (ggx_d(m, p.alpha) * ggx_g2(wo, wi, p.alpha) / (4.0 * wo.z));
    float e_avg;
    float share_o = conductor_ms_share(p, wo.z, e_avg);
    if (share_o > 0.0) {
        float share_i = clamp(1.0 - ess_conductor(wi.z, ggx_equivalent_alpha(p.alpha)), 0.0, 1.0);
        vec3 f_avg = fresnel_f82_average(p.f0, p.tint);
        vec3 f_ms = f_avg * f_avg * e_avg / (vec3(1.0) - f_avg * (1.0 - e_avg));
        f += f_ms * (share_o * share_i / (PI * (1.0 - e_avg)) * wi.z);
    }
    return f;
}

float conductor_pdf(ConductorLobe p, vec3 wo, vec3 wi) {
    if (wo.z <= 0.0 || wi.z <= 0.0) return 0.0;
    vec3 m = normalize(wo + wi);
    float e_avg;
    float share = conductor_ms_share(p, wo.z, e_avg);
    float mirror_pdf = ggx_visible_d(wo, m, p.alpha) / (4.0 * dot(wo, m));
    return (1.0 - share) * mirror_pdf + share * cosine_hemisphere_pdf(wi.z);
}

BsdfSample conductor_sample(ConductorLobe p, vec3 wo, vec3 u) {
    if (wo.z <= 0.0) return bsdf_invalid_sample();
    float e_avg;
    float share = conductor_ms_share(p, wo.z, e_avg);
    vec3 wi;
    if (u.x < share) {
        wi = sample_cosine_hemisphere(u.yz);
    } else {
        vec3 m = ggx_sample_visible(wo, p.alpha, u.yz);
        wi = reflect(-wo, m);
    }
    if (wi.z <= 0.0) return bsdf_invalid_sample();
    return bsdf_make_sample(wi, conductor_eval(p, wo, wi), conductor_pdf(p, wo, wi));
}

#endif
