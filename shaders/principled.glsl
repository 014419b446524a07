// The principled BSDF: a clear coat over sheen over a base that blends a
// metal (F82 tint), a rough dielectric transmitting lobe and an opaque
// dielectric (specular reflection over diffuse), with anisotropic GGX.
//
// Layers share energy by albedo scaling: each layer passes on what its
// directional albedo leaves (coat tinted by coat_color), by the reciprocal
// share layer_pass of both directions (bsdf_layers.glsl), so the whole BSDF
// is reciprocal. Light crossing a transmitting interface passes coat and
// sheen once, on its outside direction. One lobe is picked per sample in
// proportion to its estimated contribution at wo; eval and pdf sum over all
// lobes, so the combined sample weight is eval / pdf of the whole BSDF. The
// subsurface share of a closed body is the subsurface lobe: light that
// enters the body for a random walk (medium.glsl). It has no value a light
// sample could evaluate (eval and pdf are zero), cannot be sampled here, and
// is chosen by the integrator before principled_sample with the lobe's
// selection probability. Thin sheets, and a zero mean free path, keep the
// subsurface share diffuse.
//
// Frame: wo and wi in the local shading frame (normal +z, tangent +x, the
// tangent before the anisotropy rotation). For opaque materials the caller
// orients the frame so that wo.z > 0; a thin-walled material is symmetric,
// and a transmitting one seen from inside (wo.z < 0) keeps only its
// transmission lobe.
#ifndef VITREL_PRINCIPLED_GLSL
#define VITREL_PRINCIPLED_GLSL

#include "bsdf_conductor.glsl"
#include "bsdf_dielectric.glsl"
#include "bsdf_diffuse.glsl"
#include "bsdf_layers.glsl"
#include "material.glsl"

#define LOBE_COAT 0
#define LOBE_SHEEN 1
#define LOBE_METAL 2
#define LOBE_SPECULAR 3
#define LOBE_DIFFUSE 4
#define LOBE_TRANSMISSION 5
#define LOBE_SUBSURFACE 6  // last: the integrator picks it from the top of [0, 1)
#define LOBE_COUNT 7
// Lobes that contribute get at least this selection share, so rare but
// bright lobes are still sampled now and then.
#define LOBE_MIN_PROBABILITY 0.02

struct PrincipledBsdf {
    ShadingMaterial m;
    ConductorLobe metal;
    DielectricLobe glass;
    SpecularLobe specular;
    SpecularLobe coat;
    vec2 rotation;     // cos, sin of the anisotropy rotation
    bool mirror;       // thin-walled seen from the back: work mirrored in z
    vec3 weight[LOBE_COUNT];     // at wo alone: drives the lobe choice
    vec3 coef[LOBE_COUNT];       // constant part of each lobe's weight
    float probability[LOBE_COUNT];
    bool inside;                 // wo inside a transmitting body
    // Layer albedos at wo and their hemispherical averages.
    float coat_o, coat_avg, sheen_o, sheen_avg, spec_o, spec_avg;
    vec3 coat_tint;
};

float luminance(vec3 c) { return dot(c, vec3(0.2126, 0.7152, 0.0722)); }

// Whether the subsurface share of `m` is a random walk: a closed body with
// a non-zero mean free path in some channel.
bool principled_subsurface_walks(ShadingMaterial m) {
    if (!program_has(PROGRAM_FEATURE_SUBSURFACE)) return false;
    vec3 l = m.subsurface_radius * m.subsurface_scale;
    return m.subsurface > 0.0 && !m.thin_walled && max(l.x, max(l.y, l.z)) > 0.0;
}

// Into the anisotropy frame (and mirrored for the back of a thin sheet).
vec3 principled_to_lobe(PrincipledBsdf b, vec3 w) {
    vec3 r = vec3(b.rotation.x * w.x + b.rotation.y * w.y, -b.rotation.y * w.x + b.rotation.x * w.y, w.z);
    if (b.mirror) r.z = -r.z;
    return r;
}
vec3 principled_from_lobe(PrincipledBsdf b, vec3 w) {
    if (b.mirror) w.z = -w.z;
    return vec3(b.rotation.x * w.x - b.rotation.y * w.y, b.rotation.y * w.x + b.rotation.x * w.y, w.z);
}

