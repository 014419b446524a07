// Lobes used by the layered principled BSDF on top of the base lobes:
// GGX reflection off a dielectric (the specular layer of plastics and the
// clear coat) and the sheen of cloth-like fibres, with their directional
// albedos (read from the binding-4 tables) and the reciprocal share of
// energy a layer passes to the lobes beneath it.
#ifndef VITREL_BSDF_LAYERS_GLSL
#define VITREL_BSDF_LAYERS_GLSL

#extension GL_EXT_control_flow_attributes : require

#include "bsdf_common.glsl"
#include "energy_lut.glsl"
#include "microfacet.glsl"
#include "sampling.glsl"

// ---- Dielectric specular reflection ----------------------------------------

struct SpecularLobe {
    vec2 alpha;
    float eta;    // n below / n above
    float scale;  // multiplies the Fresnel term (clamped to 1)
};

float specular_fresnel(SpecularLobe p, float cos_i) {
    return min(1.0, p.scale * fresnel_dielectric(cos_i, p.eta));
}

// Directional albedo of the layer seen from wo, from the table (isotropic
// equivalent roughness). The table holds the unscaled Fresnel term; the
// scale multiplies it exactly up to 1, and above 1 (where the clamped
// Fresnel term saturates at grazing angles) the white lobe's albedo bounds
// it. An index below 1 reads as its inverse (same normal reflectance).
float specular_scaled_albedo(SpecularLobe p, float e_fresnel, float e_white) {
    return clamp(min(p.scale * e_fresnel, e_white), 0.0, 1.0);
}
float specular_table_eta(SpecularLobe p) { return p.eta >= 1.0 ? p.eta : 1.0 / max(p.eta, 1e-3); }

float specular_albedo(SpecularLobe p, vec3 wo) {
    // A layer without reflectance (specular 0) skips the lookups.
    if (wo.z <= 0.0 || !(p.scale > 0.0)) return 0.0;
    float a = ggx_equivalent_alpha(p.alpha);
    return specular_scaled_albedo(p, specular_layer_albedo(wo.z, a, specular_table_eta(p)), ess_conductor(wo.z, a));
}

// Hemispherical average 2 * integral of specular_albedo(mu) mu dmu.
float specular_albedo_average(SpecularLobe p) {
    if (!(p.scale > 0.0)) return 0.0;
    float a = ggx_equivalent_alpha(p.alpha);
    return specular_scaled_albedo(p, specular_layer_average(a, specular_table_eta(p)), ess_conductor_average(a));
}

// The quadrature the table replaces, kept as the tests' reference: the
// mean sample weight F G2 / G1 over a fixed stratified grid of visible
// normals, with this layer's own (anisotropic) roughness and Fresnel term.
#ifndef SPECULAR_ALBEDO_STEPS
#define SPECULAR_ALBEDO_STEPS 6
#endif
float specular_albedo_quadrature(SpecularLobe p, vec3 wo) {
    if (wo.z <= 0.0 || !(p.scale > 0.0)) return 0.0;
    float g1 = ggx_g1(wo, p.alpha);
    float sum = 0.0;
    [[dont_unroll]] for (int a = 0; a < SPECULAR_ALBEDO_STEPS; ++a) {
        [[dont_unroll]] for (int b = 0; b < SPECULAR_ALBEDO_STEPS; ++b) {
            vec2 u = (vec2(a, b) + 0.5) / float(SPECULAR_ALBEDO_STEPS);
            vec3 m = ggx_sample_visible(wo, p.alpha, u);
            vec3 wi = reflect(-wo, m);
            if (wi.z > 0.0) sum += specular_fresnel(p, dot(wo, m)) * ggx_g2(wo, wi, p.alpha) / g1;
        }
    }
    return clamp(sum / float(SPECULAR_ALBEDO_STEPS * SPECULAR_ALBEDO_STEPS), 0.0, 1.0);
}

vec3 specular_eval(SpecularLobe p, vec3 wo, vec3 wi) {
    if (wo.z <= 0.0 || wi.z <= 0.0) return vec3(0.0);
    vec3 m = normalize(wo + wi);
    return vec3(specular_fresnel(p, dot(wi, m)) * ggx_d(m, p.alpha) * ggx_g2(wo, wi, p.alpha) /
                (4.0 * wo.z));
}

float specular_pdf(SpecularLobe p, vec3 wo, vec3 wi) {
    if (wo.z <= 0.0 || wi.z <= 0.0) return 0.0;
    vec3 m = normalize(wo + wi);
    return ggx_visible_d(wo, m, p.alpha) / (4.0 * dot(wo, m));
}

