// Material records for shading: the 14 parameter accessors that the
// generated "material_eval.glsl" calls, and the decoding of a packed
// GpuMaterial plus the results of the eval_* entry points into one
// ShadingMaterial.
//
// The including program declares `GpuMaterial materials[]` (binding 2) and
// includes gpu_layout.h first. A material index outside the array reads as
// the neutral material (grey, rough, opaque dielectric).
//
// Meaning of the words without a host meaning (aligned with glTF 2.0 and its
// PBR extensions so importers map one to one):
//   extra_c            coat weight (KHR_materials_clearcoat factor)
//   coat_color         tint of light passing through the coat
//   extra_params[0]    coat roughness
//   extra_params[1]    coat IOR, 0 means 1.5
//   extra_params[2]    sheen weight (sheen colour = weight, white)
//   extra_params[3]    sheen roughness
//   extra_params[4]    specular anisotropy strength (KHR_materials_anisotropy)
//   extra_params[5]    anisotropy rotation, fraction of a turn about the normal
//   extra_params[6]    diffuse roughness, 0 = Lambert
//   dielectric_f0      (word 14) 2 ((ior - 1) / (ior + 1))^2 specular: the
//                      dielectric reflectance is the Fresnel term of `ior`
//                      times word 14 / ((ior - 1) / (ior + 1))^2, i.e.
//                      specular 0.5 is physical (KHR_materials_specular 1)
//   f82_tint           metal edge tint (F82 model)
//   spec_trans         transmission weight, with `ior`
//   transmission_color colour of transmitted light; applied at the surface
//                      when transmission_extra is 0 or the material is thin,
//                      else the share of light left after transmission_extra
//                      inside the body (Beer-Lambert, medium.glsl)
//   transmission_extra absorption distance in scene units (0 = at surface)
//   thin_walled        non-zero: transmission and subsurface as a thin sheet
//   subsurface, subsurface_radius, subsurface_scale, subsurface_ext[0]
//                      (subsurface IOR), subsurface_ext[1] (anisotropy):
//                      a random-walk subsurface medium (medium.glsl): the
//                      weight is the share of the diffuse base that walks,
//                      radius x scale the mean free path per channel, the
//                      base colour the body's multiple-scattering albedo
//   alpha_mode         0 opaque, 1 mask with alpha_cutoff, 2 blend (stochastic)
//   extra_a, extra_b   reserved, not read
// An `ior` of 0 (or below 0.001, or not a number) means 1.5.
#ifndef VITREL_MATERIAL_GLSL
#define VITREL_MATERIAL_GLSL

#include "bound_length.glsl"

#define DEFAULT_IOR 1.5

// The material features this program was built with (gpu_layout.h,
// PROGRAM_FEATURE_*): left-out features read as absent from every material.
layout(constant_id = PROGRAM_FEATURES_CONSTANT_ID) const uint program_features = PROGRAM_FEATURES_ALL;

bool program_has(uint f) { return (program_features & f) != 0u; }

#define MIN_IOR 0.001

bool material_index_valid(int mid) { return mid >= 0 && mid < BOUND_LENGTH(materials); }

vec3 gmat_base_color(int mid) {
    if (!material_index_valid(mid)) return vec3(0.8);
    GpuMaterial m = materials[mid];
    return vec3(m.base_color[0], m.base_color[1], m.base_color[2]);
}
float gmat_roughness(int mid) { return material_index_valid(mid) ? materials[mid].roughness : 1.0; }
float gmat_metallic(int mid) { return material_index_valid(mid) ? materials[mid].metallic : 0.0; }
float gmat_specTrans(int mid) { return material_index_valid(mid) ? materials[mid].spec_trans : 0.0; }
float gmat_ior(int mid) { return material_index_valid(mid) ? materials[mid].ior : DEFAULT_IOR; }
vec3 gmat_emission(int mid) {
    if (!material_index_valid(mid)) return vec3(0.0);
    GpuMaterial m = materials[mid];
    return vec3(m.emission[0], m.emission[1], m.emission[2]);
}
int gmat_albedo_tex(int mid) { return material_index_valid(mid) ? materials[mid].albedo_tex : -1; }
int gmat_roughness_tex(int mid) { return material_index_valid(mid) ? materials[mid].roughness_tex : -1; }
int gmat_metallic_tex(int mid) { return material_index_valid(mid) ? materials[mid].metallic_tex : -1; }
int gmat_normal_tex(int mid) { return material_index_valid(mid) ? materials[mid].normal_tex : -1; }
int gmat_emission_tex(int mid) { return material_index_valid(mid) ? materials[mid].emission_tex : -1; }
float gmat_alpha(int mid) { return material_index_valid(mid) ? materials[mid].alpha : 1.0; }
int gmat_alpha_mode(int mid) {
    return program_has(PROGRAM_FEATURE_ALPHA) && material_index_valid(mid) ? materials[mid].alpha_mode : 0;
}
float gmat_alpha_cutoff(int mid) { return material_index_valid(mid) ? materials[mid].alpha_cutoff : 0.5; }