// Everything that depends on the material and wo only. `radiance`: camera
// paths (transmitted radiance scales with 1 / eta^2); false for light paths.
PrincipledBsdf principled_setup(ShadingMaterial m, vec3 wo_shading, bool radiance) {
    PrincipledBsdf b;
    b.m = m;
    float angle = TWO_PI * m.anisotropy_rotation;
    b.rotation = vec2(cos(angle), sin(angle));
    b.mirror = m.thin_walled && wo_shading.z < 0.0;
    vec3 wo = principled_to_lobe(b, wo_shading);

    vec2 alpha = ggx_alphas(m.roughness, m.anisotropy);
    b.metal.alpha = alpha;
    b.metal.f0 = m.base_color;
    b.metal.tint = m.f82_tint;
    b.metal.compensate = true;
    b.glass.alpha = alpha;
    b.glass.eta = m.ior;
    b.glass.spec_scale = m.specular_scale;
    b.glass.trans_tint = (m.absorption_distance <= 0.0 || m.thin_walled) ? m.transmission_color : vec3(1.0);
    b.glass.thin = m.thin_walled;
    b.glass.compensate = true;
    b.glass.radiance = radiance;
    b.specular.alpha = alpha;
    b.specular.eta = m.ior;
    b.specular.scale = m.specular_scale;
    b.coat.alpha = ggx_alphas(m.coat_roughness, 0.0);
    b.coat.eta = m.coat_ior;
    b.coat.scale = 1.0;

    for (int k = 0; k < LOBE_COUNT; ++k) {
        b.weight[k] = vec3(0.0);
        b.coef[k] = vec3(0.0);
        b.probability[k] = 0.0;
    }
    b.coat_o = 0.0;
    b.coat_avg = 0.0;
    b.sheen_o = 0.0;
    b.sheen_avg = 0.0;
    b.spec_o = 0.0;
    b.spec_avg = 0.0;
    b.coat_tint = mix(vec3(1.0), m.coat_color, m.coat);
    float dielectric = 1.0 - m.metallic;
    float opaque = dielectric * (1.0 - m.transmission);
    b.coef[LOBE_COAT] = vec3(m.coat);
    b.coef[LOBE_SHEEN] = b.coat_tint * m.sheen;
    b.coef[LOBE_METAL] = b.coat_tint * m.metallic;
    b.coef[LOBE_SPECULAR] = b.coat_tint * opaque;
    float walk = principled_subsurface_walks(m) ? m.subsurface : 0.0;
    b.coef[LOBE_DIFFUSE] = b.coat_tint * (opaque * (1.0 - walk)) * m.base_color;
    b.coef[LOBE_TRANSMISSION] = b.coat_tint * (dielectric * m.transmission);
    float estimate[LOBE_COUNT];
    for (int k = 0; k < LOBE_COUNT; ++k) estimate[k] = 0.0;
    b.inside = wo.z < 0.0;
    if (b.inside) {
        // Inside a transmitting body: only the interface remains.
        if (m.transmission > 0.0 && m.metallic < 1.0) {
            b.weight[LOBE_TRANSMISSION] = vec3(1.0);
            b.probability[LOBE_TRANSMISSION] = 1.0;
        }
        return b;
    }
    float mu = wo.z;
    if (m.coat > 0.0) {
        b.coat_o = m.coat * specular_albedo(b.coat, wo);
        b.coat_avg = m.coat * specular_albedo_average(b.coat);
    }
    if (m.sheen > 0.0) {
        b.sheen_o = m.sheen * sheen_albedo(m.sheen_roughness, wo);
        b.sheen_avg = m.sheen * sheen_albedo_average(m.sheen_roughness);
    }
    if (opaque > 0.0) {
        b.spec_o = specular_albedo(b.specular, wo);
        b.spec_avg = specular_albedo_average(b.specular);
    }
    float coat_albedo = b.coat_o;
    vec3 under_coat = (1.0 - coat_albedo) * b.coat_tint;
    float sheen_albedo_o = b.sheen_o;
    vec3 base = under_coat * (1.0 - sheen_albedo_o);
    float spec_albedo = b.spec_o;

    b.weight[LOBE_COAT] = vec3(m.coat);
    b.weight[LOBE_SHEEN] = under_coat * m.sheen;
    b.weight[LOBE_METAL] = base * m.metallic;
    b.weight[LOBE_SPECULAR] = base * opaque;
    b.weight[LOBE_DIFFUSE] = base * (opaque * (1.0 - spec_albedo) * (1.0 - walk)) * m.base_color;
    b.weight[LOBE_TRANSMISSION] = base * (dielectric * m.transmission);
    // The base colour becomes the medium's albedo, not a factor here.
    b.weight[LOBE_SUBSURFACE] = base * (opaque * (1.0 - spec_albedo) * walk);

    estimate[LOBE_COAT] = coat_albedo;
    estimate[LOBE_SHEEN] = luminance(under_coat) * sheen_albedo_o;
    estimate[LOBE_METAL] = luminance(b.weight[LOBE_METAL]) *
                           max(luminance(fresnel_f82(m.base_color, m.f82_tint, mu)), 0.05);
    estimate[LOBE_SPECULAR] = luminance(b.weight[LOBE_SPECULAR]) * spec_albedo;
    estimate[LOBE_DIFFUSE] = luminance(b.weight[LOBE_DIFFUSE]);
    estimate[LOBE_TRANSMISSION] = luminance(b.weight[LOBE_TRANSMISSION]);
    estimate[LOBE_SUBSURFACE] = luminance(b.weight[LOBE_SUBSURFACE]);
    float total = 0.0;
    for (int k = 0; k < LOBE_COUNT; ++k) {
        if (estimate[k] > 0.0) estimate[k] = max(estimate[k], LOBE_MIN_PROBABILITY);
        total += estimate[k];
    }
    if (total > 0.0) {
        for (int k = 0; k < LOBE_COUNT; ++k) b.probability[k] = estimate[k] / total;
    }
    return b;
}