BsdfSample specular_sample(SpecularLobe p, vec3 wo, vec3 u) {
    if (wo.z <= 0.0) return bsdf_invalid_sample();
    vec3 m = ggx_sample_visible(wo, p.alpha, u.yz);
    vec3 wi = reflect(-wo, m);
    if (wi.z <= 0.0) return bsdf_invalid_sample();
    return bsdf_make_sample(wi, specular_eval(p, wo, wi), specular_pdf(p, wo, wi));
}

// ---- Sheen -----------------------------------------------------------------
// The "Charlie" fibre distribution (Estevez and Kulla 2017) with Neubelt's
// visibility term, sampled by cosine-weighted directions. Reciprocal.

#define SHEEN_ALPHA_MIN 0.07
#ifndef SHEEN_ALBEDO_THETA_STEPS
#define SHEEN_ALBEDO_THETA_STEPS 12
#define SHEEN_ALBEDO_PHI_STEPS 12
#endif

float sheen_distribution(float cos_m, float roughness) {
    float alpha = max(roughness * roughness, SHEEN_ALPHA_MIN);
    float inv = 1.0 / alpha;
    float sin2 = max(0.0, 1.0 - cos_m * cos_m);
    return (2.0 + inv) * pow(sin2, 0.5 * inv) * INV_TWO_PI;
}

vec3 sheen_eval(vec3 color, float roughness, vec3 wo, vec3 wi) {
    if (wo.z <= 0.0 || wi.z <= 0.0) return vec3(0.0);
    vec3 m = normalize(wo + wi);
    float v = 1.0 / (4.0 * (wi.z + wo.z - wi.z * wo.z));
    return color * (sheen_distribution(m.z, roughness) * v * wi.z);
}

BsdfSample sheen_sample(vec3 color, float roughness, vec3 wo, vec3 u) {
    if (wo.z <= 0.0) return bsdf_invalid_sample();
    vec3 wi = sample_cosine_hemisphere(u.yz);
    return bsdf_make_sample(wi, sheen_eval(color, roughness, wo, wi), cosine_hemisphere_pdf(wi.z));
}

// Directional albedo of the white sheen lobe and its hemispherical average,
// from the table.
float sheen_albedo(float roughness, vec3 wo) { return wo.z <= 0.0 ? 0.0 : sheen_layer_albedo(wo.z, roughness); }
float sheen_albedo_average(float roughness) { return sheen_layer_average(roughness); }

// The quadrature the table replaces, kept as the tests' reference: a fixed
// midpoint rule in (theta, phi) of the incident direction.
float sheen_albedo_quadrature(float roughness, vec3 wo) {
    if (wo.z <= 0.0) return 0.0;
    float sum = 0.0;
    float d_theta = 0.5 * PI / float(SHEEN_ALBEDO_THETA_STEPS);
    float d_phi = TWO_PI / float(SHEEN_ALBEDO_PHI_STEPS);
    [[dont_unroll]] for (int a = 0; a < SHEEN_ALBEDO_THETA_STEPS; ++a) {
        float theta = (float(a) + 0.5) * d_theta;
        float st = sin(theta);
        float ct = cos(theta);
        [[dont_unroll]] for (int b = 0; b < SHEEN_ALBEDO_PHI_STEPS; ++b) {
            float phi = (float(b) + 0.5) * d_phi;
            vec3 wi = vec3(st * cos(phi), st * sin(phi), ct);
            sum += sheen_eval(vec3(1.0), roughness, wo, wi).g * st;  // eval holds the cosine
        }
    }
    return clamp(sum * d_theta * d_phi, 0.0, 1.0);
}

// ---- Energy passed beneath a layer -------------------------------------------
// A layer of directional albedo A passes on what it does not reflect. To
// keep the BSDF reciprocal the share depends on both directions alike:
//   mirror  min(1 - A(o), 1 - A(i))                exact when the lobe below
//                                                  is a mirror (i has o's
//                                                  angle), never more than
//                                                  1 - A(o) otherwise
//   diffuse (1 - A(o)) (1 - A(i)) / (1 - Abar)     exact when it is Lambertian
//                                                  (Kulla and Conty 2017)
// blended by `diffuseness` of the lobe below (its GGX alpha; 1 for the
// diffuse and sheen lobes).
float layer_pass(float a_o, float a_i, float a_avg, float diffuseness) {
    float to = max(1.0 - a_o, 0.0);
    float ti = max(1.0 - a_i, 0.0);
    float mirror = min(to, ti);
    float diffuse = a_avg < 1.0 ? to * ti / (1.0 - a_avg) : 0.0;
    return mix(mirror, diffuse, clamp(diffuseness, 0.0, 1.0));
}

#endif
