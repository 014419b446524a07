// Lobes used by the layered principled BSDF on top of the base lobes:
// GGX reflection off a dielectric (the specular layer of plastics and the
// clear coat) and the sheen of cloth-like fibres.
#ifndef VITREL_BSDF_LAYERS_GLSL
#define VITREL_BSDF_LAYERS_GLSL

#include "albedo_tables.glsl"
#include "bsdf_common.glsl"
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

// Bilinear weights over the (mu, roughness) axes of the layer tables.
void layer_table_cell(float mu, float roughness, out ivec2 c0, out vec2 t) {
    float fi = clamp(mu * float(LAYER_TABLE_MU) - 0.5, 0.0, float(LAYER_TABLE_MU - 1));
    float fj = clamp(roughness * float(LAYER_TABLE_ROUGHNESS - 1), 0.0, float(LAYER_TABLE_ROUGHNESS - 1));
    c0 = ivec2(min(int(fi), LAYER_TABLE_MU - 2), min(int(fj), LAYER_TABLE_ROUGHNESS - 2));
    t = vec2(fi, fj) - vec2(c0);
}

float specular_table_slice(ivec2 c, vec2 t, int k) {
    int base = LAYER_TABLE_MU * LAYER_TABLE_ROUGHNESS * k + c.x + LAYER_TABLE_MU * c.y;
    float a = mix(SPECULAR_ALBEDO_TABLE[base], SPECULAR_ALBEDO_TABLE[base + 1], t.x);
    float b = mix(SPECULAR_ALBEDO_TABLE[base + LAYER_TABLE_MU], SPECULAR_ALBEDO_TABLE[base + LAYER_TABLE_MU + 1], t.x);
    return mix(a, b, t.y);
}

// Directional albedo of the layer seen from wo (F G2 / G1 averaged over
// visible normals), from the generated table: trilinear in the view
// cosine, the perceptual roughness of the lobe's equivalent isotropic alpha
// and eta (clamped to the table's range; an eta below 1 uses its inverse).
// The table holds Fresnel scale 1; since F <= 1 a scale s <= 1 multiplies
// the albedo exactly, and larger scales are capped at 1. It decides how
// much energy the layers beneath receive.
float specular_albedo(SpecularLobe p, vec3 wo) {
    if (wo.z <= 0.0) return 0.0;
    ivec2 c;
    vec2 t;
    layer_table_cell(wo.z, sqrt(ggx_equivalent_alpha(p.alpha)), c, t);
    float eta = p.eta >= 1.0 ? p.eta : 1.0 / max(p.eta, 1e-3);
    float fk = clamp((eta - 1.0) * float(SPECULAR_TABLE_ETAS - 1) / (SPECULAR_TABLE_MAX_ETA - 1.0), 0.0,
                     float(SPECULAR_TABLE_ETAS - 1));
    int k0 = min(int(fk), SPECULAR_TABLE_ETAS - 2);
    float e = mix(specular_table_slice(c, t, k0), specular_table_slice(c, t, k0 + 1), fk - float(k0));
    return clamp(p.scale * e, 0.0, 1.0);
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

// Directional albedo of the white sheen lobe, bilinear in the generated
// table over the view cosine and the sheen roughness.
float sheen_albedo(float roughness, vec3 wo) {
    if (wo.z <= 0.0) return 0.0;
    ivec2 c;
    vec2 t;
    layer_table_cell(wo.z, roughness, c, t);
    int base = c.x + LAYER_TABLE_MU * c.y;
    float a = mix(SHEEN_ALBEDO_TABLE[base], SHEEN_ALBEDO_TABLE[base + 1], t.x);
    float b = mix(SHEEN_ALBEDO_TABLE[base + LAYER_TABLE_MU], SHEEN_ALBEDO_TABLE[base + LAYER_TABLE_MU + 1], t.x);
    return clamp(mix(a, b, t.y), 0.0, 1.0);
}

#endif