// Whether lobe k exists in this program (gpu_layout.h, PROGRAM_FEATURE_*).
// The lobe functions test it first, so that a runtime lobe index does not
// keep left-out lobes' code alive.
bool principled_lobe_compiled(int k) {
    if (k == LOBE_COAT) return program_has(PROGRAM_FEATURE_COAT);
    if (k == LOBE_SHEEN) return program_has(PROGRAM_FEATURE_SHEEN);
    if (k == LOBE_METAL) return program_has(PROGRAM_FEATURE_METAL);
    if (k == LOBE_TRANSMISSION) return program_has(PROGRAM_FEATURE_TRANSMISSION);
    if (k == LOBE_SUBSURFACE) return program_has(PROGRAM_FEATURE_SUBSURFACE);
    return true;
}

vec3 principled_lobe_eval(PrincipledBsdf b, int k, vec3 wo, vec3 wi) {
    if (!principled_lobe_compiled(k)) return vec3(0.0);
    if (k == LOBE_SUBSURFACE) return vec3(0.0);
    if (k == LOBE_COAT) return specular_eval(b.coat, wo, wi);
    if (k == LOBE_SHEEN) return sheen_eval(vec3(1.0), b.m.sheen_roughness, wo, wi);
    if (k == LOBE_METAL) return conductor_eval(b.metal, wo, wi);
    if (k == LOBE_SPECULAR) return specular_eval(b.specular, wo, wi);
    if (k == LOBE_DIFFUSE) {
        return b.m.diffuse_roughness > 0.0 ? rough_diffuse_eval(vec3(1.0), b.m.diffuse_roughness, wo, wi)
                                           : lambert_eval(vec3(1.0), wo, wi);
    }
    return dielectric_eval(b.glass, wo, wi);
}

float principled_lobe_pdf(PrincipledBsdf b, int k, vec3 wo, vec3 wi) {
    if (!principled_lobe_compiled(k)) return 0.0;
    if (k == LOBE_SUBSURFACE) return 0.0;
    if (k == LOBE_COAT) return specular_pdf(b.coat, wo, wi);
    if (k == LOBE_SHEEN || k == LOBE_DIFFUSE) return diffuse_pdf(wo, wi);
    if (k == LOBE_METAL) return conductor_pdf(b.metal, wo, wi);
    if (k == LOBE_SPECULAR) return specular_pdf(b.specular, wo, wi);
    return dielectric_pdf(b.glass, wo, wi);
}

BsdfSample principled_lobe_sample(PrincipledBsdf b, int k, vec3 wo, vec3 u) {
    if (!principled_lobe_compiled(k)) return bsdf_invalid_sample();
    if (k == LOBE_SUBSURFACE) return bsdf_invalid_sample();
    if (k == LOBE_COAT) return specular_sample(b.coat, wo, u);
    if (k == LOBE_SHEEN) return sheen_sample(vec3(1.0), b.m.sheen_roughness, wo, u);
    if (k == LOBE_METAL) return conductor_sample(b.metal, wo, u);
    if (k == LOBE_SPECULAR) return specular_sample(b.specular, wo, u);
    if (k == LOBE_DIFFUSE) return lambert_sample(vec3(1.0), wo, u);
    return dielectric_sample(b.glass, wo, u);
}