struct ShadingMaterial {
    vec3 base_color;
    float roughness;
    float metallic;
    vec3 emission;
    float ior;
    float specular_scale;      // multiplies the dielectric Fresnel term
    float transmission;
    vec3 transmission_color;
    float absorption_distance; // 0: transmission_color applies at the surface
    vec3 f82_tint;
    float coat;
    vec3 coat_color;
    float coat_roughness;
    float coat_ior;
    float sheen;
    float sheen_roughness;
    float anisotropy;
    float anisotropy_rotation; // fraction of a turn
    float diffuse_roughness;
    float subsurface;
    vec3 subsurface_radius;
    float subsurface_scale;
    float subsurface_ior;
    float subsurface_anisotropy;
    bool thin_walled;
    float alpha;
    int alpha_mode;
    float alpha_cutoff;
};

// Finite and in [lo, hi], else `fallback` for non-numbers.
float sane_clamp(float v, float lo, float hi, float fallback) {
    if (isnan(v)) return fallback;
    return clamp(v, lo, hi);
}
vec3 sane_clamp3(vec3 v, float lo, float hi, float fallback) {
    return vec3(sane_clamp(v.x, lo, hi, fallback), sane_clamp(v.y, lo, hi, fallback),
                sane_clamp(v.z, lo, hi, fallback));
}
float sane_ior(float ior) { return (isnan(ior) || isinf(ior) || ior < MIN_IOR) ? DEFAULT_IOR : ior; }

// Reflectance at normal incidence of an interface with relative IOR `ior`.
float ior_to_f0(float ior) {
    float r = (ior - 1.0) / (ior + 1.0);
    return r * r;
}

// Colours above this are clamped: emission is radiance and may be large.
#define MAX_RADIANCE 1e30