// Weight of lobe k for the pair (wo, wi) in the lobe frame: the constant
// part times what the layers above pass, symmetric in the two directions.
vec3 principled_lobe_weight(PrincipledBsdf b, int k, vec3 wo, vec3 wi) {
    if (!principled_lobe_compiled(k)) return vec3(0.0);
    if (b.inside) {
        // Only the interface: reflections inside the body, or light that
        // leaves it through the layers on the outside direction wi.
        if (k != LOBE_TRANSMISSION) return vec3(0.0);
        if (wi.z < 0.0) return b.weight[k];
        float coat_i = b.m.coat > 0.0 ? b.m.coat * specular_albedo(b.coat, wi) : 0.0;
        float sheen_i = b.m.sheen > 0.0 ? b.m.sheen * sheen_albedo(b.m.sheen_roughness, wi) : 0.0;
        return b.coef[k] * ((1.0 - coat_i) * (1.0 - sheen_i));
    }
    if (k == LOBE_COAT) return b.coef[k];
    vec3 o = wo;
    vec3 i = wi;
    if (wi.z < 0.0) {
        if (!b.m.thin_walled) {
            // Through the interface: the layers are crossed once, at wo.
            return k == LOBE_TRANSMISSION ? b.coef[k] * ((1.0 - b.coat_o) * (1.0 - b.sheen_o)) : vec3(0.0);
        }
        i.z = -i.z;  // a thin sheet is the same seen from both sides
    }
    float coat_i = b.m.coat > 0.0 ? b.m.coat * specular_albedo(b.coat, i) : 0.0;
    float sheen_i = b.m.sheen > 0.0 ? b.m.sheen * sheen_albedo(b.m.sheen_roughness, i) : 0.0;
    float rough = ggx_equivalent_alpha(b.metal.alpha);
    float diffuseness = (k == LOBE_SHEEN || k == LOBE_DIFFUSE) ? 1.0 : rough;
    float pass = layer_pass(b.coat_o, coat_i, b.coat_avg, diffuseness);
    if (k == LOBE_SHEEN) return b.coef[k] * pass;
    pass *= layer_pass(b.sheen_o, sheen_i, b.sheen_avg, diffuseness);
    if (k == LOBE_DIFFUSE) pass *= layer_pass(b.spec_o, specular_albedo(b.specular, i), b.spec_avg, 1.0);
    return b.coef[k] * pass;
}

// f(wo, wi) |cos theta_i| of the whole BSDF.
vec3 principled_eval(PrincipledBsdf b, vec3 wo_shading, vec3 wi_shading) {
    vec3 wo = principled_to_lobe(b, wo_shading);
    vec3 wi = principled_to_lobe(b, wi_shading);
    vec3 f = vec3(0.0);
    for (int k = 0; k < LOBE_COUNT; ++k) {
        if (!any(greaterThan(b.weight[k], vec3(0.0)))) continue;
        vec3 lobe = principled_lobe_eval(b, k, wo, wi);
        if (any(greaterThan(lobe, vec3(0.0)))) f += principled_lobe_weight(b, k, wo, wi) * lobe;
    }
    return f;
}

// The adjoint BSDF for light paths (bsdf_common.glsl): f*(wo, wi) =
// f(wi, wo), with wo towards the previous vertex of the light path (the
// light) and wi towards the next. Light paths set the material up once
// with principled_setup(m, wo, false) and sample it with principled_sample
// as camera paths do; this evaluates the adjoint for one pair directly.
vec3 bsdf_eval_adjoint(ShadingMaterial m, vec3 wo_shading, vec3 wi_shading) {
    return principled_eval(principled_setup(m, wo_shading, false), wo_shading, wi_shading);
}

float principled_pdf(PrincipledBsdf b, vec3 wo_shading, vec3 wi_shading) {
    vec3 wo = principled_to_lobe(b, wo_shading);
    vec3 wi = principled_to_lobe(b, wi_shading);
    float p = 0.0;
    for (int k = 0; k < LOBE_COUNT; ++k) {
        if (b.probability[k] > 0.0) p += b.probability[k] * principled_lobe_pdf(b, k, wo, wi);
    }
    return p;
}

// u.x picks the lobe and is then rescaled for the lobe's own choices.
BsdfSample principled_sample(PrincipledBsdf b, vec3 wo_shading, vec3 u) {
    int chosen = -1;
    float start = 0.0;
    float below = 0.0;
    for (int k = 0; k < LOBE_COUNT; ++k) {
        float p = b.probability[k];
        if (p <= 0.0) continue;
        chosen = k;  // rounding may leave u.x past the last sum: keep the last lobe
        start = below;
        if (u.x < below + p) break;
        below += p;
    }
    if (chosen < 0) return bsdf_invalid_sample();
    float p = b.probability[chosen];
    vec3 lu = vec3(clamp((u.x - start) / p, 0.0, 0.99999994), u.yz);
    vec3 wo = principled_to_lobe(b, wo_shading);
    BsdfSample s = principled_lobe_sample(b, chosen, wo, lu);
    if (!s.valid) return s;
    vec3 wi = principled_from_lobe(b, s.wi);
    if (chosen == LOBE_TRANSMISSION && dielectric_index_matched(b.glass)) {
        // A delta direction no other lobe reaches: the lobe's own share is
        // the whole BSDF there.
        s.wi = wi;
        s.weight *= b.weight[chosen] / p;
        s.pdf *= p;  // a delta sample: the probability of this choice
        return s;
    }
    bool transmitted = s.transmitted;
    s = bsdf_make_sample(wi, principled_eval(b, wo_shading, wi), principled_pdf(b, wo_shading, wi));
    s.transmitted = transmitted;
    return s;
}

#endif