ShadingMaterial decode_material(int mid, vec3 albedo, float roughness, float metallic,
                                vec3 emission) {
    GpuMaterial g;
    if (material_index_valid(mid)) {
        g = materials[mid];
    } else {
        g.ior = DEFAULT_IOR;
        g.dielectric_f0 = 2.0 * ior_to_f0(DEFAULT_IOR) * 0.5;
        g.spec_trans = 0.0;
        g.extra_c = 0.0;
        for (int i = 0; i < 7; ++i) g.extra_params[i] = 0.0;
        g.subsurface = 0.0;
        g.subsurface_radius[0] = g.subsurface_radius[1] = g.subsurface_radius[2] = 1.0;
        g.subsurface_scale = 0.0;
        g.subsurface_ext[0] = 1.4;
        g.subsurface_ext[1] = 0.0;
        g.alpha = 1.0;
        g.alpha_mode = 0;
        g.alpha_cutoff = 0.5;
        g.f82_tint[0] = g.f82_tint[1] = g.f82_tint[2] = 1.0;
        g.transmission_color[0] = g.transmission_color[1] = g.transmission_color[2] = 1.0;
        g.transmission_extra = 0.0;
        g.coat_color[0] = g.coat_color[1] = g.coat_color[2] = 1.0;
        g.thin_walled = 0;
    }
    ShadingMaterial m;
    m.base_color = sane_clamp3(albedo, 0.0, 1.0, 0.0);
    m.roughness = sane_clamp(roughness, 0.0, 1.0, 1.0);
    m.metallic = program_has(PROGRAM_FEATURE_METAL) ? sane_clamp(metallic, 0.0, 1.0, 0.0) : 0.0;
    m.emission = sane_clamp3(emission, 0.0, MAX_RADIANCE, 0.0);
    float packed_ior = g.ior;
    m.ior = sane_ior(packed_ior);
    // The host packed 2 f0(ior) specular; recover the scale of the Fresnel
    // term. With ior = 1 nothing reflects and the scale does not matter.
    float f0_packed = isnan(packed_ior) ? 0.0 : ior_to_f0(packed_ior);
    // (An unset ior of 0 packs f0 = 1, so the scale is word 14 itself.)
    m.specular_scale = f0_packed > 1e-7 ? sane_clamp(g.dielectric_f0 / f0_packed, 0.0, 1e3, 1.0) : 1.0;
    m.transmission = program_has(PROGRAM_FEATURE_TRANSMISSION) ? sane_clamp(g.spec_trans, 0.0, 1.0, 0.0) : 0.0;
    m.transmission_color = sane_clamp3(vec3(g.transmission_color[0], g.transmission_color[1], g.transmission_color[2]), 0.0, 1.0, 1.0);
    m.absorption_distance = sane_clamp(g.transmission_extra, 0.0, MAX_RADIANCE, 0.0);
    m.f82_tint = sane_clamp3(vec3(g.f82_tint[0], g.f82_tint[1], g.f82_tint[2]), 0.0, 1.0, 1.0);
    m.coat = program_has(PROGRAM_FEATURE_COAT) ? sane_clamp(g.extra_c, 0.0, 1.0, 0.0) : 0.0;
    m.coat_color = sane_clamp3(vec3(g.coat_color[0], g.coat_color[1], g.coat_color[2]), 0.0, 1.0, 1.0);
    m.coat_roughness = sane_clamp(g.extra_params[0], 0.0, 1.0, 0.0);
    m.coat_ior = sane_ior(g.extra_params[1]);
    m.sheen = program_has(PROGRAM_FEATURE_SHEEN) ? sane_clamp(g.extra_params[2], 0.0, 1.0, 0.0) : 0.0;
    m.sheen_roughness = sane_clamp(g.extra_params[3], 0.0, 1.0, 0.5);
    m.anisotropy = sane_clamp(g.extra_params[4], 0.0, 1.0, 0.0);
    m.anisotropy_rotation = sane_clamp(g.extra_params[5], -1e6, 1e6, 0.0);
    m.diffuse_roughness = sane_clamp(g.extra_params[6], 0.0, 1.0, 0.0);
    m.subsurface = program_has(PROGRAM_FEATURE_SUBSURFACE) ? sane_clamp(g.subsurface, 0.0, 1.0, 0.0) : 0.0;
    m.subsurface_radius = sane_clamp3(vec3(g.subsurface_radius[0], g.subsurface_radius[1], g.subsurface_radius[2]), 0.0, MAX_RADIANCE, 0.0);
    m.subsurface_scale = sane_clamp(g.subsurface_scale, 0.0, MAX_RADIANCE, 0.0);
    m.subsurface_ior = sane_ior(g.subsurface_ext[0]);
    m.subsurface_anisotropy = sane_clamp(g.subsurface_ext[1], -0.99, 0.99, 0.0);
    m.thin_walled = g.thin_walled != 0;
    m.alpha = sane_clamp(g.alpha, 0.0, 1.0, 1.0);
    m.alpha_mode = (program_has(PROGRAM_FEATURE_ALPHA) && g.alpha_mode >= 0 && g.alpha_mode <= 2) ? g.alpha_mode : 0;
    m.alpha_cutoff = sane_clamp(g.alpha_cutoff, 0.0, 1.0, 0.5);
    return m;
}

// Whether a hit counts as covered. `u` is a uniform number in [0, 1): blend
// mode keeps a hit with probability alpha (stochastic transparency).
bool material_covers(ShadingMaterial m, float u) {
    if (m.alpha_mode == 1) return m.alpha >= m.alpha_cutoff;
    if (m.alpha_mode == 2) return u < m.alpha;
    return true;
}

#endif
